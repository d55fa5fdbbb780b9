// uinq76-demo-machine DIR: writes a machine directory with the Kivra Q76
// driver software fully installed.
#include <cstdio>

#include "tools/demo/demo_machine.h"

int main(int argc, char** argv) {
  if (argc != 2 || argv[1][0] == '-') {
    std::fprintf(stderr, "usage: uinq76-demo-machine DIR\n");
    return 2;
  }
  if (const auto error = demo::writeDemoMachine(argv[1])) {
    std::fprintf(stderr, "uinq76-demo-machine: %s\n", error->c_str());
    return 1;
  }
  std::printf("Wrote a demo machine with \"%s\" installed to %s\n", demo::kProductTitle, argv[1]);
  return 0;
}
