// A dialog whose handlers run the test's code, and a fixture that installs the
// text backend on a scripted console with its output in a string.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/toolkit/afxwin.h"
#include "platform/toolkit/text/text_backend.h"
#include "tests/platform/toolkit/fake_console.h"

namespace toolkit::test {

constexpr UINT kProgressDialog = 102;

class ScriptedDialog : public CDialog {
 public:
  explicit ScriptedDialog(UINT template_id = kProgressDialog) : CDialog(template_id) {}

  std::function<void(ScriptedDialog&)> onInit;
  std::function<void(ScriptedDialog&, UINT_PTR)> onTimer;
  // Returns whether it handled the command, which then gets no default handling.
  std::function<bool(ScriptedDialog&, WPARAM)> onCommand;
  std::vector<std::string> log;
  CStatic message;
  CProgressCtrl progress;

 protected:
  void DoDataExchange(CDataExchange* dx) override {
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, 1007, message);
    DDX_Control(dx, 1006, progress);
  }
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    if (onInit) onInit(*this);
    return TRUE;
  }
  void OnTimer(UINT_PTR id) override {
    log.push_back("timer " + std::to_string(id));
    if (onTimer) onTimer(*this, id);
    CDialog::OnTimer(id);
  }
  BOOL OnCommand(WPARAM wparam, LPARAM lparam) override {
    log.push_back("command " + std::to_string(LOWORD(wparam)));
    if (onCommand && onCommand(*this, wparam)) return TRUE;
    return CDialog::OnCommand(wparam, lparam);
  }
};

class TextBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto console = std::make_unique<FakeConsole>();
    m_console = console.get();
    TextOptions options;
    options.out = &m_out;
    options.console = std::move(console);
    installBackend(makeTextBackend(std::move(options)));
  }
  void TearDown() override {
    setMessageHook(nullptr);
    setDeliveryGuard(nullptr);
    installBackend(nullptr);
  }
  FakeConsole& console() { return *m_console; }
  std::string output() const { return m_out.str(); }

 private:
  std::ostringstream m_out;
  FakeConsole* m_console = nullptr;
};

inline Millis ms(long long count) { return Millis{count}; }

}  // namespace toolkit::test
