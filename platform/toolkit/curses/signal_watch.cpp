#include "platform/toolkit/curses/signal_watch.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace toolkit::curses {
namespace {

// Written by the handlers, read by the waiting loop: one byte per signal,
// the byte telling which.
int g_pipe[2] = {-1, -1};
constexpr char kInterruptByte = 'i';
constexpr char kResizeByte = 'r';

void onSignal(int signal) {
  const int saved_errno = errno;
  const char byte = signal == SIGWINCH ? kResizeByte : kInterruptByte;
  [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
  errno = saved_errno;
}

Millis steadyNow() {
  return std::chrono::duration_cast<Millis>(std::chrono::steady_clock::now().time_since_epoch());
}

}  // namespace

SignalWatch::SignalWatch() {
  if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    g_pipe[0] = g_pipe[1] = -1;
    return;
  }
  struct sigaction action = {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  m_installed = ::sigaction(SIGINT, &action, &m_previousInterrupt) == 0;
  if (m_installed && ::sigaction(SIGWINCH, &action, &m_previousResize) != 0) {
    ::sigaction(SIGINT, &m_previousInterrupt, nullptr);
    m_installed = false;
  }
}

SignalWatch::~SignalWatch() {
  if (!m_installed) return;
  ::sigaction(SIGINT, &m_previousInterrupt, nullptr);
  ::sigaction(SIGWINCH, &m_previousResize, nullptr);
}

Millis SignalWatch::now() const { return steadyNow(); }

Woken SignalWatch::wait(std::optional<Millis> deadline, int input_fd) {
  Woken woken;
  for (;;) {
    int timeout = -1;
    if (deadline) {
      const Millis left = *deadline - now();
      timeout = static_cast<int>(std::clamp<Millis::rep>(left.count(), 0, 1 << 30));
    }
    pollfd fds[2] = {{g_pipe[0], POLLIN, 0}, {input_fd, POLLIN, 0}};
    const int ready = ::poll(fds, 2, timeout);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) {
      // A wait that cannot be made at all must not spin: it ends the way
      // Ctrl-C does.
      woken.interrupt = true;
      return woken;
    }
    char bytes[16];
    ssize_t got;
    while (g_pipe[0] >= 0 && (got = ::read(g_pipe[0], bytes, sizeof bytes)) > 0) {
      for (ssize_t i = 0; i < got; ++i) {
        if (bytes[i] == kResizeByte) woken.resize = true;
        if (bytes[i] == kInterruptByte) woken.interrupt = true;
      }
    }
    if ((fds[1].revents & POLLIN) != 0) woken.input = true;
    // A terminal that hung up stays readable (and reads fail) for ever: the
    // input is over, whatever else poll() says.
    if ((fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) woken.hangup = true;
    return woken;
  }
}

}  // namespace toolkit::curses
