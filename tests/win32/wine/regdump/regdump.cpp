// Writes registry subtrees to standard output exactly as the ANSI registry
// functions return them, for the differential test to compare with the Linux
// store. regedit's own export is no use for that: it writes a REG_SZ as quoted
// text and so loses whether its data ended in a zero byte, and it needs one
// process per subtree.
//
// Usage: regdump ROOT\PATH...   (ROOT is HKLM or HKCC)
// Output, one line each, names and data in hex so that any byte survives:
//   key   ROOT\PATH                      (a key that exists)
//   value <name hex> <type> <data hex>   (a value of the key above)
//   error <what>                         (then the exit code is 1)
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string hex(const BYTE* data, DWORD size) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (DWORD i = 0; i < size; ++i) {
    out += digits[data[i] >> 4];
    out += digits[data[i] & 15];
  }
  return out.empty() ? "-" : out;
}

bool dumpKey(HKEY parent, const std::string& path, const std::string& name) {
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, &key);
  if (rc == ERROR_FILE_NOT_FOUND) return true;
  if (rc != ERROR_SUCCESS) {
    std::printf("error\topen %s: %ld\n", name.c_str(), rc);
    return false;
  }
  std::printf("key\t%s\n", name.c_str());
  bool ok = true;
  std::vector<BYTE> data(1 << 16);
  for (DWORD i = 0;; ++i) {
    char valueName[16384];
    DWORD nameSize = sizeof valueName;
    DWORD type = 0;
    DWORD dataSize = static_cast<DWORD>(data.size());
    rc = RegEnumValueA(key, i, valueName, &nameSize, nullptr, &type, data.data(), &dataSize);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) {
      std::printf("error\tvalue %lu of %s: %ld\n", i, name.c_str(), rc);
      ok = false;
      break;
    }
    std::printf("value\t%s\t%lu\t%s\n", hex(reinterpret_cast<BYTE*>(valueName), nameSize).c_str(),
                type, hex(data.data(), dataSize).c_str());
  }
  std::vector<std::string> subkeys;
  for (DWORD i = 0;; ++i) {
    char subkey[1024];
    DWORD size = sizeof subkey;
    rc = RegEnumKeyExA(key, i, subkey, &size, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) {
      std::printf("error\tsubkey %lu of %s: %ld\n", i, name.c_str(), rc);
      ok = false;
      break;
    }
    subkeys.emplace_back(subkey, size);
  }
  for (const auto& subkey : subkeys) ok = dumpKey(key, subkey, name + "\\" + subkey) && ok;
  RegCloseKey(key);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::size_t slash = arg.find('\\');
    std::string root = arg.substr(0, slash);
    std::string path = slash == std::string::npos ? "" : arg.substr(slash + 1);
    HKEY hroot = root == "HKLM"   ? HKEY_LOCAL_MACHINE
                 : root == "HKCC" ? HKEY_CURRENT_CONFIG
                                  : nullptr;
    if (hroot == nullptr) {
      std::printf("error\tunknown root %s\n", root.c_str());
      ok = false;
      continue;
    }
    ok = dumpKey(hroot, path, arg) && ok;
  }
  return ok ? 0 : 1;
}
