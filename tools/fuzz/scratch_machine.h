// A machine directory for the fuzz targets that work on files: made once per
// process in /dev/shm where there is one (the targets write a file for each
// input), bound as the machine, and removed when the process ends.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/fs/drives.h"

namespace fuzz {

inline const std::filesystem::path& scratchMachine() {
  static const std::filesystem::path dir = [] {
    std::error_code ec;
    std::string base = std::filesystem::is_directory("/dev/shm", ec) ? "/dev/shm" : "/tmp";
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && tmp[0] == '/') base = tmp;
    std::string name = base + "/uinq76-fuzz-XXXXXX";
    if (::mkdtemp(name.data()) == nullptr) std::abort();
    const std::filesystem::path made = name;
    std::filesystem::create_directory(made / "drive_c");
    setMachineDirectory(made);
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(scratchMachine(), ignored);
    });
    return made;
  }();
  return dir;
}

}  // namespace fuzz
