#include "platform/toolkit/curses/curses_backend.h"

#include <deque>
#include <vector>

#include "platform/toolkit/curses/painter.h"
#include "platform/toolkit/curses/screen.h"
#include "platform/toolkit/curses/signal_watch.h"
#include "platform/toolkit/text/message_queue.h"

namespace toolkit {
namespace {

using curses::Key;
using curses::KeyEvent;
using curses::OpenBox;

class CursesBackend final : public Backend {
 public:
  CursesBackend(std::unique_ptr<curses::SignalWatch> signals,
                std::unique_ptr<curses::Screen> screen)
      : m_signals(std::move(signals)), m_screen(std::move(screen)) {}

  ~CursesBackend() override {
    // The screen goes before the signal handlers, so that a resize while the
    // terminal is being restored still finds a handler.
    m_screen.reset();
  }

  int messageBox(Window* /*owner*/, const std::string& text, const std::string& caption,
                 UINT type) override {
    std::optional<curses::ButtonSet> buttons = curses::buttonsForType(type);
    if (!buttons) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    OpenBox box{caption, text, *buttons, buttons->defaultButton, std::nullopt};
    // A box whose input is already gone is answered as its Esc answers it.
    if (m_inputGone) return box.buttons.escapeResult;
    m_boxes.push_back(&box);
    m_dirty = true;
    while (!box.result) pump();
    m_boxes.pop_back();
    m_dirty = true;
    return *box.result;
  }

  bool createDialog(Window& /*dialog*/) override { return true; }

  void destroyDialog(Window& dialog) override {
    m_queue.forget(dialog);
    std::erase(m_dialogs, &dialog);
    m_dirty = true;
  }

  void runModal(Window& dialog) override {
    m_dialogs.push_back(&dialog);
    m_dirty = true;
    deliverMessage(dialog, WM_PAINT, 0, 0);
    while (!dialog.endResult) pump();
    std::erase(m_dialogs, &dialog);
  }

  void endModal(Window& /*dialog*/) override {}
  void windowChanged(Window& /*window*/, Change /*change*/) override { m_dirty = true; }
  // Dialogs are always drawn centred on the terminal.
  void centerWindow(Window& /*window*/) override {}
  bool isIconic(const Window& /*window*/) override { return false; }
  Window* focusWindow() override { return m_dialogs.empty() ? nullptr : m_dialogs.back(); }
  void drawIcon(Window& /*window*/, int /*x*/, int /*y*/, UINT /*icon_id*/) override {}
  bool enable3dControls() override { return false; }

  bool setTimer(Window& window, UINT_PTR id, UINT elapse_ms) override {
    m_queue.setTimer(window, id, text::Millis{elapse_ms}, m_signals->now());
    return true;
  }

  bool killTimer(Window& window, UINT_PTR id) override { return m_queue.killTimer(window, id); }

  bool postMessage(Window& window, UINT message, WPARAM wparam, LPARAM lparam) override {
    m_queue.post(window, message, wparam, lparam);
    return true;
  }

  void runOnNormalTerminal(const std::function<void()>& work) override {
    m_screen->leave();
    work();
    // The screen comes back with the next change; a run that ends without
    // one leaves what `work` printed in view.
    m_dirty = false;
  }

 private:
  // Delivers one due message or handles one key; else draws what changed and
  // waits for the next message, key or signal.
  void pump() {
    if (const std::optional<text::QueuedMessage> message = m_queue.take(m_signals->now())) {
      deliverMessage(*message->window, message->message, message->wparam, message->lparam);
      return;
    }
    if (!m_keys.empty()) {
      const KeyEvent key = m_keys.front();
      m_keys.pop_front();
      handleKey(key);
      return;
    }
    repaint();
    const curses::Woken woken =
        m_signals->wait(m_queue.nextDeadline(), m_inputGone ? -1 : m_screen->inputFd());
    if (woken.resize) {
      m_screen->adoptNewSize();
      m_dirty = true;
    }
    if (woken.interrupt) m_keys.push_back({Key::Interrupt});
    if (woken.input)
      for (const KeyEvent& key : m_screen->readKeys()) m_keys.push_back(key);
    if (woken.hangup) {
      m_inputGone = true;
      for (OpenBox* box : m_boxes) box->result = box->buttons.escapeResult;
    }
  }

