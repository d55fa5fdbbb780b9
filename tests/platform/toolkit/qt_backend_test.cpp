// The Qt window on the offscreen platform: layout from dialog units, window
// hints, keys and the close button as commands, plain check boxes, message
// boxes with their nested loop, and a screenshot for a look by eye.
#include "platform/toolkit/qt/qt_backend.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <functional>

#include "tests/platform/toolkit/text_fixture.h"

namespace toolkit::test {
namespace {

class QtBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    installBackend(makeQtBackend(m_argc, m_argv));
    ASSERT_TRUE(currentBackend()->enable3dControls());
  }
  void TearDown() override {
    // No window may be left open.
    for (QWidget* widget : QApplication::topLevelWidgets())
      EXPECT_FALSE(widget->isVisible()) << widget->metaObject()->className();
    setMessageHook(nullptr);
    installBackend(nullptr);
  }

  static QDialog* view() {
    for (QWidget* widget : QApplication::topLevelWidgets())
      if (widget->objectName() == "dialog102" && widget->isVisible())
        return qobject_cast<QDialog*>(widget);
    return nullptr;
  }
  template <typename T>
  static T* control(int id) {
    QDialog* dialog = view();
    return dialog != nullptr ? dialog->findChild<T*>(QString::number(id)) : nullptr;
  }

  // Runs `act` on the message box once it is the active modal window and
  // `ready` holds, polling from the event loop that the box runs.
  static void whenMessageBox(
      std::function<void(QMessageBox&)> act, std::function<bool()> ready = [] { return true; }) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, act, ready] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || !box->isVisible() || !ready()) return;
      poll->stop();
      poll->deleteLater();
      act(*box);
    });
    poll->start(10);
  }

  // Runs `act` from the dialog's own loop once the dialog is shown.
  static void whenShown(ScriptedDialog& dialog, std::function<void(QDialog&)> act) {
    dialog.onInit = [act](ScriptedDialog&) {
      QTimer::singleShot(0, [act] {
        QDialog* shown = view();
        ASSERT_NE(shown, nullptr);
        act(*shown);
      });
    };
  }

 private:
  int m_argc = 1;
  char m_name[20] = "toolkit_qt_tests";
  char* m_argv[2] = {m_name, nullptr};
};

