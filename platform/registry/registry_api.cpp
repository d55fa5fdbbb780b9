#include "platform/registry/registry_api.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "platform/registry/registry_store.h"

namespace {

constexpr REGSAM kAllRights = KEY_ALL_ACCESS;

// The key behind a handle, and what the handle may do.
struct ResolvedKey {
  KeyId key = kNoKey;
  REGSAM access = 0;
  LONG error = ERROR_SUCCESS;
};

ResolvedKey resolveHandle(RegistryStore* store, HKEY handle) {
  if (store == nullptr) return {kNoKey, 0, ERROR_INVALID_HANDLE};
  if (const auto root = rootKeyFromHandle(handle)) {
    return {RegistryTree::rootKey(*root), kAllRights, ERROR_SUCCESS};
  }
  const RegistryStore::OpenKey* open = store->findHandle(handle);
  if (open == nullptr) return {kNoKey, 0, ERROR_INVALID_HANDLE};
  if (store->tree().deleted(open->key)) return {kNoKey, 0, ERROR_KEY_DELETED};
  return {open->key, open->access, ERROR_SUCCESS};
}

// Windows skips the empty names of a trailing or doubled backslash and opens
// "Uninstall\" as "Uninstall"; a leading backslash fails with
// ERROR_BAD_PATHNAME. Returns the path without its empty names, or nothing for
// a path that Windows refuses.
std::optional<std::string> normalizePath(std::string_view path) {
  if (!path.empty() && path.front() == '\\') return std::nullopt;
  std::string out;
  out.reserve(path.size());
  while (!path.empty()) {
    const std::size_t sep = path.find('\\');
    const std::string_view name = path.substr(0, sep);
    if (!name.empty()) {
      if (!out.empty()) out += '\\';
      out += name;
    }
    if (sep == std::string_view::npos) break;
    path.remove_prefix(sep + 1);
  }
  return out;
}

// Walks a normalised `path` down from `key`, one hash lookup per name.
LONG walkPath(const RegistryTree& tree, KeyId& key, std::string_view path) {
  while (!path.empty()) {
    const std::size_t sep = path.find('\\');
    const KeyId next = tree.findSubkey(key, path.substr(0, sep));
    if (next == kNoKey) return ERROR_FILE_NOT_FOUND;
    key = next;
    if (sep == std::string_view::npos) break;
    path.remove_prefix(sep + 1);
  }
  return ERROR_SUCCESS;
}

std::string_view nameOrEmpty(LPCSTR name) { return name == nullptr ? "" : name; }

bool hasRight(REGSAM access, REGSAM right) { return (access & right) == right; }

// Runs an operation so that no exception leaves a Win32 function: running out
// of memory is reported as Windows reports it.
template <typename Operation>
LONG guarded(Operation&& operation) {
  try {
    return operation();
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  } catch (...) {
    return ERROR_INVALID_PARAMETER;
  }
}

LONG openKey(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
  (void)ulOptions;
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  RegistryStore* store = ActiveRegistry();
  ResolvedKey parent = resolveHandle(store, hKey);
  if (parent.error != ERROR_SUCCESS) return parent.error;
  const std::string_view given = nameOrEmpty(lpSubKey);
  // Opening a predefined root itself gives back the same predefined handle.
  if (given.empty() && rootKeyFromHandle(hKey)) {
    *phkResult = hKey;
    return ERROR_SUCCESS;
  }
  const std::optional<std::string> path = normalizePath(given);
  if (!path) return ERROR_BAD_PATHNAME;
  KeyId key = parent.key;
  if (const LONG err = walkPath(store->tree(), key, *path); err != ERROR_SUCCESS) return err;
  *phkResult = store->addHandle(key, samDesired);
  return ERROR_SUCCESS;
}

LONG queryInfoKey(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                  LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                  LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                  LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) {
  (void)lpReserved;
  RegistryStore* store = ActiveRegistry();
  const ResolvedKey target = resolveHandle(store, hKey);
  if (target.error != ERROR_SUCCESS) return target.error;
  if (!hasRight(target.access, KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  if (lpClass != nullptr && lpcchClass == nullptr) return ERROR_INVALID_PARAMETER;
  if (lpClass != nullptr && *lpcchClass == 0) return ERROR_MORE_DATA;
  const RegistryTree& tree = store->tree();
  const KeyId key = target.key;

  if (lpClass != nullptr) lpClass[0] = '\0';
  if (lpcchClass != nullptr) *lpcchClass = 0;
  if (lpcSubKeys != nullptr) *lpcSubKeys = static_cast<DWORD>(tree.subkeyCount(key));
  if (lpcbMaxSubKeyLen != nullptr) {
    std::size_t longest = 0;
    tree.forEachSubkey(key,
                       [&](KeyId child) { longest = std::max(longest, tree.name(child).size()); });
    *lpcbMaxSubKeyLen = static_cast<DWORD>(longest);
  }
  if (lpcbMaxClassLen != nullptr) *lpcbMaxClassLen = 0;
  std::size_t values = 0;
  std::size_t longest_name = 0;
  std::size_t longest_data = 0;
  tree.forEachValue(key, [&](const RegistryValue& value) {
    ++values;
    longest_name = std::max(longest_name, value.name.size());
    longest_data = std::max(longest_data, value.data.size());
  });
  if (lpcValues != nullptr) *lpcValues = static_cast<DWORD>(values);
  if (lpcbMaxValueNameLen != nullptr) *lpcbMaxValueNameLen = static_cast<DWORD>(longest_name);
  if (lpcbMaxValueLen != nullptr) *lpcbMaxValueLen = static_cast<DWORD>(longest_data);
  if (lpcbSecurityDescriptor != nullptr) *lpcbSecurityDescriptor = 0;
  if (lpftLastWriteTime != nullptr) *lpftLastWriteTime = FILETIME{0, 0};
  return ERROR_SUCCESS;
}

LONG enumKey(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
             LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  (void)lpReserved;
  RegistryStore* store = ActiveRegistry();
  const ResolvedKey target = resolveHandle(store, hKey);
  if (target.error != ERROR_SUCCESS) return target.error;
  if (!hasRight(target.access, KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
  if (lpName == nullptr || lpcchName == nullptr) return ERROR_INVALID_PARAMETER;
  if (lpClass != nullptr && lpcchClass == nullptr) return ERROR_INVALID_PARAMETER;
  const KeyId child = store->tree().subkeyAt(target.key, dwIndex);
  if (child == kNoKey) return ERROR_NO_MORE_ITEMS;
  const std::string_view name = store->tree().name(child);
  if (name.size() + 1 > *lpcchName) return ERROR_MORE_DATA;
  if (lpClass != nullptr && *lpcchClass == 0) return ERROR_MORE_DATA;
  std::memcpy(lpName, name.data(), name.size());
  lpName[name.size()] = '\0';
  *lpcchName = static_cast<DWORD>(name.size());
  if (lpClass != nullptr) {
    lpClass[0] = '\0';
    *lpcchClass = 0;
  }
  if (lpftLastWriteTime != nullptr) *lpftLastWriteTime = FILETIME{0, 0};
  return ERROR_SUCCESS;
}

LONG queryValue(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                LPDWORD lpcbData) {
  (void)lpReserved;
  RegistryStore* store = ActiveRegistry();
  const ResolvedKey target = resolveHandle(store, hKey);
  if (target.error != ERROR_SUCCESS) return target.error;
  if (!hasRight(target.access, KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
  const auto value = store->tree().findValue(target.key, nameOrEmpty(lpValueName));
  if (!value) return ERROR_FILE_NOT_FOUND;
  if (lpType != nullptr) *lpType = value->type;
  // Windows 95 keeps a string with its terminating zero whatever size it was
  // given, and regedit adds the zero when it imports one written without it;
  // such a value is reported with that zero, so 80 such bytes need 81.
  const bool is_string = value->type == REG_SZ || value->type == REG_EXPAND_SZ;
  const bool add_zero = is_string && (value->data.empty() || value->data.back() != '\0');
  const std::size_t size = value->data.size() + (add_zero ? 1 : 0);
  if (lpData == nullptr) {
    if (lpcbData != nullptr) *lpcbData = static_cast<DWORD>(size);
    return ERROR_SUCCESS;
  }
  const std::size_t room = *lpcbData;
  *lpcbData = static_cast<DWORD>(size);
  if (size > room) return ERROR_MORE_DATA;
  std::memcpy(lpData, value->data.data(), value->data.size());
  if (add_zero) lpData[value->data.size()] = 0;
  // A REG_MULTI_SZ without its zero gets one where there is room, as on NT.
  const bool is_multi = value->type == REG_MULTI_SZ;
  if (is_multi && size < room && (size == 0 || value->data.back() != '\0')) lpData[size] = 0;
  return ERROR_SUCCESS;
}

LONG deleteKey(HKEY hKey, LPCSTR lpSubKey) {
  RegistryStore* store = ActiveRegistry();
  const ResolvedKey parent = resolveHandle(store, hKey);
  if (parent.error != ERROR_SUCCESS) return parent.error;
  // An empty path would name hKey's own key; this function deletes only the
  // keys that a path names below it.
  const std::optional<std::string> normalized = normalizePath(nameOrEmpty(lpSubKey));
  if (!normalized || normalized->empty()) return ERROR_BAD_PATHNAME;
  const std::string_view path = *normalized;
  RegistryTree& tree = store->tree();
  KeyId key = parent.key;
  const std::size_t last_sep = path.rfind('\\');
  if (last_sep != std::string_view::npos) {
    if (const LONG err = walkPath(tree, key, path.substr(0, last_sep)); err != ERROR_SUCCESS) {
      return err;
    }
  }
  const std::string_view name = path.substr(last_sep == std::string_view::npos ? 0 : last_sep + 1);
  const KeyId target = tree.findSubkey(key, name);
  if (target == kNoKey) return ERROR_FILE_NOT_FOUND;
  if (tree.hasSubkeys(target)) return ERROR_ACCESS_DENIED;
  tree.removeSubkey(target);
  store->markDirty();
  return ERROR_SUCCESS;
}

LONG deleteValue(HKEY hKey, LPCSTR lpValueName) {
  RegistryStore* store = ActiveRegistry();
  const ResolvedKey target = resolveHandle(store, hKey);
  if (target.error != ERROR_SUCCESS) return target.error;
  if (!store->tree().removeValue(target.key, nameOrEmpty(lpValueName))) {
    return ERROR_FILE_NOT_FOUND;
  }
  store->markDirty();
  return ERROR_SUCCESS;
}

LONG closeKey(HKEY hKey) {
  if (rootKeyFromHandle(hKey)) return ERROR_SUCCESS;
  RegistryStore* store = ActiveRegistry();
  if (store == nullptr) return ERROR_INVALID_HANDLE;
  return store->closeHandle(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

}  // namespace

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                   PHKEY phkResult) {
  return guarded([&] { return openKey(hKey, lpSubKey, ulOptions, samDesired, phkResult); });
}

LONG RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                      LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                      LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                      LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) {
  return guarded([&] {
    return queryInfoKey(hKey, lpClass, lpcchClass, lpReserved, lpcSubKeys, lpcbMaxSubKeyLen,
                        lpcbMaxClassLen, lpcValues, lpcbMaxValueNameLen, lpcbMaxValueLen,
                        lpcbSecurityDescriptor, lpftLastWriteTime);
  });
}

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                   LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  return guarded([&] {
    return enumKey(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass,
                   lpftLastWriteTime);
  });
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData) {
  return guarded(
      [&] { return queryValue(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData); });
}

LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  return guarded([&] { return deleteKey(hKey, lpSubKey); });
}

LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  return guarded([&] { return deleteValue(hKey, lpValueName); });
}

LONG RegCloseKey(HKEY hKey) {
  return guarded([&] { return closeKey(hKey); });
}
