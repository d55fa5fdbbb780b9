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

int progressPercent(const Window& bar) {
  const long long span = static_cast<long long>(bar.rangeMax) - bar.rangeMin;
  if (span <= 0) return 0;
  return static_cast<int>((static_cast<long long>(bar.pos) - bar.rangeMin) * 100 / span);
}

DialogText describeDialog(const Window& dialog) {
  DialogText text;
  text.heading = dialog.text + "\n";
  for (const auto& control : dialog.children)
    if (control->kind == WindowKind::Static && !control->text.empty())
      text.heading += control->text + "\n";
  for (const auto& control : dialog.children)
    if (control->kind == WindowKind::ProgressBar)
      text.state += "Progress: " + std::to_string(progressPercent(*control)) + "%\n";
  for (const auto& control : dialog.children) {
    if (control->kind != WindowKind::CheckBox) continue;
    text.state += control->check == static_cast<int>(BST_CHECKED) ? "[x] " : "[ ] ";
    text.state += withoutLeadingBlanks(control->text);
    if (!control->enabled) text.state += " (disabled)";
    text.state += "\n";
  }
  return text;
}

}  // namespace toolkit::text
