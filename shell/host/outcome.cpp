#include "shell/host/outcome.h"

namespace host {
namespace {

// Printable ASCII only: the line goes to a terminal.
std::string printable(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) c = '?';
  return out;
}

}  // namespace

Outcome outcomeOf(const std::vector<toolkit::Shown>& shown, bool shutdown_requested) {
  if (shutdown_requested) return Outcome::Uninstalled;
  const toolkit::Shown* last_box = nullptr;
  for (const toolkit::Shown& s : shown) {
    if (s.kind == toolkit::Shown::Kind::Dialog) return Outcome::Cancelled;
    last_box = &s;
  }
  if (last_box == nullptr) return Outcome::Nothing;
  if (last_box->result == IDNO || last_box->result == IDCANCEL) return Outcome::Declined;
  if ((last_box->style & MB_TYPEMASK) == MB_OK) return Outcome::NotInstalled;
  return Outcome::Nothing;
}

std::string outcomeLine(const std::vector<toolkit::Shown>& shown, Outcome outcome) {
  std::string caption = "uinq76";
  for (const toolkit::Shown& s : shown)
    if (s.kind == toolkit::Shown::Kind::MessageBox) caption = s.caption;
  const char* what = nullptr;
  switch (outcome) {
    case Outcome::Nothing:
      return {};
    case Outcome::Declined:
      what = "declined; nothing was changed.";
      break;
    case Outcome::NotInstalled:
      what = "not installed; nothing was changed.";
      break;
    case Outcome::Uninstalled:
      what = "uninstalled.";
      break;
    case Outcome::Cancelled:
      what = "cancelled; the steps not yet run were not run.";
      break;
  }
  return printable(caption) + ": " + what;
}

}  // namespace host
