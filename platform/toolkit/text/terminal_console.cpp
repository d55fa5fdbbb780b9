// The real console: standard input read with poll() and read(), time from
// steady_clock, Ctrl-C caught through a self-pipe so that a wait wakes up.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/toolkit/text/console.h"

namespace toolkit::text {
namespace {

// Written by the SIGINT handler, read by the waiting loop.
int g_signalPipe[2] = {-1, -1};

void onInterrupt(int) {
  const int saved_errno = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
  errno = saved_errno;
}

class TerminalConsole final : public Console {
 public:
  explicit TerminalConsole(int input_fd)
      : m_fd(input_fd), m_start(std::chrono::steady_clock::now()), m_echo(::isatty(input_fd) == 1) {
    if (g_signalPipe[0] < 0 && ::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
      g_signalPipe[0] = g_signalPipe[1] = -1;
      return;
    }
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: poll() returns at once
    m_caught = ::sigaction(SIGINT, &action, &m_previous) == 0;
  }

  ~TerminalConsole() override {
    if (m_caught) ::sigaction(SIGINT, &m_previous, nullptr);
  }

  Millis now() override {
    return std::chrono::duration_cast<Millis>(std::chrono::steady_clock::now() - m_start);
  }

  Wake wait(std::optional<Millis> deadline, InputWatch input) override {
    for (;;) {
      if (drainInterrupts()) return Wake::Interrupt;
      if (input == InputWatch::Watch) {
        if (m_buffer.find('\n') != std::string::npos) return Wake::Line;
        // A last line without a line break still counts as a line.
        if (m_ended) return m_buffer.empty() ? Wake::EndOfInput : Wake::Line;
      }
      int timeout = -1;
      if (deadline) {
        const Millis left = *deadline - now();
        if (left.count() <= 0) return Wake::Deadline;
        timeout = static_cast<int>(std::min<Millis::rep>(left.count(), 1 << 30));
      }
      pollfd fds[2] = {{g_signalPipe[0], POLLIN, 0}, {m_fd, POLLIN, 0}};
      const nfds_t count = input == InputWatch::Watch && !m_ended ? 2 : 1;
      const int ready = ::poll(fds, count, timeout);
      if (ready < 0 && errno != EINTR) {
        // A wait that cannot be made at all must not spin: the input counts
        // as ended, and a loop that only waits for time ends as on Ctrl-C.
        m_ended = true;
        if (input == InputWatch::Watch) continue;
        return Wake::Interrupt;
      }
      if (count == 2 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0)
        readInput();
    }
  }

  std::string takeLine() override {
    const size_t end = m_buffer.find('\n');
    std::string line = m_buffer.substr(0, end);
    m_buffer.erase(0, end == std::string::npos ? std::string::npos : end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }

  bool echoesInput() const override { return m_echo; }

 private:
  bool drainInterrupts() {
    if (g_signalPipe[0] < 0) return false;
    bool interrupted = false;
    char bytes[16];
    while (::read(g_signalPipe[0], bytes, sizeof bytes) > 0) interrupted = true;
    return interrupted;
  }

  void readInput() {
    char chunk[4096];
    const ssize_t got = ::read(m_fd, chunk, sizeof chunk);
    if (got > 0)
      m_buffer.append(chunk, static_cast<size_t>(got));
    else if (got == 0 || (errno != EINTR && errno != EAGAIN))
      m_ended = true;
  }

  int m_fd;
  std::chrono::steady_clock::time_point m_start;
  bool m_echo;
  bool m_caught = false;
  bool m_ended = false;
  std::string m_buffer;
  struct sigaction m_previous = {};
};

}  // namespace

std::unique_ptr<Console> makeTerminalConsole(int input_fd) {
  return std::make_unique<TerminalConsole>(input_fd);
}

}  // namespace toolkit::text
