#include "shell/host/host_options.h"

#include <cstdlib>
#include <string_view>

#include "platform/text/ascii.h"

namespace host {

Result<HostOptions> parseHostOptions(std::span<const char* const> args) {
  HostOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    // Options that take a value accept it as the next argument or after "=".
    auto value = [&](std::string_view name) -> std::optional<std::string> {
      if (arg.size() > name.size() && arg.substr(0, name.size()) == name && arg[name.size()] == '=')
        return std::string(arg.substr(name.size() + 1));
      if (arg == name && i + 1 < args.size()) return std::string(args[++i]);
      return std::nullopt;
    };
    auto is = [&](std::string_view name) {
      return arg == name || (arg.size() > name.size() && arg.substr(0, name.size()) == name &&
                             arg[name.size()] == '=');
    };

    if (arg == "--help" || arg == "-h") {
      options.showHelp = true;
    } else if (arg == "--version") {
      options.showVersion = true;
    } else if (is("--machine")) {
      const auto dir = value("--machine");
      if (!dir || dir->empty()) return Error{"--machine needs a directory"};
      options.machineDir = *dir;
      options.machineGiven = true;
    } else if (is("--drive")) {
      const auto drive = value("--drive");
      if (!drive || drive->size() < 4 || !ascii::isLetter((*drive)[0]) || (*drive)[1] != ':' ||
          (*drive)[2] != '=')
        return Error{"--drive needs a drive letter and a folder, as in --drive D:=/mnt/d"};
      const char letter = ascii::toUpper((*drive)[0]);
      if (letter == 'C') return Error{"--drive C: is the machine itself; name it with --machine"};
      for (const auto& given : options.drives)
        if (given.first == letter)
          return Error{"--drive " + std::string(1, letter) + ": is given twice"};
      options.drives.emplace_back(letter, drive->substr(3));
    } else if (is("--ui")) {
      const auto ui = value("--ui");
      if (!ui) return Error{"--ui needs 'gui', 'text' or 'lines'"};
      if (*ui == "gui") {
        options.ui = UiChoice::Gui;
      } else if (*ui == "text") {
        options.ui = UiChoice::Text;
      } else if (*ui == "lines") {
        options.ui = UiChoice::Lines;
      } else {
        return Error{"--ui takes 'gui', 'text' or 'lines', not '" + *ui + "'"};
      }
    } else if (is("--on-shutdown")) {
      const auto command = value("--on-shutdown");
      if (!command) return Error{"--on-shutdown needs a command"};
      options.onShutdown = *command;
    } else if (is("--restore")) {
      const auto name = value("--restore");
      if (!name || name->empty()) return Error{"--restore needs a backup"};
      options.restore = *name;
    } else if (arg == "--list-backups") {
      options.listBackups = true;
    } else {
      return Error{"unknown argument '" + std::string(arg) + "'"};
    }
  }
  if (!options.machineGiven && !options.showHelp && !options.showVersion) {
    options.machineDir = defaultMachineDirectory();
    // A default relative to wherever the program was started could name any
    // folder; without a home there is no default.
    if (options.machineDir.empty())
      return Error{
          "HOME is not set (nor XDG_DATA_HOME) to an absolute folder, so there is no "
          "default machine; name one with --machine DIR"};
  }
  return options;
}

std::filesystem::path defaultMachineDirectory() {
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] == '/')
    return std::filesystem::path(data) / "uinq76" / "machine";
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') return {};
  return std::filesystem::path(home) / ".local" / "share" / "uinq76" / "machine";
}

std::string usageText() {
  return "Usage: uinq76 [--machine DIR] [--drive D:=PATH]... [--ui gui|text|lines]\n"
         "              [--on-shutdown COMMAND]\n"
         "       uinq76 [--machine DIR] --list-backups | --restore BACKUP\n"
         "Removes the Windows 95 driver software of the Kivra Q76 sound card.\n"
         "\n"
         "  --machine DIR          the machine: DIR/registry.reg (the registry as REGEDIT4\n"
         "                         text) and the drive folders DIR/drive_c, DIR/drive_d, ...\n"
         "                         A drive folder may be a link, to a mounted Windows 95\n"
         "                         partition for example: the drive is then the folder\n"
         "                         it leads to, and nothing outside that folder is reached.\n"
         "                         Or DIR is the root of a Windows 95 drive C: (a mounted\n"
         "                         partition, or a copy of one): MSDOS.SYS and the Windows\n"
         "                         directory whose SYSTEM.DAT is the registry; the program\n"
         "                         checks that file strictly and changes it by deletion only.\n"
         "                         (default: " +
         (defaultMachineDirectory().empty() ? std::string("none, as HOME is not set")
                                            : defaultMachineDirectory().string()) +
         ")\n"
         "  --drive D:=PATH        with a drive C: as the machine, the folder of drive D:\n"
         "                         (or any other letter), where MSDOS.SYS puts the Windows\n"
         "                         directory or INF files there; may be given again\n"
         "  --ui gui|text|lines    a window, or text on the terminal: drawn in place on\n"
         "                         an interactive terminal, else line by line; 'lines'\n"
         "                         always line by line (default: a window when DISPLAY\n"
         "                         or WAYLAND_DISPLAY is set, else text)\n"
         "  --on-shutdown COMMAND  run COMMAND through /bin/sh when the program asks\n"
         "                         the machine to shut down; the host itself never is\n"
         "  --list-backups         list the backups in DIR/backups, newest last\n"
         "  --restore BACKUP       put back what the run of BACKUP (a name from\n"
         "                         --list-backups, or a folder) removed (on a Windows 95\n"
         "                         drive, SYSTEM.DAT whole, as it was); refused, naming\n"
         "                         each place, where the machine changed since\n"
         "  --help                 show this text\n"
         "  --version              show the version\n"
         "\n"
         "Before it removes anything, a run writes a backup of every key, value and\n"
         "file it will remove, and of C:\\AUTOEXEC.BAT, to DIR/backups/uinq76-DATE-TIME,\n"
         "and records there how far it got. When a run was cut off, the next start\n"
         "offers to finish it.\n";
}

std::string versionText() { return "uinq76 1.0.0\n"; }

}  // namespace host
