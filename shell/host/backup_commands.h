// The commands that work on a machine's backups instead of running the
// program: --list-backups and --restore.
#pragma once

#include <filesystem>
#include <string>

namespace host {

class Machine;

// Prints one line per backup, oldest first. Returns the exit status.
int listBackups(const std::filesystem::path& machine_dir);

// Puts back what the run of backup `name` removed, or names on standard
// error each place where that would overwrite a later change and changes
// nothing. Returns the exit status: 0 restored, 1 refused or failed, 2 no
// such backup.
int restoreBackup(Machine& machine, const std::string& name);

}  // namespace host
