// Puts a machine back as it was before the run of a backup: the removed keys
// and values in their old places, the deleted files byte for byte, and the
// startup file as it was. Works on a machine whose run was finished as well
// as on one whose run was cut off, and can itself be run again after being
// cut off.
#pragma once

#include <filesystem>
#include <string>
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
// SetMachineDirectory and `store`, which is written when it changed. An error
// (unreadable backup, a failed write) is returned as the error message.
Result<RestoreOutcome> restoreBackup(const std::filesystem::path& backup_dir, RegistryStore& store);

}  // namespace backup
