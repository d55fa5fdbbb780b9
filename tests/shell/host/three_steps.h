// Three small uninstall steps for the tests of the run's record and the
// restore: steps 1 and 2 remove a key each, step 3 deletes a file.
#pragma once

#include <string>

#include "platform/win32/windows.h"
#include "shell/host/uninstall_steps.h"

namespace test_steps {

constexpr UINT_PTR kTimer = 7;

inline void runStep(int step) {
  if (step == 1) RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vesk\\KivraQ76\\Mixer");
  if (step == 2) RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vesk\\KivraQ50");
  if (step == 3) DeleteFileA("C:\\AUTOEXEC.BAT");
}

inline host::UninstallSteps threeSteps() {
  host::UninstallSteps steps;
  steps.stepTimer = kTimer;
  steps.stepNames = {"Product key", "Vendor key", "Startup file"};
  steps.caption = "Test";
  steps.startupFile = "C:\\CONFIG.SYS";
  steps.runStepWithoutWindow = runStep;
  steps.productTitle = [] { return std::string("Kivra Q76 Audio Drivers"); };
  steps.productKeyName = [] { return std::string("KivraQ76"); };
  steps.titleCapacity = 80;
  steps.keyNameCapacity = 20;
  return steps;
}

}  // namespace test_steps
