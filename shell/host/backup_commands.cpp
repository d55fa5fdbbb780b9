#include "shell/host/backup_commands.h"

#include <cstdio>
#include <system_error>

#include "platform/systemdat/system_dat_file.h"
#include "shell/backup/backup_folder.h"
#include "shell/backup/restore.h"
#include "shell/host/machine.h"
#include "shell/host/reporter.h"

namespace host {

int listBackups(const std::filesystem::path& machine_dir) {
  const auto folders = backup::listBackupFolders(machine_dir);
  if (folders.empty()) {
    std::printf("No backups in %s\n", backup::backupsFolder(machine_dir).c_str());
    return 0;
  }
  for (const auto& folder : folders) std::printf("%s\n", backup::describeBackup(folder).c_str());
  return 0;
}

int restoreBackup(Machine& machine, const std::string& name) {
  const auto folder = backup::findBackupFolder(machine.directory(), name);
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) {
    report("no backup " + folder.string() + "; see uinq76 --list-backups");
    return 2;
  }
  // SYSTEM.DAT is changed by deletion only, so keys cannot be put back into
  // it: it goes back whole, from the backup's copy.
  creg::SystemDatFile* systemDat = machine.systemDat();
  const auto replace = [systemDat](std::string_view copy) {
    return systemDat->replaceWith(std::vector<std::uint8_t>(copy.begin(), copy.end()));
  };
  auto outcome = systemDat != nullptr
                     ? backup::restoreBackup(
                           folder, backup::WholeRegistryFile{machine.systemDatWindowsPath(),
                                                             machine.systemDatDigest(), replace})
                     : backup::restoreBackup(folder, machine.store());
  if (!outcome) {
    report("the restore failed: " + outcome.error());
    return 1;
  }
  if (!outcome.value().conflicts.empty()) {
    std::string message = "nothing was restored from " + folder.string() +
                          ": the machine changed since, and the restore would overwrite:";
    for (const auto& conflict : outcome.value().conflicts) message += "\n  " + conflict;
    report(message);
    return 1;
  }
  if (outcome.value().alreadyRestored) {
    std::printf("%s was restored already; nothing was changed\n", folder.c_str());
    return 0;
  }
  std::printf("Restored from %s:\n", folder.c_str());
  for (const auto& line : outcome.value().restored) std::printf("  %s\n", line.c_str());
  if (outcome.value().restored.empty()) std::printf("  nothing had been removed\n");
  return 0;
}

}  // namespace host
