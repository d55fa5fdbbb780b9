// Closes a replaced registry file on a thread of its own.
//
// After a save renames the new file over the old one, the store's descriptor
// is the old file's last reference: closing it makes the kernel drop the old
// file's cached pages and free its blocks, some milliseconds for a registry
// of some megabytes. The save need not wait for that. Until the thread has
// closed it, the old file keeps its lock, which nobody can want any more: its
// name already belongs to the new file.
//
// A small file is closed at once, as a thread would cost more than it saves.
#pragma once

#include <thread>

#include "platform/registry/registry_file.h"

class BackgroundClose final {
 public:
  BackgroundClose() = default;
  // Waits until the last file handed over is closed.
  ~BackgroundClose();
  BackgroundClose(const BackgroundClose&) = delete;
  BackgroundClose& operator=(const BackgroundClose&) = delete;

  // Closes `file`, on the thread when it is large; waits first for the file
  // handed over before.
  void close(LockedFile file);
  // Returns once every file handed over is closed.
  void wait();

 private:
  std::thread m_thread;
};
