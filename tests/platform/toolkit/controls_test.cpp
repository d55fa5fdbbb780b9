// Control messages on the window tree of the progress dialog's template.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/resources/resources.h"
#include "platform/toolkit/afxwin.h"
#include "platform/toolkit/window.h"

namespace toolkit {
namespace {

constexpr LRESULT kUnchecked = BST_UNCHECKED;
constexpr LRESULT kChecked = BST_CHECKED;

class ControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const resources::DialogTemplate* dialog_template = resources::findDialog(102);
    ASSERT_NE(dialog_template, nullptr);
    m_dialog = createDialogWindow(*dialog_template);
  }
  CWnd& item(int id) {
    Window* child = m_dialog->child(id);
    EXPECT_NE(child, nullptr) << "control " << id;
    return child->owner();
  }
  std::unique_ptr<Window> m_dialog;
};

TEST_F(ControlsTest, TemplateIsLaidOutInPixelsFromDialogUnits) {
  // 233 x 151 dialog units with MS Sans Serif 8 give 349 x 245 pixels.
  CWnd& dialog = m_dialog->owner();
  RECT rect{};
  dialog.GetClientRect(&rect);
  EXPECT_EQ(rect.right, 349);
  EXPECT_EQ(rect.bottom, 245);
  CString caption;
  EXPECT_EQ(dialog.GetWindowText(caption), 12);
  EXPECT_EQ(caption, "Uninstalling");
  // The progress bar at 19,120 of size 197 x 10.
  const Window* bar = m_dialog->child(1006);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->kind, WindowKind::ProgressBar);
  EXPECT_EQ(bar->rect.left, 28);
  EXPECT_EQ(bar->rect.top, 195);
  EXPECT_EQ(bar->rect.right - bar->rect.left, 295);
  EXPECT_EQ(bar->rect.bottom - bar->rect.top, 16);
  // Items 1001 and 1002 start disabled, 1003 to 1005 enabled; all unchecked.
  for (int id = 1001; id <= 1005; ++id) {
    EXPECT_EQ(item(id).IsWindowEnabled(), id >= 1003 ? TRUE : FALSE) << id;
    EXPECT_EQ(item(id).SendMessage(BM_GETCHECK), kUnchecked) << id;
  }
}

TEST_F(ControlsTest, ProgressBarStepsClampsAndWraps) {
  CWnd& bar = item(1006);
  // Win32's defaults: range 0..100, position 0, step 10.
  EXPECT_EQ(bar.SendMessage(PBM_SETSTEP, 20), 10);
  EXPECT_EQ(bar.SendMessage(PBM_GETRANGE, TRUE), 0);
  EXPECT_EQ(bar.SendMessage(PBM_GETRANGE, FALSE), 100);
  // Each step returns the previous position; five steps of 20 reach 100.
  for (int expected = 0; expected < 100; expected += 20)
    EXPECT_EQ(bar.SendMessage(PBM_STEPIT), expected);
  EXPECT_EQ(bar.SendMessage(PBM_GETPOS), 100);
  // One more starts over, keeping the overshoot.
  EXPECT_EQ(bar.SendMessage(PBM_STEPIT), 100);
  EXPECT_EQ(bar.SendMessage(PBM_GETPOS), 20);
  // Positions outside the range are clamped.
  EXPECT_EQ(bar.SendMessage(PBM_SETPOS, 250), 20);
  EXPECT_EQ(bar.SendMessage(PBM_GETPOS), 100);
  EXPECT_EQ(bar.SendMessage(PBM_SETPOS, static_cast<WPARAM>(-5)), 100);
  EXPECT_EQ(bar.SendMessage(PBM_GETPOS), 0);
  // A new range returns the old one and pulls the position into it.
  bar.SendMessage(PBM_SETPOS, 90);
  EXPECT_EQ(bar.SendMessage(PBM_SETRANGE, 0, MAKELPARAM(10, 50)), MAKELPARAM(0, 100));
  EXPECT_EQ(bar.SendMessage(PBM_GETPOS), 50);
  // A negative step wraps below the lower end to the upper end: 15 - 15 is
  // 10 below the range 10..50, so it lands 10 below 50.
  bar.SendMessage(PBM_SETSTEP, static_cast<WPARAM>(-15));
  bar.SendMessage(PBM_SETPOS, 15);
  bar.SendMessage(PBM_STEPIT);
  EXPECT_EQ(bar.SendMessage(PBM_GETPOS), 40);
  // An empty range never moves.
  bar.SendMessage(PBM_SETRANGE, 0, MAKELPARAM(30, 30));
  bar.SendMessage(PBM_STEPIT);
  EXPECT_EQ(bar.SendMessage(PBM_GETPOS), 30);
}

