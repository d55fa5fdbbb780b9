#include "platform/toolkit/text/dialog_text.h"

namespace toolkit::text {
namespace {

// Check-box texts are indented with blanks to clear the box; a line of text
// mode has its own "[x] " in front instead.
std::string withoutLeadingBlanks(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : text.substr(first);
}

}  // namespace

std::string printableText(std::string_view text, LineBreaks line_breaks) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string shown;
  shown.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool control = byte < 0x20 || byte == 0x7F;
    if (!control || c == '\t' || (c == '\n' && line_breaks == LineBreaks::Keep)) {
      shown.push_back(c);
    } else {
      shown += "\\x";
      shown.push_back(kHex[byte >> 4]);
      shown.push_back(kHex[byte & 0xF]);
    }
  }
  return shown;
}

int progressPercent(const Window& bar) {
  const long long span = static_cast<long long>(bar.rangeMax) - bar.rangeMin;
  if (span <= 0) return 0;
  return static_cast<int>((static_cast<long long>(bar.pos) - bar.rangeMin) * 100 / span);
}

DialogText describeDialog(const Window& dialog) {
  DialogText text;
  text.heading = printableText(dialog.text) + "\n";
  for (const auto& control : dialog.children)
    if (control->kind == WindowKind::Static && !control->text.empty())
      text.heading += printableText(control->text) + "\n";
  for (const auto& control : dialog.children)
    if (control->kind == WindowKind::ProgressBar)
      text.state += "Progress: " + std::to_string(progressPercent(*control)) + "%\n";
  for (const auto& control : dialog.children) {
    if (control->kind != WindowKind::CheckBox) continue;
    text.state += control->check == static_cast<int>(BST_CHECKED) ? "[x] " : "[ ] ";
    text.state += printableText(withoutLeadingBlanks(control->text));
    if (!control->enabled) text.state += " (disabled)";
    text.state += "\n";
  }
  return text;
}

}  // namespace toolkit::text
