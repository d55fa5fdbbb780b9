#include "shell/host/reporter.h"

#include <cstdio>

#include "platform/toolkit/backend.h"
#include "platform/toolkit/text/dialog_text.h"

namespace host {

void report(const std::string& message) {
  auto print = [&] {
    const std::string shown =
        toolkit::text::printableText(message, toolkit::text::LineBreaks::Keep);
    std::fprintf(stderr, "uinq76: %s\n", shown.c_str());
    std::fflush(stderr);
  };
  // A screen drawn on the terminal is handed back first, or the message
  // would land in the middle of it.
  if (toolkit::Backend* backend = toolkit::currentBackend())
    backend->runOnNormalTerminal(print);
  else
    print();
}

}  // namespace host
