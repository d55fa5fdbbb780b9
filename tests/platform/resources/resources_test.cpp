#include "platform/resources/resources.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/resources/rc_script.h"
#include "resources/resource.h"

namespace {

using resources::ControlKind;

std::string loadString(UINT id, int size) {
  char buffer[300];
  std::memset(buffer, 0xCC, sizeof buffer);
  const int n = LoadStringA(GetModuleHandleA(nullptr), id, buffer, size);
  EXPECT_EQ(n, static_cast<int>(std::strlen(buffer)));
  return buffer;
}

TEST(Resources, StringTableHoldsTheProductTextsExactly) {
  EXPECT_EQ(loadString(IDS_NOT_INSTALLED, 255),
            "The software is not properly installed. The uninstallation procedure cannot be "
            "performed correcly!");
  EXPECT_EQ(loadString(IDS_SHUTDOWN_NOTICE, 255),
            "The uninstaller need to shut down Windows to complete the uninstalltion process. "
            "After Windows is shut down and the computer is turned off, please remove the Q76 "
            "card and then restart the system.");
  EXPECT_EQ(loadString(IDS_CONFIRM, 255), "Do you really want to uninstall this software?");
  EXPECT_EQ(loadString(IDS_CAPTION, 255), "Kivra Q76 Uninstallation");
  EXPECT_EQ(loadString(IDS_INF_MARKER, 255), "KIVRAQ76INF");
}

TEST(Resources, LoadStringCutsToTheBufferAndRefusesWhatItCannotServe) {
  // Cut to size - 1 characters and terminated.
  EXPECT_EQ(loadString(IDS_INF_MARKER, 5), "KIVR");
  EXPECT_EQ(loadString(IDS_INF_MARKER, 12), "KIVRAQ76INF");
  // An unknown id, a foreign instance or no room: 0 and the buffer untouched.
  char buffer[8];
  std::memset(buffer, 0xCC, sizeof buffer);
  EXPECT_EQ(LoadStringA(GetModuleHandleA(nullptr), 4242, buffer, 8), 0);
  EXPECT_EQ(LoadStringA(reinterpret_cast<HINSTANCE>(buffer), IDS_CAPTION, buffer, 8), 0);
  EXPECT_EQ(LoadStringA(GetModuleHandleA(nullptr), IDS_CAPTION, buffer, 0), 0);
  EXPECT_EQ(static_cast<unsigned char>(buffer[0]), 0xCC);
  EXPECT_EQ(GetModuleHandleA("other.dll"), nullptr);
}

// Two rectangles in dialog units that share no point.
bool apart(const resources::ControlTemplate& a, const resources::ControlTemplate& b) {
  return a.x + a.cx <= b.x || b.x + b.cx <= a.x || a.y + a.cy <= b.y || b.y + b.cy <= a.y;
}

TEST(Resources, ProgressDialogShowsEveryControlWholeAndApart) {
  const auto* dialog = resources::findDialog(IDD_UNINSTALL);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->caption, "Uninstalling");
  // A modal window with a caption that the user cannot close, shrink or move
  // to the background: no system menu and no boxes.
  EXPECT_TRUE(dialog->style & DS_MODALFRAME);
  EXPECT_TRUE(dialog->style & WS_VISIBLE);
  EXPECT_EQ(dialog->style & WS_CAPTION, WS_CAPTION);
  EXPECT_FALSE(dialog->style & (WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
  // Every control shows whole inside the dialog, and no two cover each other.
  ASSERT_FALSE(dialog->controls.empty());
  for (size_t i = 0; i < dialog->controls.size(); ++i) {
    const auto& c = dialog->controls[i];
    SCOPED_TRACE(c.id);
    EXPECT_TRUE(c.style & WS_VISIBLE);
    EXPECT_GT(c.cx, 0);
    EXPECT_GT(c.cy, 0);
    EXPECT_GE(c.x, 0);
    EXPECT_GE(c.y, 0);
    EXPECT_LE(c.x + c.cx, dialog->cx);
    EXPECT_LE(c.y + c.cy, dialog->cy);
    for (size_t j = 0; j < i; ++j)
      EXPECT_TRUE(apart(c, dialog->controls[j])) << dialog->controls[j].id;
  }
}

const resources::ControlTemplate* findControl(const resources::DialogTemplate& dialog, int id) {
  for (const auto& c : dialog.controls)
    if (c.id == id) return &c;
  return nullptr;
}

TEST(Resources, ProgressDialogListsTheItemsInStepOrderAboveTheBar) {
  const auto* dialog = resources::findDialog(IDD_UNINSTALL);
  ASSERT_NE(dialog, nullptr);
  // The message names the product where its '$' stands, after some text.
  const auto* message = findControl(*dialog, IDC_MESSAGE);
  ASSERT_NE(message, nullptr);
  EXPECT_EQ(message->kind, ControlKind::Static);
  EXPECT_GT(message->text.find('$'), 0u);
  EXPECT_NE(message->text.find('$'), std::string::npos);
  // The items read from top to bottom in one column, below the message; the
  // two that no step removes are greyed. They are plain check boxes, which a
  // click does not change: only the program marks them.
  struct Item {
    int id;
    const char* label;
    bool disabled;
  };
  const Item items[] = {
      {IDC_ITEM_STARTMENU, "   Program folder in Start menu...", true},
      {IDC_ITEM_DOSPROFILE, "   Entries in DOS profiles...", true},
      {IDC_ITEM_HARDWARE, "   Hardware nodes...", false},
      {IDC_ITEM_REGISTRY, "   Program registry entries...", false},
      {IDC_ITEM_FILES, "   Program files...", false},
  };
  int below = message->y + message->cy;
  for (const Item& item : items) {
    SCOPED_TRACE(item.id);
    const auto* c = findControl(*dialog, item.id);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->kind, ControlKind::CheckBox);
    EXPECT_EQ(c->style & BS_TYPEMASK, BS_CHECKBOX);
    EXPECT_EQ(c->text, item.label);
    EXPECT_EQ((c->style & WS_DISABLED) != 0, item.disabled);
    EXPECT_EQ(c->x, findControl(*dialog, IDC_ITEM_STARTMENU)->x);
    EXPECT_GE(c->y, below);
    below = c->y + c->cy;
  }
  // The progress bar under the last item; the product's icon beside the message.
  const auto* bar = findControl(*dialog, IDC_PROGRESS);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->kind, ControlKind::ProgressBar);
  EXPECT_GE(bar->y, below);
  const auto* icon = findControl(*dialog, IDC_STATIC);
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon->kind, ControlKind::Icon);
  EXPECT_EQ(icon->iconId, IDI_PRODUCT);
  EXPECT_NE(resources::findIcon(icon->iconId), nullptr);
  EXPECT_LE(icon->x + icon->cx, message->x);
}

