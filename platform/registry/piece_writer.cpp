#include "platform/registry/piece_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Writes all of `bytes`; errno tells why when it returns false.
bool writeAll(int fd, std::string_view bytes, SaveFault fault) {
  std::size_t limit = bytes.size();
  if (fault == SaveFault::FailWrite) limit /= 2;
  std::size_t done = 0;
  while (done < limit) {
    const ssize_t n = ::write(fd, bytes.data() + done, limit - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  if (fault == SaveFault::FailWrite) {
    errno = ENOSPC;
    return false;
  }
  return true;
}

constexpr std::size_t kMaxWaiting = 2;

}  // namespace

PieceWriter::PieceWriter(int fd, SaveFault fault) : m_fd(fd), m_fault(fault) {}

PieceWriter::~PieceWriter() {
  if (!m_thread.joinable()) return;
  {
    std::lock_guard lock(m_mutex);
    m_closing = true;
  }
  m_changed.notify_all();
  m_thread.join();
}

bool PieceWriter::write(std::string& piece) {
  if (!m_thread.joinable()) {
    // A file of one piece is written here and now; the thread starts with
    // the second.
    if (m_error != 0) return failed();
    if (!m_wroteFirst) {
      m_wroteFirst = true;
      if (!writePiece(piece)) {
        m_error = errno != 0 ? errno : EIO;
        return failed();
      }
      return true;
    }
    m_thread = std::thread([this] { run(); });
  }
  std::unique_lock lock(m_mutex);
  m_changed.wait(lock, [&] { return m_error != 0 || m_queue.size() < kMaxWaiting; });
  if (m_error != 0) return failed();
  std::string buffer;
  if (!m_spare.empty()) {
    buffer = std::move(m_spare.front());
    m_spare.pop_front();
  }
  buffer.swap(piece);
  m_queue.push_back(std::move(buffer));
  lock.unlock();
  m_changed.notify_all();
  return true;
}

bool PieceWriter::finish() {
  if (!m_thread.joinable()) return m_error == 0 || failed();
  std::unique_lock lock(m_mutex);
  m_changed.wait(lock, [&] { return m_error != 0 || (m_queue.empty() && !m_busy); });
  if (m_error != 0) return failed();
  return true;
}

bool PieceWriter::failed() {
  errno = m_error;
  return false;
}

bool PieceWriter::writePiece(std::string_view piece) {
  if (!writeAll(m_fd, piece, m_fault)) return false;
  const auto length = static_cast<off_t>(piece.size());
  (void)::sync_file_range(m_fd, m_written, length, SYNC_FILE_RANGE_WRITE);
  m_written += length;
  return true;
}

void PieceWriter::run() {
  std::unique_lock lock(m_mutex);
  while (true) {
    m_changed.wait(lock, [&] { return m_closing || !m_queue.empty(); });
    if (m_closing || m_error != 0) return;
    std::string piece = std::move(m_queue.front());
    m_queue.pop_front();
    m_busy = true;
    lock.unlock();
    const bool ok = writePiece(piece);
    const int error = errno;
    lock.lock();
    m_busy = false;
    if (!ok) m_error = error != 0 ? error : EIO;
    m_spare.push_back(std::move(piece));
    m_changed.notify_all();
  }
}
