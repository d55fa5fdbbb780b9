// The system's files on Linux: Windows paths resolved in the machine's drive
// folders (drives.h), links never followed out of a drive, errno turned into
// the Win32 code.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/durable/durable_file.h"
#include "platform/fs/drives.h"
#include "platform/fs/dry_run.h"
#include "platform/fs/file_attributes.h"
#include "platform/fs/raw_file.h"
#include "platform/fs/win_error.h"
#include "platform/fs/write_failures.h"

namespace rawfile {

Handle openForReading(LPCSTR path) {
  if (path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return kNoFile;
  }
  const ResolvedPath resolved = resolveWindowsPath(path, LastComponent::Follow);
  if (!resolved.ok()) {
    SetLastError(resolved.error);
    return kNoFile;
  }
  if (!resolved.exists) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return kNoFile;
  }
  // Only a regular file is ever opened: opening a named pipe would wait for a
  // writer for ever, and opening a device may act on it. O_NONBLOCK covers
  // what is put there between the look and the open.
  struct stat named {};
  if (::stat(resolved.host.c_str(), &named) == 0 && !S_ISREG(named.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return kNoFile;
  }
  const int fd = ::open(resolved.host.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    setLastErrorFromErrno(errno);
    return kNoFile;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return kNoFile;
  }
  return fd;
}

Handle createNew(LPCSTR path) {
  if (path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return kNoFile;
  }
  if (fileDryRunActive()) {
    SetLastError(ERROR_WRITE_PROTECT);
    return kNoFile;
  }
  const ResolvedPath resolved = resolveWindowsPath(path, LastComponent::DoNotFollow);
  if (!resolved.ok()) {
    SetLastError(resolved.error);
    return kNoFile;
  }
  if (resolved.given_name.empty()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return kNoFile;
  }
  if (resolved.exists) {
    struct stat st {};
    if (::lstat(resolved.host.c_str(), &st) != 0) {
      setLastErrorFromErrno(errno);
      return kNoFile;
    }
    if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && isReadOnly(st))) {
      SetLastError(ERROR_ACCESS_DENIED);
      return kNoFile;
    }
    if (::unlink(resolved.host.c_str()) != 0) {
      setLastErrorFromErrno(errno);
      return kNoFile;
    }
  }
  // O_EXCL with O_NOFOLLOW: if anything appeared at the path since, the create
  // fails instead of writing through it.
  const std::filesystem::path target = resolved.parent / resolved.given_name;
  const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    setLastErrorFromErrno(errno);
    return kNoFile;
  }
  return fd;
}

std::ptrdiff_t read(Handle file, void* buffer, size_t size) {
  ssize_t got = 0;
  do {
    got = ::read(static_cast<int>(file), buffer, size);
  } while (got < 0 && errno == EINTR);
  if (got < 0) setLastErrorFromErrno(errno);
  return got;
}

bool write(Handle file, const void* data, size_t size) {
  if (durable::writeAll(static_cast<int>(file),
                        std::string_view(static_cast<const char*>(data), size)))
    return true;
  setLastErrorFromErrno(errno);
  return false;
}

bool flush(Handle file) {
  const Result<void> flushed = durable::flushFile(static_cast<int>(file), "");
  if (flushed) return true;
  setLastErrorFromErrno(flushed.errorCode());
  return false;
}

bool close(Handle file) {
  if (::close(static_cast<int>(file)) == 0) return true;
  setLastErrorFromErrno(errno);
  return false;
}

void noteWriteFailure(LPCSTR path) {
  const DWORD error = GetLastError();
  noteFileWriteFailure(path, error);
  SetLastError(error);
}

}  // namespace rawfile
