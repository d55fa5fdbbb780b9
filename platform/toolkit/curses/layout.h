// Where things stand on the terminal, in character cells. A dialog unit is a
// quarter of the dialog font's average character width and an eighth of its
// height, so a template maps onto cells of 4 by 8 units.
#pragma once

#include <string>
#include <vector>

namespace toolkit::curses {

struct CellRect {
  int x = 0;
  int y = 0;
  int w = 0;
  int h = 0;
  bool contains(int cx, int cy) const { return cx >= x && cx < x + w && cy >= y && cy < y + h; }
  bool operator==(const CellRect&) const = default;
};

// A rectangle in dialog units as cells. Each edge is rounded on its own, so
// controls that do not overlap in the template do not overlap on the screen;
// a control keeps at least one cell each way.
CellRect unitsToCells(int x, int y, int cx, int cy);

// A framed window: a border, a title bar on the first row inside it, and the
// client area below the title.
struct Frame {
  CellRect outer;
  CellRect title;
  CellRect client;
};

// The frame around a client area of `client_w` by `client_h` cells, centred on
// a screen of `screen_w` by `screen_h`. The frame may be larger than the
// screen; fitsOn() tells.
Frame centredFrame(int client_w, int client_h, int screen_w, int screen_h);
bool fitsOn(const Frame& frame, int screen_w, int screen_h);

// A message box: its wrapped text and its buttons in one row, centred under
// the text.
struct MessageBoxLayout {
  Frame frame;
  std::vector<std::string> lines;  // ANSI text, one entry per row
  CellRect text;
  std::vector<CellRect> buttons;
};

// The widest a message box's text runs before it wraps.
constexpr int kMessageWidth = 52;
// Every button of a box has the width of the widest label, as Windows sizes
// them alike.
int buttonWidth(const std::vector<std::string>& labels);

MessageBoxLayout layoutMessageBox(const std::string& text, int caption_length,
                                  const std::vector<std::string>& labels, int screen_w,
                                  int screen_h);

}  // namespace toolkit::curses
