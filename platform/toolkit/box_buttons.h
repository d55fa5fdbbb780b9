// The push buttons that a message box's style asks for, as Windows decodes
// the style: which buttons in which order, which one is the default, and what
// closing the box without a button (Esc, the end of the input) answers. Every
// backend draws its boxes from this one decoding.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "platform/win32/windows.h"

namespace toolkit {

struct BoxButtons {
  // The result of each button, in order: IDOK, IDCANCEL, IDYES or IDNO.
  std::vector<int> results;
  // The index of the default button. Windows makes the first button the
  // default when the style names one that the box does not have.
  std::size_t defaultButton = 0;
  // Cancel where the box has it, else No, else OK.
  int escapeResult = IDOK;

  int defaultResult() const { return results[defaultButton]; }
};

// The buttons of a box of style `type` (MB_OK, MB_OKCANCEL, MB_YESNO or
// MB_YESNOCANCEL, with MB_DEFBUTTON1..3); none for other button sets.
std::optional<BoxButtons> decodeBoxButtons(UINT type);

}  // namespace toolkit
