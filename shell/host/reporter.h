// The one way the Linux program tells the user something outside its windows:
// a line "uinq76: MESSAGE" on standard error, with the control characters of
// the message shown escaped (it may quote the machine's own text, a registry
// line or a file name). While a screen is drawn on the terminal, the line is
// written on the terminal's normal screen, so that it stays there after the
// program ends instead of vanishing with the drawn dialog.
#pragma once

#include <string>

namespace host {

void report(const std::string& message);

}  // namespace host