  void handleKey(const KeyEvent& key) {
    const bool cancel = key.key == Key::Escape || key.key == Key::Interrupt;
    // What the user cannot see is not answered, except by Esc, which is
    // always safe to give.
    if (m_tooSmall && !cancel) return;
    if (!m_boxes.empty()) {
      handleBoxKey(*m_boxes.back(), key);
    } else if (!m_dialogs.empty()) {
      Window& dialog = *m_dialogs.back();
      if (key.key == Key::Enter) deliverMessage(dialog, WM_COMMAND, IDOK, 0);
      if (cancel) deliverMessage(dialog, WM_COMMAND, IDCANCEL, 0);
    }
  }

  void handleBoxKey(OpenBox& box, const KeyEvent& key) {
    const size_t count = box.buttons.buttons.size();
    switch (key.key) {
      case Key::Enter:
      case Key::Space:
        box.result = box.buttons.buttons[box.focus].result;
        break;
      case Key::Escape:
      case Key::Interrupt:
        box.result = box.buttons.escapeResult;
        break;
      case Key::Tab:
      case Key::Right:
      case Key::Down:
        box.focus = (box.focus + 1) % count;
        m_dirty = true;
        break;
      case Key::BackTab:
      case Key::Left:
      case Key::Up:
        box.focus = (box.focus + count - 1) % count;
        m_dirty = true;
        break;
      case Key::Letter:
        if (const std::optional<int> result = box.buttons.resultForLetter(key.letter))
          box.result = *result;
        break;
      case Key::Click: {
        const curses::MessageBoxLayout layout =
            curses::boxLayout(box, m_screen->width(), m_screen->height());
        for (size_t i = 0; i < layout.buttons.size() && i < count; ++i)
          if (layout.buttons[i].contains(key.x, key.y)) box.result = box.buttons.buttons[i].result;
        break;
      }
    }
  }

  // Draws every dialog and box on show, the last on top; or, when one of
  // them does not fit, the notice of a terminal too small.
  void repaint() {
    if (!m_dirty) return;
    m_dirty = false;
    const int w = m_screen->width();
    const int h = m_screen->height();
    int need_w = 0;
    int need_h = 0;
    auto needs = [&](const curses::Frame& frame) {
      need_w = std::max(need_w, frame.outer.w);
      need_h = std::max(need_h, frame.outer.h);
    };
    for (const Window* dialog : m_dialogs) needs(curses::dialogFrame(*dialog, w, h));
    for (const OpenBox* box : m_boxes) needs(curses::boxLayout(*box, w, h).frame);
    m_tooSmall = need_w > w || need_h > h;
    if (m_tooSmall) {
      curses::paintTooSmall(*m_screen, need_w, need_h);
    } else {
      m_screen->paintDesktop();
      for (const Window* dialog : m_dialogs)
        curses::paintDialog(*m_screen, *dialog, curses::dialogFrame(*dialog, w, h));
      for (const OpenBox* box : m_boxes)
        curses::paintMessageBox(*m_screen, *box, curses::boxLayout(*box, w, h));
    }
    m_screen->present();
  }

  std::unique_ptr<curses::SignalWatch> m_signals;
  std::unique_ptr<curses::Screen> m_screen;
  text::MessageQueue m_queue;
  std::vector<Window*> m_dialogs;
  std::vector<OpenBox*> m_boxes;
  std::deque<KeyEvent> m_keys;
  bool m_dirty = true;
  bool m_tooSmall = false;
  bool m_inputGone = false;
};

}  // namespace

std::unique_ptr<Backend> makeCursesBackend() {
  // The signal handlers come first: ncurses then leaves SIGWINCH to them.
  auto signals = std::make_unique<curses::SignalWatch>();
  std::unique_ptr<curses::Screen> screen = curses::Screen::open();
  if (!screen) return nullptr;
  return std::make_unique<CursesBackend>(std::move(signals), std::move(screen));
}

}  // namespace toolkit
