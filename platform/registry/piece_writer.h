// Writes a file piece by piece on a thread of its own, so that the next piece
// can be made while the kernel copies the last one into the file: a save of a
// large registry then takes about as long as the slower of the two instead of
// both together.
//
// The first piece is written at once by the caller, so that a file of one
// piece needs no thread; from the second on, each piece's buffer is taken
// over as it is handed over, and the caller gets a written piece's buffer (or
// an empty string) back to fill: the text is not copied on its way. At most
// two pieces wait at a time. Each piece written is
// sent on its way to the disk (sync_file_range), which gives the fsync that
// the caller makes at the end less to wait for.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "platform/registry/registry_file.h"

class PieceWriter final {
 public:
  // Writes to `fd`, which stays the caller's. FailWrite makes the first write
  // stop half way with ENOSPC, as a full disk would.
  PieceWriter(int fd, SaveFault fault);
  // Waits for the thread; what was not written by then is dropped.
  ~PieceWriter();
  PieceWriter(const PieceWriter&) = delete;
  PieceWriter& operator=(const PieceWriter&) = delete;

  // Queues `piece`, leaving a spare buffer with stale bytes (or an empty
  // string) in its place. False once a write has failed, with errno set to
  // that write's error.
  bool write(std::string& piece);
  // Waits until every queued piece is written. False when a write failed,
  // with errno set to its error.
  bool finish();

 private:
  void run();
  bool failed();
  // Writes one piece and starts its writeback; errno tells why when it
  // returns false.
  bool writePiece(std::string_view piece);

  const int m_fd;
  const SaveFault m_fault;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::deque<std::string> m_queue;  // Pieces not yet written, the oldest first.
  std::deque<std::string> m_spare;  // Written pieces' buffers, for reuse.
  bool m_busy = false;              // The thread is writing a piece.
  bool m_closing = false;
  int m_error = 0;  // errno of the first failed write; 0 while none failed.
  bool m_wroteFirst = false;
  off_t m_written = 0;  // Bytes written so far, by the caller or the thread.
  std::thread m_thread;
};
