// How the text mode shows a dialog: its heading (the caption and the static
// texts) and its state (the progress as a percentage, then one line per check
// box: "[x]" when checked, "[ ]" when not, "(disabled)" after a disabled one).
#pragma once

#include <string>

#include "platform/toolkit/window.h"

namespace toolkit::text {

struct DialogText {
  std::string heading;
  std::string state;
  bool operator==(const DialogText&) const = default;
};

DialogText describeDialog(const Window& dialog);

// The position of a progress bar as a whole percentage of its range.
int progressPercent(const Window& progress_bar);

}  // namespace toolkit::text