unsigned littleEndian(const std::string& bytes, size_t at, int size) {
  unsigned value = 0;
  for (int i = size - 1; i >= 0; --i)
    value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

// The icons are .ico files that Windows 95 can read: one image of the system's
// icon size (32 x 32) with a palette of at most 256 colours, and a mask that
// leaves some of it transparent and some of it drawn.
TEST(Resources, IconsAreWindowsIconsOfTheSystemSize) {
  for (UINT id : {IDR_MAINFRAME, IDI_PRODUCT}) {
    SCOPED_TRACE(id);
    const auto* icon = resources::findIcon(id);
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->format, "ico");
    const std::string& ico = icon->bytes;
    // ICONDIR: reserved 0, type 1 (icon), at least one entry.
    ASSERT_GE(ico.size(), 6u + 16u);
    EXPECT_EQ(littleEndian(ico, 0, 2), 0u);
    EXPECT_EQ(littleEndian(ico, 2, 2), 1u);
    EXPECT_GE(littleEndian(ico, 4, 2), 1u);
    // The first entry: 32 x 32, its image inside the file.
    EXPECT_EQ(littleEndian(ico, 6, 1), 32u);
    EXPECT_EQ(littleEndian(ico, 7, 1), 32u);
    const unsigned size = littleEndian(ico, 14, 4);
    const unsigned offset = littleEndian(ico, 18, 4);
    ASSERT_LE(size_t{offset} + size, ico.size());
    // The image: a BITMAPINFOHEADER of twice the height (colours, then mask).
    ASSERT_GE(size, 40u);
    EXPECT_EQ(littleEndian(ico, offset, 4), 40u);
    EXPECT_EQ(littleEndian(ico, offset + 4, 4), 32u);
    EXPECT_EQ(littleEndian(ico, offset + 8, 4), 64u);
    const unsigned bits = littleEndian(ico, offset + 14, 2);
    ASSERT_TRUE(bits == 1 || bits == 4 || bits == 8) << bits;
    const unsigned palette = 4u << bits;
    const unsigned colour_rows = 32u * ((32u * bits + 31u) / 32u * 4u);
    const unsigned mask_rows = 32u * 4u;
    ASSERT_EQ(size, 40u + palette + colour_rows + mask_rows);
    const std::string mask = ico.substr(offset + 40 + palette + colour_rows, mask_rows);
    EXPECT_NE(mask.find_first_not_of('\xff'), std::string::npos) << "nothing is drawn";
    EXPECT_NE(mask.find_first_not_of('\0'), std::string::npos) << "no transparent pixel";
  }
  EXPECT_EQ(resources::findIcon(130), nullptr);
}

