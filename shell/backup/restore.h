// Puts a machine back as it was before the run of a backup: the removed keys
// and values in their old places, the deleted files byte for byte, and the
// startup file as it was. Works on a machine whose run was finished as well
// as on one whose run was cut off, and can itself be run again after being
// cut off.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/registry_store.h"
#include "platform/result/result.h"

namespace backup {

struct RestoreOutcome {
  // Each place where the machine changed since the run in a way the restore
  // would overwrite; when there is one, nothing was changed.
  std::vector<std::string> conflicts;
  // What was put back, one line each.
  std::vector<std::string> restored;
  // The backup was restored before; nothing was done this time.
  bool alreadyRestored = false;
};

// Restores from `backup_dir` into the open machine: the drives bound by
// setMachineDirectory and `store`, which is written when it changed. An error
// (unreadable backup, a failed write) is returned as the error message.
Result<RestoreOutcome> restoreBackup(const std::filesystem::path& backup_dir, RegistryStore& store);

// The registry of a Windows 95 drive: SYSTEM.DAT, which the run changed by
// deletion only, and which a restore puts back whole from the backup's copy.
struct WholeRegistryFile {
  std::string windowsPath;  // as the machine names it, C:\WINDOWS\SYSTEM.DAT say
  std::string sha256;       // of the file on the disk now
  // Replaces the file with the copy, atomically, keeping its mode, owner and
  // attributes.
  std::function<Result<void>(std::string_view bytes)> replace;
};

// Restores from `backup_dir` onto a Windows 95 drive: the files as above, and
// SYSTEM.DAT byte for byte as it was before the run. The file now on the
// disk must be one the run wrote (its digest recorded in the backup), or the
// copy itself (a restore that was cut off); any other file was changed since,
// and nothing is restored.
Result<RestoreOutcome> restoreBackup(const std::filesystem::path& backup_dir,
                                     const WholeRegistryFile& registry);

}  // namespace backup
