#include "platform/registry/registry_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "platform/durable/durable_file.h"

namespace {

// An error of a system call on `path`, with errno as text.
std::string describe(const std::filesystem::path& path, std::string_view what, int err) {
  return path.string() + ": " + std::string(what) + ": " + std::strerror(err);
}

Error fileError(const std::filesystem::path& path, std::string_view what, int err) {
  return Error{describe(path, what, err), err};
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
      if (errno == ENOENT)
        return Error{path.string() + ": the registry file does not exist", ENOENT};
      return fileError(path, "cannot open the registry file", errno);
    }
    if (::flock(file.fd(), LOCK_EX | LOCK_NB) != 0) {
      if (errno == EWOULDBLOCK) {
        return Error{path.string() + " is in use by another program", EWOULDBLOCK};
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
Result<ReplacedFile> replaceLockedFile(const std::filesystem::path& path,
                                       const FileContent& content, const LockedFile& current,
                                       const BeforeRename& beforeRename) {
  // The new file keeps the old one's mode (and, as every durable file does,
  // its owner and group where the process may set them).
  struct stat old {};
  const mode_t mode =
      current.isOpen() && ::fstat(current.fd(), &old) == 0 ? old.st_mode & 07777 : 0644;
  auto pending = durable::PendingFile::create({path, mode, durable::Existing::Replace});
  if (!pending) return pending.failure();
  durable::PendingFile& out = pending.value();
  Result<void> written;
  const PieceSink write_piece = [&](std::string_view piece) {
    written = out.write(piece);
    return written.ok();
  };
  if (!content(write_piece)) {
    if (written) return fileError(path, "cannot write", EIO);
    return written.failure();
  }
  if (auto flushed = out.flush(); !flushed) return flushed.failure();
  // Locked before it takes the old file's place, so that no other program
  // can slip in between.
  if (::flock(out.fd(), LOCK_EX | LOCK_NB) != 0) return fileError(path, "cannot lock", errno);
  if (beforeRename) beforeRename(out.fd());
  Result<void> committed = out.commit();
  if (!out.inPlace()) return committed.failure();
  // In its place, also when only the folder flush failed: the store holds
  // the new file from now on, and reports the failure.
  return ReplacedFile{LockedFile(out.release()), std::move(committed)};
}
