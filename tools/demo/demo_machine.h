// Writes a machine directory on which the Kivra Q76 driver software is fully
// installed, next to neighbours that an uninstall must leave alone.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace demo {

// The product title that the demo machine registers.
inline constexpr const char* kProductTitle = "Kivra Q76 Audio Drivers";

// The registry of the demo machine, as REGEDIT4 text.
std::string demoRegistry();

// Writes registry.reg and the drive folders into `dir`, which must not exist
// or be empty. Returns an error message on failure.
std::optional<std::string> writeDemoMachine(const std::filesystem::path& dir);

}  // namespace demo
