// Deleting and renaming files.
#pragma once

#include "platform/winbase/winbase.h"

// Deletes a file (a symbolic link itself, not what it names) and returns TRUE.
// FALSE, with nothing deleted, when the file is missing (ERROR_FILE_NOT_FOUND),
// its folder is missing (ERROR_PATH_NOT_FOUND), it is a folder or read-only
// (ERROR_ACCESS_DENIED; read-only files are refused for every user, as
// Windows refuses them) or the host refuses.
BOOL DeleteFileA(LPCSTR lpFileName);

// Renames a file or folder, also into another folder of the same drive, and
// returns TRUE. FALSE, with both left as they were, when the target exists in
// any letter case (ERROR_ALREADY_EXISTS), the source is missing
// (ERROR_FILE_NOT_FOUND), a folder is missing (ERROR_PATH_NOT_FOUND) or the
// two are on different drives (ERROR_NOT_SAME_DEVICE). Renaming a file onto
// itself in another letter case changes the case of its name.
BOOL MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName);
