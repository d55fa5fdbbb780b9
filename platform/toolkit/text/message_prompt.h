// The answers a text-mode message box accepts. An OK box takes any line. A box
// with several buttons takes a line starting with a button's letter (Y, N, O,
// C, in either case) or an empty line for the default button, and asks again
// for anything else. The end of the input or Ctrl-C answers Cancel where the
// box has it, else No, else OK.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/win32/windows.h"

namespace toolkit::text {

class MessagePrompt {
 public:
  // The prompt for a box of style `type` (MB_OK, MB_OKCANCEL, MB_YESNO or
  // MB_YESNOCANCEL, with MB_DEFBUTTON1..3); none for other button sets.
  static std::optional<MessagePrompt> forType(UINT type);

  // "[OK] " for an OK box, else the button letters, the default one in
  // capitals: "[Y/n] ".
  std::string prompt() const;
  // IDOK, IDCANCEL, IDYES or IDNO for the line, or none to ask again.
  std::optional<int> answer(const std::string& line) const;
  // What the end of the input or Ctrl-C answers.
  int abandoned() const { return m_abandoned; }

 private:
  struct Button {
    char letter;
    int result;
  };
  std::vector<Button> m_buttons;
  size_t m_default = 0;
  int m_abandoned = IDOK;
};

}  // namespace toolkit::text
