#include "registry/key_removal.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/windows.h"
#include "registry/scoped_key.h"

namespace {

constexpr DWORD kNameBufferSize = 260;

// Reads the names of all direct subkeys of `key` into `names`, in order.
// Fails when the count or a name cannot be read, for example a name that does
// not fit in the 260-byte buffer; then the caller removes nothing below `key`.
bool readSubkeyNames(HKEY key, std::vector<std::string>& names) {
  char class_name[kNameBufferSize];
  DWORD class_length = kNameBufferSize;
  DWORD count = 0;
  if (RegQueryInfoKeyA(key, class_name, &class_length, nullptr, &count, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  names.reserve(count);
  for (DWORD index = 0; index < count; ++index) {
    char name[kNameBufferSize];
    DWORD length = kNameBufferSize;
    if (RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      return false;
    }
    names.emplace_back(name, length);
  }
  return true;
}

// Removes every subkey of the key at `path` below `parent`, each with its own
// subtree. False when the key cannot be opened or its subkeys' names cannot
// be read; then nothing below it is removed. The key is closed on return.
bool deleteSubkeys(HKEY parent, LPCSTR path) {
  ScopedKey key;
  if (key.open(parent, path, KEY_READ) != ERROR_SUCCESS) return false;
  std::vector<std::string> names;
  if (!readSubkeyNames(key.get(), names)) return false;
  // A subkey that cannot be removed does not stop its siblings; the key itself
  // then stays, because the registry refuses to delete a key with subkeys.
  for (const auto& name : names) DeleteKeyTree(key.get(), name.c_str());
  return true;
}

}  // namespace

int DeleteKeyTree(HKEY parent, LPCSTR path) {
  // An empty path would open the parent itself and empty it of every subkey
  // before the final delete is refused; it names no key to remove. Nor does a
  // path whose last name is empty: Windows skips a trailing backslash, so
  // "Uninstall\" (built from an empty name) would remove the whole Uninstall
  // key, every other program's registration with it.
  if (path == nullptr || path[0] == '\0' || path[std::strlen(path) - 1] == '\\') return 0;
  // The key was closed when its subkeys were done: a key is closed before it
  // is deleted.
  if (!deleteSubkeys(parent, path)) return 0;
  return RegDeleteKeyA(parent, path) == ERROR_SUCCESS ? 1 : 0;
}

int DeleteRegValue(HKEY root, LPCSTR path, LPCSTR value_name) {
  ScopedKey key;
  // Windows 95 lets any open key delete its values, but the NT family asks
  // for KEY_SET_VALUE and would leave the value while the uninstall goes on
  // as if it had gone. Asking for it changes nothing on Windows 95, which
  // does not look at the access asked for.
  if (key.open(root, path, KEY_READ | KEY_SET_VALUE) != ERROR_SUCCESS) return 0;
  return RegDeleteValueA(key.get(), value_name) == ERROR_SUCCESS ? 1 : 0;
}
