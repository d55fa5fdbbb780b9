// Draws the windows of the drawn text mode: a dialog from its window tree,
// laid out from its template's dialog units; a message box with its wrapped
// text and buttons; and the notice for a terminal too small for them.
#pragma once

#include <optional>
#include <string>

#include "platform/toolkit/curses/layout.h"
#include "platform/toolkit/curses/message_buttons.h"
#include "platform/toolkit/curses/screen.h"
#include "platform/toolkit/window.h"

namespace toolkit::curses {

// A message box while it is open: `focus` is the button that Enter presses.
struct OpenBox {
  std::string caption;
  std::string text;
  ButtonSet buttons;
  size_t focus = 0;
  std::optional<int> result;
};

// The frame of a dialog centred on the screen.
Frame dialogFrame(const Window& dialog, int screen_w, int screen_h);
void paintDialog(Screen& screen, const Window& dialog, const Frame& frame);

MessageBoxLayout boxLayout(const OpenBox& box, int screen_w, int screen_h);
void paintMessageBox(Screen& screen, const OpenBox& box, const MessageBoxLayout& layout);

// One line on an otherwise empty screen: how large the terminal has to be.
void paintTooSmall(Screen& screen, int need_w, int need_h);

}  // namespace toolkit::curses
