#include "platform/fs/text_file.h"

namespace {

constexpr int kCtrlZ = 26;
// Profile files and startup files are small; a larger file is refused rather
// than read into memory whole.
constexpr size_t kMaxWholeFile = 64u * 1024u * 1024u;

}  // namespace

std::unique_ptr<TextFileReader> TextFileReader::open(LPCSTR path) {
  const rawfile::Handle file = rawfile::openForReading(path);
  if (file == rawfile::kNoFile) return nullptr;
  return std::unique_ptr<TextFileReader>(new TextFileReader(file));
}

TextFileReader::~TextFileReader() {
  if (m_file != rawfile::kNoFile) rawfile::close(m_file);
}

int TextFileReader::peekRaw() {
  if (m_position == m_length) {
    const std::ptrdiff_t got = rawfile::read(m_file, m_buffer, sizeof m_buffer);
    if (got < 0) {
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
  const rawfile::Handle file = rawfile::createNew(path);
  if (file == rawfile::kNoFile) {
    rawfile::noteWriteFailure(path);
    return nullptr;
  }
  return std::unique_ptr<TextFileWriter>(new TextFileWriter(file, path));
}

TextFileWriter::~TextFileWriter() {
  if (m_file != rawfile::kNoFile) {
    drain();
    rawfile::close(m_file);
  }
}

// Marks the writer failed and tells the host once, with the last error.
bool TextFileWriter::fail() {
  if (!m_failed) rawfile::noteWriteFailure(m_path.c_str());
  m_failed = true;
  return false;
}

bool TextFileWriter::drain() {
  if (!m_failed && !m_pending.empty() &&
      !rawfile::write(m_file, m_pending.data(), m_pending.size()))
    fail();
  m_pending.clear();
  return !m_failed;
}

BOOL TextFileWriter::write(const char* text, size_t length) {
  if (m_file == rawfile::kNoFile) {
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
  if (m_file == rawfile::kNoFile) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  bool ok = drain() && rawfile::flush(m_file);
  // A failed close is reported only when nothing failed before it, so the
  // first error is the one kept.
  DWORD first_error = ok ? ERROR_SUCCESS : GetLastError();
  if (!rawfile::close(m_file) && ok) {
    ok = false;
    first_error = GetLastError();
  }
  m_file = rawfile::kNoFile;
  if (!ok) {
    SetLastError(first_error);
    fail();
    SetLastError(first_error);
  }
  return ok ? TRUE : FALSE;
}

DWORD readFileBytes(LPCSTR path, std::string& bytes) {
  const rawfile::Handle file = rawfile::openForReading(path);
  if (file == rawfile::kNoFile) return GetLastError();
  DWORD error = ERROR_SUCCESS;
  std::string content;
  char chunk[8192];
  for (;;) {
    const std::ptrdiff_t got = rawfile::read(file, chunk, sizeof chunk);
    if (got < 0) {
      error = GetLastError();
      break;
    }
    if (got == 0) break;
    if (content.size() + static_cast<size_t>(got) > kMaxWholeFile) {
      error = ERROR_NOT_ENOUGH_MEMORY;
      break;
    }
    content.append(chunk, static_cast<size_t>(got));
  }
  rawfile::close(file);
  if (error == ERROR_SUCCESS) bytes = std::move(content);
  return error;
}
