// The Windows directory of the machine.
#pragma once

#include <string>

#include "platform/winbase/winbase.h"

// Copies the Windows directory, without a trailing backslash, into lpBuffer
// and returns its length. That is the directory Windows 95 records as WinDir
// in section [Paths] of C:\MSDOS.SYS, or C:\WINDOWS when the value is missing
// or is not a folder on a drive (X:\...). When uSize is too small, returns the
// size needed, the terminating zero included, and leaves lpBuffer untouched.
UINT GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize);

// The same directory as text, for the platform's own use.
std::string windowsDirectory();
