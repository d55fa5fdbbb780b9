// The real program with its Qt window on the offscreen platform: the boxes
// are answered and the dialog is watched from the program's own event loops,
// as a user would see them. Screenshots of each stage go to the build folder.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "app/host_steps.h"
#include "shell/host/host.h"
#include "tests/e2e/machine_fixture.h"
#include "tests/e2e/machine_snapshot.h"
#include "tests/e2e/program_runner.h"
#include "ui/uninstall_dlg.h"

namespace e2e {
namespace {

// One script per process: Qt calls the pre-routine from the constructor of
// the program's QApplication, and the routine starts the poll that plays it.
// The script returns true once it has done its part; the poll then waits for
// the program to end.
std::function<bool()> g_script;

// What the test waits for now, and since when. Every wait has a deadline:
// past it the test fails with what it waited for, and the program is wound
// down (each box and the dialog are answered with Esc) so that the test ends
// at once; a program that does not end then is stopped.
constexpr qint64 kWaitDeadlineMs = 10000;
constexpr qint64 kWindDownMs = 5000;
std::string g_waitingFor;
QElapsedTimer g_waitingSince;
bool g_windingDown = false;
QElapsedTimer g_windDownSince;

void waitFor(const std::string& what) {
  if (what == g_waitingFor) return;
  g_waitingFor = what;
  g_waitingSince.start();
}

void windDown() {
  if (g_windDownSince.elapsed() > kWindDownMs) {
    std::fprintf(stderr, "the program did not end after its windows were answered with Esc\n");
    std::fflush(stderr);
    std::_Exit(1);
  }
  if (QWidget* modal = QApplication::activeModalWidget()) {
    QTest::keyClick(modal, Qt::Key_Escape);
  }
}

void startScript() {
  g_waitingFor.clear();
  g_windingDown = false;
  waitFor("the first step of the script");
  auto* poll = new QTimer(QCoreApplication::instance());
  QObject::connect(poll, &QTimer::timeout, [] {
    if (g_windingDown) return windDown();
    if (g_script && g_script()) {
      g_script = nullptr;
      waitFor("the program to end after the script's last step");
    }
    if (g_waitingSince.elapsed() > kWaitDeadlineMs) {
      ADD_FAILURE() << "waited more than " << kWaitDeadlineMs / 1000 << " s for " << g_waitingFor;
      g_windingDown = true;
      g_windDownSince.start();
    }
  });
  poll->start(10);
}

QDialog* progressDialog() {
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (widget->objectName() == "dialog102" && widget->isVisible())
      return qobject_cast<QDialog*>(widget);
  return nullptr;
}

template <typename T>
T* control(int id) {
  QDialog* dialog = progressDialog();
  return dialog != nullptr ? dialog->findChild<T*>(QString::number(id)) : nullptr;
}

QMessageBox* activeBox() {
  auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
  return box != nullptr && box->isVisible() ? box : nullptr;
}

void screenshot(QWidget* widget, const char* name) {
  EXPECT_TRUE(widget->grab().save(QString(UINQ_SCREENSHOT_DIR "/") + name + ".png")) << name;
}

int runProgram(const TempMachine& machine) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  const std::string machine_arg = machine.machineArg();
  std::string name = "uinq76", ui = "--ui=gui";
  char* argv[] = {name.data(), const_cast<char*>(machine_arg.c_str()), ui.data(), nullptr};
  int argc = 3;
  qAddPreRoutine(startScript);
  // The step counter lives as long as the process; each run starts afresh.
  StepCounter = 0;
  // As the program's own entry does: runs are backed up and can be finished.
  static const host::UninstallSteps steps = UninstallStepsForHost();
  return host::runHost(argc, argv, &steps);
}

struct Observed {
  QString caption, message;
  std::vector<int> progress;
  bool items_1001_1002_ever_enabled_or_checked = false;
};

void watchDialog(Observed& seen) {
  QDialog* dialog = progressDialog();
  if (dialog == nullptr) return;
  seen.caption = dialog->windowTitle();
  if (auto* label = control<QLabel>(1007)) seen.message = label->text();
  if (auto* bar = control<QProgressBar>(1006))
    if (seen.progress.empty() || seen.progress.back() != bar->value())
      seen.progress.push_back(bar->value());
  for (int id : {1001, 1002})
    if (auto* item = control<QCheckBox>(id); item && (item->isEnabled() || item->isChecked()))
      seen.items_1001_1002_ever_enabled_or_checked = true;
}

TEST(QtWindow, AnsweringTheBoxesRunsTheWholeUninstall) {
  TempMachine machine;
  Observed seen;
  int stage = 0;
  QString confirm_text, confirm_title, notice_text;
  bool checks_at_notice[3] = {};
  g_script = [&]() -> bool {
    watchDialog(seen);
    QMessageBox* box = activeBox();
    switch (stage) {
      case 0:  // the confirmation, before any window of the program
        waitFor("the confirmation box");
        if (box == nullptr) return false;
        confirm_text = box->text();
        confirm_title = box->windowTitle();
        EXPECT_EQ(progressDialog(), nullptr);
        screenshot(box, "qt-1-confirm");
        QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);
        stage = 1;
        return false;
      case 1:  // the dialog as it opens
        waitFor("the progress dialog to open");
        if (progressDialog() == nullptr) return false;
        screenshot(progressDialog(), "qt-2-opened");
        stage = 2;
        return false;
      case 2:
      case 3:  // after the first and the second step
        waitFor(stage == 2 ? "the progress bar at 60 after the first step"
                           : "the progress bar at 80 after the second step");
        if (auto* bar = control<QProgressBar>(1006); bar && bar->value() == 20 + 20 * stage) {
          screenshot(progressDialog(), stage == 2 ? "qt-3-hardware" : "qt-4-registration");
          ++stage;
        }
        return false;
      case 4:  // the shutdown notice over the finished dialog
        waitFor("the shutdown notice");
        if (box == nullptr) return false;
        notice_text = box->text();
        for (int i = 0; i < 3; ++i) checks_at_notice[i] = control<QCheckBox>(1003 + i)->isChecked();
        screenshot(progressDialog(), "qt-5-files");
        screenshot(box, "qt-6-shutdown-notice");
        QTest::keyClick(box, Qt::Key_Return);
        stage = 5;
        return true;
    }
    return true;
  };

