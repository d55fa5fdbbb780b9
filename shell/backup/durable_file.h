// Files that are on the disk when the call returns: written to a temporary
// beside them, flushed, renamed into place and the folder flushed, so that a
// crash leaves the old file or the new one, never a part of one.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/result/result.h"

namespace backup {

// Writes `bytes` as `path` with `mode`. Replaces an existing file only when
// `replace` is set; otherwise fails when anything stands at `path`. Errors
// name the path.
Result<void> writeFileDurably(const std::filesystem::path& path, std::string_view bytes,
                              mode_t mode, bool replace);

// Appends one line ("text\n") to `path` and flushes it to the disk.
Result<void> appendLineDurably(const std::filesystem::path& path, std::string_view text);

// Flushes a folder's entries to the disk.
Result<void> flushFolder(const std::filesystem::path& folder);

// Reads a whole regular file; a link or special file is refused.
Result<std::string> readWholeFile(const std::filesystem::path& path);

}  // namespace backup
