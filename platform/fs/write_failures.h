// The file functions fail silently, as the program expects of Windows; the
// host still owes its user a word when a change to the machine's files could
// not be made. Every write, delete, rename or replace that fails for a reason
// other than a missing file or folder is kept here until the host asks.
#pragma once

#include <string>
#include <vector>

#include "platform/winbase/winbase.h"

struct FileWriteFailure {
  std::string path;  // The Windows path the program named.
  DWORD error = ERROR_SUCCESS;
};

// Keeps a failure of a change to `windows_path`. A missing file or folder
// (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND) is an answer, not a failure,
// and is not kept.
void noteFileWriteFailure(const char* windows_path, DWORD error);

// The failures kept since the last call, in the order they happened.
std::vector<FileWriteFailure> takeFileWriteFailures();

// A short text for a Win32 error of the file functions: "no space left on the
// drive", "access refused", ...
std::string describeFileError(DWORD error);