std::string parseError(std::string_view text) {
  auto files = [](std::string_view name) -> std::optional<std::string> {
    if (name == "ids.h") return std::string("#define IDS_A 1\n#define IDD_X 7\n");
    return std::nullopt;
  };
  auto result = resources::parseResourceScript("test.rc", text, files);
  if (!result) return result.error();
  return "";
}

TEST(ResourceScript, ErrorsNameTheFileAndLine) {
  // A script that is fine.
  EXPECT_EQ(parseError("#include \"ids.h\"\nSTRINGTABLE\nBEGIN\n IDS_A \"a\"\"b\"\nEND\n"), "");
  // An unknown symbolic id.
  EXPECT_EQ(parseError("STRINGTABLE\nBEGIN\n\n IDS_B \"x\"\nEND\n"),
            "test.rc:4: unknown name IDS_B");
  // A string that is not closed.
  EXPECT_EQ(parseError("STRINGTABLE\nBEGIN\n 1 \"open\nEND\n"), "test.rc:3: string is not closed");
  // A block that never ends.
  EXPECT_EQ(parseError("STRINGTABLE\nBEGIN\n 1 \"x\"\n"),
            "test.rc:4: STRINGTABLE is not closed with END");
  // A missing header or icon file.
  EXPECT_EQ(parseError("#include \"nope.h\"\n"), "test.rc:1: cannot find included file \"nope.h\"");
  EXPECT_EQ(parseError("1 ICON \"i.xpm\"\n"), "test.rc:1: cannot find icon file \"i.xpm\"");
  // A duplicate string id, a bad number and a stray character.
  EXPECT_EQ(parseError("STRINGTABLE BEGIN 1 \"a\" 1 \"b\" END"),
            "test.rc:1: string 1 is defined twice");
  EXPECT_EQ(parseError("STRINGTABLE BEGIN 99999999999 \"a\" END"), "test.rc:1: bad number");
  EXPECT_EQ(parseError("STRINGTABLE BEGIN 1 \"a\" END\n@"), "test.rc:2: unexpected character '@'");
  // A dialog control that is not one the reader knows.
  EXPECT_EQ(
      parseError("#include \"ids.h\"\nIDD_X DIALOG 0,0,10,10\nBEGIN\n LISTBOX 1,2,3,4,5\nEND"),
      "test.rc:4: expected a control statement (LTEXT, CONTROL, ICON, ...)");
}

TEST(ResourceScript, StylesCombineAndNotClearsBits) {
  auto noFiles = [](std::string_view) -> std::optional<std::string> { return std::nullopt; };
  auto result = resources::parseResourceScript(
      "t.rc",
      "5 DIALOG 1, 2, 30, 40\nSTYLE WS_POPUP | WS_CAPTION\nBEGIN\n"
      "  CONTROL \"c\", 9, \"Button\", BS_AUTOCHECKBOX | NOT WS_VISIBLE, 1, 2, 3, 4\n"
      "  LTEXT \"t\", -1, 0, 0, 5, 5, WS_DISABLED\nEND\n",
      noFiles);
  ASSERT_TRUE(result.ok()) << result.error();
  const auto& dialog = result.value().dialogs.at(5);
  EXPECT_EQ(dialog.style, WS_POPUP | WS_CAPTION);
  EXPECT_EQ(dialog.controls[0].kind, ControlKind::CheckBox);
  EXPECT_FALSE(dialog.controls[0].style & WS_VISIBLE);
  EXPECT_EQ(dialog.controls[1].id, -1);
  EXPECT_TRUE(dialog.controls[1].style & WS_DISABLED);
}

}  // namespace
