// The text mode as scripts see it: message-box answers and the dialog's lines.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>

#include "platform/toolkit/text/console.h"
#include "tests/platform/toolkit/text_fixture.h"

namespace toolkit::test {
namespace {

using TextModeTest = TextBackendTest;

TEST_F(TextModeTest, YesNoAnswers) {
  struct Row {
    const char* name;
    std::vector<std::string> lines;  // answered in turn; none: end of input
    int expected;
  };
  const Row rows[] = {
      {"lower y", {"y"}, IDYES},
      {"upper Y with more", {"Yes please"}, IDYES},
      {"lower n", {"n"}, IDNO},
      {"upper N", {"NO"}, IDNO},
      {"empty line is the default, Yes", {""}, IDYES},
      {"garbage asks again", {"maybe", "?", "y"}, IDYES},
      {"end of input is No", {}, IDNO},
  };
  long long at = 0;
  for (const Row& row : rows) {
    for (const std::string& line : row.lines) console().lineAt(ms(at), line);
    if (row.lines.empty()) console().endAt(ms(at));
    EXPECT_EQ(MessageBoxA(nullptr, "Do you really?", "Caption", MB_YESNO), row.expected)
        << row.name;
    ++at;
  }
  // The end of input stays: every later box gets the same answer.
  EXPECT_EQ(MessageBoxA(nullptr, "Again?", "Caption", MB_YESNO | MB_DEFBUTTON2), IDNO);
  EXPECT_EQ(output().substr(0, 31), "Caption\nDo you really?\n[Y/n] y\n");
  // Garbage repeats the prompt; the end of input closes the line.
  EXPECT_NE(output().find("[Y/n] maybe\n[Y/n] ?\n[Y/n] y\n"), std::string::npos);
  EXPECT_NE(output().find("Caption\nAgain?\n[y/N] \n"), std::string::npos);
}

TEST_F(TextModeTest, OkAndCancelAnswers) {
  // An OK box takes any line; the end of input and Ctrl-C also close it.
  console().lineAt(ms(0), "whatever");
  EXPECT_EQ(MessageBoxA(nullptr, "Notice", "Caption", MB_OK), IDOK);
  console().interruptAt(ms(1));
  EXPECT_EQ(MessageBoxA(nullptr, "Notice", "Caption", MB_OK), IDOK);
  // Ctrl-C answers Cancel where the box has it, else No.
  console().interruptAt(ms(2));
  EXPECT_EQ(MessageBoxA(nullptr, "Sure?", "Caption", MB_YESNOCANCEL), IDCANCEL);
  console().interruptAt(ms(3));
  EXPECT_EQ(MessageBoxA(nullptr, "Sure?", "Caption", MB_YESNO), IDNO);
  console().lineAt(ms(4), "c");
  EXPECT_EQ(MessageBoxA(nullptr, "Go?", "Caption", MB_OKCANCEL), IDCANCEL);
  // Button sets the text mode does not offer fail as an invalid parameter.
  SetLastError(0);
  EXPECT_EQ(MessageBoxA(nullptr, "Retry?", "Caption", 5 /* MB_RETRYCANCEL */), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_NE(output().find("Caption\nNotice\n[OK] whatever\n"), std::string::npos);
  EXPECT_NE(output().find("[O/c] c\n"), std::string::npos);
}

TEST_F(TextModeTest, DialogPrintsItsHeadingAndEveryChangedState) {
  ScriptedDialog dialog;
  dialog.onInit = [](ScriptedDialog& d) {
    d.SetWindowText("Uninstalling Q76...");
    d.message.SetWindowText("Removing Q76.");
    d.progress.SetStep(20);
    d.SetTimer(2, 500);
  };
  dialog.onTimer = [](ScriptedDialog& d, UINT_PTR) {
    const size_t tick = d.log.size();
    if (tick == 1) {
      for (int i = 0; i < 3; ++i) d.progress.StepIt();
      d.SendDlgItemMessage(1003, BM_SETCHECK, BST_CHECKED);
    } else if (tick == 3) {  // the second tick changes nothing and prints nothing
      d.progress.StepIt();
      d.SendDlgItemMessage(1004, BM_SETCHECK, BST_CHECKED);
      d.KillTimer(2);
      d.PostMessage(WM_COMMAND, IDOK);
    }
    d.log.push_back("-");
  };
  EXPECT_EQ(dialog.DoModal(), IDOK);
  const std::string items_before =
      "[ ] Program folder in Start menu... (disabled)\n"
      "[ ] Entries in DOS profiles... (disabled)\n";
  EXPECT_EQ(output(),
            "Uninstalling Q76...\nRemoving Q76.\n"
            "Progress: 0%\n" +
                items_before +
                "[ ] Hardware nodes...\n[ ] Program registry entries...\n[ ] Program files...\n"
                "Progress: 60%\n" +
                items_before +
                "[x] Hardware nodes...\n[ ] Program registry entries...\n[ ] Program files...\n"
                "Progress: 80%\n" +
                items_before +
                "[x] Hardware nodes...\n[x] Program registry entries...\n[ ] Program files...\n");
}

// What was shown is recorded in order with how it ended, whatever backend
// showed it; a box that could not be shown is not.
TEST_F(TextModeTest, RecordsWhatWasShown) {
  clearShown();
  console().lineAt(ms(0), "n");
  EXPECT_EQ(MessageBoxA(nullptr, "Sure?", "Caption", MB_YESNO), IDNO);
  EXPECT_EQ(MessageBoxA(nullptr, "Retry?", "Caption", 5 /* MB_RETRYCANCEL */), 0);
  ScriptedDialog dialog;
  dialog.onInit = [](ScriptedDialog& d) {
    d.SetWindowText("Uninstalling Q76...");
    d.PostMessage(WM_COMMAND, IDCANCEL);
  };
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  const std::vector<Shown>& shown = shownSoFar();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].kind, Shown::Kind::MessageBox);
  EXPECT_EQ(shown[0].style, static_cast<UINT>(MB_YESNO));
  EXPECT_EQ(shown[0].caption, "Caption");
  EXPECT_EQ(shown[0].result, IDNO);
  EXPECT_EQ(shown[1].kind, Shown::Kind::Dialog);
  EXPECT_EQ(shown[1].style, kProgressDialog);
  EXPECT_EQ(shown[1].caption, "Uninstalling Q76...");
  EXPECT_EQ(shown[1].result, IDCANCEL);
  clearShown();
  EXPECT_TRUE(shownSoFar().empty());
}

// The real console on a pipe: lines, a last line without a line break, the
// end of the input, deadlines and Ctrl-C.
TEST(TerminalConsole, ReadsLinesWaitsAndCatchesCtrlC) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const std::string input = "yes\r\nno\nlast";
  ASSERT_EQ(::write(fds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
  ::close(fds[1]);
  {
    auto console = text::makeTerminalConsole(fds[0]);
    EXPECT_FALSE(console->echoesInput());
    using text::InputWatch;
    using text::Wake;
    // Input is not read while it is not watched: the deadline passes.
    const Millis start = console->now();
    EXPECT_EQ(console->wait(start + ms(20), InputWatch::Ignore), Wake::Deadline);
    EXPECT_GE(console->now() - start, ms(20));
    EXPECT_EQ(console->wait(std::nullopt, InputWatch::Watch), Wake::Line);
    EXPECT_EQ(console->takeLine(), "yes");
    EXPECT_EQ(console->wait(std::nullopt, InputWatch::Watch), Wake::Line);
    EXPECT_EQ(console->takeLine(), "no");
    EXPECT_EQ(console->wait(std::nullopt, InputWatch::Watch), Wake::Line);
    EXPECT_EQ(console->takeLine(), "last");
    EXPECT_EQ(console->wait(std::nullopt, InputWatch::Watch), Wake::EndOfInput);
    // Ctrl-C wakes a wait without a deadline instead of ending the process.
    std::raise(SIGINT);
    EXPECT_EQ(console->wait(std::nullopt, InputWatch::Ignore), Wake::Interrupt);
  }
  ::close(fds[0]);
}

}  // namespace
}  // namespace toolkit::test
