// A progress that records what a step asks of it, in order, for the step
// tests: "step" for each advance of the bar, "check N" for each check mark.
// `onRequest` runs at every request, so that a test can look at the machine
// as it was when the step reported.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "progress/uninstall_progress.h"

class RecordedProgress final : public UninstallProgress {
 public:
  void StepProgress() override { record("step"); }
  void CheckItem(int item_id) override {
    std::string request = "check ";
    request += std::to_string(item_id);
    record(std::move(request));
  }

  std::vector<std::string> requests;
  std::function<void()> onRequest;

 private:
  void record(std::string request) {
    requests.push_back(std::move(request));
    if (onRequest) onRequest();
  }
};
