// The text mode's message queue: posted messages and window timers on a
// millisecond clock. Posted messages come before timers, and timers fire in
// the order of their due times, as Win32 generates WM_TIMER only when no
// other message is waiting.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "platform/toolkit/text/console.h"
#include "platform/toolkit/window.h"

namespace toolkit::text {

struct QueuedMessage {
  Window* window;
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
};

class MessageQueue {
 public:
  void post(Window& window, UINT message, WPARAM wparam, LPARAM lparam);
  // Starts timer `id` of `window`, or restarts it with the new period.
  void setTimer(Window& window, UINT_PTR id, Millis period, Millis now);
  bool killTimer(Window& window, UINT_PTR id);
  // Drops the messages and timers of `root` and of its controls.
  void forget(const Window& root);

  // The next due time of a timer, if any runs.
  std::optional<Millis> nextDeadline() const;
  // The next message to deliver at `now`: a posted one, else a due timer,
  // which is rescheduled before it is delivered (so its handler may kill or
  // reset it). A timer that fell behind fires once, not once per period.
  std::optional<QueuedMessage> take(Millis now);

 private:
  struct Timer {
    Window* window;
    UINT_PTR id;
    Millis period;
    Millis due;
    std::uint64_t order;  // ties of due times go in the order of setting
  };
  std::deque<QueuedMessage> m_posted;
  std::vector<Timer> m_timers;
  std::uint64_t m_nextOrder = 0;
};

}  // namespace toolkit::text