TEST_F(ControlsTest, CheckBoxesAndTexts) {
  CWnd& box = item(1003);
  // BM_SETCHECK sets the state of a check box; values above
  // BST_INDETERMINATE are ignored.
  box.SendMessage(BM_SETCHECK, BST_CHECKED);
  EXPECT_EQ(box.SendMessage(BM_GETCHECK), kChecked);
  box.SendMessage(BM_SETCHECK, BST_INDETERMINATE + 1);
  EXPECT_EQ(box.SendMessage(BM_GETCHECK), kChecked);
  box.SendMessage(BM_SETCHECK, BST_INDETERMINATE);
  EXPECT_EQ(box.SendMessage(BM_GETCHECK), static_cast<LRESULT>(BST_INDETERMINATE));
  box.SendMessage(BM_SETCHECK, BST_UNCHECKED);
  EXPECT_EQ(box.SendMessage(BM_GETCHECK), kUnchecked);
  // A static control has no check state.
  CWnd& text = item(1007);
  text.SendMessage(BM_SETCHECK, BST_CHECKED);
  EXPECT_EQ(text.SendMessage(BM_GETCHECK), kUnchecked);

  // WM_GETTEXT copies what fits and terminates it; bytes beyond stay as they were.
  text.SetWindowText("abcdef");
  char buffer[8];
  std::memset(buffer, 0xCC, sizeof buffer);
  EXPECT_EQ(text.SendMessage(WM_GETTEXT, 4, reinterpret_cast<LPARAM>(buffer)), 3);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(static_cast<unsigned char>(buffer[4]), 0xCC);
  // A zero-sized buffer is not touched.
  std::memset(buffer, 0xCC, sizeof buffer);
  EXPECT_EQ(text.SendMessage(WM_GETTEXT, 0, reinterpret_cast<LPARAM>(buffer)), 0);
  EXPECT_EQ(static_cast<unsigned char>(buffer[0]), 0xCC);
  EXPECT_EQ(text.SendMessage(WM_GETTEXTLENGTH), 6);
  EXPECT_EQ(text.GetWindowTextLength(), 6);

  // EnableWindow returns whether the window was disabled before.
  CWnd& disabled = item(1001);
  EXPECT_EQ(disabled.EnableWindow(TRUE), TRUE);
  EXPECT_EQ(disabled.EnableWindow(FALSE), FALSE);
}

TEST_F(ControlsTest, HandlesOfDestroyedWindowsAreRefused) {
  CWnd control;
  const HWND hwnd = m_dialog->child(1006)->handle();
  EXPECT_EQ(CWnd::FromHandle(hwnd), &m_dialog->child(1006)->owner());
  m_dialog.reset();
  EXPECT_EQ(CWnd::FromHandle(hwnd), nullptr);
  EXPECT_EQ(CWnd::FromHandle(nullptr), nullptr);
  control.m_hWnd = hwnd;  // stale: every call is a harmless no-op
  EXPECT_EQ(control.SendMessage(PBM_STEPIT), 0);
  CString text = "unchanged";
  EXPECT_EQ(control.GetWindowText(text), 0);
  control.m_hWnd = nullptr;
}

TEST(Icons, LoadedFromTheResources) {
  EXPECT_EQ(GetSystemMetrics(SM_CXICON), 32);
  EXPECT_EQ(GetSystemMetrics(SM_CYICON), 32);
  const HICON icon = LoadIconA(AfxGetInstanceHandle(), 128);
  EXPECT_NE(icon, nullptr);
  EXPECT_EQ(LoadIconA(AfxGetInstanceHandle(), 128), icon);  // shared, as Win32 icons are
  EXPECT_NE(LoadIconA(AfxGetInstanceHandle(), 129), nullptr);
  SetLastError(0);
  EXPECT_EQ(LoadIconA(AfxGetInstanceHandle(), 4711), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
}

}  // namespace
}  // namespace toolkit
