// How a run of the program went, in one line, from what it showed the user.
// The drawn text mode prints it on the normal screen when the terminal is
// restored, so that the outcome stays in the scroll-back.
#pragma once

#include <string>
#include <vector>

#include "platform/toolkit/backend.h"

namespace host {

enum class Outcome { Nothing, Declined, NotInstalled, Uninstalled, Cancelled };

// The program asks first with a Yes/No box, says in an OK box that it cannot
// go on, or runs its dialog, which ends with a shutdown request when every
// step was done. A dialog that ended without one was cancelled.
Outcome outcomeOf(const std::vector<toolkit::Shown>& shown, bool shutdown_requested);

// "Kivra Q76 Uninstallation: declined; nothing was changed." with the caption
// of the program's message boxes, made safe for the terminal; empty for
// Outcome::Nothing.
std::string outcomeLine(const std::vector<toolkit::Shown>& shown, Outcome outcome);

}  // namespace host
