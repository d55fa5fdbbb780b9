#include "platform/toolkit/text/message_prompt.h"

#include <algorithm>

#include "platform/text/ascii.h"

namespace toolkit::text {

std::optional<MessagePrompt> MessagePrompt::forType(UINT type) {
  MessagePrompt prompt;
  switch (type & MB_TYPEMASK) {
    case MB_OK:
      prompt.m_buttons = {{'o', IDOK}};
      break;
    case MB_OKCANCEL:
      prompt.m_buttons = {{'o', IDOK}, {'c', IDCANCEL}};
      break;
    case MB_YESNO:
      prompt.m_buttons = {{'y', IDYES}, {'n', IDNO}};
      break;
    case MB_YESNOCANCEL:
      prompt.m_buttons = {{'y', IDYES}, {'n', IDNO}, {'c', IDCANCEL}};
      break;
    default:
      return std::nullopt;
  }
  // Windows makes the first button the default when the style names one
  // that the box does not have.
  const size_t requested = (type & MB_DEFMASK) >> 8;
  prompt.m_default = requested < prompt.m_buttons.size() ? requested : 0;
  return prompt;
}

std::string MessagePrompt::prompt() const {
  if (m_buttons.size() == 1) return "[OK] ";
  std::string text = "[";
  for (size_t i = 0; i < m_buttons.size(); ++i) {
    if (i > 0) text += '/';
    const char letter = m_buttons[i].letter;
    text += i == m_default ? ascii::toUpper(letter) : letter;
  }
  return text + "] ";
}

std::optional<int> MessagePrompt::answer(const std::string& line) const {
  if (m_buttons.size() == 1) return m_buttons.front().result;
  if (line.empty()) return m_buttons[m_default].result;
  const char first = ascii::toLower(line.front());
  for (const Button& button : m_buttons)
    if (button.letter == first) return button.result;
  return std::nullopt;
}

int MessagePrompt::abandoned() const {
  for (int result : {IDCANCEL, IDNO}) {
    if (std::any_of(m_buttons.begin(), m_buttons.end(),
                    [&](const Button& b) { return b.result == result; }))
      return result;
  }
  return IDOK;
}

}  // namespace toolkit::text
