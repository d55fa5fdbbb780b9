// The file side of the store: the exclusive lock that is held for as long as
// the store is open, reading, and the atomic replace by which it saves.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/result/result.h"

// Points in a save at which tests make it fail, to check that the old file
// survives. FailWrite: a write that runs out of space halfway. StopBeforeRename:
// the save gives up with the temporary file complete, as if the rename failed.
// CrashBeforeRename: the process ends there at once (_exit), as a power cut would.
enum class SaveFault { None, FailWrite, StopBeforeRename, CrashBeforeRename };

// An open file descriptor that holds an exclusive flock(2); closing it (or
// ending the process) releases the lock.
class LockedFile final {
 public:
  LockedFile() = default;
  explicit LockedFile(int fd) : m_fd(fd) {}
  LockedFile(LockedFile&& other) noexcept : m_fd(other.release()) {}
  LockedFile& operator=(LockedFile&& other) noexcept;
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;
  ~LockedFile();

  bool isOpen() const { return m_fd >= 0; }
  int fd() const { return m_fd; }
  int release();
  void close();

 private:
  int m_fd = -1;
};

// Opens `path` and takes the lock without waiting. Fails, having read nothing,
// when the file is missing, is no regular file, or another program holds it.
Result<LockedFile> openLocked(const std::filesystem::path& path);

// The bytes of a whole file, in a block that is not cleared before the file is
// read into it: a registry file is some megabytes, and clearing them first
// would be work thrown away.
class FileBytes final {
 public:
  FileBytes() = default;
  std::string_view view() const { return std::string_view(m_data.get(), m_size); }

 private:
  friend Result<FileBytes> readWhole(const LockedFile& file, const std::filesystem::path& path);
  std::unique_ptr<char[]> m_data;
  std::size_t m_size = 0;
};

Result<FileBytes> readWhole(const LockedFile& file, const std::filesystem::path& path);

// Replaces `path` by a file holding `bytes`: writes "<path>.tmp" in the same
// directory, flushes it to disk, locks it, renames it over `path` and flushes
// the directory. A failure at any point leaves `path` as it was. On success the
// returned file is the new one, already locked, and the caller drops the old
// lock only then, so that no other program can slip in between. When only the
// directory flush fails, the file has been replaced all the same: `file` is the
// new one and `directoryFlush` says what went wrong.
struct ReplacedFile {
  LockedFile file;
  Result<void> directoryFlush;
};
Result<ReplacedFile> replaceFile(const std::filesystem::path& path, std::string_view bytes,
                                 const LockedFile& current, SaveFault fault);

// The same, for content that is produced piece by piece: `content` hands each
// piece in order to the sink it is given and returns false when the sink did
// (a write failed), so that a large file is never held whole in memory.
using PieceSink = std::function<bool(std::string_view piece)>;
using FileContent = std::function<bool(const PieceSink& emit)>;
Result<ReplacedFile> replaceFile(const std::filesystem::path& path, const FileContent& content,
                                 const LockedFile& current, SaveFault fault);
