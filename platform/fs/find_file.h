// Directory search by pattern.
#pragma once

#include "platform/winbase/winbase.h"

// Starts a search for the entries of one folder whose names match the last
// component of lpFileName ('*' and '?', without regard to case; see
// matchesWildcard). Files and folders are both returned, "." and ".." too
// outside a drive's root, in byte order of their names so runs repeat. The
// entries are taken when the search starts, so deleting a found file does not
// disturb it. Names that a Windows path cannot hold (a '\', a ':', ...) and
// links that lead outside the drive are passed over. Drive folders have no
// short 8.3 aliases, so cAlternateFileName is always empty.
// Returns a handle for FindNextFileA and fills *lpFindFileData with the first
// entry; INVALID_HANDLE_VALUE when nothing matches (ERROR_FILE_NOT_FOUND), the
// folder is missing (ERROR_PATH_NOT_FOUND) or the path is too long or invalid,
// leaving *lpFindFileData untouched.
HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData);

// Fills *lpFindFileData with the next entry and returns TRUE; FALSE with
// ERROR_NO_MORE_FILES at the end (or ERROR_INVALID_HANDLE), the data untouched.
BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData);

// Ends a search. FALSE with ERROR_INVALID_HANDLE for a handle that is not open.
BOOL FindClose(HANDLE hFindFile);
