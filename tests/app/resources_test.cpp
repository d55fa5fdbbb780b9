#include "platform/resources/resources.h"

#include <gtest/gtest.h>

#include <cstring>

#include "app/resource.h"
#include "platform/resources/rc_script.h"

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

TEST(Resources, ProgressDialogTemplate) {
  const auto* dialog = resources::findDialog(IDD_UNINSTALL);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->caption, "Uninstalling");
  EXPECT_EQ(dialog->fontName, "MS Sans Serif");
  EXPECT_EQ(dialog->pointSize, 8);
  EXPECT_EQ(dialog->x, 0);
  EXPECT_EQ(dialog->cx, 233);
  EXPECT_EQ(dialog->cy, 151);
  // A popup with a caption and a modal frame, visible, without system menu or boxes.
  EXPECT_TRUE(dialog->style & DS_MODALFRAME);
  EXPECT_TRUE(dialog->style & WS_VISIBLE);
  EXPECT_EQ(dialog->style & WS_CAPTION, WS_CAPTION);
  EXPECT_FALSE(dialog->style & (WS_SYSMENU | WS_MINIMIZEBOX));
  ASSERT_EQ(dialog->controls.size(), 8u);

  struct Expected {
    int id;
    ControlKind kind;
    const char* text;
    int x, y, cx, cy;
    bool disabled;
  };
  const Expected expected[] = {
      {IDC_MESSAGE, ControlKind::Static,
       "Removing the software '$' from your computer. Please wait while each of the following "
       "components are removed...",
       54, 8, 164, 34, false},
      {IDC_ITEM_STARTMENU, ControlKind::CheckBox, "   Program folder in Start menu...", 61, 43, 140,
       8, true},
      {IDC_ITEM_DOSPROFILE, ControlKind::CheckBox, "   Entries in DOS profiles...", 61, 56, 140, 8,
       true},
      {IDC_ITEM_HARDWARE, ControlKind::CheckBox, "   Hardware nodes...", 61, 69, 140, 8, false},
      {IDC_ITEM_REGISTRY, ControlKind::CheckBox, "   Program registry entries...", 61, 82, 140, 8,
       false},
      {IDC_ITEM_FILES, ControlKind::CheckBox, "   Program files...", 61, 95, 140, 8, false},
      {IDC_PROGRESS, ControlKind::ProgressBar, "", 19, 120, 197, 10, false},
      {IDC_STATIC, ControlKind::Icon, "", 16, 10, 18, 20, false},
  };
  for (size_t i = 0; i < std::size(expected); ++i) {
    const auto& c = dialog->controls[i];
    const auto& e = expected[i];
    SCOPED_TRACE(e.id);
    EXPECT_EQ(c.id, e.id);
    EXPECT_EQ(c.kind, e.kind);
    EXPECT_EQ(c.text, e.text);
    EXPECT_EQ(c.x, e.x);
    EXPECT_EQ(c.y, e.y);
    EXPECT_EQ(c.cx, e.cx);
    EXPECT_EQ(c.cy, e.cy);
    EXPECT_EQ((c.style & WS_DISABLED) != 0, e.disabled);
    EXPECT_TRUE(c.style & WS_VISIBLE);
  }
  // Plain check boxes: the program alone sets their marks.
  EXPECT_EQ(dialog->controls[3].style & BS_TYPEMASK, BS_CHECKBOX);
  EXPECT_TRUE(dialog->controls[6].style & WS_BORDER);
  EXPECT_EQ(dialog->controls[7].iconId, IDI_PRODUCT);
}

// The icons are the .ico files that the build makes from the XPM drawings:
// one 32x32 image in 16 colours with its mask, as Windows 95 reads them.
TEST(Resources, IconsAreWindowsIcons) {
  for (UINT id : {IDR_MAINFRAME, IDI_PRODUCT}) {
    const auto* icon = resources::findIcon(id);
    ASSERT_NE(icon, nullptr) << id;
    EXPECT_EQ(icon->format, "ico");
    // ICONDIR with one entry: 32x32, 16 colours, 1 plane, 4 bits a pixel,
    // 744 bytes of image right after the directory.
    const std::string header("\0\0\1\0\1\0\x20\x20\x10\0\1\0\4\0\xe8\2\0\0\x16\0\0\0", 22);
    EXPECT_EQ(icon->bytes.substr(0, 22), header);
    ASSERT_EQ(icon->bytes.size(), 22u + 744u);
    // The mask is stored bottom-up after the header (40), the palette (64)
    // and the colour image (512). The drawings' top row is transparent, and
    // their ninth row begins with two transparent pixels.
    const std::string mask = icon->bytes.substr(22 + 40 + 64 + 512);
    EXPECT_EQ(mask.substr(31 * 4), std::string(4, '\xff'));
    EXPECT_EQ(static_cast<unsigned char>(mask[23 * 4]), 0xC0);
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
