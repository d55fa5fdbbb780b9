// How the text mode shows a dialog: its heading (the caption and the static
// texts) and its state (the progress as a percentage, then one line per check
// box: "[x]" when checked, "[ ]" when not, "(disabled)" after a disabled one).
#pragma once

#include <string>
#include <string_view>

#include "platform/toolkit/window.h"

namespace toolkit::text {

struct DialogText {
  std::string heading;
  std::string state;
  bool operator==(const DialogText&) const = default;
};

DialogText describeDialog(const Window& dialog);

// A text as the terminal is given it: every control character but a tab (and
// a line feed, where `line_breaks` keeps them) is written as \xNN, so that a
// title holding escape codes is shown rather than obeyed by the terminal.
enum class LineBreaks { Escape, Keep };
std::string printableText(std::string_view text, LineBreaks line_breaks = LineBreaks::Escape);

// The position of a progress bar as a whole percentage of its range.
int progressPercent(const Window& progress_bar);

}  // namespace toolkit::text