  EXPECT_EQ(runProgram(machine), 0);
  EXPECT_EQ(stage, 5);
  EXPECT_EQ(confirm_title, "Kivra Q76 Uninstallation");
  EXPECT_EQ(confirm_text, "Do you really want to uninstall this software?");
  EXPECT_EQ(seen.caption, "Uninstalling Kivra Q76 Audio Drivers...");
  EXPECT_TRUE(seen.message.startsWith(
      "Removing the software 'Kivra Q76 Audio Drivers' from your computer."));
  EXPECT_EQ(seen.progress, (std::vector<int>{0, 60, 80, 100}));
  EXPECT_FALSE(seen.items_1001_1002_ever_enabled_or_checked);
  EXPECT_TRUE(notice_text.startsWith("The uninstaller need to shut down Windows"));
  EXPECT_TRUE(checks_at_notice[0] && checks_at_notice[1] && checks_at_notice[2]);

  const RegistryView reg(machine.read("registry.reg"));
  EXPECT_FALSE(reg.hasKey(HKEY_LOCAL_MACHINE, "Enum\\ROOT\\OPT0930MEDIA"));
  EXPECT_FALSE(reg.hasKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vesk\\KivraQ76"));
  EXPECT_FALSE(machine.exists("drive_c/WINDOWS/INF/OEM1.INF"));
  EXPECT_NE(machine.read("drive_c/AUTOEXEC.BAT").find("C:\\WINDOWS\\UINQ76D.EXE C:\\WINDOWS"),
            std::string::npos);
}

// Esc (cancel) and Enter (OK) between the first and second tick end the run;
// the steps not yet run never run.
void endAfterFirstStep(int key, const char* shot) {
  TempMachine machine;
  const auto autoexec = machine.read("drive_c/AUTOEXEC.BAT");
  int stage = 0;
  g_script = [&]() -> bool {
    if (stage == 0) {
      waitFor("the confirmation box");
      if (QMessageBox* box = activeBox()) {
        QTest::keyClick(box, Qt::Key_Return);  // Yes is the default button
        stage = 1;
      }
      return false;
    }
    waitFor("the progress bar at 60 after the first step");
    auto* bar = control<QProgressBar>(1006);
    if (bar == nullptr || bar->value() != 60) return false;
    screenshot(progressDialog(), shot);
    QTest::keyClick(progressDialog(), static_cast<Qt::Key>(key));
    stage = 2;
    return true;
  };
  EXPECT_EQ(runProgram(machine), 0);
  EXPECT_EQ(stage, 2);
  const RegistryView reg(machine.read("registry.reg"));
  EXPECT_FALSE(reg.hasKey(HKEY_LOCAL_MACHINE, "Enum\\ROOT\\OPT0930MEDIA"));
  EXPECT_TRUE(reg.hasKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vesk\\KivraQ76"));
  EXPECT_TRUE(machine.exists("drive_c/WINDOWS/INF/OEM1.INF"));
  EXPECT_EQ(machine.read("drive_c/AUTOEXEC.BAT"), autoexec);
}

TEST(QtWindow, EscBetweenTicksCancelsTheRest) { endAfterFirstStep(Qt::Key_Escape, "qt-esc"); }
TEST(QtWindow, EnterBetweenTicksEndsTheRun) { endAfterFirstStep(Qt::Key_Return, "qt-enter"); }

TEST(QtWindow, DecliningChangesNothing) {
  TempMachine machine;
  const auto registry = machine.read("registry.reg");
  g_script = [&]() -> bool {
    waitFor("the confirmation box");
    QMessageBox* box = activeBox();
    if (box == nullptr) return false;
    QTest::mouseClick(box->button(QMessageBox::No), Qt::LeftButton);
    return true;
  };
  EXPECT_EQ(runProgram(machine), 0);
  EXPECT_EQ(machine.read("registry.reg"), registry);
}

TEST(QtWindow, NotInstalledShowsItsMessage) {
  TempMachine machine;
  machine.replaceInRegistry("\"Title\"=\"Kivra Q76 Audio Drivers\"", "\"Name\"=\"x\"");
  QString second;
  int boxes = 0;
  g_script = [&]() -> bool {
    waitFor(boxes == 0 ? "the confirmation box" : "the not-installed message");
    QMessageBox* box = activeBox();
    if (box == nullptr) return false;
    ++boxes;
    if (boxes == 1) {
      QTest::keyClick(box, Qt::Key_Return);
      return false;
    }
    second = box->text();
    screenshot(box, "qt-not-installed");
    QTest::keyClick(box, Qt::Key_Return);
    return true;
  };
  EXPECT_EQ(runProgram(machine), 0);
  EXPECT_EQ(second,
            "The software is not properly installed. The uninstallation procedure cannot be "
            "performed correcly!");
}

// A run cut off after its first step (in text mode) is offered in a box on
// the next start; Yes finishes it in the window, starting at 60%.
TEST(QtWindow, ACutOffRunIsOfferedAndFinishedInTheWindow) {
  TempMachine machine;
  {
    ProgramRunner runner({machine.machineArg(), "--ui", "text"});
    runner.write("y\n");
    ASSERT_TRUE(runner.waitForOutput("60%")) << runner.output();
    runner.signal(SIGINT);
    ASSERT_EQ(runner.wait(), 0) << runner.errors();
  }
  TempMachine reference;
  ASSERT_EQ(e2e::runProgram({reference.machineArg(), "--ui", "text"}, "y\n\n").status, 0);

  Observed seen;
  int stage = 0;
  QString offer, offer_title;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  g_script = [&]() -> bool {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "no progress after 20 s at stage " << stage;
      std::fflush(stdout);
      std::_Exit(1);
    }
    watchDialog(seen);
    QMessageBox* box = activeBox();
    if (box == nullptr) return false;
    if (stage == 0) {
      offer = box->text();
      offer_title = box->windowTitle();
      screenshot(box, "qt-finish-offer");
      QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);
      stage = 1;
      return false;
    }
    QTest::keyClick(box, Qt::Key_Return);  // the shutdown notice
    stage = 2;
    return true;
  };
  EXPECT_EQ(runProgram(machine), 0);
  EXPECT_EQ(stage, 2);
  EXPECT_EQ(offer_title, "Kivra Q76 Uninstallation");
  EXPECT_TRUE(offer.startsWith("The uninstallation of 'Kivra Q76 Audio Drivers' was interrupted"))
      << offer.toStdString();
  EXPECT_TRUE(offer.contains("Not done yet: Program registry entries, Program files."));
  EXPECT_EQ(seen.caption, "Uninstalling Kivra Q76 Audio Drivers...");
  EXPECT_EQ(seen.progress, (std::vector<int>{60, 80, 100}));
  EXPECT_EQ(firstDifference(snapshotMachine(reference.dir()), snapshotMachine(machine.dir())), "");
}

}  // namespace
}  // namespace e2e
