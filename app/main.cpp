// uinq76: removes the Windows 95 driver software of the Kivra Q76 sound card
// from a machine directory.
#include "app/host_steps.h"
#include "shell/host/host.h"

int main(int argc, char** argv) {
  const host::UninstallSteps steps = UninstallStepsForHost();
  return host::runHost(argc, argv, &steps);
}
