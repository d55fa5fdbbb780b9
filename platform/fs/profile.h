// The profile-file reader.
#pragma once

#include "platform/winbase/winbase.h"

// Copies the value of key lpKeyName in section lpAppName of the profile file
// lpFileName (see ProfileText for how the file is read) into lpReturnedString,
// cut to nSize - 1 characters and zero-terminated, and returns its length.
// When the file, the section or the key is missing, lpDefault (without its
// trailing spaces; "" for null) comes back instead, cut the same way, and the
// last error says why (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ...). A cut
// value sets ERROR_MORE_DATA, so it can be told from one that fits exactly.
// A null lpAppName lists the section names, a null lpKeyName the keys of the
// section, each followed by a zero, with a second zero at the end; a list
// that does not fit is cut and the result is nSize - 2. A file name without a
// drive is taken from the Windows directory. nSize 0 leaves the buffer
// untouched and returns 0.
DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                               LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName);
