// Reading a file of the machine or of a backup whole, to copy it or to take
// its digest.
#pragma once

#include <filesystem>
#include <string>

#include "platform/result/result.h"

namespace backup {

// Reads a whole regular file; a link or special file is refused. Errors name
// the path.
Result<std::string> readWholeFile(const std::filesystem::path& path);

}  // namespace backup
