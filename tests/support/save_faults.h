// Failures of the system calls a save makes, planted inside a test process
// by interposing write(2) and rename(2): the program itself carries no test
// hooks. Only the calls on a path that holds `pathPart` fail; every other
// call goes to the C library as it is.
#pragma once

#include <string>

namespace save_faults {

enum class Fault {
  None,
  // A write that runs out of space halfway: half the bytes are written, then
  // the call fails with ENOSPC.
  FailWrite,
  // The rename into place fails with EIO, the temporary file complete.
  FailRename,
  // The process ends at once (_exit(70)) before the rename, as a power cut
  // would stop it there.
  ExitBeforeRename,
};

// Plants `fault` for the calls on paths that hold `pathPart`, until the
// returned guard goes.
class Planted final {
 public:
  Planted(Fault fault, std::string pathPart);
  ~Planted();
  Planted(const Planted&) = delete;
  Planted& operator=(const Planted&) = delete;
};

}  // namespace save_faults
