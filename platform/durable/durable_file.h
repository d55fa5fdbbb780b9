// Files that are on the disk when the call returns. A new file is written to a
// temporary beside its place, flushed, renamed into place and its folder
// flushed, so that a crash leaves the old file or the new one, never a part of
// one. One policy for every file the program writes this way:
//
// - A write, a file flush or a folder flush that fails is a failed write: the
//   call says so, naming the path, and is never passed over as success.
// - The new file takes the owner and group of the file it replaces (or, where
//   none stands, of its folder) as far as the process may set them: root may
//   give a file away, others may set a group they are a member of, and
//   otherwise the file stays the process's own. Its mode is the one asked
//   for, whatever the umask, set after the owner (which clears the set-user-ID
//   bits).
// - A failure before the rename leaves the old file as it was and removes the
//   temporary.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/result/result.h"

namespace durable {

// What a new file does to a file that stands at its path.
enum class Existing {
  Replace,  // takes its place in one atomic step
  Keep,     // leaves it and fails (whatever appears there meanwhile too)
};

// The file's place, the mode it gets and what it does to a file there.
struct Target {
  std::filesystem::path path;
  mode_t mode = 0644;
  Existing existing = Existing::Replace;
};

// A new file being written beside its place; commit() puts it there. A file
// that is dropped without a commit removes its temporary.
class PendingFile final {
 public:
  // Creates the temporary ".NAME.uinq76-tmp" beside `target.path`, or at
  // `temp` when one is given (in the same folder), removing a stale one
  // first. Owner, group and mode are set at once, so that no other user can
  // read the content meanwhile.
  static Result<PendingFile> create(const Target& target, std::filesystem::path temp = {});

  PendingFile(PendingFile&& other) noexcept;
  PendingFile& operator=(PendingFile&& other) = delete;
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  ~PendingFile();

  // The open temporary, and after the commit the file in its place: a caller
  // may lock it, or write to it on its own (then it must report its failure).
  int fd() const { return m_fd; }

  // Writes all of `bytes`, going on after short writes and interruptions.
  Result<void> write(std::string_view bytes);
  // Flushes the content to the disk; commit() does it when it was not done.
  Result<void> flush();
  // Puts the file in its place and flushes the folder and the file under its
  // new name. A file it replaces is held open until the new one is on the
  // disk. When only a flush after the rename fails, the file is in place all
  // the same: inPlace() says so.
  Result<void> commit();
  bool inPlace() const { return m_inPlace; }

  // The open file, for the caller to keep (a lock held on it, say); the
  // pending file forgets it and no longer removes the temporary.
  int release();

 private:
  PendingFile(Target target, std::filesystem::path temp, int fd)
      : m_target(std::move(target)), m_temp(std::move(temp)), m_fd(fd) {}
  Error fail(std::string_view what, int error);

  Target m_target;
  std::filesystem::path m_temp;
  int m_fd = -1;
  bool m_flushed = false;
  bool m_inPlace = false;
};

// Writes `bytes` as `target.path` through a pending file.
Result<void> writeFile(const Target& target, std::string_view bytes);

// Appends one line ("text\n") to the existing file `path` and flushes it.
Result<void> appendLine(const std::filesystem::path& path, std::string_view text);

// Flushes a folder's entries (a rename, a new or removed name) to the disk.
Result<void> flushFolder(const std::filesystem::path& folder);

// Gives the open file `fd` (known as `path` in messages) the owner and group
// of `like` where the process may set them, and then `mode`, and flushes it.
// For a file written by other means that is about to replace `like`.
Result<void> takeOverOwnership(int fd, const std::filesystem::path& path, const struct stat& like,
                               mode_t mode);

// Renames `from` to `to` without ever replacing what stands there, also on a
// file system that lacks the flag for it; false with errno set (EEXIST when
// something stands there). Flushes nothing.
bool renameWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to);

// Writes all of `bytes` to the open file `fd`, going on after short writes
// and interruptions; false with errno set when a write fails.
bool writeAll(int fd, std::string_view bytes);

// Flushes the open file `fd` (known as `path` in messages) to the disk.
Result<void> flushFile(int fd, const std::filesystem::path& path);

// Renames `from` to `to`, replacing what stands there or, with
// Existing::Keep, failing with EEXIST in the message, and flushes the folder
// of both and the renamed file or folder, in the order that keeps the old
// state or the new one on the disk (see commit()). `to`'s folder must be on
// the same file system.
Result<void> renameInto(const std::filesystem::path& from, const std::filesystem::path& to,
                        Existing existing);

// Flushes the file or folder at `path` (on FAT, its directory entry with it).
Result<void> flushEntry(const std::filesystem::path& path);

}  // namespace durable
