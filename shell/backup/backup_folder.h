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

// A backup is written into a folder of its own under a temporary name,
// ".partial-uinq76-YYYYMMDD-HHMMSS", which the listing never shows; only when
// everything in it is on the disk does it get its name, so that a listed
// backup is always whole.

// Creates that new, empty folder for a run that begins at `when` (UTC).
Result<std::filesystem::path> createPartialBackupFolder(const std::filesystem::path& machine_dir,
                                                        std::time_t when);

// Gives the written folder its name, uinq76-YYYYMMDD-HHMMSS (with -02, -03,
// ... when that is taken), in one rename, and flushes the backups folder.
// Returns the folder under its name.
Result<std::filesystem::path> publishBackupFolder(const std::filesystem::path& partial,
                                                  const std::filesystem::path& machine_dir,
                                                  std::time_t when);

// Removes the folders a run left under their temporary name when it was
// stopped while writing its backup (before it removed anything). Returns the
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
