#include "platform/fs/file_ops.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

// Makes what a rename changed durable: a folder's entries reach the disk only
// when the folder itself is flushed.
void flushFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Renames without ever replacing what stands at the target.
int renameNoReplace(const fs::path& from, const fs::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without the no-replace flag: check first, then rename.
  struct stat st {};
  if (::lstat(to.c_str(), &st) == 0) return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// Gives `file` the owner, group and mode of the file it is about to replace,
// so that a rewrite does not hand a file to whoever ran the program. Only
// root may give a file away, and another user may still set the group when a
// member of it; where neither is allowed the owner stays the caller's. The
// mode is always taken over. Returns 0 or the errno of the failure.
int takeOverOwnerAndMode(const fs::path& file, const struct stat& old) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  struct stat now {};
  int error = ::fstat(fd, &now) == 0 ? 0 : errno;
  if (error == 0 && (now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
      ::fchown(fd, old.st_uid, old.st_gid) != 0) {
    (void)::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
  }
  // After the owner: a change of owner clears the set-user-ID bits.
  if (error == 0 && ::fchmod(fd, old.st_mode & 07777) != 0) error = errno;
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  ::close(fd);
  return error;
}

BOOL deleteFile(LPCSTR lpFileName) {
  ResolvedPath file;
  struct stat st {};
  if (!resolveExisting(lpFileName, file, st)) return FALSE;
  if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && isReadOnly(st))) {
    return fail(ERROR_ACCESS_DENIED);
  }
  if (FileDryRunActive()) {
    RecordDryRunDeletion(lpFileName, file.host);
    return TRUE;
  }
  if (::unlink(file.host.c_str()) != 0) return fail(win32ErrorFromErrno(errno));
  return TRUE;
}

BOOL moveFile(LPCSTR lpExistingFileName, LPCSTR lpNewFileName) {
  ResolvedPath source;
  struct stat st {};
  if (!resolveExisting(lpExistingFileName, source, st)) return FALSE;
  if (FileDryRunActive()) return fail(ERROR_WRITE_PROTECT);
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
  const int error = renameNoReplace(source.host, new_host);
  if (error != 0) return fail(win32ErrorFromErrno(error));
  return TRUE;
}

BOOL replaceFile(LPCSTR replacement, LPCSTR target) {
  ResolvedPath source;
  struct stat st {};
  if (!resolveExisting(replacement, source, st)) return FALSE;
  if (FileDryRunActive()) return fail(ERROR_WRITE_PROTECT);
  if (S_ISDIR(st.st_mode)) return fail(ERROR_ACCESS_DENIED);
  if (target == nullptr) return fail(ERROR_INVALID_PARAMETER);
  const ResolvedPath old_file = resolveWindowsPath(target, LastComponent::DoNotFollow);
  if (!old_file.ok()) return fail(old_file.error);
  if (old_file.given_name.empty()) return fail(ERROR_ACCESS_DENIED);
  if (old_file.drive_root != source.drive_root) return fail(ERROR_NOT_SAME_DEVICE);
  if (old_file.exists) {
    struct stat old_st {};
    if (::lstat(old_file.host.c_str(), &old_st) != 0) return fail(win32ErrorFromErrno(errno));
    if (S_ISDIR(old_st.st_mode) || (S_ISREG(old_st.st_mode) && isReadOnly(old_st))) {
      return fail(ERROR_ACCESS_DENIED);
    }
    if (S_ISREG(old_st.st_mode)) {
      const int error = takeOverOwnerAndMode(source.host, old_st);
      if (error != 0) return fail(win32ErrorFromErrno(error));
    }
  }
  // rename() swaps the directory entry in one step; the old file's spelling is
  // kept.
  if (::rename(source.host.c_str(), old_file.host.c_str()) != 0) {
    return fail(win32ErrorFromErrno(errno));
  }
  flushFolder(old_file.parent);
  if (source.parent != old_file.parent) flushFolder(source.parent);
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
  const BOOL done = replaceFile(replacement, target);
  if (!done) noteFileWriteFailure(target, GetLastError());
  return done;
}
