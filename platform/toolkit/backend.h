// The seam between the neutral toolkit and the window system that shows it.
// A backend shows a dialog's window tree, runs the modal and message-box
// loops, keeps the window timers and delivers timer, posted and user messages
// back through deliverMessage. The Linux program's host (shell/host)
// installs exactly one backend before AfxWinMain.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/toolkit/window.h"

namespace toolkit {

class Backend {
 public:
  virtual ~Backend() = default;

  // Shows a message box and runs its loop, in which the timers and posted
  // messages of open dialogs keep being delivered. Returns IDOK, IDCANCEL,
  // IDYES or IDNO, or 0 when the box could not be shown.
  virtual int messageBox(Window* owner, const std::string& text, const std::string& caption,
                         UINT type) = 0;

  // Creates the view of a dialog's window tree, not yet shown.
  virtual bool createDialog(Window& dialog) = 0;
  // Forgets the dialog's view, timers and posted messages.
  virtual void destroyDialog(Window& dialog) = 0;
  // Shows the dialog and runs its modal loop until dialog.endResult is set.
  virtual void runModal(Window& dialog) = 0;
  // Called by EndDialog: the modal loop of `dialog` should end.
  virtual void endModal(Window& dialog) = 0;

  virtual void windowChanged(Window& window, Change change) = 0;
  virtual void centerWindow(Window& window) = 0;
  virtual bool isIconic(const Window& window) = 0;
  virtual Window* focusWindow() = 0;
  virtual void drawIcon(Window& window, int x, int y, UINT icon_id) = 0;
  // Asks for the three-dimensional look of controls; false where none.
  virtual bool enable3dControls() = 0;

  // Window timers: a new id starts a timer, an existing id restarts it.
  virtual bool setTimer(Window& window, UINT_PTR id, UINT elapse_ms) = 0;
  virtual bool killTimer(Window& window, UINT_PTR id) = 0;
  // Queues a message for the window's loop; false if it cannot be queued.
  virtual bool postMessage(Window& window, UINT message, WPARAM wparam, LPARAM lparam) = 0;

  // Runs `work` with the terminal in its normal state, so that what it
  // prints stays readable: a backend that draws on the terminal hands it
  // back first. Others just run it.
  virtual void runOnNormalTerminal(const std::function<void()>& work) { work(); }
};

// Makes `backend` the one the toolkit uses, destroying the previous one;
// null uninstalls it.
void installBackend(std::unique_ptr<Backend> backend);
Backend* currentBackend();

// What the program showed the user, in order, and how each showing ended:
// the button that closed a message box, the end result of a modal dialog.
struct Shown {
  enum class Kind { MessageBox, Dialog };
  Kind kind;
  UINT style;  // message boxes: the MB_ style; dialogs: the template id
  std::string caption;
  int result;
};
const std::vector<Shown>& shownSoFar();
void clearShown();
// Called by MessageBoxA and CDialog::DoModal when a showing has ended.
void recordShown(Shown shown);

// The hook runs after every message that a loop delivered to a window (the
// dialog's initialisation, timers, commands, painting), once its handler has
// returned.
using MessageHook = std::function<void(UINT message, WPARAM wparam)>;
void setMessageHook(MessageHook hook);

// The guard runs before every message that a loop delivers to a window; when
// it returns false the message is dropped and its handler never runs. The
// host uses it for work that must be done before a message is handled.
using DeliveryGuard = std::function<bool(HWND window, UINT message, WPARAM wparam)>;
void setDeliveryGuard(DeliveryGuard guard);

// Delivers a message from a backend's loop to the window's CWnd, then runs
// the message hook. Returns the handler's result; 0 for a stale window or a
// message the guard dropped.
LRESULT deliverMessage(Window& window, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace toolkit
