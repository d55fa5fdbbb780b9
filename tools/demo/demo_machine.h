// Writes a machine directory on which the Kivra Q76 driver software is fully
// installed, next to neighbours that an uninstall must leave alone.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry/registry_tree.h"

namespace demo {

// The product title that the demo machine registers.
inline constexpr const char* kProductTitle = "Kivra Q76 Audio Drivers";

// The registry of the demo machine, as REGEDIT4 text.
std::string demoRegistry();

// Writes registry.reg and the drive folders into `dir`, which must not exist
// or be empty. Returns an error message on failure.
std::optional<std::string> writeDemoMachine(const std::filesystem::path& dir);

// Writes the same machine as the root of a Windows 95 drive C: into `dir`:
// its files, and its registry as WINDOWS\SYSTEM.DAT (the current
// configuration as hardware profile 0001), with Windows' own copies
// (SYSTEM.DA0, SYSTEM.1ST) and a small USER.DAT beside it.
std::optional<std::string> writeWin9xDrive(const std::filesystem::path& dir);

// Lays HKEY_CURRENT_CONFIG over each hardware profile HKLM\Config\NNNN named
// in `profiles` (made where missing): a profile gains the keys and values it
// lacks, as the profile that a running Windows 95 shows as its current
// configuration holds them in SYSTEM.DAT.
void layCurrentConfigOverProfiles(RegistryTree& tree, const std::vector<std::string>& profiles);

}  // namespace demo
