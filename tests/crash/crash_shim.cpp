// Preloaded into the program by the crash tests: counts the calls that make
// changes durable (fsync, rename, unlink, mkdir, link) and kills the process
// with SIGKILL just before the call numbered UINQ76_TEST_KILL_AT, as a crash
// or a power cut would stop it there. With UINQ76_TEST_POWER_CUT_AFTER=N the
// call numbered N is made and the machine is then powered off at once,
// without writing back what the kernel holds in memory: run as root inside a
// user-mode Linux, the disk image keeps just what a disk keeps after a power
// cut. With UINQ76_TEST_TALLY set, the number of such calls is written to
// that file when the process ends normally; with UINQ76_TEST_TRACE set, each
// call is appended to that file as it is made: its name, the path (for a
// flush, the file's current path and size), and for a rename the new name.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/reboot.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

long g_calls = 0;
long g_killAt = -1;
long g_cutAfter = -1;
bool g_read = false;

void beforeDurableCall() {
  if (!g_read) {
    g_read = true;
    if (const char* at = std::getenv("UINQ76_TEST_KILL_AT")) g_killAt = std::atol(at);
    if (const char* after = std::getenv("UINQ76_TEST_POWER_CUT_AFTER"))
      g_cutAfter = std::atol(after);
  }
  if (++g_calls == g_killAt) ::kill(::getpid(), SIGKILL);
}

void trace(const std::string& line) {
  static const char* path = std::getenv("UINQ76_TEST_TRACE");
  if (path == nullptr) return;
  static const auto open_real =
      reinterpret_cast<int (*)(const char*, int, ...)>(::dlsym(RTLD_NEXT, "open"));
  const int fd = open_real(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const std::string text = line + "\n";
  (void)!::write(fd, text.data(), text.size());
  ::close(fd);
}

std::string pathOf(int fd) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char target[PATH_MAX];
  const ssize_t length = ::readlink(link, target, sizeof target - 1);
  return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : "?";
}

void traceFlush(int fd) {
  struct stat st {};
  const long size = ::fstat(fd, &st) == 0 ? static_cast<long>(st.st_size) : -1;
  trace("fsync " + pathOf(fd) + " " + std::to_string(size));
}

// After the call: the power cut, when this was the call asked for.
int afterDurableCall(int result) {
  if (g_calls == g_cutAfter) {
    ::reboot(RB_POWER_OFF);
    // Not allowed (not root, or not inside a machine of its own): the kill.
    ::kill(::getpid(), SIGKILL);
  }
  return result;
}

template <typename F>
F real(const char* name) {
  return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

__attribute__((destructor)) void writeTally() {
  const char* path = std::getenv("UINQ76_TEST_TALLY");
  if (path == nullptr) return;
  if (FILE* out = std::fopen(path, "w")) {
    std::fprintf(out, "%ld\n", g_calls);
    std::fclose(out);
  }
}

}  // namespace

extern "C" {

int fsync(int fd) {
  beforeDurableCall();
  traceFlush(fd);
  static const auto next = real<int (*)(int)>("fsync");
  return afterDurableCall(next(fd));
}

int rename(const char* from, const char* to) {
  beforeDurableCall();
  trace(std::string("rename ") + from + " " + to);
  static const auto next = real<int (*)(const char*, const char*)>("rename");
  return afterDurableCall(next(from, to));
}

int renameat2(int from_dir, const char* from, int to_dir, const char* to, unsigned flags) {
  beforeDurableCall();
  trace(std::string("rename ") + from + " " + to);
  static const auto next = real<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
  return afterDurableCall(next(from_dir, from, to_dir, to, flags));
}

int unlink(const char* path) {
  beforeDurableCall();
  trace(std::string("unlink ") + path);
  static const auto next = real<int (*)(const char*)>("unlink");
  return afterDurableCall(next(path));
}

int mkdir(const char* path, mode_t mode) {
  beforeDurableCall();
  trace(std::string("mkdir ") + path);
  static const auto next = real<int (*)(const char*, mode_t)>("mkdir");
  return afterDurableCall(next(path, mode));
}

int link(const char* from, const char* to) {
  beforeDurableCall();
  trace(std::string("link ") + from + " " + to);
  static const auto next = real<int (*)(const char*, const char*)>("link");
  return afterDurableCall(next(from, to));
}

}  // extern "C"
