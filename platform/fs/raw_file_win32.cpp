// The system's files on Windows: kernel32's CreateFileA, ReadFile, WriteFile
// and FlushFileBuffers, which set the last error themselves.
#include "platform/fs/raw_file.h"

namespace rawfile {
namespace {

HANDLE handleOf(Handle file) { return reinterpret_cast<HANDLE>(file); }

}  // namespace

Handle openForReading(LPCSTR path) {
  if (path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return kNoFile;
  }
  // A folder cannot be opened this way: ERROR_ACCESS_DENIED, as on Linux.
  const HANDLE file = ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<Handle>(file);
}

Handle createNew(LPCSTR path) {
  if (path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return kNoFile;
  }
  const DWORD attributes = ::GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    // DeleteFileA refuses folders and read-only files with ERROR_ACCESS_DENIED.
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      SetLastError(ERROR_ACCESS_DENIED);
      return kNoFile;
    }
    if (!::DeleteFileA(path)) return kNoFile;
  }
  // CREATE_NEW: if anything appeared at the path since, the create fails
  // instead of writing into it.
  const HANDLE file =
      ::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<Handle>(file);
}

std::ptrdiff_t read(Handle file, void* buffer, size_t size) {
  DWORD got = 0;
  if (!::ReadFile(handleOf(file), buffer, static_cast<DWORD>(size), &got, nullptr)) return -1;
  return static_cast<std::ptrdiff_t>(got);
}

bool write(Handle file, const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    DWORD put = 0;
    if (!::WriteFile(handleOf(file), bytes + done, static_cast<DWORD>(size - done), &put, nullptr))
      return false;
    if (put == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    done += put;
  }
  return true;
}

bool flush(Handle file) { return ::FlushFileBuffers(handleOf(file)) != FALSE; }

bool close(Handle file) { return ::CloseHandle(handleOf(file)) != FALSE; }

void noteWriteFailure(LPCSTR) {}

}  // namespace rawfile
