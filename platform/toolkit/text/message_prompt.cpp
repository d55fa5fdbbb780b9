#include "platform/toolkit/text/message_prompt.h"

#include "platform/text/ascii.h"
#include "platform/toolkit/box_buttons.h"

namespace toolkit::text {

std::optional<MessagePrompt> MessagePrompt::forType(UINT type) {
  const std::optional<BoxButtons> decoded = decodeBoxButtons(type);
  if (!decoded) return std::nullopt;
  MessagePrompt prompt;
  for (const int result : decoded->results) {
    // Each button answers to the first letter of its label.
    const char letter = result == IDCANCEL ? 'c'
                        : result == IDYES  ? 'y'
                        : result == IDNO   ? 'n'
                                           : 'o';
    prompt.m_buttons.push_back({letter, result});
  }
  prompt.m_default = decoded->defaultButton;
  prompt.m_abandoned = decoded->escapeResult;
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

}  // namespace toolkit::text
