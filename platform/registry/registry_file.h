// The file side of the store: the exclusive lock that is held for as long as
// the store is open, reading, and the atomic replace by which it saves.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/result/result.h"

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

// Reads a locked file a block at a time, from its start on, so that a
// registry of some megabytes is never held whole in memory while it is parsed.
class FileReader final {
 public:
  // Reads `file`, which must outlive the reader.
  static Result<FileReader> start(const LockedFile& file, const std::filesystem::path& path);

  // The file's size when reading started; a file that grows meanwhile is
  // still read to its end.
  std::size_t expectedSize() const { return m_expected; }
  // Reads up to `room` bytes into `into`: how many, or 0 at the end.
  Result<std::size_t> read(char* into, std::size_t room);

 private:
  FileReader(int fd, std::filesystem::path path, std::size_t expected)
      : m_fd(fd), m_path(std::move(path)), m_expected(expected) {}
  int m_fd;
  std::filesystem::path m_path;
  std::size_t m_expected;
  std::uint64_t m_offset = 0;
};

// Replaces the locked file `path` by a file holding what `content` produces,
// as a durable file (platform/durable): writes a temporary beside it (named
// by durable's one rule) with the old file's mode, owner and group, flushes
// it to disk, locks it, renames it over `path` and flushes the directory. A
// failure before the rename leaves `path` as it was and no temporary. On
// success the returned file is the new one, already locked, and the caller
// drops the old lock only then, so that no other program can slip in
// between. A failed directory flush fails the save too, but the file has
// been replaced all the same: `file` is the new one and `directoryFlush`
// says what went wrong.
//
// `content` hands each piece in order to the sink it is given and returns
// false when the sink did (a write failed), so that a large file is never
// held whole in memory.
struct ReplacedFile {
  LockedFile file;
  Result<void> directoryFlush;
};
using PieceSink = std::function<bool(std::string_view piece)>;
using FileContent = std::function<bool(const PieceSink& emit)>;
// `beforeRename`, when given, is called with the written and flushed
// temporary just before it takes the file's place: what it sets there (DOS
// attributes, say) is then the file's from the moment it is in place.
using BeforeRename = std::function<void(int fd)>;
Result<ReplacedFile> replaceLockedFile(const std::filesystem::path& path,
                                       const FileContent& content, const LockedFile& current,
                                       const BeforeRename& beforeRename = {});
