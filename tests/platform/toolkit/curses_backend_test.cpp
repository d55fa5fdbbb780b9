// The drawn text mode's loops on a real pseudo-terminal, in process: the
// window timers keep firing while a message box is open, as in the other
// backends.
#include "platform/toolkit/curses/curses_backend.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "tests/platform/toolkit/text_fixture.h"

namespace toolkit::test {
namespace {

// Standard input and output on the slave side of a pseudo-terminal while it
// exists; the master side is read (and thrown away) by a thread, so that
// drawing never blocks.
class PseudoTerminal {
 public:
  PseudoTerminal() {
    winsize size = {24, 80, 0, 0};
    if (::openpty(&m_master, &m_slave, nullptr, nullptr, &size) != 0) return;
    std::fflush(stdout);
    m_savedIn = ::dup(STDIN_FILENO);
    m_savedOut = ::dup(STDOUT_FILENO);
    ::dup2(m_slave, STDIN_FILENO);
    ::dup2(m_slave, STDOUT_FILENO);
    m_reader = std::thread([this] {
      char buffer[4096];
      while (!m_stop && ::read(m_master, buffer, sizeof buffer) > 0) {
      }
    });
  }
  ~PseudoTerminal() {
    if (m_master < 0) return;
    std::fflush(stdout);
    ::dup2(m_savedIn, STDIN_FILENO);
    ::dup2(m_savedOut, STDOUT_FILENO);
    ::close(m_savedIn);
    ::close(m_savedOut);
    m_stop = true;
    ::close(m_slave);  // the reader's read() ends
    m_reader.join();
    ::close(m_master);
  }
  bool ready() const { return m_master >= 0; }
  void type(const char* keys) {
    [[maybe_unused]] const ssize_t written = ::write(m_master, keys, std::strlen(keys));
  }

 private:
  int m_master = -1;
  int m_slave = -1;
  int m_savedIn = -1;
  int m_savedOut = -1;
  std::atomic<bool> m_stop = false;
  std::thread m_reader;
};

TEST(CursesBackend, TimersFireInsideAMessageBox) {
  ::setenv("TERM", "xterm", 1);
  PseudoTerminal terminal;
  ASSERT_TRUE(terminal.ready());
  std::unique_ptr<Backend> backend = makeCursesBackend();
  ASSERT_NE(backend, nullptr);
  installBackend(std::move(backend));

  int ticks = 0;
  std::atomic<int> ticks_in_box = 0;
  std::atomic<bool> done = false;
  // Should the timers stop inside the box, Enter closes it after a while
  // all the same, and the test fails instead of waiting for ever.
  std::thread deadline([&] {
    for (int waited = 0; waited < 5000 && !done; waited += 10)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!done && ticks_in_box < 3) terminal.type("\r");
  });
  bool in_box = false;
  int answer = 0;
  ScriptedDialog dialog;
  dialog.onInit = [](ScriptedDialog& d) { d.SetTimer(2, 20); };
  dialog.onTimer = [&](ScriptedDialog& d, UINT_PTR) {
    ++ticks;
    if (in_box) {
      // Three ticks while the box waits, then Enter presses its OK.
      if (++ticks_in_box == 3) terminal.type("\r");
      return;
    }
    if (ticks == 1) {
      in_box = true;
      answer = MessageBoxA(d.GetSafeHwnd(), "Notice", "Caption", MB_OK);
      in_box = false;
      d.KillTimer(2);
      d.PostMessage(WM_COMMAND, IDOK);
    }
  };
  EXPECT_EQ(dialog.DoModal(), IDOK);
  done = true;
  deadline.join();
  installBackend(nullptr);
  EXPECT_EQ(answer, IDOK);
  EXPECT_GE(ticks_in_box, 3);
}

// Tab and the arrows move round the buttons of a box and wrap at either end,
// so that Enter always presses one of them.
TEST(CursesBackend, TabWrapsRoundTheButtonsOfABox) {
  ::setenv("TERM", "xterm", 1);
  PseudoTerminal terminal;
  ASSERT_TRUE(terminal.ready());
  std::unique_ptr<Backend> backend = makeCursesBackend();
  ASSERT_NE(backend, nullptr);
  installBackend(std::move(backend));

  const struct {
    const char* keys;
    int answer;
  } cases[] = {
      {"\t\r", IDNO},          // Yes, the default, then No
      {"\t\t\r", IDCANCEL},    // the last button
      {"\t\t\t\r", IDYES},     // past the last: back to the first
      {"\t\t\t\t\r", IDNO},    // and on
      {"\x1b[Z\r", IDCANCEL},  // Shift-Tab before the first: the last
      // The arrows as xterm sends them in keypad mode: Left goes back,
      // Right goes on.
      {"\x1bOD\r", IDCANCEL},          // Left before the first: the last
      {"\x1bOD\x1bOD\r", IDNO},        // and back once more
      {"\x1bOC\r", IDNO},              // Right: the next
      {"\x1bOC\x1bOC\x1bOD\r", IDNO},  // on twice, back once
  };
  for (const auto& c : cases) {
    std::atomic<bool> done = false;
    std::atomic<bool> timed_out = false;
    // Should the keys not close the box, Esc does after 5 s and the case fails.
    std::thread deadline([&] {
      for (int waited = 0; waited < 5000 && !done; waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (!done) {
        timed_out = true;
        terminal.type("\x1b");
      }
    });
    terminal.type(c.keys);
    const int answer = MessageBoxA(nullptr, "Finish?", "Caption", MB_YESNOCANCEL);
    done = true;
    deadline.join();
    EXPECT_FALSE(timed_out) << "the box did not close on " << c.keys;
    EXPECT_EQ(answer, c.answer) << "keys: " << c.keys;
  }
  installBackend(nullptr);
}

}  // namespace
}  // namespace toolkit::test
