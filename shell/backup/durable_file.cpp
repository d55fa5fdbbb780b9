#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "shell/backup/durable_file.h"

namespace backup {
namespace {

Error failure(const std::filesystem::path& path, const char* what, int error) {
  return Error{path.string() + ": " + what + ": " + std::strerror(error)};
}

// Writes everything, going on after short writes and interruptions.
bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

Result<void> flushFolder(const std::filesystem::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return failure(folder, "cannot open the folder", errno);
  const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
  const int error = errno;
  ::close(fd);
  if (!ok) return failure(folder, "cannot flush the folder", error);
  return {};
}

Result<void> writeFileDurably(const std::filesystem::path& path, std::string_view bytes,
                              mode_t mode, bool replace) {
  const std::filesystem::path folder = path.parent_path();
  std::string temp_name = path.filename().string();
  temp_name.insert(temp_name.begin(), '.');
  temp_name += ".uinq76-tmp";
  const std::filesystem::path temp = folder / temp_name;
  // The new file belongs to whoever owns the file it replaces, or else the
  // folder; only a process that may give files away (root) changes that.
  struct stat owner {};
  if ((!replace || ::lstat(path.c_str(), &owner) != 0) && ::stat(folder.c_str(), &owner) != 0)
    return failure(folder, "cannot read the folder", errno);
  ::unlink(temp.c_str());
  const int fd =
      ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode & 07777);
  if (fd < 0) return failure(temp, "cannot create", errno);
  if (::geteuid() == 0 && ::fchown(fd, owner.st_uid, owner.st_gid) != 0) {
    // The file stays root's; it is still written whole and put in its place.
  }
  // The mode asked for, whatever the umask took from it.
  bool ok = ::fchmod(fd, mode & 07777) == 0 && writeAll(fd, bytes) && ::fsync(fd) == 0;
  int error = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    return failure(path, "cannot write", error);
  }
  if (replace) {
    ok = ::rename(temp.c_str(), path.c_str()) == 0;
  } else {
    // Whatever appeared at the path since stays as it is.
    ok = ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0;
    if (!ok && (errno == EINVAL || errno == ENOSYS)) {
      struct stat st {};
      if (::lstat(path.c_str(), &st) == 0) {
        errno = EEXIST;
      } else {
        ok = ::rename(temp.c_str(), path.c_str()) == 0;
      }
    }
  }
  error = errno;
  if (!ok) {
    ::unlink(temp.c_str());
    return failure(path, replace ? "cannot replace" : "cannot create", error);
  }
  return flushFolder(folder);
}

Result<void> appendLineDurably(const std::filesystem::path& path, std::string_view text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return failure(path, "cannot open", errno);
  std::string line(text);
  line += '\n';
  bool ok = writeAll(fd, line) && ::fsync(fd) == 0;
  int error = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (!ok) return failure(path, "cannot write", error);
  return {};
}

Result<std::string> readWholeFile(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return failure(path, "cannot open", errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return Error{path.string() + ": not a regular file"};
  }
  std::string data;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd);
      return failure(path, "cannot read", error);
    }
    if (got == 0) break;
    data.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return data;
}

}  // namespace backup
