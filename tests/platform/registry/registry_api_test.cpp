#include "platform/registry/registry_api.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/platform/registry/registry_test_support.h"

namespace {

constexpr BYTE kSentinel = 0xCC;

const std::string kRegistry = crlf({
    "REGEDIT4",
    "",
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vesk\\KivraQ76]",
    "\"Title\"=\"" + std::string(79, 'T') + "\"",
    "\"Long\"=\"" + std::string(80, 'L') + "\"",
    "@=\"default\"",
    "\"Raw79\"=hex(1):" +
        [] {
          std::string s;
          for (int i = 0; i < 79; ++i) s += i ? ",5a" : "5a";
          return s;
        }(),
    "\"Raw80\"=hex(1):" +
        [] {
          std::string s;
          for (int i = 0; i < 80; ++i) s += i ? ",5a" : "5a";
          return s;
        }(),
    "\"Number\"=dword:01020304",
    "",
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Order\\C]",
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Order\\a]",
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Order\\B]",
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Names\\" + std::string(255, 'n') + "]",
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Names\\" + std::string(259, 'm') + "]",
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Names\\" + std::string(260, 'x') + "]",
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other]",
    "\"DisplayName\"=\"Other program\"",
    "[HKEY_CURRENT_CONFIG\\Enum\\MF]",
});

HKEY open(HKEY parent, LPCSTR path, REGSAM access = KEY_READ) {
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(parent, path, 0, access, &key), ERROR_SUCCESS) << path;
  return key;
}

bool exists(HKEY parent, LPCSTR path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(parent, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

}  // namespace

TEST(RegistryApi, OpenKey) {
  ActiveStore store(kRegistry);
  HKEY key = nullptr;
  // Names match in any letter case; paths may have several names.
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\VESK\\kivraq76", 0, KEY_READ, &key), 0);
  EXPECT_NE(key, nullptr);
  EXPECT_EQ(RegCloseKey(key), 0);
  // "" and NULL under a root give back the root's own handle.
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "", 0, KEY_READ, &key), 0);
  EXPECT_EQ(key, HKEY_LOCAL_MACHINE);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_CONFIG, nullptr, 0, KEY_READ, &key), 0);
  EXPECT_EQ(key, HKEY_CURRENT_CONFIG);
  // "" under an open key opens the same key again, with a new handle.
  HKEY vesk = open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vesk");
  EXPECT_EQ(RegOpenKeyExA(vesk, "", 0, KEY_READ, &key), 0);
  EXPECT_NE(key, vesk);
  HKEY child = open(key, "KivraQ76");
  EXPECT_EQ(RegCloseKey(child), 0);
  EXPECT_EQ(RegCloseKey(key), 0);
  EXPECT_EQ(RegCloseKey(vesk), 0);
  // A missing key gives 2 and a NULL handle.
  key = reinterpret_cast<HKEY>(0x1234);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nope", 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);
  // HKLM and HKCC are separate trees.
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_CONFIG, "SOFTWARE", 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
  // A leading backslash is refused; trailing and doubled ones are skipped, as
  // Windows 95 (and Wine in its mode) does.
  for (LPCSTR bad : {"\\SOFTWARE", "\\", "\\\\SOFTWARE\\Vesk"}) {
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, bad, 0, KEY_READ, &key), ERROR_BAD_PATHNAME) << bad;
  }
  for (LPCSTR good :
       {"SOFTWARE\\", "SOFTWARE\\\\Vesk", "SOFTWARE\\Vesk\\\\", "SOFTWARE\\\\Vesk\\KivraQ76\\"}) {
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, good, 0, KEY_READ, &key), ERROR_SUCCESS) << good;
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  }
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nope\\", 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
  // A handle that was never opened, or closed already.
  EXPECT_EQ(RegOpenKeyExA(reinterpret_cast<HKEY>(0x4444), "", 0, KEY_READ, &key),
            ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(0x4444)), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), 0);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(store->openHandleCount(), 0u);
}

TEST(RegistryApi, NoActiveStoreFailsEveryCall) {
  SetActiveRegistry(nullptr);
  HKEY key = reinterpret_cast<HKEY>(0x1234);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE"), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegDeleteValueA(HKEY_LOCAL_MACHINE, "x"), ERROR_INVALID_HANDLE);
}