TEST_F(QtBackendTest, LaysOutTheTemplateInPixelsAtAFixedSize) {
  ScriptedDialog dialog;
  dialog.onInit = [](ScriptedDialog& d) {
    d.CenterWindow();
    d.SetWindowText("Uninstalling Kivra Q76...");
    d.progress.SetStep(20);
    QTimer::singleShot(0, [&d] {
      QDialog* shown = view();
      ASSERT_NE(shown, nullptr);
      // 233 x 151 dialog units: 349 x 245 pixels of client area, fixed.
      EXPECT_EQ(shown->size(), QSize(349, 245));
      EXPECT_EQ(shown->minimumSize(), QSize(349, 245));
      EXPECT_EQ(shown->maximumSize(), QSize(349, 245));
      // No system menu, close or minimise box.
      const Qt::WindowFlags flags = shown->windowFlags();
      EXPECT_FALSE(flags & Qt::WindowCloseButtonHint);
      EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
      EXPECT_FALSE(flags & Qt::WindowSystemMenuHint);
      EXPECT_EQ(shown->windowTitle(), "Uninstalling Kivra Q76...");
      // Centred on the available area of the screen.
      const QRect area = shown->screen()->availableGeometry();
      EXPECT_LE(std::abs(shown->frameGeometry().center().x() - area.center().x()), 1);
      EXPECT_LE(std::abs(shown->frameGeometry().center().y() - area.center().y()), 1);
      // Every control shows whole inside the window, none covering another,
      // and each check box's label fits its box.
      std::vector<QWidget*> shown_controls;
      for (int id : {1001, 1002, 1003, 1004, 1005, 1006, 1007, -1}) {
        QWidget* widget = control<QWidget>(id);
        ASSERT_NE(widget, nullptr) << id;
        EXPECT_TRUE(widget->isVisible()) << id;
        EXPECT_TRUE(shown->rect().contains(widget->geometry())) << id;
        for (QWidget* other : shown_controls)
          EXPECT_FALSE(widget->geometry().intersects(other->geometry()))
              << id << " and " << other->objectName().toStdString();
        shown_controls.push_back(widget);
      }
      for (int id = 1001; id <= 1005; ++id) {
        EXPECT_LE(control<QCheckBox>(id)->sizeHint().width(), control<QCheckBox>(id)->width())
            << id;
      }
      // Items 1001 and 1002 disabled; the bar empty.
      QProgressBar* bar = control<QProgressBar>(1006);
      ASSERT_NE(bar, nullptr);
      EXPECT_EQ(bar->value(), 0);
      EXPECT_EQ(bar->maximum(), 100);
      for (int id = 1001; id <= 1005; ++id) {
        QCheckBox* box = control<QCheckBox>(id);
        ASSERT_NE(box, nullptr) << id;
        EXPECT_EQ(box->isEnabled(), id >= 1003) << id;
        EXPECT_FALSE(box->isChecked()) << id;
      }
      QLabel* message = control<QLabel>(1007);
      ASSERT_NE(message, nullptr);
      EXPECT_TRUE(message->text().startsWith("Removing the software '$'"));
      QLabel* icon = control<QLabel>(-1);
      ASSERT_NE(icon, nullptr);
      EXPECT_FALSE(icon->pixmap().isNull());
      EXPECT_FALSE(QApplication::windowIcon().isNull());
      // Control messages show at once.
      for (int i = 0; i < 3; ++i) d.progress.StepIt();
      d.SendDlgItemMessage(1003, BM_SETCHECK, BST_CHECKED);
      d.message.SetWindowText("Removing the software 'Kivra Q76' from your computer.");
      EXPECT_EQ(bar->value(), 60);
      EXPECT_TRUE(control<QCheckBox>(1003)->isChecked());
      EXPECT_EQ(message->text(), "Removing the software 'Kivra Q76' from your computer.");
      EXPECT_TRUE(shown->grab().save(UINQ_TEST_OUTPUT_DIR "/progress_dialog.png"));
      d.EndDialog(IDOK);
    });
  };
  EXPECT_EQ(dialog.DoModal(), IDOK);
}

TEST_F(QtBackendTest, EnterEscAndCloseBecomeCommands) {
  struct Row {
    const char* name;
    std::function<void(QDialog&)> act;
    INT_PTR expected;
  };
  const Row rows[] = {
      {"Return on a check box",
       [](QDialog&) { QTest::keyClick(control<QCheckBox>(1003), Qt::Key_Return); }, IDOK},
      {"Enter", [](QDialog& v) { QTest::keyClick(&v, Qt::Key_Enter); }, IDOK},
      {"Esc", [](QDialog& v) { QTest::keyClick(&v, Qt::Key_Escape); }, IDCANCEL},
      {"close button", [](QDialog& v) { v.close(); }, IDCANCEL},
  };
  for (const Row& row : rows) {
    ScriptedDialog dialog;
    whenShown(dialog, row.act);
    EXPECT_EQ(dialog.DoModal(), row.expected) << row.name;
    EXPECT_EQ(dialog.log, std::vector<std::string>{"command " + std::to_string(row.expected)})
        << row.name;
  }
  // The program decides: a dialog that ignores Cancel stays open.
  ScriptedDialog stubborn;
  stubborn.onCommand = [](ScriptedDialog&, WPARAM wparam) { return LOWORD(wparam) == IDCANCEL; };
  whenShown(stubborn, [](QDialog& v) {
    v.close();
    QTimer::singleShot(20, [] {
      QDialog* still = view();
      ASSERT_NE(still, nullptr);
      QTest::keyClick(still, Qt::Key_Return);
    });
  });
  EXPECT_EQ(stubborn.DoModal(), IDOK);
  EXPECT_EQ(stubborn.log, (std::vector<std::string>{"command 2", "command 1"}));
}

