#include "platform/fs/write_failures.h"

#include "platform/fs/dry_run.h"

namespace {

std::vector<FileWriteFailure>& failures() {
  static std::vector<FileWriteFailure> kept;
  return kept;
}

}  // namespace

void noteFileWriteFailure(const char* windows_path, DWORD error) {
  // A dry run refuses every change on purpose; nothing failed.
  if (fileDryRunActive()) return;
  if (error == static_cast<DWORD>(ERROR_FILE_NOT_FOUND) ||
      error == static_cast<DWORD>(ERROR_PATH_NOT_FOUND))
    return;
  failures().push_back(FileWriteFailure{windows_path != nullptr ? windows_path : "", error});
}

std::vector<FileWriteFailure> takeFileWriteFailures() {
  std::vector<FileWriteFailure> taken;
  taken.swap(failures());
  return taken;
}

std::string describeFileError(DWORD error) {
  switch (error) {
    case ERROR_DISK_FULL:
      return "no space left on the drive";
    case ERROR_WRITE_FAULT:
      return "input/output error";
    case ERROR_READ_FAULT:
      return "input/output error while reading";
    case ERROR_ACCESS_DENIED:
      return "access refused";
    case ERROR_ALREADY_EXISTS:
      return "the name is taken";
    case ERROR_NOT_SAME_DEVICE:
      return "not on the same drive";
    case ERROR_TOO_MANY_OPEN_FILES:
      return "too many open files";
    case ERROR_NOT_ENOUGH_MEMORY:
      return "out of memory";
    case ERROR_FILENAME_EXCED_RANGE:
      return "the path is too long";
    case ERROR_INVALID_NAME:
      return "the name is not valid";
    default:
      return "Win32 error " + std::to_string(error);
  }
}
