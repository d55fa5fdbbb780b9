// Files in the C runtime's text mode, as the DOS and Windows runtimes keep
// them: on reading, a carriage return and line feed is one line break (a lone
// carriage return stays a character) and a byte 26 (Ctrl-Z) ends the file for
// good; on writing, every line break becomes a carriage return and line feed.
// The same code decodes and encodes on every platform, over the system's
// files (raw_file.h).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>

#include "platform/fs/raw_file.h"
#include "platform/winbase/winbase.h"

class TextFileReader final {
 public:
  // Opens an existing file for reading. Returns null and sets the last error
  // when it is missing (ERROR_FILE_NOT_FOUND), a folder or refused
  // (ERROR_ACCESS_DENIED), or its path does not resolve.
  static std::unique_ptr<TextFileReader> open(LPCSTR path);
  ~TextFileReader();
  TextFileReader(const TextFileReader&) = delete;
  TextFileReader& operator=(const TextFileReader&) = delete;

  // Reads the next piece as fgets does: at most size - 1 characters, ending
  // after a line break, and a terminating zero. Returns the number of
  // characters stored, which counts any zero bytes read from the file, so
  // strlen can be less. 0 means nothing was read: the end of the file, or an
  // error when failed() says so (the last error is then set); the buffer then
  // holds an empty text, unless size is 0.
  size_t readPiece(char* buffer, size_t size);
  bool failed() const { return m_failed; }

 private:
  explicit TextFileReader(rawfile::Handle file) : m_file(file) {}
  // The next byte as text mode reads it, or -1 at the end or on an error.
  int nextChar();
  int peekRaw();

  rawfile::Handle m_file = rawfile::kNoFile;
  unsigned char m_buffer[4096] = {};
  size_t m_length = 0;
  size_t m_position = 0;
  bool m_at_end = false;
  bool m_failed = false;
};

class TextFileWriter final {
 public:
  // Creates a new, empty file with the spelling given, exclusively: what
  // stands at the path is removed first and never opened; a symbolic link is removed, not
  // followed, so the file it names stays untouched. Returns null and sets the
  // last error when a folder (ERROR_ACCESS_DENIED) or a read-only file
  // (ERROR_ACCESS_DENIED, for every user) stands there, the folder is missing
  // (ERROR_PATH_NOT_FOUND) or the file cannot be created.
  static std::unique_ptr<TextFileWriter> createNew(LPCSTR path);
  // Closes the file; text not yet written goes to it first.
  ~TextFileWriter();
  TextFileWriter(const TextFileWriter&) = delete;
  TextFileWriter& operator=(const TextFileWriter&) = delete;

  // Writes text, each '\n' as a carriage return and line feed. Returns FALSE
  // with the last error set on a write error; every later call fails too.
  BOOL write(const char* text, size_t length);
  // Writes out everything, flushes it to the disk and closes the file.
  // FALSE with the last error set if any of it failed.
  BOOL commit();

 private:
  TextFileWriter(rawfile::Handle file, std::string path) : m_file(file), m_path(std::move(path)) {}
  bool drain();
  bool fail();

  rawfile::Handle m_file = rawfile::kNoFile;
  std::string m_path;  // As the caller named it, for the report of a failure.
  std::string m_pending;
  bool m_failed = false;
};

// Reads a whole file as it is, without any conversion. Returns ERROR_SUCCESS
// or the Win32 code of the failure (then `bytes` is left as it was).
DWORD readFileBytes(LPCSTR path, std::string& bytes);
