// What the host needs to know of the program's uninstall to back it up first
// and to finish it when it was cut off. The program's entry fills it in; the
// host never reaches into the program otherwise.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/win32/windows.h"

namespace host {

struct UninstallSteps {
  // The window timer whose ticks run the steps, one step per tick.
  UINT_PTR stepTimer = 0;
  // A short name for each step, in order, as the user knows it.
  std::vector<std::string> stepNames;
  // The caption of the program's message boxes.
  std::string caption;
  // The Windows path of the startup file that the run edits.
  std::string startupFile;
  // Runs step `step` (1, 2, ...) with no window to report to; the host runs
  // them on a copy of the registry with the file functions in a dry run.
  std::function<void(int step)> runStepWithoutWindow;
  // The product's title and key name once start-up has found the product,
  // and the room the program has for each, terminating zero included.
  std::function<std::string()> productTitle;
  std::function<std::string()> productKeyName;
  std::size_t titleCapacity = 0;
  std::size_t keyNameCapacity = 0;
  // Shows the progress dialog for `title` and runs its steps from
  // `first_step` on, as the run that was cut off would have.
  std::function<void(const std::string& title, const std::string& key_name, int first_step)>
      finishRun;
  // Shows in the dialog of a finishing run, once it is initialised, the
  // progress of the `steps_done` steps that the earlier run did.
  std::function<void(HWND dialog, int steps_done)> showStepsDone;

  int count() const { return static_cast<int>(stepNames.size()); }
};

}  // namespace host
