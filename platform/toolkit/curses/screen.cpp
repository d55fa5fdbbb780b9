#include "platform/toolkit/curses/screen.h"

#define NCURSES_NOMACROS
#include <curses.h>
#include <langinfo.h>
#include <locale.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/text/ascii.h"

namespace toolkit::curses {
namespace {

enum Pair : short { kDesktop = 1, kWindow, kDisabled, kTitle, kBarFill, kNotice };

// Whether the user's own locale writes UTF-8. Only then is its character
// type taken over while the screen is drawn: a UTF-8 locale classifies and
// converts every single byte exactly as the C locale does, so the program's
// own text handling (case, letters, blanks) is the same with it.
bool userLocaleIsUtf8() {
  locale_t user = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  if (user == static_cast<locale_t>(0)) return false;
  const char* codeset = ::nl_langinfo_l(CODESET, user);
  const bool utf8 = codeset != nullptr &&
                    (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
  ::freelocale(user);
  return utf8;
}

// The NO_COLOR convention: set and not empty means no colour.
bool colourWanted() {
  const char* no_colour = std::getenv("NO_COLOR");
  return no_colour == nullptr || no_colour[0] == '\0';
}

}  // namespace

std::unique_ptr<Screen> Screen::open() {
  const char* term = std::getenv("TERM");
  if (term == nullptr || term[0] == '\0' || std::strcmp(term, "dumb") == 0) return nullptr;
  if (::isatty(STDIN_FILENO) != 1 || ::isatty(STDOUT_FILENO) != 1) return nullptr;

  std::unique_ptr<Screen> screen(new Screen());
  if (userLocaleIsUtf8()) {
    const char* previous = ::setlocale(LC_CTYPE, nullptr);
    screen->m_previousLocale = previous != nullptr ? previous : "C";
    if (::setlocale(LC_CTYPE, "") != nullptr) screen->m_charset = Charset::Utf8;
  }
  SCREEN* terminal = newterm(nullptr, stdout, stdin);
  if (terminal == nullptr) return nullptr;  // the destructor puts the locale back
  screen->m_screen = terminal;
  set_term(terminal);

  // Raw: Ctrl-C arrives as a key and is handled as Esc; no echo, no line
  // buffering, the keypad's keys decoded, Esc told apart from a sequence soon.
  raw();
  noecho();
  keypad(stdscr, TRUE);
  set_escdelay(25);
  curs_set(0);
  mousemask(BUTTON1_PRESSED | BUTTON1_CLICKED, nullptr);
  mouseinterval(0);

  screen->m_colour = colourWanted() && has_colors() == TRUE && start_color() == OK;
  if (screen->m_colour) {
    init_pair(kDesktop, COLOR_BLACK, COLOR_CYAN);
    init_pair(kWindow, COLOR_BLACK, COLOR_WHITE);
    // Grey where the terminal has bright colours; else the face's colour,
    // dimmed.
    init_pair(kDisabled, COLORS >= 16 ? 8 : COLOR_BLACK, COLOR_WHITE);
    init_pair(kTitle, COLOR_WHITE, COLOR_BLUE);
    init_pair(kBarFill, COLOR_BLUE, COLOR_WHITE);
    init_pair(kNotice, COLOR_WHITE, COLOR_RED);
  }
  return screen;
}

Screen::~Screen() {
  if (m_screen != nullptr) {
    if (!m_left) endwin();
    delscreen(static_cast<SCREEN*>(m_screen));
  }
  if (!m_previousLocale.empty()) ::setlocale(LC_CTYPE, m_previousLocale.c_str());
}

int Screen::width() const { return COLS; }
int Screen::height() const { return LINES; }
int Screen::inputFd() const { return STDIN_FILENO; }

int Screen::attributes(Style style) const {
  if (!m_colour) {
    switch (style) {
      case Style::Title:
      case Style::FocusedButton:
        return A_REVERSE;
      case Style::Disabled:
        return A_DIM;
      case Style::Notice:
        return A_BOLD;
      default:
        return A_NORMAL;
    }
  }
  switch (style) {
    case Style::Desktop:
      return COLOR_PAIR(kDesktop);
    case Style::Window:
    case Style::Button:
      return COLOR_PAIR(kWindow);
    case Style::Disabled:
      return COLOR_PAIR(kDisabled) | (COLORS >= 16 ? A_NORMAL : A_DIM);
    case Style::Title:
      return COLOR_PAIR(kTitle) | A_BOLD;
    case Style::FocusedButton:
      return COLOR_PAIR(kWindow) | A_REVERSE | A_BOLD;
    case Style::BarFill:
      return COLOR_PAIR(kBarFill);
    case Style::Notice:
      return COLOR_PAIR(kNotice) | A_BOLD;
  }
  return A_NORMAL;
}

void Screen::paintDesktop() {
  wbkgdset(stdscr, static_cast<chtype>(' ') | static_cast<chtype>(attributes(Style::Desktop)));
  werase(stdscr);
}

void Screen::fillRect(const CellRect& rect, Style style) {
  attrset(attributes(style));
  for (int y = std::max(rect.y, 0); y < rect.y + rect.h && y < LINES; ++y)
    for (int x = std::max(rect.x, 0); x < rect.x + rect.w && x < COLS; ++x) mvaddch(y, x, ' ');
}

void Screen::putText(int x, int y, std::string_view ansi, int width, Style style, int underline) {
  if (y < 0 || y >= LINES) return;
  const std::vector<std::string> cells = toCells(ansi, m_charset);
  const int base = attributes(style);
  for (int i = 0; i < static_cast<int>(cells.size()) && i < width; ++i) {
    if (x + i < 0) continue;
    if (x + i >= COLS) break;
    attrset(base | (i == underline ? A_UNDERLINE : A_NORMAL));
    mvaddstr(y, x + i, cells[static_cast<size_t>(i)].c_str());
  }
}

void Screen::putGlyph(int x, int y, Glyph glyph, Style style) {
  if (x < 0 || y < 0 || x >= COLS || y >= LINES) return;
  attrset(attributes(style));
  switch (glyph) {
    case Glyph::Block:
      mvaddstr(y, x, m_charset == Charset::Utf8 ? "\xE2\x96\x88" : "#");
      break;
  }
}

void Screen::drawBorder(const CellRect& rect, Style style) {
  if (rect.w < 2 || rect.h < 2) return;
  const chtype attr = static_cast<chtype>(attributes(style));
  const int right = rect.x + rect.w - 1;
  const int bottom = rect.y + rect.h - 1;
  mvhline(rect.y, rect.x + 1, ACS_HLINE | attr, rect.w - 2);
  mvhline(bottom, rect.x + 1, ACS_HLINE | attr, rect.w - 2);
  mvvline(rect.y + 1, rect.x, ACS_VLINE | attr, rect.h - 2);
  mvvline(rect.y + 1, right, ACS_VLINE | attr, rect.h - 2);
  mvaddch(rect.y, rect.x, ACS_ULCORNER | attr);
  mvaddch(rect.y, right, ACS_URCORNER | attr);
  mvaddch(bottom, rect.x, ACS_LLCORNER | attr);
  mvaddch(bottom, right, ACS_LRCORNER | attr);
}

void Screen::present() {
  if (m_left) {
    // Back from the normal screen: everything is sent again.
    reset_prog_mode();
    clearok(curscr, TRUE);
    m_left = false;
  }
  refresh();
}

void Screen::adoptNewSize() {
  winsize size = {};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0)
    resizeterm(size.ws_row, size.ws_col);
  // Terminals keep, cut or move what they showed when their size changes:
  // the next picture is sent whole.
  clearok(curscr, TRUE);
}

std::vector<KeyEvent> Screen::readKeys() {
  std::vector<KeyEvent> keys;
  nodelay(stdscr, TRUE);
  for (int c = getch(); c != ERR; c = getch()) {
    switch (c) {
      case 3:
        keys.push_back({Key::Interrupt});
        break;
      case 27:
        keys.push_back({Key::Escape});
        break;
      case '\t':
        keys.push_back({Key::Tab});
        break;
      case KEY_BTAB:
        keys.push_back({Key::BackTab});
        break;
      case '\n':
      case '\r':
      case KEY_ENTER:
        keys.push_back({Key::Enter});
        break;
      case ' ':
        keys.push_back({Key::Space});
        break;
      case KEY_LEFT:
        keys.push_back({Key::Left});
        break;
      case KEY_RIGHT:
        keys.push_back({Key::Right});
        break;
      case KEY_UP:
        keys.push_back({Key::Up});
        break;
      case KEY_DOWN:
        keys.push_back({Key::Down});
        break;
      case KEY_MOUSE: {
        MEVENT event = {};
        if (getmouse(&event) == OK && (event.bstate & (BUTTON1_PRESSED | BUTTON1_CLICKED)) != 0)
          keys.push_back({Key::Click, 0, event.x, event.y});
        break;
      }
      default:
        if (c >= 0 && c < 128 && ascii::isLetter(static_cast<char>(c)))
          keys.push_back({Key::Letter, ascii::toLower(static_cast<char>(c))});
        break;
    }
  }
  return keys;
}

void Screen::leave() {
  if (m_left) return;
  def_prog_mode();
  endwin();
  m_left = true;
}

}  // namespace toolkit::curses
