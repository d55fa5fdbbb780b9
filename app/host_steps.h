// What the Linux host is told about the uninstall, so that it can back a run
// up before it removes anything and finish a run that was cut off.
#pragma once

#include "shell/host/uninstall_steps.h"

host::UninstallSteps UninstallStepsForHost();
