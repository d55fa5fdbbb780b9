// A machine directory's contents for comparisons: every file with its mode
// and bytes and every folder, outside the backups folder. The registry file
// is taken in the store's own layout, which the program writes on every save.
#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace e2e {

using Snapshot = std::map<std::string, std::string>;

Snapshot snapshotMachine(const std::filesystem::path& dir);

// The first path where the two differ, or an empty text.
std::string firstDifference(const Snapshot& expected, const Snapshot& actual);

// Copies a machine directory with its modes into `to`, which must not exist.
void copyMachine(const std::filesystem::path& from, const std::filesystem::path& to);

// The newest backup whose manifest is complete, or an empty path.
std::filesystem::path newestCompleteBackup(const std::filesystem::path& machine_dir);

}  // namespace e2e
