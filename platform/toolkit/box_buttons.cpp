#include "platform/toolkit/box_buttons.h"

namespace toolkit {

std::optional<BoxButtons> decodeBoxButtons(UINT type) {
  BoxButtons buttons;
  switch (type & MB_TYPEMASK) {
    case MB_OK:
      buttons.results = {IDOK};
      buttons.escapeResult = IDOK;
      break;
    case MB_OKCANCEL:
      buttons.results = {IDOK, IDCANCEL};
      buttons.escapeResult = IDCANCEL;
      break;
    case MB_YESNO:
      buttons.results = {IDYES, IDNO};
      buttons.escapeResult = IDNO;
      break;
    case MB_YESNOCANCEL:
      buttons.results = {IDYES, IDNO, IDCANCEL};
      buttons.escapeResult = IDCANCEL;
      break;
    default:
      return std::nullopt;
  }
  const std::size_t requested = (type & MB_DEFMASK) >> 8;
  buttons.defaultButton = requested < buttons.results.size() ? requested : 0;
  return buttons;
}

}  // namespace toolkit
