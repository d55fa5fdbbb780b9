// The command line of the program on this platform. The options only set up
// the platform stand-ins (which machine directory, which window system, what a
// shutdown request does); the program logic itself takes no arguments.
#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/result/result.h"

namespace host {

// Text: drawn on a terminal, else lines; Lines: always the line form.
enum class UiChoice { Automatic, Gui, Text, Lines };

struct HostOptions {
  std::filesystem::path machineDir;
  bool machineGiven = false;
  // --drive D:=PATH: the folders of drives other than C: for a Windows 95
  // drive C: given as the machine.
  std::vector<std::pair<char, std::filesystem::path>> drives;
  UiChoice ui = UiChoice::Automatic;
  std::optional<std::string> onShutdown;
  std::optional<std::string> restore;  // a backup to put back
  bool listBackups = false;
  bool showHelp = false;
  bool showVersion = false;
};

// Reads the arguments after the program name.
Result<HostOptions> parseHostOptions(std::span<const char* const> args);

// $XDG_DATA_HOME/uinq76/machine, or ~/.local/share/uinq76/machine; empty when
// neither XDG_DATA_HOME nor HOME is set to an absolute path.
std::filesystem::path defaultMachineDirectory();

std::string usageText();
std::string versionText();

}  // namespace host
