// The modal dialog and its message loop on the text backend with a scripted
// clock: timers, posted commands, nested message-box loops, results, binding.
#include <gtest/gtest.h>

#include "tests/platform/toolkit/text_fixture.h"

namespace toolkit::test {
namespace {

using DialogTest = TextBackendTest;
using Log = std::vector<std::string>;

TEST_F(DialogTest, TimersFireInOrderUntilKilledAndResetOnSetTimer) {
  ScriptedDialog dialog;
  std::vector<long long> times;
  dialog.onInit = [](ScriptedDialog& d) {
    d.SetTimer(2, 500);
    d.SetTimer(7, 300);
  };
  dialog.onTimer = [&](ScriptedDialog& d, UINT_PTR id) {
    times.push_back(console().now().count());
    // Timer 7 is killed after its second tick; setting timer 2 again at
    // 1000 ms restarts its period from then.
    if (id == 7 && times.size() >= 3) d.KillTimer(7);
    if (id == 2 && console().now() == ms(1000)) d.SetTimer(2, 400);
    if (console().now() >= ms(1800)) d.EndDialog(5);
  };
  EXPECT_EQ(dialog.DoModal(), 5);
  EXPECT_EQ(dialog.log, (Log{"timer 7", "timer 2", "timer 7", "timer 2", "timer 2", "timer 2"}));
  EXPECT_EQ(times, (std::vector<long long>{300, 500, 600, 1000, 1400, 1800}));
  // The window is gone: the bound controls are detached again.
  EXPECT_EQ(dialog.m_hWnd, nullptr);
  EXPECT_EQ(dialog.progress.m_hWnd, nullptr);
}

TEST_F(DialogTest, PostedCommandRunsAfterTheCurrentHandlerAndEndsTheRun) {
  ScriptedDialog dialog;
  dialog.onInit = [](ScriptedDialog& d) { d.SetTimer(1, 100); };
  dialog.onTimer = [](ScriptedDialog& d, UINT_PTR) {
    d.KillTimer(1);
    EXPECT_EQ(d.PostMessage(WM_COMMAND, IDOK), TRUE);
    d.log.push_back("posted");
  };
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(dialog.log, (Log{"timer 1", "posted", "command 1"}));
}

TEST_F(DialogTest, MessageBoxRunsANestedLoopThatDeliversOtherTimers) {
  ScriptedDialog dialog;
  dialog.onInit = [](ScriptedDialog& d) {
    d.SetTimer(2, 500);
    d.SetTimer(9, 200);
  };
  dialog.onTimer = [&](ScriptedDialog& d, UINT_PTR id) {
    if (id == 9) return;
    d.KillTimer(2);
    EXPECT_EQ(MessageBoxA(GetFocus(), "Notice", "Caption", MB_OK), IDOK);
    d.log.push_back("box closed");
    d.KillTimer(9);
    d.PostMessage(WM_COMMAND, IDOK);
  };
  // The answer comes at 1100 ms: timer 9 fires at 600, 800, 1000 inside the box.
  console().lineAt(ms(1100), "");
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(dialog.log, (Log{"timer 9", "timer 9", "timer 2", "timer 9", "timer 9", "timer 9",
                             "box closed", "command 1"}));
}

TEST_F(DialogTest, CtrlCSendsTheCancelCommand) {
  ScriptedDialog dialog;
  dialog.onInit = [](ScriptedDialog& d) { d.SetTimer(2, 500); };
  console().interruptAt(ms(700));
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_EQ(dialog.log, (Log{"timer 2", "command 2"}));
}

TEST_F(DialogTest, ResultsOfTheModalRun) {
  // A dialog ended in its initialisation is never run.
  ScriptedDialog ended;
  ended.onInit = [](ScriptedDialog& d) { d.EndDialog(42); };
  EXPECT_EQ(ended.DoModal(), 42);
  EXPECT_EQ(output(), "");
  // A missing template fails with -1 and shows nothing.
  ScriptedDialog missing(4711);
  EXPECT_EQ(missing.DoModal(), -1);
  // Clicks on other controls get no default handling.
  ScriptedDialog clicked;
  clicked.onInit = [](ScriptedDialog& d) {
    d.PostMessage(WM_COMMAND, 1003);
    d.PostMessage(WM_COMMAND, IDCANCEL);
  };
  EXPECT_EQ(clicked.DoModal(), IDCANCEL);
  EXPECT_EQ(clicked.log, (Log{"command 1003", "command 2"}));
  // Without a backend nothing can be shown.
  installBackend(nullptr);
  ScriptedDialog alone;
  EXPECT_EQ(alone.DoModal(), -1);
  EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", MB_OK), 0);
}

TEST_F(DialogTest, BindsControlsAndSeesTheTemplate) {
  ScriptedDialog dialog;
  dialog.onInit = [](ScriptedDialog& d) {
    CString text;
    d.message.GetWindowText(text);
    EXPECT_EQ(text.find("Removing the software '$'"), 0u);
    EXPECT_EQ(d.progress.SetStep(20), 10);
    d.progress.StepIt();
    EXPECT_EQ(d.progress.GetPos(), 20);
    // The bound member and the dialog item are the same control.
    EXPECT_EQ(d.GetDlgItem(1006), &d.progress);
    EXPECT_EQ(d.SendDlgItemMessage(1006, PBM_GETPOS), 20);
    EXPECT_EQ(d.SendDlgItemMessage(1003, BM_SETCHECK, BST_CHECKED), 0);
    EXPECT_EQ(d.SendDlgItemMessage(1003, BM_GETCHECK), static_cast<LRESULT>(BST_CHECKED));
    EXPECT_EQ(d.GetDlgItem(4711), nullptr);
    EXPECT_EQ(d.SendDlgItemMessage(4711, PBM_GETPOS), 0);
    d.SetTimer(1, 10);
  };
  dialog.onTimer = [](ScriptedDialog& d, UINT_PTR) {
    // The focus is in the dialog once it is shown.
    EXPECT_EQ(CWnd::GetFocus(), &d);
    EXPECT_EQ(d.IsIconic(), FALSE);
    d.EndDialog(IDOK);
  };
  EXPECT_EQ(GetFocus(), nullptr);
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(GetFocus(), nullptr);
}

TEST_F(DialogTest, MessageHookRunsAfterEveryDeliveredMessage) {
  std::vector<std::pair<UINT, WPARAM>> seen;
  ScriptedDialog dialog;
  dialog.onInit = [](ScriptedDialog& d) { d.SetTimer(2, 500); };
  dialog.onTimer = [&](ScriptedDialog& d, UINT_PTR) {
    // The handler runs before the hook sees its message.
    EXPECT_EQ(seen.size(), 2u);
    d.KillTimer(2);
    d.PostMessage(WM_COMMAND, IDOK);
  };
  setMessageHook([&](UINT message, WPARAM wparam) { seen.emplace_back(message, wparam); });
  EXPECT_EQ(dialog.DoModal(), IDOK);
  const std::vector<std::pair<UINT, WPARAM>> expected = {
      {WM_INITDIALOG, 0}, {WM_PAINT, 0}, {WM_TIMER, 2}, {WM_COMMAND, IDOK}};
  EXPECT_EQ(seen, expected);
}

TEST_F(DialogTest, DeliveryGuardRunsFirstAndCanDropAMessage) {
  ScriptedDialog dialog;
  int ticks_handled = 0;
  dialog.onInit = [](ScriptedDialog& d) { d.SetTimer(2, 500); };
  dialog.onTimer = [&](ScriptedDialog&, UINT_PTR) { ++ticks_handled; };
  int ticks_seen = 0;
  setDeliveryGuard([&](HWND window, UINT message, WPARAM) {
    EXPECT_EQ(window, dialog.m_hWnd);
    if (message != WM_TIMER) return true;
    // The second tick is dropped and the run cancelled instead.
    if (++ticks_seen == 2) {
      dialog.PostMessage(WM_COMMAND, IDCANCEL);
      return false;
    }
    return true;
  });
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_EQ(ticks_seen, 2);
  EXPECT_EQ(ticks_handled, 1);
}

TEST_F(DialogTest, AfxWinMainNeedsAnApplicationAndABackend) {
  struct App : CWinApp {
    int runs = 0;
    BOOL InitInstance() override {
      ++runs;
      return FALSE;
    }
  };
  {
    App app;
    EXPECT_EQ(AfxGetApp(), &app);
    // With a backend the start-up runs once; its FALSE ends the program with 0.
    EXPECT_EQ(AfxWinMain(), 0);
    EXPECT_EQ(app.runs, 1);
    // Without one the questions could not be asked, so start-up never runs.
    installBackend(nullptr);
    EXPECT_EQ(AfxWinMain(), -1);
    EXPECT_EQ(app.runs, 1);
  }
  EXPECT_EQ(AfxGetApp(), nullptr);
  EXPECT_EQ(AfxWinMain(), -1);
}

}  // namespace
}  // namespace toolkit::test
