#include "platform/durable/durable_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace durable {
namespace {

Error failure(const std::filesystem::path& path, std::string_view what, int error) {
  return Error{path.string() + ": " + std::string(what) + ": " + std::strerror(error), error};
}

std::filesystem::path folderOf(const std::filesystem::path& path) {
  std::filesystem::path folder = path.parent_path();
  return folder.empty() ? std::filesystem::path(".") : folder;
}

// Sets owner and group where permitted and then the mode; errno of the mode.
bool setOwnershipAndMode(int fd, const struct stat& like, mode_t mode) {
  struct stat now {};
  if (::fstat(fd, &now) != 0) return false;
  if ((now.st_uid != like.st_uid || now.st_gid != like.st_gid) &&
      ::fchown(fd, like.st_uid, like.st_gid) != 0) {
    // Not root: the group alone where the process is a member of it; else
    // the file stays the process's own.
    (void)::fchown(fd, static_cast<uid_t>(-1), like.st_gid);
  }
  return ::fchmod(fd, mode & 07777) == 0;
}

// The file that a rename is about to replace, held open until its
// replacement is on the disk. On FAT the kernel frees a file's clusters when
// its last user lets go of it, and may write that to the disk before the
// renamed file's directory entry: held, the old clusters stay the file's
// until the new entry points elsewhere.
class HeldFile {
 public:
  HeldFile() = default;
  explicit HeldFile(const std::filesystem::path& path)
      : m_fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)) {}
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  ~HeldFile() {
    if (m_fd >= 0) ::close(m_fd);
  }

 private:
  int m_fd = -1;
};

// The flushes after a rename, in the order that leaves the old state or the
// new one on the disk at every moment, also on FAT. There the kernel moves a
// renamed file or folder to its new directory entry in memory only, and
// writes that entry (where its data starts, its size) when the file itself is
// flushed; a flush of the folder writes the folder's other entries. So:
// - replacing: the folder first (the temporary's entry goes; the target's
//   entry still names the old file, whose clusters are held), then the file
//   (the entry names the new data);
// - a new name: the file first, which writes its new entry whole, then the
//   folder (the old entry goes). A folder flushed first would put an entry
//   on the disk that names no data at all.
// Elsewhere the folder's flush is what makes the rename durable and the
// file's is cheap, so the order holds the same promise on every file system.
template <typename FlushFolders, typename FlushRenamed>
Result<void> settleRename(Existing existing, FlushFolders flushFolders, FlushRenamed flushRenamed) {
  if (existing == Existing::Replace) {
    if (auto flushed = flushFolders(); !flushed) return flushed;
    return flushRenamed();
  }
  if (auto flushed = flushRenamed(); !flushed) return flushed;
  return flushFolders();
}

}  // namespace

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) {
      errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

Result<PendingFile> PendingFile::create(const Target& target, std::filesystem::path temp) {
  const std::filesystem::path folder = folderOf(target.path);
  if (temp.empty()) {
    // Built in steps: GCC 12 at -O3 warns wrongly about overlapping copies
    // inside a chained std::string concatenation (GCC bug 105329).
    std::string name = ".";
    name += target.path.filename().string();
    name += ".uinq76-tmp";
    temp = folder / name;
  }
  // The owner and group of the file replaced, else of the folder.
  struct stat like {};
  if ((target.existing == Existing::Keep || ::lstat(target.path.c_str(), &like) != 0 ||
       !S_ISREG(like.st_mode)) &&
      ::stat(folder.c_str(), &like) != 0)
    return failure(folder, "cannot read the folder", errno);
  // A stale temporary of a run that was cut off goes; O_EXCL and O_NOFOLLOW
  // then make sure that the file written is a new one of ours and that no
  // link planted at the name redirects the write. O_NONBLOCK: a named pipe
  // planted there between the unlink and the open must not make it wait.
  ::unlink(temp.c_str());
  const int fd =
      ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) return failure(temp, "cannot create", errno);
  PendingFile file(target, std::move(temp), fd);
  if (!setOwnershipAndMode(fd, like, target.mode))
    return file.fail("cannot set permissions", errno);
  return file;
}

PendingFile::PendingFile(PendingFile&& other) noexcept
    : m_target(std::move(other.m_target)),
      m_temp(std::move(other.m_temp)),
      m_fd(std::exchange(other.m_fd, -1)),
      m_flushed(other.m_flushed),
      m_inPlace(other.m_inPlace) {}

