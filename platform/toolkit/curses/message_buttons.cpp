#include "platform/toolkit/curses/message_buttons.h"

#include "platform/text/ascii.h"
#include "platform/toolkit/box_buttons.h"

namespace toolkit::curses {
namespace {

const BoxButton kOk{"OK", -1, IDOK};
const BoxButton kCancel{"Cancel", -1, IDCANCEL};
const BoxButton kYes{"Yes", 0, IDYES};
const BoxButton kNo{"No", 0, IDNO};

}  // namespace

std::optional<int> ButtonSet::resultForLetter(char letter) const {
  for (const BoxButton& button : buttons) {
    if (button.underline < 0) continue;
    const char own = button.label[static_cast<size_t>(button.underline)];
    // Mnemonics are ASCII letters and match in either case.
    if (ascii::toLower(own) == ascii::toLower(letter)) return button.result;
  }
  return std::nullopt;
}

std::vector<std::string> ButtonSet::labels() const {
  std::vector<std::string> labels;
  for (const BoxButton& button : buttons) labels.push_back(button.label);
  return labels;
}

std::optional<ButtonSet> buttonsForType(UINT type) {
  const std::optional<BoxButtons> decoded = decodeBoxButtons(type);
  if (!decoded) return std::nullopt;
  ButtonSet set;
  for (const int result : decoded->results) {
    switch (result) {
      case IDCANCEL:
        set.buttons.push_back(kCancel);
        break;
      case IDYES:
        set.buttons.push_back(kYes);
        break;
      case IDNO:
        set.buttons.push_back(kNo);
        break;
      default:
        set.buttons.push_back(kOk);
        break;
    }
  }
  set.defaultButton = decoded->defaultButton;
  set.escapeResult = decoded->escapeResult;
  return set;
}

}  // namespace toolkit::curses
