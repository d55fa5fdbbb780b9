#include "tests/e2e/program_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace e2e {

ProgramRunner::ProgramRunner(const std::vector<std::string>& args,
                             const std::vector<std::string>& env, const std::string& shell_setup) {
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);

  std::vector<std::string> arg_strings{UINQ76_BINARY};
  if (!shell_setup.empty())
    arg_strings = {"/bin/sh", "-c", shell_setup + "\nexec \"$0\" \"$@\"", UINQ76_BINARY};
  arg_strings.insert(arg_strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : arg_strings) argv.push_back(a.data());
  argv.push_back(nullptr);

  // A variable given in `env` takes the place of the inherited one.
  const auto given = [&](const std::string& entry) {
    const std::string name = entry.substr(0, entry.find('=') + 1);
    for (const auto& e : env)
      if (e.rfind(name, 0) == 0) return true;
    return false;
  };
  std::vector<std::string> env_strings;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (entry.rfind("DISPLAY=", 0) == 0 || entry.rfind("WAYLAND_DISPLAY=", 0) == 0) continue;
    if (given(entry)) continue;
    env_strings.push_back(entry);
  }
  env_strings.insert(env_strings.end(), env.begin(), env.end());
  std::vector<char*> envp;
  for (auto& e : env_strings) envp.push_back(e.data());
  envp.push_back(nullptr);

  const int rc = posix_spawn(&m_pid, shell_setup.empty() ? UINQ76_BINARY : "/bin/sh", &actions,
                             nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  m_in = in[1];
  m_outFd = out[0];
  m_errFd = err[0];
  if (rc != 0) throw std::runtime_error(std::string("posix_spawn: ") + std::strerror(rc));
  // A program that ends without reading its input must not kill the test.
  ::signal(SIGPIPE, SIG_IGN);
}

ProgramRunner::~ProgramRunner() {
  if (m_pid > 0) {
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
  }
  for (int fd : {m_in, m_outFd, m_errFd})
    if (fd >= 0) close(fd);
}

void ProgramRunner::write(const std::string& text) {
  size_t done = 0;
  while (done < text.size() && m_in >= 0) {
    const ssize_t n = ::write(m_in, text.data() + done, text.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
}

void ProgramRunner::closeInput() {
  if (m_in >= 0) close(m_in);
  m_in = -1;
}

bool ProgramRunner::pump(std::chrono::milliseconds timeout) {
  pollfd fds[2] = {{m_outFd, POLLIN, 0}, {m_errFd, POLLIN, 0}};
  if (m_outFd < 0 && m_errFd < 0) return false;
  if (poll(fds, 2, static_cast<int>(timeout.count())) <= 0) return true;
  for (int i = 0; i < 2; ++i) {
    int& fd = i == 0 ? m_outFd : m_errFd;
    if (fd < 0 || fds[i].revents == 0) continue;
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) {
      close(fd);
      fd = -1;
    } else {
      (i == 0 ? m_out : m_err).append(buffer, static_cast<size_t>(n));
    }
  }
  return m_outFd >= 0 || m_errFd >= 0;
}

bool ProgramRunner::waitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (m_out.find(text) == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    if (!pump(std::min(left, std::chrono::milliseconds(100))) &&
        m_out.find(text) == std::string::npos)
      return false;
  }
  return true;
}

void ProgramRunner::signal(int signal_number) {
  if (m_pid > 0) kill(m_pid, signal_number);
}

int ProgramRunner::wait(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (pump(std::chrono::milliseconds(50))) {
    if (std::chrono::steady_clock::now() > deadline) break;
  }
  int status = 0;
  for (;;) {
    const pid_t r = waitpid(m_pid, &status, WNOHANG);
    if (r == m_pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, &status, 0);
      m_pid = -1;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  m_pid = -1;
  while (pump(std::chrono::milliseconds(0))) {
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + WTERMSIG(status);
}

RunResult runProgram(const std::vector<std::string>& args, const std::string& input,
                     const std::vector<std::string>& env, const std::string& shell_setup) {
  ProgramRunner runner(args, env, shell_setup);
  runner.write(input);
  runner.closeInput();
  RunResult result;
  result.status = runner.wait();
  result.out = runner.output();
  result.err = runner.errors();
  return result;
}

}  // namespace e2e
