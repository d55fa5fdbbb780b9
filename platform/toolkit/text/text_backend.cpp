#include "platform/toolkit/text/text_backend.h"

#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <vector>

#include "platform/toolkit/text/dialog_text.h"
#include "platform/toolkit/text/message_prompt.h"
#include "platform/toolkit/text/message_queue.h"

namespace toolkit {
namespace {

class TextBackend final : public Backend {
 public:
  TextBackend(std::ostream& out, std::unique_ptr<text::Console> console)
      : m_out(out), m_console(std::move(console)) {}

  int messageBox(Window* /*owner*/, const std::string& message, const std::string& caption,
                 UINT type) override {
    const std::optional<text::MessagePrompt> prompt = text::MessagePrompt::forType(type);
    if (!prompt) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    m_out << text::printableText(caption) << "\n"
          << text::printableText(message, text::LineBreaks::Keep) << "\n"
          << prompt->prompt() << std::flush;
    for (;;) {
      const text::Wake wake = pump(text::InputWatch::Watch);
      if (wake == text::Wake::Line) {
        const std::string line = m_console->takeLine();
        if (!m_console->echoesInput()) m_out << line << "\n";
        if (const std::optional<int> answer = prompt->answer(line)) return *answer;
        m_out << prompt->prompt() << std::flush;
      } else if (wake == text::Wake::EndOfInput || wake == text::Wake::Interrupt) {
        m_out << "\n" << std::flush;
        return prompt->abandoned();
      } else if (m_printedDuringWait) {
        m_out << prompt->prompt() << std::flush;
      }
    }
  }

  bool createDialog(Window& /*dialog*/) override { return true; }

  void destroyDialog(Window& dialog) override {
    m_queue.forget(dialog);
    std::erase(m_shown, &dialog);
    m_printed.erase(&dialog);
  }

  void runModal(Window& dialog) override {
    m_shown.push_back(&dialog);
    deliverMessage(dialog, WM_PAINT, 0, 0);
    refresh();
    while (!dialog.endResult) {
      if (pump(text::InputWatch::Ignore) == text::Wake::Interrupt)
        deliver(dialog, WM_COMMAND, IDCANCEL, 0);
    }
  }

  void endModal(Window& /*dialog*/) override {}
  void windowChanged(Window& /*window*/, Change /*change*/) override {}
  void centerWindow(Window& /*window*/) override {}
  bool isIconic(const Window& /*window*/) override { return false; }
  Window* focusWindow() override { return m_shown.empty() ? nullptr : m_shown.back(); }
  void drawIcon(Window& /*window*/, int /*x*/, int /*y*/, UINT /*icon_id*/) override {}
  bool enable3dControls() override { return false; }

  bool setTimer(Window& window, UINT_PTR id, UINT elapse_ms) override {
    m_queue.setTimer(window, id, text::Millis{elapse_ms}, m_console->now());
    return true;
  }

  bool killTimer(Window& window, UINT_PTR id) override { return m_queue.killTimer(window, id); }

  bool postMessage(Window& window, UINT message, WPARAM wparam, LPARAM lparam) override {
    m_queue.post(window, message, wparam, lparam);
    return true;
  }

 private:
  // Delivers one queued message that is due, or waits for the next event.
  // Returns the reason of a wait that the caller has to act on.
  text::Wake pump(text::InputWatch input) {
    m_printedDuringWait = false;
    if (const std::optional<text::QueuedMessage> message = m_queue.take(m_console->now())) {
      deliver(*message->window, message->message, message->wparam, message->lparam);
      return text::Wake::Deadline;
    }
    return m_console->wait(m_queue.nextDeadline(), input);
  }

  void deliver(Window& window, UINT message, WPARAM wparam, LPARAM lparam) {
    deliverMessage(window, message, wparam, lparam);
    refresh();
  }

  // Prints what changed in the dialogs on show since they were last printed.
  void refresh() {
    for (Window* dialog : m_shown) {
      const text::DialogText now = text::describeDialog(*dialog);
      auto [it, first] = m_printed.try_emplace(dialog);
      if (first || now.heading != it->second.heading) m_out << now.heading;
      if (first || now.state != it->second.state) m_out << now.state;
      if (first || !(now == it->second)) m_printedDuringWait = true;
      it->second = now;
    }
    m_out << std::flush;
  }

  std::ostream& m_out;
  std::unique_ptr<text::Console> m_console;
  text::MessageQueue m_queue;
  std::vector<Window*> m_shown;
  std::map<const Window*, text::DialogText> m_printed;
  bool m_printedDuringWait = false;
};

}  // namespace

std::unique_ptr<Backend> makeTextBackend(TextOptions options) {
  std::ostream& out = options.out != nullptr ? *options.out : std::cout;
  std::unique_ptr<text::Console> console =
      options.console ? std::move(options.console) : text::makeTerminalConsole(STDIN_FILENO);
  return std::make_unique<TextBackend>(out, std::move(console));
}

}  // namespace toolkit
