#include "platform/registry/registry_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

namespace {

// The one place where errno becomes text for the user.
std::string describe(const std::filesystem::path& path, std::string_view what, int err) {
  return path.string() + ": " + std::string(what) + ": " + std::strerror(err);
}

Error fileError(const std::filesystem::path& path, std::string_view what, int err) {
  return Error{describe(path, what, err)};
}

// Writes all of `bytes`; errno tells why when it returns false. FailWrite
// stops half way with ENOSPC, as a full disk would.
bool writeAll(int fd, std::string_view bytes, SaveFault fault) {
  const std::size_t limit = fault == SaveFault::FailWrite ? bytes.size() / 2 : bytes.size();
  for (std::size_t done = 0; done < limit;) {
    const ssize_t n = ::write(fd, bytes.data() + done, limit - done);
    if (n < 0 && errno != EINTR) return false;
    if (n > 0) done += static_cast<std::size_t>(n);
  }
  if (fault == SaveFault::FailWrite) errno = ENOSPC;
  return fault != SaveFault::FailWrite;
}

Error notRegular(const std::filesystem::path& path) {
  return Error{path.string() +
               ": not a regular file; the registry must be a plain REGEDIT4 text file"};
}

}  // namespace

LockedFile& LockedFile::operator=(LockedFile&& other) noexcept {
  if (this != &other) {
    close();
    m_fd = other.release();
  }
  return *this;
}

LockedFile::~LockedFile() { close(); }

int LockedFile::release() {
  const int fd = m_fd;
  m_fd = -1;
  return fd;
}

void LockedFile::close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

Result<LockedFile> openLocked(const std::filesystem::path& path) {
  // Another program may replace the file between our open and our lock; the
  // lock then sits on a file that is no longer `path`, so look again.
  for (int attempt = 0; attempt < 16; ++attempt) {
    // A named pipe would make the open wait for a writer for ever, and a
    // device may act on being opened: only a regular file is opened, and
    // O_NONBLOCK covers what is put there between the look and the open.
    struct stat seen {};
    if (::stat(path.c_str(), &seen) == 0 && !S_ISREG(seen.st_mode)) return notRegular(path);
    LockedFile file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!file.isOpen()) {
      if (errno == ENOENT) return Error{path.string() + ": the registry file does not exist"};
      return fileError(path, "cannot open the registry file", errno);
    }
    if (::flock(file.fd(), LOCK_EX | LOCK_NB) != 0) {
      if (errno == EWOULDBLOCK) {
        return Error{path.string() + " is in use by another program"};
      }
      return fileError(path, "cannot lock the registry file", errno);
    }
    struct stat held {};
    struct stat named {};
    if (::fstat(file.fd(), &held) != 0)
      return fileError(path, "cannot read the registry file", errno);
    if (!S_ISREG(held.st_mode)) return notRegular(path);
    if (::stat(path.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
        named.st_ino == held.st_ino) {
      return file;
    }
  }
  return Error{path.string() + " is in use by another program"};
}

Result<FileReader> FileReader::start(const LockedFile& file, const std::filesystem::path& path) {
  struct stat st {};
  if (::fstat(file.fd(), &st) != 0) return fileError(path, "cannot read", errno);
  return FileReader(file.fd(), path, static_cast<std::size_t>(std::max<off_t>(st.st_size, 0)));
}

Result<std::size_t> FileReader::read(char* into, std::size_t room) {
  while (true) {
    const ssize_t n = ::pread(m_fd, into, room, static_cast<off_t>(m_offset));
    if (n >= 0) {
      m_offset += static_cast<std::uint64_t>(n);
      return static_cast<std::size_t>(n);
    }
    if (errno != EINTR) return fileError(m_path, "cannot read", errno);
  }
}
Result<ReplacedFile> replaceFile(const std::filesystem::path& path, const FileContent& content,
                                 const LockedFile& current, SaveFault fault) {
  std::filesystem::path temp = path;
  temp += ".tmp";
  mode_t mode = 0644;
  struct stat st {};
  const bool known = current.isOpen() && ::fstat(current.fd(), &st) == 0;
  if (known) mode = st.st_mode & 07777;

  // O_NOFOLLOW: a link planted under the temporary name must not redirect the
  // write. O_NONBLOCK: a named pipe planted there must not make it wait.
  LockedFile out(::open(temp.c_str(),
                        O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, mode));
  if (!out.isOpen()) return fileError(temp, "cannot create", errno);
  auto failWith = [&](std::string_view what) {
    const int err = errno;
    out.close();
    ::unlink(temp.c_str());
    return fileError(temp, what, err);
  };
  struct stat made {};
  if (::fstat(out.fd(), &made) != 0) return failWith("cannot create");
  if (!S_ISREG(made.st_mode)) {
    // Not ours to remove: whatever it is stays.
    out.close();
    return Error{temp.string() + ": cannot create: something other than a file is there"};
  }
  // The new file keeps the old one's owner and group where the process may
  // set them (root may give a file away; others may set a group they are in),
  // and always its mode; the mode is set after the owner, which clears the
  // set-user-ID bits.
  if (known && (made.st_uid != st.st_uid || made.st_gid != st.st_gid) &&
      ::fchown(out.fd(), st.st_uid, st.st_gid) != 0) {
    (void)::fchown(out.fd(), static_cast<uid_t>(-1), st.st_gid);
  }
  if (::fchmod(out.fd(), mode) != 0) return failWith("cannot set permissions");
  int write_error = 0;
  const PieceSink write_piece = [&](std::string_view piece) {
    if (writeAll(out.fd(), piece, fault)) return true;
    write_error = errno;
    return false;
  };
  if (!content(write_piece)) {
    errno = write_error;
    return failWith("cannot write");
  }
  if (::fsync(out.fd()) != 0) return failWith("cannot flush to disk");
  if (::flock(out.fd(), LOCK_EX | LOCK_NB) != 0) return failWith("cannot lock");
  if (fault == SaveFault::CrashBeforeRename) ::_exit(70);
  if (fault == SaveFault::StopBeforeRename) {
    errno = EIO;
    return failWith("stopped before replacing the registry file");
  }
  if (::rename(temp.c_str(), path.c_str()) != 0)
    return failWith("cannot replace the registry file");

  std::filesystem::path dir = path.parent_path();
  if (dir.empty()) dir = ".";
  LockedFile dir_fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir_fd.isOpen() || ::fsync(dir_fd.fd()) != 0) {
    // The new file is in place; only its name may not have reached the disk yet.
    return ReplacedFile{std::move(out), fileError(dir, "cannot flush the directory", errno)};
  }
  return ReplacedFile{std::move(out), {}};
}
