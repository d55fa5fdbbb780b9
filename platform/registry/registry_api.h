// The Win32 registry functions, on the active RegistryStore (registry_store.h).
// Names, signatures and result codes are Win32's; every function returns
// ERROR_SUCCESS (0) or an error code and never throws.
//
// Handles: HKEY_LOCAL_MACHINE and HKEY_CURRENT_CONFIG (and the other
// predefined roots) are always open; RegOpenKeyExA hands out handles that the
// caller closes with RegCloseKey. A handle whose key has been deleted fails
// every later call with ERROR_KEY_DELETED. Without an active store every call
// fails with ERROR_INVALID_HANDLE.
//
// Paths are names joined by "\", relative to the handle. NULL or "" names the
// handle's own key. As on Windows, the empty names of a trailing or doubled
// backslash are skipped ("Uninstall\" opens "Uninstall"), and a path that
// starts with a backslash fails with ERROR_BAD_PATHNAME. Callers that build a
// path from a name that may be empty must check the name themselves. Names
// compare without regard to letter case.
#pragma once

#include "platform/winbase/winbase.h"

// Opens the key at lpSubKey below hKey. Returns ERROR_FILE_NOT_FOUND when a
// key of the path is missing. On failure *phkResult is set to NULL.
// samDesired is kept: enumerating needs KEY_ENUMERATE_SUB_KEYS and reading
// values or key information needs KEY_QUERY_VALUE (KEY_READ has both), as on
// Windows NT. Deletions need no particular right, as on Windows 95.
LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);

// Reports the key's counts and longest lengths (in characters or bytes, without
// a terminating zero) through the pointers that are not NULL. Keys have no
// class: lpClass receives "" when it has room for the zero, and *lpcchClass 0.
// Times are zero. On failure nothing is written.
LONG RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                      LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                      LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                      LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime);

// Copies the name of the subkey at dwIndex, with its zero, into lpName and
// sets *lpcchName to its length without the zero. ERROR_NO_MORE_ITEMS past the
// last subkey. ERROR_MORE_DATA when the name and its zero do not fit in
// *lpcchName characters: then nothing is written and *lpcchName is unchanged.
// Subkeys come in the order in which the registry file first named them.
LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                   LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime);

// Reads a value ("" or NULL: the default value). Copies the stored bytes, a
// REG_SZ with its terminating zero, and sets *lpcbData to their count. When
// they do not fit, returns ERROR_MORE_DATA with *lpcbData set to the size
// needed and the buffer untouched. A REG_SZ or REG_EXPAND_SZ stored without
// its zero comes back with one, and its size counts it, as on Windows 95,
// which stores every string with its zero. A REG_MULTI_SZ stored without its
// zero gets one only when the buffer has room. With lpData NULL only the size
// (and type) is reported.
LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData);

// Deletes the key at lpSubKey below hKey, with its values. A key that still
// has subkeys is not deleted (ERROR_ACCESS_DENIED), as on Windows NT; Windows
// 95 would delete the whole subtree, keys the caller never saw included. An
// empty path fails and never deletes hKey's own key.
LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);

// Deletes one value ("" or NULL: the default value); ERROR_FILE_NOT_FOUND
// when the key has no such value, leaving the key as it was.
LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName);

// Closes a handle from RegOpenKeyExA; closing a predefined root key succeeds
// and does nothing. ERROR_INVALID_HANDLE for a handle that is not open.
LONG RegCloseKey(HKEY hKey);