PendingFile::~PendingFile() {
  if (m_fd < 0) return;
  ::close(m_fd);
  if (!m_inPlace) ::unlink(m_temp.c_str());
}

int PendingFile::release() {
  m_inPlace = true;  // the temporary, if any, is the caller's now
  return std::exchange(m_fd, -1);
}

Error PendingFile::fail(std::string_view what, int error) {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  ::unlink(m_temp.c_str());
  return failure(m_target.path, what, error);
}

Result<void> PendingFile::write(std::string_view bytes) {
  if (m_fd < 0 || m_inPlace) return failure(m_target.path, "cannot write", EBADF);
  m_flushed = false;
  if (!writeAll(m_fd, bytes)) return fail("cannot write", errno);
  return {};
}

Result<void> PendingFile::flush() {
  if (m_fd < 0) return failure(m_target.path, "cannot flush to the disk", EBADF);
  if (m_flushed) return {};
  if (::fsync(m_fd) != 0) return fail("cannot flush to the disk", errno);
  m_flushed = true;
  return {};
}

Result<void> PendingFile::commit() {
  if (m_inPlace) return {};
  if (auto flushed = flush(); !flushed) return flushed;
  const bool replace = m_target.existing == Existing::Replace;
  const HeldFile replaced = replace ? HeldFile(m_target.path) : HeldFile();
  const bool renamed = replace ? ::rename(m_temp.c_str(), m_target.path.c_str()) == 0
                               : renameWithoutReplacing(m_temp, m_target.path);
  if (!renamed) return fail(replace ? "cannot replace" : "cannot create", errno);
  m_inPlace = true;
  const std::filesystem::path folder = folderOf(m_target.path);
  return settleRename(
      m_target.existing, [&] { return flushFolder(folder); },
      [&] { return flushFile(m_fd, m_target.path); });
}

Result<void> writeFile(const Target& target, std::string_view bytes) {
  auto file = PendingFile::create(target);
  if (!file) return file.failure();
  if (auto written = file.value().write(bytes); !written) return written;
  return file.value().commit();
}

Result<void> appendLine(const std::filesystem::path& path, std::string_view text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
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

Result<void> flushFolder(const std::filesystem::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return failure(folder, "cannot open the folder", errno);
  // EINVAL: a file system that cannot flush a folder keeps its entries
  // without being asked.
  const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
  const int error = errno;
  ::close(fd);
  if (!ok) return failure(folder, "cannot flush the folder", error);
  return {};
}

Result<void> takeOverOwnership(int fd, const std::filesystem::path& path, const struct stat& like,
                               mode_t mode) {
  if (!setOwnershipAndMode(fd, like, mode)) return failure(path, "cannot set permissions", errno);
  return flushFile(fd, path);
}

bool renameWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the no-replace flag: look first, then rename.
  struct stat st {};
  if (::lstat(to.c_str(), &st) == 0) {
    errno = EEXIST;
    return false;
  }
  return ::rename(from.c_str(), to.c_str()) == 0;
}

Result<void> flushFile(int fd, const std::filesystem::path& path) {
  if (::fsync(fd) != 0) return failure(path, "cannot flush to the disk", errno);
  return {};
}

Result<void> renameInto(const std::filesystem::path& from, const std::filesystem::path& to,
                        Existing existing) {
  const HeldFile replaced = existing == Existing::Replace ? HeldFile(to) : HeldFile();
  const bool renamed = existing == Existing::Replace ? ::rename(from.c_str(), to.c_str()) == 0
                                                     : renameWithoutReplacing(from, to);
  if (!renamed)
    return failure(to, existing == Existing::Replace ? "cannot replace" : "cannot create", errno);
  const std::filesystem::path to_folder = folderOf(to);
  const std::filesystem::path from_folder = folderOf(from);
  return settleRename(
      existing,
      [&]() -> Result<void> {
        if (auto flushed = flushFolder(to_folder); !flushed) return flushed;
        if (from_folder != to_folder) return flushFolder(from_folder);
        return {};
      },
      [&] { return flushEntry(to); });
}

Result<void> flushEntry(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return failure(path, "cannot open", errno);
  const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
  const int error = errno;
  ::close(fd);
  if (!ok) return failure(path, "cannot flush to the disk", error);
  return {};
}

}  // namespace durable