TEST_F(QtBackendTest, PlainCheckBoxesIgnoreClicks) {
  ScriptedDialog dialog;
  whenShown(dialog, [&dialog](QDialog&) {
    QCheckBox* box = control<QCheckBox>(1003);
    ASSERT_NE(box, nullptr);
    QTest::mouseClick(box, Qt::LeftButton);
    QTest::keyClick(box, Qt::Key_Space);
    EXPECT_FALSE(box->isChecked());
    EXPECT_EQ(dialog.SendDlgItemMessage(1003, BM_GETCHECK), static_cast<LRESULT>(BST_UNCHECKED));
    // Only the program sets the mark.
    dialog.SendDlgItemMessage(1003, BM_SETCHECK, BST_CHECKED);
    QTest::mouseClick(box, Qt::LeftButton);
    EXPECT_TRUE(box->isChecked());
    // A disabled item gets no click at all.
    QTest::mouseClick(control<QCheckBox>(1001), Qt::LeftButton);
    EXPECT_FALSE(control<QCheckBox>(1001)->isChecked());
    dialog.EndDialog(IDOK);
  });
  EXPECT_EQ(dialog.DoModal(), IDOK);
  // The clicks reached the dialog as BN_CLICKED commands of item 1003 only.
  EXPECT_EQ(dialog.log, (std::vector<std::string>{"command 1003", "command 1003", "command 1003"}));
}

TEST_F(QtBackendTest, MessageBoxesAnswerAndRunANestedLoop) {
  // Before any window: no owner; the default button is Yes, Esc answers No.
  whenMessageBox([](QMessageBox& box) {
    EXPECT_EQ(box.parentWidget(), nullptr);
    EXPECT_EQ(box.windowTitle(), "Kivra Q76 Uninstallation");
    EXPECT_EQ(box.text(), "Do you really want to uninstall this software?");
    EXPECT_EQ(box.defaultButton(), box.button(QMessageBox::Yes));
    EXPECT_NE(box.button(QMessageBox::No), nullptr);
    QTest::keyClick(&box, Qt::Key_Escape);
  });
  EXPECT_EQ(MessageBoxA(GetFocus(), "Do you really want to uninstall this software?",
                        "Kivra Q76 Uninstallation", MB_YESNO),
            IDNO);
  whenMessageBox([](QMessageBox& box) { box.button(QMessageBox::Yes)->click(); });
  EXPECT_EQ(MessageBoxA(nullptr, "Sure?", "Caption", MB_YESNO), IDYES);

  // Inside the dialog's timer handler the box is owned by the focused
  // dialog, and the dialog's other timers keep firing while it is open.
  ScriptedDialog dialog;
  int ticks = 0;
  dialog.onInit = [](ScriptedDialog& d) {
    d.SetTimer(2, 30);
    d.SetTimer(9, 20);
  };
  dialog.onTimer = [&](ScriptedDialog& d, UINT_PTR id) {
    if (id == 9) {
      ++ticks;
      return;
    }
    d.KillTimer(2);
    const int ticks_before = ticks;
    whenMessageBox(
        [&](QMessageBox& box) {
          EXPECT_EQ(box.parentWidget(), view());
          box.button(QMessageBox::Ok)->click();
        },
        [&] { return ticks >= ticks_before + 2; });
    EXPECT_EQ(MessageBoxA(GetFocus(), "Notice", "Caption", MB_OK), IDOK);
    EXPECT_GE(ticks, ticks_before + 2);
    d.KillTimer(9);
    d.PostMessage(WM_COMMAND, IDOK);
  };
  EXPECT_EQ(dialog.DoModal(), IDOK);
}

}  // namespace
}  // namespace toolkit::test
