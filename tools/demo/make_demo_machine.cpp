// uinq76-demo-machine DIR: writes a machine directory with the Kivra Q76
// driver software fully installed.
// uinq76-demo-machine --win9x DIR: writes the same machine as the root of a
// Windows 95 drive C:, its registry in WINDOWS\SYSTEM.DAT.
#include <cstdio>
#include <cstring>

#include "tools/demo/demo_machine.h"

int main(int argc, char** argv) {
  const bool win9x = argc == 3 && std::strcmp(argv[1], "--win9x") == 0;
  if (!win9x && (argc != 2 || argv[1][0] == '-')) {
    std::fprintf(stderr, "usage: uinq76-demo-machine [--win9x] DIR\n");
    return 2;
  }
  const char* dir = argv[argc - 1];
  if (const auto error = win9x ? demo::writeWin9xDrive(dir) : demo::writeDemoMachine(dir)) {
    std::fprintf(stderr, "uinq76-demo-machine: %s\n", error->c_str());
    return 1;
  }
  std::printf("Wrote a %s with \"%s\" installed to %s\n",
              win9x ? "Windows 95 drive C:" : "demo machine", demo::kProductTitle, dir);
  return 0;
}
