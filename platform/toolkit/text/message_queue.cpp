#include "platform/toolkit/text/message_queue.h"

#include <algorithm>

namespace toolkit::text {
namespace {

// Win32 raises shorter periods to USER_TIMER_MINIMUM.
constexpr Millis kMinimumPeriod{10};

bool belongsTo(const Window* window, const Window& root) {
  for (; window != nullptr; window = window->parent)
    if (window == &root) return true;
  return false;
}

}  // namespace

void MessageQueue::post(Window& window, UINT message, WPARAM wparam, LPARAM lparam) {
  m_posted.push_back(QueuedMessage{&window, message, wparam, lparam});
}

void MessageQueue::setTimer(Window& window, UINT_PTR id, Millis period, Millis now) {
  period = std::max(period, kMinimumPeriod);
  for (Timer& timer : m_timers) {
    if (timer.window == &window && timer.id == id) {
      timer.period = period;
      timer.due = now + period;
      timer.order = m_nextOrder++;
      return;
    }
  }
  m_timers.push_back(Timer{&window, id, period, now + period, m_nextOrder++});
}

bool MessageQueue::killTimer(Window& window, UINT_PTR id) {
  return std::erase_if(m_timers,
                       [&](const Timer& t) { return t.window == &window && t.id == id; }) > 0;
}

void MessageQueue::forget(const Window& root) {
  std::erase_if(m_posted, [&](const QueuedMessage& m) { return belongsTo(m.window, root); });
  std::erase_if(m_timers, [&](const Timer& t) { return belongsTo(t.window, root); });
}

std::optional<Millis> MessageQueue::nextDeadline() const {
  if (!m_posted.empty()) return Millis{0};
  std::optional<Millis> next;
  for (const Timer& timer : m_timers)
    if (!next || timer.due < *next) next = timer.due;
  return next;
}

std::optional<QueuedMessage> MessageQueue::take(Millis now) {
  if (!m_posted.empty()) {
    QueuedMessage message = m_posted.front();
    m_posted.pop_front();
    return message;
  }
  Timer* first = nullptr;
  for (Timer& timer : m_timers) {
    if (timer.due > now) continue;
    if (first == nullptr || timer.due < first->due ||
        (timer.due == first->due && timer.order < first->order))
      first = &timer;
  }
  if (first == nullptr) return std::nullopt;
  first->due += first->period;
  if (first->due <= now) first->due = now + first->period;
  return QueuedMessage{first->window, WM_TIMER, first->id, 0};
}

}  // namespace toolkit::text
