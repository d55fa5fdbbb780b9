// The operating system's files under the text-mode classes (text_file.h):
// open, read, write, flush and close, each failure with the Win32 error code
// as the last error. On Linux the paths are resolved in the machine's drive
// folders; on Windows they are the system's own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/winbase/winbase.h"

namespace rawfile {

// An open file; kNoFile when nothing is open.
using Handle = std::intptr_t;
constexpr Handle kNoFile = -1;

// Opens an existing file for reading. kNoFile and the last error when it is
// missing (ERROR_FILE_NOT_FOUND), a folder or refused (ERROR_ACCESS_DENIED),
// or its path does not resolve.
Handle openForReading(LPCSTR path);

// Creates a new, empty file with the spelling given, exclusively: what stands
// at the path is removed first and never opened (a link is removed, not
// followed). kNoFile and the last error when a folder or a read-only file
// stands there (ERROR_ACCESS_DENIED, for every user), the folder is missing
// (ERROR_PATH_NOT_FOUND) or the file cannot be created.
Handle createNew(LPCSTR path);

// Reads up to `size` bytes. Returns the number read, 0 at the end of the file,
// or -1 with the last error set.
std::ptrdiff_t read(Handle file, void* buffer, size_t size);

// Writes all `size` bytes; false with the last error set.
bool write(Handle file, const void* data, size_t size);

// Puts the file's data on the disk; false with the last error set.
bool flush(Handle file);

// Closes the file; false with the last error set when the system reports a
// failure (the handle is gone in either case).
bool close(Handle file);

// Tells the host that a change to `path` failed, the last error saying why, so
// that it can report it at the end; the program itself goes on silently. On
// Windows nothing is kept.
void noteWriteFailure(LPCSTR path);

}  // namespace rawfile
