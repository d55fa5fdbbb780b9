// Writes the backup of a run before the run removes anything.
#pragma once

#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/result/result.h"
#include "shell/backup/registry_changes.h"

namespace backup {

// A file the run will delete or change, as the file functions named it.
struct PlannedFile {
  std::string windowsPath;
  std::filesystem::path host;
};

// What a dry run of the whole uninstall found it would do.
struct PlannedRun {
  std::string title;
  std::string keyName;
  int steps = 0;
  std::string registryBefore;                // the registry's fingerprint (of its tree)
  std::map<int, std::string> registryAfter;  // its fingerprint after each step
  std::map<int, RegistryRemovals> removals;  // per step
  std::map<int, RegistryTree> removedTrees;  // per step, see removalsAsTree
  std::map<int, std::vector<PlannedFile>> deletions;
  PlannedFile startupFile;  // host empty when the file does not exist
  // On a Windows 95 drive, SYSTEM.DAT, copied whole; host empty elsewhere.
  PlannedFile registryFile;
};

// Writes MACHINE/backups/uinq76-<when>/ with the removed keys and values of
// each step (registry-<step>.reg), a copy of every file to be deleted and of
// the startup file, and manifest.txt, each flushed to the disk, the manifest
// last. All of it is written under the folder's temporary name, which it
// leaves for its own only when complete (see backup_folder.h). Returns the
// folder, or an error naming what could not be written; nothing of the backup
// is left then.
Result<std::filesystem::path> writeBackup(const std::filesystem::path& machine_dir,
                                          const PlannedRun& run, std::time_t when);

}  // namespace backup
