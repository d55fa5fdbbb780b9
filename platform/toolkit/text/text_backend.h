// The text-mode backend, for terminals and scripts. A message box prints its
// caption and text and reads the answer from a line; a dialog prints its
// heading when it opens and its state whenever a message changed it; Ctrl-C
// while a dialog runs sends it the cancel command.
#pragma once

#include <iosfwd>
#include <memory>

#include "platform/toolkit/backend.h"
#include "platform/toolkit/text/console.h"

namespace toolkit {

struct TextOptions {
  std::ostream* out = nullptr;             // null: standard output
  std::unique_ptr<text::Console> console;  // null: the terminal on standard input
};

std::unique_ptr<Backend> makeTextBackend(TextOptions options = {});

}  // namespace toolkit
