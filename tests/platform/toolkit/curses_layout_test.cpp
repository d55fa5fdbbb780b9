// The drawn text mode's pure parts: texts made safe for the terminal, word
// wrapping, dialog units to cells, message-box layout and buttons.
#include <gtest/gtest.h>

#include "platform/resources/resources.h"
#include "platform/toolkit/curses/cell_text.h"
#include "platform/toolkit/curses/layout.h"
#include "platform/toolkit/curses/message_buttons.h"

namespace toolkit::curses {
namespace {

std::string joined(const std::vector<std::string>& cells) {
  std::string out;
  for (const std::string& cell : cells) out += cell;
  return out;
}

TEST(CellText, NothingOfTheMachineReachesTheTerminalRaw) {
  // Escape, bell, delete, a line break, and 0x81, which Windows-1252 leaves
  // undefined (and which is C1 in Latin-1).
  const std::string title = "Q76\x1b[2J\x07\x7f\n\x81!";
  EXPECT_EQ(joined(toCells(title, Charset::Ascii)),
            "Q76?[2J?"
            "?"
            "?"
            "?!");
  EXPECT_EQ(joined(toCells(title, Charset::Utf8)),
            "Q76\xEF\xBF\xBD[2J\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD!");
  // Windows-1252 characters: the euro sign at 0x80, e acute at 0xE9; one
  // cell each, "?" where the terminal has only ASCII.
  EXPECT_EQ(toCells("\x80\xE9", Charset::Utf8),
            (std::vector<std::string>{"\xE2\x82\xAC", "\xC3\xA9"}));
  EXPECT_EQ(joined(toCells("\x80\xE9", Charset::Ascii)), "??");
  // No byte from 0x80 to 0x9F is ever written as it stands.
  for (int byte = 0x80; byte < 0xA0; ++byte) {
    const std::string cell =
        joined(toCells(std::string(1, static_cast<char>(byte)), Charset::Utf8));
    EXPECT_NE(cell, std::string(1, static_cast<char>(byte))) << byte;
    EXPECT_GE(cell.size(), 2u) << byte;  // a whole UTF-8 sequence
  }
  // Cut by cells, not by bytes.
  EXPECT_EQ(displayText("\xE9\xE9\xE9", Charset::Utf8, 2), "\xC3\xA9\xC3\xA9");
  EXPECT_EQ(displayText("abc", Charset::Ascii, 0), "");
}

TEST(CellText, WrapsAtBlanksLikeAStaticControl) {
  using Lines = std::vector<std::string>;
  // Words move to the next line whole; blanks at the break are dropped.
  EXPECT_EQ(wrapText("Removing the software 'Q76' from your computer.", 20),
            (Lines{"Removing the", "software 'Q76' from", "your computer."}));
  // A line exactly as wide as the width stays whole.
  EXPECT_EQ(wrapText("abcd efgh", 4), (Lines{"abcd", "efgh"}));
  // A word longer than a line is cut where the line ends.
  EXPECT_EQ(wrapText("Uninstallation", 5), (Lines{"Unins", "talla", "tion"}));
  // Line breaks start new lines; an empty paragraph is an empty line.
  EXPECT_EQ(wrapText("one\r\n\ntwo", 10), (Lines{"one", "", "two"}));
  EXPECT_EQ(wrapText("", 10), (Lines{""}));
  EXPECT_TRUE(wrapText("text", 0).empty());
  for (const std::string& line : wrapText(std::string(300, 'x') + " y", 7))
    EXPECT_LE(line.size(), 7u);
}

TEST(Layout, DialogUnitsBecomeCellsWithoutOverlap) {
  // Four units across and eight down make a cell, rounded to the nearest.
  EXPECT_EQ(unitsToCells(0, 0, 233, 151), (CellRect{0, 0, 58, 19}));
  // A control never shrinks to nothing.
  EXPECT_EQ(unitsToCells(10, 10, 1, 1).w, 1);
  EXPECT_EQ(unitsToCells(10, 10, 1, 1).h, 1);

  // Dialog 102: every control inside the client area, and no two controls
  // sharing a cell, the check boxes each on a row of their own.
  const resources::DialogTemplate* dialog = resources::findDialog(102);
  ASSERT_NE(dialog, nullptr);
  const CellRect client = unitsToCells(0, 0, dialog->cx, dialog->cy);
  std::vector<CellRect> rects;
  for (const resources::ControlTemplate& c : dialog->controls) {
    const CellRect r = unitsToCells(c.x, c.y, c.cx, c.cy);
    EXPECT_GE(r.x, 0) << c.id;
    EXPECT_LE(r.x + r.w, client.w) << c.id;
    EXPECT_LE(r.y + r.h, client.h) << c.id;
    for (const CellRect& other : rects) {
      const bool apart = r.x + r.w <= other.x || other.x + other.w <= r.x || r.y + r.h <= other.y ||
                         other.y + other.h <= r.y;
      EXPECT_TRUE(apart) << c.id;
    }
    rects.push_back(r);
  }
  // The dialog and its frame fit a terminal of 80 by 24.
  const Frame frame = centredFrame(client.w, client.h, 80, 24);
  EXPECT_TRUE(fitsOn(frame, 80, 24));
  EXPECT_FALSE(fitsOn(frame, 59, 24));
  EXPECT_FALSE(fitsOn(frame, 80, 21));
  EXPECT_EQ(frame.outer, (CellRect{10, 1, 60, 22}));
  EXPECT_EQ(frame.client, (CellRect{11, 3, 58, 19}));
}

TEST(Layout, MessageBoxTextAndButtons) {
  const std::string text = "The uninstaller need to shut down Windows to complete the process.";
  const MessageBoxLayout box = layoutMessageBox(text, 24, {"Yes", "No"}, 80, 24);
  ASSERT_EQ(box.buttons.size(), 2u);
  for (const std::string& line : box.lines) EXPECT_LE(static_cast<int>(line.size()), kMessageWidth);
  EXPECT_EQ(box.lines.size(), 2u);
  // Buttons alike, on one row below the text, centred in the client area.
  EXPECT_EQ(box.buttons[0].w, box.buttons[1].w);
  EXPECT_EQ(box.buttons[0].y, box.buttons[1].y);
  EXPECT_GT(box.buttons[0].y, box.text.y + box.text.h - 1);
  const int left = box.buttons[0].x - box.frame.client.x;
  const int right = box.frame.client.x + box.frame.client.w - (box.buttons[1].x + box.buttons[1].w);
  EXPECT_LE(std::abs(left - right), 1);
  EXPECT_TRUE(fitsOn(box.frame, 80, 24));
  // On a narrow terminal the text wraps earlier and the box still fits.
  const MessageBoxLayout narrow = layoutMessageBox(text, 24, {"OK"}, 40, 24);
  EXPECT_TRUE(fitsOn(narrow.frame, 40, 24));
  for (const std::string& line : narrow.lines) EXPECT_LE(line.size(), 34u);
  // A long caption widens the box.
  EXPECT_GE(layoutMessageBox("x", 40, {"OK"}, 80, 24).frame.client.w, 42);
}

TEST(Layout, MessageBoxButtonsStandInsideTheFrameWithARowBelow) {
  const std::string long_text(300, 'x');
  for (const std::string& text : {std::string("x"), std::string("two\nlines"), long_text}) {
    for (const std::vector<std::string>& labels :
         {std::vector<std::string>{"OK"}, std::vector<std::string>{"&Yes", "&No", "Cancel"}}) {
      const MessageBoxLayout box = layoutMessageBox(text, 10, labels, 80, 24);
      const CellRect& client = box.frame.client;
      ASSERT_EQ(box.buttons.size(), labels.size());
      for (const CellRect& button : box.buttons) {
        // Inside the client area, one blank row under the text and one
        // above the bottom of the frame.
        EXPECT_GE(button.x, client.x) << text;
        EXPECT_LE(button.x + button.w, client.x + client.w) << text;
        EXPECT_EQ(button.y, box.text.y + box.text.h + 1) << text;
        EXPECT_EQ(button.y, client.y + client.h - 2) << text;
        EXPECT_LT(button.y, box.frame.outer.y + box.frame.outer.h - 2) << text;
      }
    }
  }
}

TEST(MessageButtons, DefaultsLettersAndEsc) {
  const auto yes_no = buttonsForType(MB_YESNO);
  ASSERT_TRUE(yes_no);
  EXPECT_EQ(yes_no->labels(), (std::vector<std::string>{"Yes", "No"}));
  EXPECT_EQ(yes_no->defaultButton, 0u);
  EXPECT_EQ(yes_no->escapeResult, IDNO);
  EXPECT_EQ(yes_no->resultForLetter('y'), IDYES);
  EXPECT_EQ(yes_no->resultForLetter('N'), IDNO);
  EXPECT_FALSE(yes_no->resultForLetter('o'));
  EXPECT_EQ(buttonsForType(MB_YESNO | MB_DEFBUTTON2)->defaultButton, 1u);
  // A default the box does not have falls back to the first button.
  EXPECT_EQ(buttonsForType(MB_YESNO | MB_DEFBUTTON3)->defaultButton, 0u);
  // OK has no underlined letter; Esc answers an OK box with OK.
  const auto ok = buttonsForType(MB_OK);
  EXPECT_FALSE(ok->resultForLetter('o'));
  EXPECT_EQ(ok->escapeResult, IDOK);
  EXPECT_EQ(buttonsForType(MB_YESNOCANCEL)->escapeResult, IDCANCEL);
  EXPECT_EQ(buttonsForType(MB_OKCANCEL)->escapeResult, IDCANCEL);
  EXPECT_FALSE(buttonsForType(5 /* MB_RETRYCANCEL */));
}

}  // namespace
}  // namespace toolkit::curses
