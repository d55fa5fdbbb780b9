// Test driver for uinq76.exe under Wine: starts the program, answers its
// message boxes, and reads its progress dialog from outside, the way a user
// would see it. Everything it sees goes to standard output, one event a line,
// fields separated by tabs, so that the test harness asserts on the order of
// what happened and never on timing:
//
//   start     <pid>
//   box       <caption> <text> <answer given>
//   dialog    <caption> <message text>          (first seen, and on change)
//   state     <bar position> <item> <item> ...  (first seen, and on change;
//             each item is id:checked:enabled, for controls 1001 to 1005)
//   key       escape                            (sent to the dialog)
//   gone      dialog
//   exit      <exit code>
//   error     <what was awaited>                (then the driver exits 2)
//
// Usage: uinq76-driver [--answer yes|no|ok]... [--escape-at-bar N]
//                      [--idle-timeout MS] PROGRAM [ARGUMENT]
// Answers are given to the boxes in the order they open. A box with no answer
// left, or nothing new for the idle timeout, ends the run with an error and
// the program is terminated.
#include <windows.h>
// After windows.h, whose types it uses.
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr char kBoxCaption[] = "Kivra Q76 Uninstallation";
constexpr DWORD kPollMs = 25;          // never poll faster than every 20 ms
constexpr UINT kSendTimeoutMs = 2000;  // a hung window must not hang the driver
constexpr int kFirstItem = 1001;
constexpr int kLastItem = 1005;
constexpr int kProgressId = 1006;
constexpr int kMessageId = 1007;
constexpr char kNoAnswer[] = "<no answer>";

struct Options {
  std::vector<std::string> answers;
  int escapeAtBar = -1;
  DWORD idleTimeoutMs = 20000;
  std::string commandLine;
};

void emit(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

bool sendTimeout(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, DWORD_PTR* result) {
  return SendMessageTimeoutA(hwnd, msg, wp, lp, SMTO_ABORTIFHUNG, kSendTimeoutMs, result) != 0;
}

std::string windowText(HWND hwnd) {
  char buffer[1024] = {};
  DWORD_PTR copied = 0;
  if (!sendTimeout(hwnd, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer), &copied))
    return kNoAnswer;
  return std::string(buffer, strnlen(buffer, sizeof buffer));
}

std::string className(HWND hwnd) {
  char buffer[64] = {};
  GetClassNameA(hwnd, buffer, sizeof buffer);
  return buffer;
}

struct Search {
  DWORD pid;
  std::vector<HWND> found;
};

BOOL CALLBACK collectTopLevel(HWND hwnd, LPARAM lp) {
  auto* search = reinterpret_cast<Search*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid == search->pid && IsWindowVisible(hwnd) && className(hwnd) == "#32770")
    search->found.push_back(hwnd);
  return TRUE;
}

BOOL CALLBACK collectChildren(HWND hwnd, LPARAM lp) {
  reinterpret_cast<std::vector<HWND>*>(lp)->push_back(hwnd);
  return TRUE;
}

// The message text of a box: its one static control that shows text rather
// than the icon. Its id differs between Windows versions, so it is not used.
std::string boxText(HWND box) {
  std::vector<HWND> children;
  EnumChildWindows(box, collectChildren, reinterpret_cast<LPARAM>(&children));
  for (HWND child : children) {
    if (className(child) != "Static") continue;
    if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) continue;
    std::string text = windowText(child);
    if (!text.empty()) return text;
  }
  return "";
}

int buttonFor(const std::string& answer) {
  if (answer == "yes") return IDYES;
  if (answer == "no") return IDNO;
  if (answer == "ok") return IDOK;
  return 0;
}

// Presses the box's button as a mouse click on it would.
bool pressButton(HWND box, int id) {
  HWND button = GetDlgItem(box, id);
  if (button == nullptr) return false;
  return PostMessageA(button, BM_CLICK, 0, 0) != 0;
}

int barPosition(HWND dialog) {
  DWORD_PTR position = 0;
  if (!sendTimeout(GetDlgItem(dialog, kProgressId), PBM_GETPOS, 0, 0, &position)) return -1;
  return static_cast<int>(position);
}

// Empty when an item cannot be read, as while the dialog is being destroyed.
std::string itemStates(HWND dialog) {
  std::string state;
  for (int id = kFirstItem; id <= kLastItem; ++id) {
    HWND item = GetDlgItem(dialog, id);
    DWORD_PTR checked = 0;
    if (item == nullptr || !sendTimeout(item, BM_GETCHECK, 0, 0, &checked)) return "";
    state += "\t" + std::to_string(id) + ":" + std::to_string(checked) + ":" +
             (IsWindowEnabled(item) ? "1" : "0");
  }
  return state;
}

// The bar and the items as one consistent picture. A step runs inside one
// message of the dialog's thread, so it falls wholly before or after each of
// these reads; every step moves the bar before it checks its item, so a step
// that ran between the reads shows as a change of the bar, and then the
// picture is read again. Empty when the dialog cannot be read.
std::string dialogState(HWND dialog, int* bar) {
  for (;;) {
    const int before = barPosition(dialog);
    const std::string items = itemStates(dialog);
    *bar = barPosition(dialog);
    if (before < 0 || *bar < 0 || items.empty()) return "";
    if (*bar == before) return std::to_string(*bar) + items;
  }
}

// Sends Esc to the window that has the keyboard focus in the dialog's thread,
// so that the dialog's own keyboard handling turns it into its cancel command.
void pressEscape(HWND dialog) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  HWND target = dialog;
  if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) &&
      info.hwndFocus != nullptr)
    target = info.hwndFocus;
  PostMessageA(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  PostMessageA(target, WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(0xC0010001u));
}

