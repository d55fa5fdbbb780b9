// The uninstall run in one process on the text backend with a scripted clock:
// the order and timing of the steps, the shutdown request and the close.
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <optional>
#include <sstream>

#include "platform/fs/drives.h"
#include "platform/registry/registry_api.h"
#include "platform/registry/registry_store.h"
#include "platform/system/shutdown.h"
#include "platform/toolkit/afxwin.h"
#include "platform/toolkit/backend.h"
#include "platform/toolkit/text/text_backend.h"
#include "product/product.h"
#include "resources/resource.h"
#include "tests/support/active_registry.h"
#include "tests/support/temp_dir.h"
#include "tools/demo/demo_machine.h"
#include "ui/uninstall_dlg.h"

namespace {

using toolkit::text::InputWatch;
using toolkit::text::Millis;
using toolkit::text::Wake;

// Time passes only when the program waits; lines arrive at scripted times.
class ScriptedConsole final : public toolkit::text::Console {
 public:
  struct Line {
    Millis at;
    std::string text;
  };
  explicit ScriptedConsole(std::deque<Line> lines) : m_lines(std::move(lines)) {}
  Millis now() override { return m_now; }
  Wake wait(std::optional<Millis> deadline, InputWatch input) override {
    if (input == InputWatch::Watch && !m_asking) {
      m_asking = true;
      questionTimes.push_back(m_now);
    }
    if (input == InputWatch::Watch && !m_lines.empty() &&
        (!deadline || m_lines.front().at <= *deadline)) {
      m_now = std::max(m_now, m_lines.front().at);
      return Wake::Line;
    }
    if (!deadline) return Wake::EndOfInput;
    m_now = std::max(m_now, *deadline);
    return Wake::Deadline;
  }
  std::string takeLine() override {
    m_asking = false;
    std::string line = m_lines.front().text;
    m_lines.pop_front();
    return line;
  }
  bool echoesInput() const override { return false; }

  // When each question started waiting for its answer.
  std::vector<Millis> questionTimes;

 private:
  Millis m_now{0};
  bool m_asking = false;
  std::deque<Line> m_lines;
};

struct Event {
  Millis at;
  UINT message;
  WPARAM wparam;
};

// A demo machine and its registry for each run, the text backend writing to
// m_out, and everything the run installs taken down again when the test ends,
// also when an assertion ends it early: the hooks capture the test's locals,
// and the Reg*A functions must not be left on a store that is gone.
class Sequencer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(demo::writeDemoMachine(m_dir.path()).has_value());
    setMachineDirectory(m_dir.path());
    auto store = RegistryStore::fromText(demo::demoRegistry());
    ASSERT_TRUE(store.ok()) << store.error();
    m_store = std::move(store).value();
    m_active.emplace(m_store.get());
    StepCounter = 0;
  }
  void TearDown() override {
    toolkit::setMessageHook(nullptr);
    setShutdownHandler(nullptr);
    toolkit::installBackend(nullptr);
    setMachineDirectory({});
  }

  // Installs the text backend on a console that answers with `lines`.
  ScriptedConsole* startTextMode(std::deque<ScriptedConsole::Line> lines) {
    auto console = std::make_unique<ScriptedConsole>(std::move(lines));
    ScriptedConsole* clock = console.get();
    toolkit::installBackend(toolkit::makeTextBackend({&m_out, std::move(console)}));
    return clock;
  }

  test_support::TempDir m_dir{"uinq76-seq"};
  std::unique_ptr<RegistryStore> m_store;
  std::optional<test_support::ScopedActiveRegistry> m_active;  // goes before the store
  std::ostringstream m_out;
};

