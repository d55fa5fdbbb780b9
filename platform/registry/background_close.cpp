#include "platform/registry/background_close.h"

#include <sys/stat.h>

#include <system_error>
#include <utility>

namespace {

// Below this size closing takes a fraction of a millisecond, less than a
// thread takes to start.
constexpr off_t kThreadFrom = 1024 * 1024;

}  // namespace

BackgroundClose::~BackgroundClose() { wait(); }

void BackgroundClose::wait() {
  if (m_thread.joinable()) m_thread.join();
}

void BackgroundClose::close(LockedFile file) {
  wait();
  if (!file.isOpen()) return;
  struct stat st {};
  if (::fstat(file.fd(), &st) != 0 || st.st_size < kThreadFrom) return;  // closed here
  try {
    m_thread = std::thread([held = std::move(file)]() mutable { held.close(); });
  } catch (const std::system_error&) {
    // No thread to be had: the file has closed here, with the function that
    // held it.
  }
}
