// The terminal as the drawn text mode uses it: the whole of ncurses for this
// backend stays behind this class. It draws texts in a few styles, reads keys
// and mouse clicks, follows size changes, and can hand the normal screen back
// for a while.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "platform/toolkit/curses/cell_text.h"
#include "platform/toolkit/curses/layout.h"

namespace toolkit::curses {

enum class Style {
  Desktop,        // behind the windows
  Window,         // a window's face and its texts
  Disabled,       // the text of a disabled control
  Title,          // the title bar
  Button,         // a push button
  FocusedButton,  // the button that Enter presses
  BarFill,        // the done part of a progress bar
  Notice,         // the one-line notice of a terminal too small
};

// Cells that the backend draws itself.
enum class Glyph { Block };

enum class Key {
  Enter,
  Space,
  Escape,
  Interrupt,
  Tab,
  BackTab,
  Left,
  Right,
  Up,
  Down,
  Letter,
  Click
};

struct KeyEvent {
  Key key;
  char letter = 0;  // Key::Letter: the letter typed, in lower case
  int x = 0;        // Key::Click: the cell clicked
  int y = 0;
};

class Screen {
 public:
  // Takes the terminal on standard input and output; null when it cannot be
  // used (an unknown terminal type). The screen is restored when the object
  // goes.
  static std::unique_ptr<Screen> open();
  ~Screen();
  Screen(const Screen&) = delete;
  Screen& operator=(const Screen&) = delete;

  int width() const;
  int height() const;
  Charset charset() const { return m_charset; }
  // Standard input, for waiting on keys.
  int inputFd() const;

  // Starts a new picture: the desktop everywhere. present() sends what changed.
  void paintDesktop();
  void fillRect(const CellRect& rect, Style style);
  // Writes `ansi` from (x, y), at most `width` cells and never past the
  // screen's edge; the character at `underline` (if any) is underlined.
  void putText(int x, int y, std::string_view ansi, int width, Style style, int underline = -1);
  // A full block, or "#" where the terminal has no such character.
  void putGlyph(int x, int y, Glyph glyph, Style style);
  void drawBorder(const CellRect& rect, Style style);
  void present();

  // Asks the terminal for its size after a SIGWINCH and adopts it.
  void adoptNewSize();
  // The keys waiting in the input, without blocking.
  std::vector<KeyEvent> readKeys();

  // Gives the terminal its normal state and screen until the next present().
  void leave();

 private:
  Screen() = default;
  int attributes(Style style) const;

  Charset m_charset = Charset::Ascii;
  bool m_colour = false;
  bool m_left = false;
  void* m_screen = nullptr;  // the ncurses SCREEN
  std::string m_previousLocale;
};

}  // namespace toolkit::curses
