// The backups of a machine: one folder per run in MACHINE/backups, named
// uinq76-YYYYMMDD-HHMMSS after the moment the run began (with -02, -03, ...
// when two runs begin in the same second), so that names sort by age.
#pragma once

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/result/result.h"
#include "shell/backup/manifest.h"

namespace backup {

std::filesystem::path backupsFolder(const std::filesystem::path& machine_dir);

// The backup folders of a machine, oldest first.
std::vector<std::filesystem::path> listBackupFolders(const std::filesystem::path& machine_dir);

// Creates a new, empty backup folder named after `when` (UTC).
Result<std::filesystem::path> createBackupFolder(const std::filesystem::path& machine_dir,
                                                 std::time_t when);

std::filesystem::path manifestPath(const std::filesystem::path& backup_dir);
Result<Manifest> readManifest(const std::filesystem::path& backup_dir);

// A backup named on the command line: a folder path, or the name of a folder
// in MACHINE/backups.
std::filesystem::path findBackupFolder(const std::filesystem::path& machine_dir,
                                       const std::string& name);

// One line for the listing: name, date, title and state.
std::string describeBackup(const std::filesystem::path& backup_dir);

}  // namespace backup
