// Waiting for the drawn text mode: for keys, for a deadline of the message
// queue, for Ctrl-C sent as a signal and for a change of the terminal's size
// (SIGWINCH). The two signals are caught through a self-pipe while the watch
// exists, so that a wait wakes up at once.
#pragma once

#include <csignal>
#include <optional>

#include "platform/toolkit/text/console.h"

namespace toolkit::curses {

using text::Millis;

struct Woken {
  bool input = false;
  bool interrupt = false;
  bool resize = false;
  bool hangup = false;  // the input is gone (the terminal closed)
};

class SignalWatch {
 public:
  SignalWatch();
  ~SignalWatch();
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;

  // Milliseconds on a monotonic clock.
  Millis now() const;
  // Waits until `deadline` (none: without limit), until `input_fd` has
  // input, or until a signal came. Returns at once for a signal that came
  // before the call. A negative `input_fd` is not watched.
  Woken wait(std::optional<Millis> deadline, int input_fd);

 private:
  struct sigaction m_previousInterrupt = {};
  struct sigaction m_previousResize = {};
  bool m_installed = false;
};

}  // namespace toolkit::curses
