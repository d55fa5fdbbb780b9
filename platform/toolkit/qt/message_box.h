// A Win32 message box shown as a QMessageBox in its own (nested) event loop.
#pragma once

#include <string>

#include "platform/win32/windows.h"

class QWidget;

namespace toolkit::qt {

// Shows `text` with `caption`, owned by `owner` (or none). Buttons and the
// default button come from the MB_ style; returns IDOK, IDCANCEL, IDYES or
// IDNO, or 0 for a button set that is not offered. Esc and closing the box
// answer Cancel where the box has it, else No, else OK.
int runMessageBox(QWidget* owner, const std::string& text, const std::string& caption, UINT type);

}  // namespace toolkit::qt
