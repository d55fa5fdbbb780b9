#include "tests/support/save_faults.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace save_faults {
namespace {

Fault g_fault = Fault::None;
std::string g_pathPart;

template <typename F>
F next(const char* name) {
  return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

// The path an open descriptor names, or nothing.
std::string pathOf(int fd) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char target[4096];
  const ssize_t n = ::readlink(link, target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

bool aimedAt(const std::string& path) {
  return g_fault != Fault::None && path.find(g_pathPart) != std::string::npos;
}

}  // namespace

Planted::Planted(Fault fault, std::string pathPart) {
  g_pathPart = std::move(pathPart);
  g_fault = fault;
}

Planted::~Planted() { g_fault = Fault::None; }

}  // namespace save_faults

using save_faults::Fault;

extern "C" {

ssize_t write(int fd, const void* bytes, size_t count) {
  static const auto real = save_faults::next<ssize_t (*)(int, const void*, size_t)>("write");
  if (save_faults::g_fault == Fault::FailWrite && save_faults::aimedAt(save_faults::pathOf(fd))) {
    if (count > 1) (void)real(fd, bytes, count / 2);
    errno = ENOSPC;
    return -1;
  }
  return real(fd, bytes, count);
}

int rename(const char* from, const char* to) {
  static const auto real = save_faults::next<int (*)(const char*, const char*)>("rename");
  if (save_faults::aimedAt(from)) {
    if (save_faults::g_fault == Fault::ExitBeforeRename) ::_exit(70);
    if (save_faults::g_fault == Fault::FailRename) {
      errno = EIO;
      return -1;
    }
  }
  return real(from, to);
}

}  // extern "C"
