// Preloaded into the program by the crash tests: counts the calls that make
// changes durable (fsync, rename, unlink, mkdir, link) and kills the process
// with SIGKILL just before the call numbered UINQ76_TEST_KILL_AT, as a crash
// or a power cut would stop it there. With UINQ76_TEST_TALLY set, the number
// of such calls is written to that file when the process ends normally.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

long g_calls = 0;
long g_killAt = -1;
bool g_read = false;

void beforeDurableCall() {
  if (!g_read) {
    g_read = true;
    if (const char* at = std::getenv("UINQ76_TEST_KILL_AT")) g_killAt = std::atol(at);
  }
  if (++g_calls == g_killAt) ::kill(::getpid(), SIGKILL);
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
  static const auto next = real<int (*)(int)>("fsync");
  return next(fd);
}

int rename(const char* from, const char* to) {
  beforeDurableCall();
  static const auto next = real<int (*)(const char*, const char*)>("rename");
  return next(from, to);
}

int renameat2(int from_dir, const char* from, int to_dir, const char* to, unsigned flags) {
  beforeDurableCall();
  static const auto next = real<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
  return next(from_dir, from, to_dir, to, flags);
}

int unlink(const char* path) {
  beforeDurableCall();
  static const auto next = real<int (*)(const char*)>("unlink");
  return next(path);
}

int mkdir(const char* path, mode_t mode) {
  beforeDurableCall();
  static const auto next = real<int (*)(const char*, mode_t)>("mkdir");
  return next(path, mode);
}

int link(const char* from, const char* to) {
  beforeDurableCall();
  static const auto next = real<int (*)(const char*, const char*)>("link");
  return next(from, to);
}

}  // extern "C"
