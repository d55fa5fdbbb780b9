// The push buttons of a message box, as Windows labels them: "OK",
// "Cancel", "&Yes" and "&No" (Y and N underlined and pressed by their letter).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/win32/windows.h"

namespace toolkit::curses {

struct BoxButton {
  std::string label;
  int underline = -1;  // the index of the underlined letter, if any
  int result = IDOK;
};

struct ButtonSet {
  std::vector<BoxButton> buttons;
  size_t defaultButton = 0;
  // What Esc (and Ctrl-C) answer: Cancel where the box has it, else No,
  // else OK, as the line form answers a box whose input ended.
  int escapeResult = IDOK;

  // The result of the button whose underlined letter is `letter`.
  std::optional<int> resultForLetter(char letter) const;
  std::vector<std::string> labels() const;
};

// The buttons of a box of style `type` (MB_OK, MB_OKCANCEL, MB_YESNO or
// MB_YESNOCANCEL, with MB_DEFBUTTON1..3); none for other button sets.
std::optional<ButtonSet> buttonsForType(UINT type);

}  // namespace toolkit::curses
