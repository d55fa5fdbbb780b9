#include "platform/toolkit/curses/layout.h"

#include <algorithm>

#include "platform/toolkit/curses/cell_text.h"

namespace toolkit::curses {
namespace {

// Units to cells, rounded to the nearest cell.
int roundDiv(int units, int per_cell) {
  return units >= 0 ? (units + per_cell / 2) / per_cell : -((-units + per_cell / 2) / per_cell);
}

constexpr int kButtonGap = 2;

}  // namespace

CellRect unitsToCells(int x, int y, int cx, int cy) {
  CellRect rect;
  rect.x = roundDiv(x, 4);
  rect.y = roundDiv(y, 8);
  rect.w = std::max(1, roundDiv(x + cx, 4) - rect.x);
  rect.h = std::max(1, roundDiv(y + cy, 8) - rect.y);
  return rect;
}

Frame centredFrame(int client_w, int client_h, int screen_w, int screen_h) {
  Frame frame;
  frame.outer.w = client_w + 2;
  frame.outer.h = client_h + 3;  // top border, title bar, bottom border
  frame.outer.x = std::max(0, (screen_w - frame.outer.w) / 2);
  frame.outer.y = std::max(0, (screen_h - frame.outer.h) / 2);
  frame.title = CellRect{frame.outer.x + 1, frame.outer.y + 1, client_w, 1};
  frame.client = CellRect{frame.outer.x + 1, frame.outer.y + 2, client_w, client_h};
  return frame;
}

bool fitsOn(const Frame& frame, int screen_w, int screen_h) {
  return frame.outer.x + frame.outer.w <= screen_w && frame.outer.y + frame.outer.h <= screen_h;
}

int buttonWidth(const std::vector<std::string>& labels) {
  size_t widest = 0;
  for (const std::string& label : labels) widest = std::max(widest, label.size());
  return static_cast<int>(widest) + 6;  // "[  " label "  ]"
}

MessageBoxLayout layoutMessageBox(const std::string& text, int caption_length,
                                  const std::vector<std::string>& labels, int screen_w,
                                  int screen_h) {
  MessageBoxLayout box;
  // The text wraps at kMessageWidth, or earlier on a narrow screen (the
  // frame, two blanks each side).
  const int wrap = std::max(10, std::min(kMessageWidth, screen_w - 6));
  box.lines = wrapText(text, wrap);
  if (box.lines.empty()) box.lines.emplace_back();
  int text_w = 0;
  for (const std::string& line : box.lines)
    text_w = std::max(text_w, static_cast<int>(line.size()));

  const int button_w = buttonWidth(labels);
  const int count = static_cast<int>(labels.size());
  const int row_w = count * button_w + std::max(0, count - 1) * kButtonGap;
  const int client_w =
      std::min(std::max({text_w, row_w, caption_length + 2}) + 4, std::max(screen_w - 2, 1));
  const int text_h = static_cast<int>(box.lines.size());
  // A blank row above the text, one between text and buttons, one below.
  const int client_h = text_h + (count > 0 ? 4 : 2);
  box.frame = centredFrame(client_w, client_h, screen_w, screen_h);
  box.text = CellRect{box.frame.client.x + 2, box.frame.client.y + 1, client_w - 4, text_h};
  const int buttons_y = box.text.y + text_h + 1;
  int x = box.frame.client.x + (client_w - row_w) / 2;
  for (int i = 0; i < count; ++i) {
    box.buttons.push_back(CellRect{x, buttons_y, button_w, 1});
    x += button_w + kButtonGap;
  }
  return box;
}

}  // namespace toolkit::curses
