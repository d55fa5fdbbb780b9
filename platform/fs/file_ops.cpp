#include "platform/fs/file_ops.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/durable/durable_file.h"
#include "platform/fs/drives.h"
#include "platform/fs/dry_run.h"
#include "platform/fs/file_attributes.h"
#include "platform/fs/file_replace.h"
#include "platform/fs/win_error.h"
#include "platform/fs/write_failures.h"

namespace fs = std::filesystem;

namespace {

BOOL fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// Resolves a path whose last component must exist; a link is taken itself.
bool resolveExisting(LPCSTR path, ResolvedPath& resolved, struct stat& st) {
  if (path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  resolved = resolveWindowsPath(path, LastComponent::DoNotFollow);
  if (!resolved.ok()) {
    SetLastError(resolved.error);
    return false;
  }
  if (!resolved.exists || resolved.given_name.empty()) {
    SetLastError(resolved.exists ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
    return false;
  }
  if (::lstat(resolved.host.c_str(), &st) != 0) {
    setLastErrorFromErrno(errno);
    return false;
  }
  return true;
}

// Flushes the finished copy `file` to the disk; when it replaces the regular
// file `old`, it first takes over that file's owner, group (where the process
// may set them) and mode, so that a rewrite does not hand the file to
// whoever ran the program. Returns 0 or the errno of the failure.
int prepareReplacement(const fs::path& file, const struct stat* old) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  const Result<void> done = old != nullptr
                                ? durable::takeOverOwnership(fd, file, *old, old->st_mode & 07777)
                                : durable::flushFile(fd, file);
  ::close(fd);
  return done ? 0 : done.errorCode();
}

BOOL deleteFile(LPCSTR lpFileName) {
  ResolvedPath file;
  struct stat st {};
  if (!resolveExisting(lpFileName, file, st)) return FALSE;
  if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && isReadOnly(st))) {
    return fail(ERROR_ACCESS_DENIED);
  }
  if (fileDryRunActive()) {
    recordDryRunDeletion(lpFileName, file.host);
    return TRUE;
  }
  if (::unlink(file.host.c_str()) != 0) return fail(win32ErrorFromErrno(errno));
  // The removal goes to the disk at once: on FAT the freed clusters could
  // otherwise reach it before the removed entry, with the next flush of any
  // file, and a power cut then leaves the entry naming free clusters. The
  // file is gone either way; a failed flush is kept for the host's report.
  if (auto flushed = durable::flushFolder(file.host.parent_path()); !flushed)
    noteFileWriteFailure(lpFileName, win32ErrorFromErrno(flushed.errorCode()));
  return TRUE;
}

BOOL moveFile(LPCSTR lpExistingFileName, LPCSTR lpNewFileName) {
  ResolvedPath source;
  struct stat st {};
  if (!resolveExisting(lpExistingFileName, source, st)) return FALSE;
  if (fileDryRunActive()) return fail(ERROR_WRITE_PROTECT);
  if (lpNewFileName == nullptr) return fail(ERROR_INVALID_PARAMETER);
  const ResolvedPath target = resolveWindowsPath(lpNewFileName, LastComponent::DoNotFollow);
  if (!target.ok())
    return fail(target.error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : target.error);
  if (target.given_name.empty()) return fail(ERROR_ACCESS_DENIED);
  if (target.drive_root != source.drive_root) return fail(ERROR_NOT_SAME_DEVICE);
  const fs::path new_host = target.parent / target.given_name;
  if (target.exists) {
    if (target.host != source.host) return fail(ERROR_ALREADY_EXISTS);
    // The same file under another spelling: only the case of its name changes.
    if (new_host == source.host) return TRUE;
    if (::rename(source.host.c_str(), new_host.c_str()) != 0) {
      return fail(win32ErrorFromErrno(errno));
    }
    return TRUE;
  }
  if (!durable::renameWithoutReplacing(source.host, new_host))
    return fail(win32ErrorFromErrno(errno));
  return TRUE;
}

BOOL moveCopyOver(LPCSTR replacement, LPCSTR target) {
  ResolvedPath source;
  struct stat st {};
  if (!resolveExisting(replacement, source, st)) return FALSE;
  if (fileDryRunActive()) return fail(ERROR_WRITE_PROTECT);
  if (S_ISDIR(st.st_mode)) return fail(ERROR_ACCESS_DENIED);
  if (target == nullptr) return fail(ERROR_INVALID_PARAMETER);
  const ResolvedPath old_file = resolveWindowsPath(target, LastComponent::DoNotFollow);
  if (!old_file.ok()) return fail(old_file.error);
  if (old_file.given_name.empty()) return fail(ERROR_ACCESS_DENIED);
  if (old_file.drive_root != source.drive_root) return fail(ERROR_NOT_SAME_DEVICE);
  struct stat old_st {};
  bool replaces_file = false;
  if (old_file.exists) {
    if (::lstat(old_file.host.c_str(), &old_st) != 0) return fail(win32ErrorFromErrno(errno));
    if (S_ISDIR(old_st.st_mode) || (S_ISREG(old_st.st_mode) && isReadOnly(old_st))) {
      return fail(ERROR_ACCESS_DENIED);
    }
    replaces_file = S_ISREG(old_st.st_mode);
  }
  if (const int error = prepareReplacement(source.host, replaces_file ? &old_st : nullptr);
      error != 0) {
    return fail(win32ErrorFromErrno(error));
  }
  // rename() swaps the directory entry in one step; the old file's spelling is
  // kept. A folder that cannot be flushed afterwards fails the replace: the
  // new name may not survive a crash.
  const Result<void> renamed =
      durable::renameInto(source.host, old_file.host, durable::Existing::Replace);
  if (!renamed) return fail(win32ErrorFromErrno(renamed.errorCode()));
  return TRUE;
}

}  // namespace

// A change that fails is kept for the host's report; the result is the
// caller's all the same.
BOOL DeleteFileA(LPCSTR lpFileName) {
  const BOOL done = deleteFile(lpFileName);
  if (!done) noteFileWriteFailure(lpFileName, GetLastError());
  return done;
}

BOOL MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName) {
  const BOOL done = moveFile(lpExistingFileName, lpNewFileName);
  if (!done) noteFileWriteFailure(lpExistingFileName, GetLastError());
  return done;
}

BOOL replaceFileWithCopy(LPCSTR replacement, LPCSTR target) {
  const BOOL done = moveCopyOver(replacement, target);
  if (!done) noteFileWriteFailure(target, GetLastError());
  return done;
}
