#include "platform/fs/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/fs/drives.h"
#include "platform/fs/dry_run.h"
#include "platform/fs/file_attributes.h"
#include "platform/fs/win_error.h"

namespace {

constexpr int kCtrlZ = 26;
// Profile files and startup files are small; a larger file is refused rather
// than read into memory whole.
constexpr size_t kMaxWholeFile = 64u * 1024u * 1024u;

// Opens an existing file for reading, following a link that stays inside the
// drive. Returns the descriptor, or -1 with the Win32 error in `error`.
int openForReading(LPCSTR path, DWORD& error) {
  if (path == nullptr) {
    error = ERROR_INVALID_PARAMETER;
    return -1;
  }
  const ResolvedPath resolved = resolveWindowsPath(path, LastComponent::Follow);
  if (!resolved.ok()) {
    error = resolved.error;
    return -1;
  }
  if (!resolved.exists) {
    error = ERROR_FILE_NOT_FOUND;
    return -1;
  }
  const int fd = ::open(resolved.host.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    error = win32ErrorFromErrno(errno);
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    error = ERROR_ACCESS_DENIED;
    return -1;
  }
  return fd;
}

}  // namespace

std::unique_ptr<TextFileReader> TextFileReader::open(LPCSTR path) {
  DWORD error = ERROR_SUCCESS;
  const int fd = openForReading(path, error);
  if (fd < 0) {
    SetLastError(error);
    return nullptr;
  }
  return std::unique_ptr<TextFileReader>(new TextFileReader(fd));
}

TextFileReader::~TextFileReader() {
  if (m_fd >= 0) ::close(m_fd);
}

int TextFileReader::peekRaw() {
  if (m_position == m_length) {
    ssize_t got = 0;
    do {
      got = ::read(m_fd, m_buffer, sizeof m_buffer);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
      setLastErrorFromErrno(errno);
      m_failed = true;
      return -1;
    }
    m_position = 0;
    m_length = static_cast<size_t>(got);
    if (got == 0) return -1;
  }
  return m_buffer[m_position];
}

int TextFileReader::nextChar() {
  if (m_at_end || m_failed) return -1;
  const int c = peekRaw();
  if (c < 0) {
    m_at_end = !m_failed;
    return -1;
  }
  ++m_position;
  if (c == kCtrlZ) {
    // Text mode ends the file at Ctrl-Z, and nothing after it is ever read.
    m_at_end = true;
    return -1;
  }
  if (c == '\r' && peekRaw() == '\n') {
    ++m_position;
    return '\n';
  }
  return m_failed ? -1 : c;
}

size_t TextFileReader::readPiece(char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return 0;
  size_t count = 0;
  while (count + 1 < size) {
    const int c = nextChar();
    if (c < 0) break;
    buffer[count++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  if (m_failed) count = 0;
  buffer[count] = '\0';
  return count;
}

std::unique_ptr<TextFileWriter> TextFileWriter::createNew(LPCSTR path) {
  if (path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (FileDryRunActive()) {
    SetLastError(ERROR_WRITE_PROTECT);
    return nullptr;
  }
  const ResolvedPath resolved = resolveWindowsPath(path, LastComponent::DoNotFollow);
  if (!resolved.ok()) {
    SetLastError(resolved.error);
    return nullptr;
  }
  if (resolved.given_name.empty()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  if (resolved.exists) {
    struct stat st {};
    if (::lstat(resolved.host.c_str(), &st) != 0) {
      setLastErrorFromErrno(errno);
      return nullptr;
    }
    if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && isReadOnly(st))) {
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    if (::unlink(resolved.host.c_str()) != 0) {
      setLastErrorFromErrno(errno);
      return nullptr;
    }
  }
  // O_EXCL with O_NOFOLLOW: if anything appeared at the path since, the create
  // fails instead of writing through it.
  const std::filesystem::path target = resolved.parent / resolved.given_name;
  const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    setLastErrorFromErrno(errno);
    return nullptr;
  }
  return std::unique_ptr<TextFileWriter>(new TextFileWriter(fd));
}

TextFileWriter::~TextFileWriter() {
  if (m_fd >= 0) {
    drain();
    ::close(m_fd);
  }
}

bool TextFileWriter::drain() {
  size_t done = 0;
  while (!m_failed && done < m_pending.size()) {
    const ssize_t put = ::write(m_fd, m_pending.data() + done, m_pending.size() - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      setLastErrorFromErrno(errno);
      m_failed = true;
    } else {
      done += static_cast<size_t>(put);
    }
  }
  m_pending.clear();
  return !m_failed;
}

BOOL TextFileWriter::write(const char* text, size_t length) {
  if (m_fd < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (m_failed) {
    SetLastError(ERROR_WRITE_FAULT);
    return FALSE;
  }
  for (size_t i = 0; i < length; ++i) {
    if (text[i] == '\n') m_pending.push_back('\r');
    m_pending.push_back(text[i]);
  }
  if (m_pending.size() >= 4096 && !drain()) return FALSE;
  return TRUE;
}

BOOL TextFileWriter::commit() {
  if (m_fd < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  bool ok = drain();
  if (ok && ::fsync(m_fd) != 0) {
    setLastErrorFromErrno(errno);
    ok = false;
  }
  if (::close(m_fd) != 0 && ok) {
    setLastErrorFromErrno(errno);
    ok = false;
  }
  m_fd = -1;
  if (!ok) m_failed = true;
  return ok ? TRUE : FALSE;
}

DWORD readFileBytes(LPCSTR path, std::string& bytes) {
  DWORD error = ERROR_SUCCESS;
  const int fd = openForReading(path, error);
  if (fd < 0) return error;
  std::string content;
  char chunk[8192];
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = win32ErrorFromErrno(errno);
      break;
    }
    if (got == 0) break;
    if (content.size() + static_cast<size_t>(got) > kMaxWholeFile) {
      error = ERROR_NOT_ENOUGH_MEMORY;
      break;
    }
    content.append(chunk, static_cast<size_t>(got));
  }
  ::close(fd);
  if (error == ERROR_SUCCESS) bytes = std::move(content);
  return error;
}
