// Runs the built uinq76 program as a child process with pipes on its standard
// input, output and error, for end-to-end tests.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace e2e {

class ProgramRunner {
 public:
  // Starts the program with `args` (without the program name). The child gets
  // the test's environment without DISPLAY and WAYLAND_DISPLAY, with `env` added
  // (a variable named there replaces the inherited one).
  // With `shell_setup`, /bin/sh runs those commands first and then executes
  // the program in the same process (to close a descriptor, set a limit, or
  // unset a variable, for example).
  explicit ProgramRunner(const std::vector<std::string>& args,
                         const std::vector<std::string>& env = {},
                         const std::string& shell_setup = {});
  ~ProgramRunner();
  ProgramRunner(const ProgramRunner&) = delete;
  ProgramRunner& operator=(const ProgramRunner&) = delete;

  void write(const std::string& text);
  void closeInput();
  // Reads output until standard output holds `text`; false after `timeout`
  // or when the program ended without printing it.
  bool waitForOutput(const std::string& text,
                     std::chrono::milliseconds timeout = std::chrono::seconds(20));
  void signal(int signal_number);
  // Waits for the program to end (killing it after `timeout`) and returns its
  // exit status, or -1 when it did not end by itself.
  int wait(std::chrono::milliseconds timeout = std::chrono::seconds(30));

  const std::string& output() const { return m_out; }
  const std::string& errors() const { return m_err; }

 private:
  // Reads what is available, waiting up to `timeout`; false once both pipes
  // are closed.
  bool pump(std::chrono::milliseconds timeout);

  pid_t m_pid = -1;
  int m_in = -1;
  int m_outFd = -1;
  int m_errFd = -1;
  std::string m_out;
  std::string m_err;
};

// Runs the program to its end with all of `input` on its standard input.
struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};
RunResult runProgram(const std::vector<std::string>& args, const std::string& input,
                     const std::vector<std::string>& env = {}, const std::string& shell_setup = {});

}  // namespace e2e
