// The program's entry on this platform: reads the options, opens the machine,
// installs the user-interface backend and the shutdown handler, and runs the
// application object.
#pragma once

#include "shell/host/uninstall_steps.h"

namespace host {

// Exit status: 0 for every outcome of the program (declined, not installed,
// uninstalled, cancelled); 2 for bad options or a machine that cannot be
// opened (nothing changed then); 1 when the registry or a file of the
// machine could not be written (each failure is named on standard error).
// With `steps`, a run is backed up before it removes anything, and a run that
// was cut off is offered to be finished.
int runHost(int argc, char** argv, const UninstallSteps* steps = nullptr);

}  // namespace host