TEST_F(Sequencer, StepsTickEvery500MsAndTheDialogClosesAfterTheShutdownRequest) {
  // Yes at once; the shutdown notice is answered 300 ms after the last step.
  ScriptedConsole* clock = startTextMode({{Millis{0}, "y"}, {Millis{1800}, ""}});

  std::vector<Event> events;
  toolkit::setMessageHook([&](UINT message, WPARAM wparam) {
    if (message == WM_TIMER || message == WM_COMMAND)
      events.push_back({clock->now(), message, wparam});
  });
  std::optional<Millis> shutdown_at;
  UINT shutdown_flags = 0;
  setShutdownHandler([&](UINT flags, DWORD reason) {
    shutdown_at = clock->now();
    shutdown_flags = flags;
    EXPECT_EQ(reason, 0u);
    EXPECT_EQ(StepCounter, 3);
    return false;  // refused: the dialog closes all the same
  });

  EXPECT_EQ(AfxWinMain(), 0);

  // Three step ticks at 500 ms intervals (the third one's handler ends when
  // the notice is closed), then the close timer and OK.
  ASSERT_EQ(events.size(), 5u) << m_out.str();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(events[i].message, static_cast<UINT>(WM_TIMER));
    EXPECT_EQ(events[i].wparam, CUninstallDlg::kStepTimer);
  }
  EXPECT_EQ(events[0].at, Millis{500});
  EXPECT_EQ(events[1].at, Millis{1000});
  EXPECT_EQ(events[2].at, Millis{1800});
  // The confirmation at the start, the shutdown notice at the third tick.
  EXPECT_EQ(clock->questionTimes, (std::vector<Millis>{Millis{0}, Millis{1500}}));
  ASSERT_TRUE(shutdown_at.has_value());
  EXPECT_EQ(*shutdown_at, Millis{1800});  // only after the notice was closed
  EXPECT_EQ(shutdown_flags, static_cast<UINT>(EWX_SHUTDOWN));
  EXPECT_EQ(events[3].wparam, CUninstallDlg::kCloseTimer);
  EXPECT_EQ(events[3].at, Millis{1900});
  EXPECT_EQ(events[4].message, static_cast<UINT>(WM_COMMAND));
  EXPECT_EQ(events[4].wparam, static_cast<WPARAM>(IDOK));
  EXPECT_EQ(StepCounter, 3);

  // The run went through on the store: the product key is gone.
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vesk\\KivraQ76", 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
}

// The step table and the steps say the same: after each tick the bar stands
// where the table's advances put it and exactly the items of the steps run
// so far are checked. A finishing run redraws the steps done from the table,
// so a table that disagreed with the steps would show a wrong bar.
TEST_F(Sequencer, EachStepAdvancesTheBarAndChecksTheItemAsTheStepTableSays) {
  startTextMode({{Millis{0}, "y"}, {Millis{1800}, ""}});
  std::vector<int> positions;
  std::vector<std::vector<int>> checked;
  toolkit::setMessageHook([&](UINT message, WPARAM wparam) {
    if (message != WM_TIMER || wparam != CUninstallDlg::kStepTimer) return;
    CWnd* dialog = AfxGetApp()->m_pMainWnd;
    ASSERT_NE(dialog, nullptr);
    positions.push_back(static_cast<int>(dialog->SendDlgItemMessage(IDC_PROGRESS, PBM_GETPOS)));
    std::vector<int> items;
    for (int id = IDC_ITEM_STARTMENU; id <= IDC_ITEM_FILES; ++id)
      if (static_cast<WPARAM>(dialog->SendDlgItemMessage(id, BM_GETCHECK)) == BST_CHECKED)
        items.push_back(id);
    checked.push_back(items);
  });
  setShutdownHandler([](UINT, DWORD) { return false; });
  EXPECT_EQ(AfxWinMain(), 0);

  ASSERT_EQ(positions.size(), CUninstallDlg::kSteps.size()) << m_out.str();
  int expected = 0;
  std::vector<int> items;
  for (std::size_t i = 0; i < CUninstallDlg::kSteps.size(); ++i) {
    expected += 20 * CUninstallDlg::kSteps[i].progressSteps;
    items.push_back(CUninstallDlg::kSteps[i].itemId);
    EXPECT_EQ(positions[i], expected) << "after step " << i + 1;
    EXPECT_EQ(checked[i], items) << "after step " << i + 1;
  }
  EXPECT_EQ(expected, 100);
}

// The shutdown notice held open for more than two tick periods: the step
// timer was stopped before the notice opened, so its message loop runs no
// fourth tick, and the run still makes exactly three steps.
TEST_F(Sequencer, NoFurtherStepWhileTheShutdownNoticeIsOpen) {
  // The notice opens at 1500 ms and is answered at 2700 ms.
  ScriptedConsole* clock = startTextMode({{Millis{0}, "y"}, {Millis{2700}, ""}});
  int step_ticks = 0;
  toolkit::setMessageHook([&](UINT message, WPARAM wparam) {
    if (message == WM_TIMER && wparam == CUninstallDlg::kStepTimer) ++step_ticks;
  });
  std::optional<Millis> shutdown_at;
  setShutdownHandler([&](UINT, DWORD) {
    shutdown_at = clock->now();
    return true;
  });

  EXPECT_EQ(AfxWinMain(), 0);
  EXPECT_EQ(step_ticks, 3) << m_out.str();
  EXPECT_EQ(StepCounter, 3);
  EXPECT_EQ(clock->questionTimes, (std::vector<Millis>{Millis{0}, Millis{1500}}));
  EXPECT_EQ(shutdown_at, std::optional<Millis>(Millis{2700}));
}

}  // namespace
