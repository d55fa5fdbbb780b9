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

// A backup is written into a folder of its own under its name,
// uinq76-YYYYMMDD-HHMMSS (with -02, -03, ... when that is taken), the
// manifest last: the folder is a backup once its manifest is on the disk.
// Until then it is unfinished, and the listing never shows it. The folder is
// never renamed: on FAT a renamed folder's new entry reaches the disk apart
// from the removal of its old one, and a power cut between the two leaves
// either a folder without data or two entries sharing it, which the next
// disk check truncates.

// Creates that new, empty folder for a run that begins at `when` (UTC) and
// flushes the backups folder.
Result<std::filesystem::path> createPartialBackupFolder(const std::filesystem::path& machine_dir,
                                                        std::time_t when);

// Flushes the written folder once more. Returns it.
Result<std::filesystem::path> publishBackupFolder(const std::filesystem::path& partial);

// Removes the folders of backups a run left unfinished when it was stopped
// while writing its backup (before it removed anything), and those that
// earlier versions left under a temporary name (".partial-"). Returns the
// name of each, and an error for one that could not be removed.
struct RemovedPartials {
  std::vector<std::string> names;
  std::vector<std::string> errors;
};
RemovedPartials removePartialBackups(const std::filesystem::path& machine_dir);

std::filesystem::path manifestPath(const std::filesystem::path& backup_dir);
Result<Manifest> readManifest(const std::filesystem::path& backup_dir);

// A backup named on the command line: a folder path, or the name of a folder
// in MACHINE/backups.
std::filesystem::path findBackupFolder(const std::filesystem::path& machine_dir,
                                       const std::string& name);

// One line for the listing: name, date, title and state.
std::string describeBackup(const std::filesystem::path& backup_dir);

}  // namespace backup
