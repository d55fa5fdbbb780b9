// The drawn text mode, for an interactive terminal: the dialog and the
// message boxes as framed windows drawn with ncurses, redrawn in place as they
// change, with the keys of a Windows dialog (Enter, Esc, Tab and the arrows,
// the underlined letters; Ctrl-C as Esc) and mouse clicks on buttons. This
// header names nothing of ncurses.
#pragma once

#include <memory>

#include "platform/toolkit/backend.h"

namespace toolkit {

// The backend on the terminal of standard input and output, or null when
// that is no terminal, TERM is unset or "dumb", or ncurses cannot drive it.
// The terminal is restored when the backend is destroyed.
std::unique_ptr<Backend> makeCursesBackend();

}  // namespace toolkit
