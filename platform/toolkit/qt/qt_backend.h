// The Qt 6 Widgets backend: the dialog as a QDialog laid out from its
// template's dialog units, message boxes as QMessageBox, timers as QTimer.
// This header names no Qt type, so the host that picks the backend can
// include it freely.
#pragma once

#include <memory>

#include "platform/toolkit/backend.h"

namespace toolkit {

// Creates the QApplication; `argc` and `argv` must outlive the backend (Qt
// keeps them). Needs a display (or QT_QPA_PLATFORM=offscreen): without one Qt
// ends the process, so choose this backend only where a display is there.
std::unique_ptr<Backend> makeQtBackend(int& argc, char** argv);

}  // namespace toolkit
