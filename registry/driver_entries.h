// Removal of the entry, below the media device-class key or below a
// media-resources key, whose "Driver" value names a given driver file.
#pragma once

#include "platform/win32/windows.h"

// Removes, with its subkeys, the first subkey of
// HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\MEDIA whose
// "Driver" value is `driver`, letter case included. Returns 0 when the parent
// key or the name of one of its subkeys cannot be read, else 1 (match or not).
int DeleteClassEntriesByDriver(LPCSTR driver);

// The same below
// HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\MediaResources\<device_type>.
int DeleteMediaResourcesByDriver(LPCSTR device_type, LPCSTR driver);