bool parseOptions(int argc, char** argv, Options* options) {
  int i = 1;
  for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
    std::string name = argv[i];
    if (i + 1 >= argc) return false;
    std::string value = argv[++i];
    if (name == "--answer" && buttonFor(value) != 0)
      options->answers.push_back(value);
    else if (name == "--escape-at-bar")
      options->escapeAtBar = std::atoi(value.c_str());
    else if (name == "--idle-timeout")
      options->idleTimeoutMs = static_cast<DWORD>(std::atol(value.c_str()));
    else
      return false;
  }
  if (i >= argc) return false;
  for (; i < argc; ++i) {
    if (!options->commandLine.empty()) options->commandLine += ' ';
    options->commandLine += std::string("\"") + argv[i] + "\"";
  }
  return true;
}

class Run {
 public:
  explicit Run(const Options& options) : m_options(options) {}

  int execute() {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::vector<char> commandLine(m_options.commandLine.begin(), m_options.commandLine.end());
    commandLine.push_back('\0');
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &m_process)) {
      emit("error\tcannot start " + m_options.commandLine + " (error " +
           std::to_string(GetLastError()) + ")");
      return 2;
    }
    CloseHandle(m_process.hThread);
    emit("start\t" + std::to_string(m_process.dwProcessId));
    m_lastProgress = GetTickCount();
    for (;;) {
      if (WaitForSingleObject(m_process.hProcess, kPollMs) == WAIT_OBJECT_0) break;
      if (!poll()) return fail(m_failure);
      if (GetTickCount() - m_lastProgress > m_options.idleTimeoutMs)
        return fail("nothing new for " + std::to_string(m_options.idleTimeoutMs) +
                    " ms; waiting for " + awaited());
    }
    if (m_dialog != nullptr) emit("gone\tdialog");
    DWORD code = 0;
    GetExitCodeProcess(m_process.hProcess, &code);
    CloseHandle(m_process.hProcess);
    emit("exit\t" + std::to_string(code));
    return 0;
  }

 private:
  bool poll() {
    Search search{m_process.dwProcessId, {}};
    EnumWindows(collectTopLevel, reinterpret_cast<LPARAM>(&search));
    bool dialogSeen = false;
    for (HWND hwnd : search.found) {
      std::string caption = windowText(hwnd);
      if (caption == kBoxCaption) {
        if (!answerBox(hwnd)) return false;
      } else if (GetDlgItem(hwnd, kProgressId) != nullptr) {
        dialogSeen = true;
        watchDialog(hwnd, caption);
      }
    }
    if (!dialogSeen && m_dialog != nullptr && !IsWindow(m_dialog)) {
      emit("gone\tdialog");
      m_dialog = nullptr;
      progress();
    }
    // A box closes some time after its button is pressed; forget it then, so
    // that a later box given the same handle is answered too.
    for (auto it = m_answered.begin(); it != m_answered.end();)
      it = IsWindow(*it) ? std::next(it) : m_answered.erase(it);
    return true;
  }

  bool answerBox(HWND box) {
    if (m_answered.count(box) != 0) return true;
    std::string text = boxText(box);
    if (m_nextAnswer >= m_options.answers.size()) {
      m_failure = "a box with no answer left: " + text;
      return false;
    }
    const std::string& answer = m_options.answers[m_nextAnswer++];
    emit("box\t" + std::string(kBoxCaption) + "\t" + text + "\t" + answer);
    if (!pressButton(box, buttonFor(answer))) {
      m_failure = "the box has no " + answer + " button: " + text;
      return false;
    }
    m_answered.insert(box);
    progress();
    return true;
  }

  void watchDialog(HWND dialog, const std::string& caption) {
    m_dialog = dialog;
    const std::string text = windowText(GetDlgItem(dialog, kMessageId));
    const std::string looks = caption + "\t" + text;
    // A dialog that no longer answers is being destroyed: nothing to report.
    if (caption != kNoAnswer && text != kNoAnswer && looks != m_looks) {
      m_looks = looks;
      emit("dialog\t" + looks);
      progress();
    }
    int bar = 0;
    std::string state = dialogState(dialog, &bar);
    if (!state.empty() && state != m_state) {
      m_state = state;
      emit("state\t" + state);
      progress();
    }
    if (m_options.escapeAtBar >= 0 && !m_escapeSent && bar == m_options.escapeAtBar) {
      pressEscape(dialog);
      m_escapeSent = true;
      emit("key\tescape");
    }
  }

  std::string awaited() const {
    if (m_dialog != nullptr) return "the dialog to change or end (last state " + m_state + ")";
    return "a box, the dialog or the program's end";
  }

  void progress() { m_lastProgress = GetTickCount(); }

  int fail(const std::string& what) {
    emit("error\t" + what);
    TerminateProcess(m_process.hProcess, 3);
    WaitForSingleObject(m_process.hProcess, 5000);
    CloseHandle(m_process.hProcess);
    return 2;
  }

  const Options& m_options;
  PROCESS_INFORMATION m_process = {};
  DWORD m_lastProgress = 0;
  std::size_t m_nextAnswer = 0;
  std::set<HWND> m_answered;
  HWND m_dialog = nullptr;
  std::string m_looks;
  std::string m_state;
  bool m_escapeSent = false;
  std::string m_failure;
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parseOptions(argc, argv, &options)) {
    std::fputs(
        "usage: uinq76-driver [--answer yes|no|ok]... [--escape-at-bar N] "
        "[--idle-timeout MS] PROGRAM [ARGUMENT]...\n",
        stderr);
    return 2;
  }
  return Run(options).execute();
}
