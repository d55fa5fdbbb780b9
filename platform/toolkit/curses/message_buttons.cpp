#include "platform/toolkit/curses/message_buttons.h"

#include "platform/text/ascii.h"

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
  ButtonSet set;
  switch (type & MB_TYPEMASK) {
    case MB_OK:
      set.buttons = {kOk};
      set.escapeResult = IDOK;
      break;
    case MB_OKCANCEL:
      set.buttons = {kOk, kCancel};
      set.escapeResult = IDCANCEL;
      break;
    case MB_YESNO:
      set.buttons = {kYes, kNo};
      set.escapeResult = IDNO;
      break;
    case MB_YESNOCANCEL:
      set.buttons = {kYes, kNo, kCancel};
      set.escapeResult = IDCANCEL;
      break;
    default:
      return std::nullopt;
  }
  // Windows makes the first button the default when the style names one
  // that the box does not have.
  const size_t requested = (type & MB_DEFMASK) >> 8;
  set.defaultButton = requested < set.buttons.size() ? requested : 0;
  return set;
}

}  // namespace toolkit::curses