TEST(RegistryApi, QueryValue) {
  ActiveStore store(kRegistry);
  HKEY key = open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vesk\\KivraQ76", KEY_QUERY_VALUE);
  BYTE buf[100];
  DWORD size = 0;
  DWORD type = 0;
  // 79 characters and the zero fit 80 bytes exactly.
  std::memset(buf, kSentinel, sizeof buf);
  size = 80;
  EXPECT_EQ(RegQueryValueExA(key, "title", nullptr, &type, buf, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 80u);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf)), std::string(79, 'T'));
  EXPECT_EQ(buf[80], kSentinel);
  // 80 characters do not: 234, the size needed, the buffer untouched.
  std::memset(buf, kSentinel, sizeof buf);
  size = 80;
  EXPECT_EQ(RegQueryValueExA(key, "Long", nullptr, nullptr, buf, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 81u);
  for (BYTE b : buf) ASSERT_EQ(b, kSentinel);
  // A size-only query, and a zero-sized buffer.
  size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Long", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 81u);
  size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Long", nullptr, nullptr, buf, &size), ERROR_MORE_DATA);
  EXPECT_EQ(buf[0], kSentinel);
  // The default value, by NULL or "".
  size = sizeof buf;
  EXPECT_EQ(RegQueryValueExA(key, nullptr, nullptr, nullptr, buf, &size), ERROR_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(buf), "default");
  size = sizeof buf;
  EXPECT_EQ(RegQueryValueExA(key, "", nullptr, nullptr, buf, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 8u);
  // A string stored without its zero comes back with one, counted in the size,
  // as Windows 95 keeps every string: 79 bytes need 80, 80 bytes need 81.
  std::memset(buf, kSentinel, sizeof buf);
  size = 80;
  EXPECT_EQ(RegQueryValueExA(key, "Raw79", nullptr, nullptr, buf, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 80u);
  EXPECT_EQ(buf[78], 'Z');
  EXPECT_EQ(buf[79], 0);
  EXPECT_EQ(buf[80], kSentinel);
  std::memset(buf, kSentinel, sizeof buf);
  size = 80;
  EXPECT_EQ(RegQueryValueExA(key, "Raw80", nullptr, nullptr, buf, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 81u);
  for (BYTE b : buf) ASSERT_EQ(b, kSentinel);
  size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Raw80", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 81u);
  size = 81;
  EXPECT_EQ(RegQueryValueExA(key, "Raw80", nullptr, nullptr, buf, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 81u);
  EXPECT_EQ(buf[79], 'Z');
  EXPECT_EQ(buf[80], 0);
  EXPECT_EQ(buf[81], kSentinel);
  // A DWORD comes back as its four bytes.
  size = sizeof buf;
  EXPECT_EQ(RegQueryValueExA(key, "Number", nullptr, &type, buf, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(buf[0], 0x04);
  EXPECT_EQ(buf[3], 0x01);
  // A missing value.
  size = sizeof buf;
  EXPECT_EQ(RegQueryValueExA(key, "Nope", nullptr, nullptr, buf, &size), ERROR_FILE_NOT_FOUND);
  // A key opened only to read values may not enumerate its subkeys.
  char name[260];
  DWORD length = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_ACCESS_DENIED);
  RegCloseKey(key);
  // And one opened only to enumerate may not read values.
  key = open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vesk\\KivraQ76", KEY_ENUMERATE_SUB_KEYS);
  size = sizeof buf;
  EXPECT_EQ(RegQueryValueExA(key, "Title", nullptr, nullptr, buf, &size), ERROR_ACCESS_DENIED);
  RegCloseKey(key);
}

TEST(RegistryApi, EnumerateAndQueryInfo) {
  ActiveStore store(kRegistry);
  // Subkeys come in file order, with their stored spelling.
  HKEY order = open(HKEY_LOCAL_MACHINE, "Software\\order");
  char name[300];
  std::string seen;
  for (DWORD i = 0;; ++i) {
    DWORD length = 260;
    const LONG r = RegEnumKeyExA(order, i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(r, ERROR_SUCCESS);
    EXPECT_EQ(length, std::strlen(name));
    seen += name;
  }
  EXPECT_EQ(seen, "CaB");
  char class_name[260];
  DWORD class_length = 260;
  DWORD subkeys = 0;
  DWORD values = 99;
  EXPECT_EQ(RegQueryInfoKeyA(order, class_name, &class_length, nullptr, &subkeys, nullptr, nullptr,
                             &values, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subkeys, 3u);
  EXPECT_EQ(values, 0u);
  EXPECT_EQ(class_length, 0u);
  EXPECT_STREQ(class_name, "");
  RegCloseKey(order);

  // Names of 255 and 259 characters fit 260 bytes; one of 260 does not.
  HKEY names = open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Names");
  DWORD longest = 0;
  EXPECT_EQ(RegQueryInfoKeyA(names, nullptr, nullptr, nullptr, nullptr, &longest, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(longest, 260u);
  std::memset(name, kSentinel, sizeof name);
  DWORD length = 260;
  EXPECT_EQ(RegEnumKeyExA(names, 0, name, &length, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(length, 255u);
  EXPECT_EQ(static_cast<BYTE>(name[256]), kSentinel);
  length = 260;
  EXPECT_EQ(RegEnumKeyExA(names, 1, name, &length, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(length, 259u);
  EXPECT_EQ(name[259], '\0');
  // Too small a buffer: 234, the length unchanged, nothing written.
  std::memset(name, kSentinel, sizeof name);
  length = 260;
  EXPECT_EQ(RegEnumKeyExA(names, 2, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  EXPECT_EQ(length, 260u);
  length = 200;
  EXPECT_EQ(RegEnumKeyExA(names, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  EXPECT_EQ(length, 200u);
  for (char c : name) ASSERT_EQ(static_cast<BYTE>(c), kSentinel);
  length = 260;
  EXPECT_EQ(RegEnumKeyExA(names, 3, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  RegCloseKey(names);
}

TEST(RegistryApi, DeleteKeyAndValue) {
  ActiveStore store(kRegistry);
  EXPECT_FALSE(store->dirty());
  // A key that still has subkeys is refused, and nothing goes.
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Order"), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Order\\B"));
  // An empty path never deletes the key the handle names.
  HKEY other =
      open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other");
  EXPECT_EQ(RegDeleteKeyA(other, ""), ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegDeleteKeyA(other, nullptr), ERROR_BAD_PATHNAME);
  // A leading backslash names no key, and "\\" alone names none either.
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Nope"), ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegDeleteKeyA(other, "\\"), ERROR_BAD_PATHNAME);
  EXPECT_TRUE(
      exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other"));
  EXPECT_FALSE(store->dirty());
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nope"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nope\\Deeper"), ERROR_FILE_NOT_FOUND);

  // A key with values and no subkeys goes, with its values, by a multi-name path.
  HKEY uninstall =
      open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
  EXPECT_EQ(RegDeleteKeyA(uninstall, "OTHER"), ERROR_SUCCESS);
  EXPECT_TRUE(store->dirty());
  EXPECT_FALSE(exists(uninstall, "Other"));
  // The handle to the deleted key fails cleanly from now on.
  BYTE buf[8];
  DWORD size = sizeof buf;
  HKEY key = nullptr;
  char name[260];
  DWORD length = sizeof name;
  EXPECT_EQ(RegQueryValueExA(other, "DisplayName", nullptr, nullptr, buf, &size),
            ERROR_KEY_DELETED);
  EXPECT_EQ(RegEnumKeyExA(other, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_KEY_DELETED);
  EXPECT_EQ(RegQueryInfoKeyA(other, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_KEY_DELETED);
  EXPECT_EQ(RegOpenKeyExA(other, "", 0, KEY_READ, &key), ERROR_KEY_DELETED);
  EXPECT_EQ(RegDeleteValueA(other, "DisplayName"), ERROR_KEY_DELETED);
  EXPECT_EQ(RegDeleteKeyA(other, "x"), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(other), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(uninstall), ERROR_SUCCESS);
  // The removed key is gone from enumeration; its siblings keep their order.
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Order\\a"), ERROR_SUCCESS);
  HKEY order = open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Order");
  length = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(order, 1, name, &length, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_STREQ(name, "B");
  RegCloseKey(order);

  // Values: only the named one goes; a missing one leaves the key as it was.
  HKEY product = open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vesk\\KivraQ76");
  EXPECT_EQ(RegDeleteValueA(product, "NUMBER"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(product, "Number"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueA(product, nullptr), ERROR_SUCCESS);
  size = sizeof buf;
  EXPECT_EQ(RegQueryValueExA(product, "", nullptr, nullptr, buf, &size), ERROR_FILE_NOT_FOUND);
  RegCloseKey(product);
  EXPECT_EQ(store->openHandleCount(), 0u);
  const std::string text = store->toText();
  EXPECT_EQ(text.find("Number"), std::string::npos);
  EXPECT_EQ(text.find("Other"), std::string::npos);
  EXPECT_NE(text.find("\"Title\"="), std::string::npos);
  EXPECT_NE(text.find("\"Raw80\"="), std::string::npos);
}
