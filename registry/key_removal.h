// Removal of a registry key with everything below it, and of a single value.
// Both return 1 on success and 0 otherwise, and show nothing; callers go on
// with their next removal whatever the result.
#pragma once

#include "platform/win32/windows.h"

// Removes the key at `path` below `parent` (a root key or an open key),
// subkeys first, depth first, siblings in enumeration order. Only the last
// name of the path goes; the keys above it stay. Returns 1 when the key itself
// was removed.
int DeleteKeyTree(HKEY parent, LPCSTR path);

// Removes the value `value_name` of the key at `path` below `root`. Returns 1
// when the value was removed; the key and its other values stay.
int DeleteRegValue(HKEY root, LPCSTR path, LPCSTR value_name);
