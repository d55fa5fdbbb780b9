// The program's own file code on Windows, run under Wine: text-mode reading
// and writing over kernel32's files, and the delete-then-rename replace with
// what it promises when it fails. Each case works in a folder of its own below
// the folder given on the command line, which ends in a backslash.
#include <cstdio>
#include <cstring>
#include <string>

#include "files/startup_file_editor.h"
#include "platform/fs/file_replace.h"
#include "platform/fs/text_file.h"
#include "platform/win32/windows.h"

namespace {

int g_failures = 0;
std::string g_base;

#define CHECK(condition)                                                  \
  do {                                                                    \
    if (!(condition)) {                                                   \
      std::printf("%s:%d: failed: %s\n", __FILE__, __LINE__, #condition); \
      ++g_failures;                                                       \
    }                                                                     \
  } while (0)

std::string path(const char* name) { return g_base + name; }

void writeBytes(const char* name, const std::string& bytes) {
  const HANDLE file = CreateFileA(path(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD put = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
  CloseHandle(file);
}

// The file's bytes, or "<missing>".
std::string readBytes(const char* name) {
  const HANDLE file = CreateFileA(path(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string bytes;
  char chunk[512];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
  CloseHandle(file);
  return bytes;
}

void makeReadOnly(const char* name) {
  SetFileAttributesA(path(name).c_str(), FILE_ATTRIBUTE_READONLY);
}

void testTextModeReading() {
  // CR LF is one break, a lone CR a character, Ctrl-Z the end for good.
  writeBytes("T.TXT", std::string("one\r\ntwo\rthree\r\n\x1A"
                                  "after\r\n",
                                  22));
  auto reader = TextFileReader::open(path("T.TXT").c_str());
  CHECK(reader != nullptr);
  if (reader == nullptr) return;
  char piece[8];
  CHECK(reader->readPiece(piece, sizeof piece) == 4);
  CHECK(std::strcmp(piece, "one\n") == 0);
  CHECK(reader->readPiece(piece, sizeof piece) == 7);  // cut at size - 1
  CHECK(std::strcmp(piece, "two\rthr") == 0);
  CHECK(reader->readPiece(piece, sizeof piece) == 3);
  CHECK(std::strcmp(piece, "ee\n") == 0);
  CHECK(reader->readPiece(piece, sizeof piece) == 0);
  CHECK(!reader->failed());

  SetLastError(0);
  CHECK(TextFileReader::open(path("NONE.TXT").c_str()) == nullptr);
  CHECK(GetLastError() == ERROR_FILE_NOT_FOUND);
}

void testTextModeWriting() {
  writeBytes("OUT.@@@", "stale text that must go");
  auto writer = TextFileWriter::createNew(path("OUT.@@@").c_str());
  CHECK(writer != nullptr);
  if (writer != nullptr) {
    CHECK(writer->write("a\nb", 3));
    CHECK(writer->commit());
  }
  CHECK(readBytes("OUT.@@@") == "a\r\nb");

  writeBytes("RO.@@@", "kept");
  makeReadOnly("RO.@@@");
  SetLastError(0);
  CHECK(TextFileWriter::createNew(path("RO.@@@").c_str()) == nullptr);
  CHECK(GetLastError() == ERROR_ACCESS_DENIED);
  CHECK(readBytes("RO.@@@") == "kept");

  CreateDirectoryA(path("DIR.@@@").c_str(), nullptr);
  CHECK(TextFileWriter::createNew(path("DIR.@@@").c_str()) == nullptr);
}

void testReplace() {
  writeBytes("OLD.TXT", "old");
  writeBytes("NEW.TMP", "new");
  CHECK(replaceFileWithCopy(path("NEW.TMP").c_str(), path("OLD.TXT").c_str()));
  CHECK(readBytes("OLD.TXT") == "new");
  CHECK(readBytes("NEW.TMP") == "<missing>");

  // Nothing changes when the rename could not follow the delete: a missing
  // replacement, or a read-only or folder target that cannot be deleted.
  CHECK(!replaceFileWithCopy(path("NONE.TMP").c_str(), path("OLD.TXT").c_str()));
  CHECK(readBytes("OLD.TXT") == "new");

  writeBytes("RO.TXT", "read-only");
  makeReadOnly("RO.TXT");
  writeBytes("RO.TMP", "copy");
  SetLastError(0);
  CHECK(!replaceFileWithCopy(path("RO.TMP").c_str(), path("RO.TXT").c_str()));
  CHECK(GetLastError() == ERROR_ACCESS_DENIED);
  CHECK(readBytes("RO.TXT") == "read-only");
  CHECK(readBytes("RO.TMP") == "copy");

  CreateDirectoryA(path("FOLDER.TXT").c_str(), nullptr);
  CHECK(!replaceFileWithCopy(path("RO.TMP").c_str(), path("FOLDER.TXT").c_str()));
  CHECK(readBytes("RO.TMP") == "copy");

  // No target: the copy simply takes the name.
  CHECK(replaceFileWithCopy(path("RO.TMP").c_str(), path("FRESH.TXT").c_str()));
  CHECK(readBytes("FRESH.TXT") == "copy");
}

void testStartupFileEdit() {
  writeBytes("AUTOEXEC.BAT", "  path c:\\dos\r\nrem x\r\n\x1A");
  CHECK(EditStartupFileLine("UINQ76D.EXE", "C:\\WINDOWS\\UINQ76D.EXE C:\\WINDOWS",
                            path("AUTOEXEC.BAT").c_str()) == 1);
  CHECK(readBytes("AUTOEXEC.BAT") ==
        "PATH C:\\DOS\r\nREM X\r\nC:\\WINDOWS\\UINQ76D.EXE C:\\WINDOWS");
  CHECK(readBytes("AUTOEXEC.@@@") == "<missing>");

  // A read-only startup file stays as it was; the edited copy remains beside it.
  writeBytes("CONFIG.SYS", "files=30\r\n");
  makeReadOnly("CONFIG.SYS");
  CHECK(EditStartupFileLine("UINQ76D.EXE", "X", path("CONFIG.SYS").c_str()) == 0);
  CHECK(readBytes("CONFIG.SYS") == "files=30\r\n");
  CHECK(readBytes("CONFIG.@@@") == "FILES=30\r\nX");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::printf("usage: files_win32_test FOLDER\\ (with the backslash)\n");
    return 2;
  }
  const std::string root = argv[1];
  // The startup-file editor names its temporary after the first '.' of the
  // whole path, so the cases need a folder without one.
  if (root.find('.') != std::string::npos) {
    std::printf("the folder must have no '.' in its path: %s\n", root.c_str());
    return 2;
  }
  int number = 0;
  for (void (*test)() :
       {testTextModeReading, testTextModeWriting, testReplace, testStartupFileEdit}) {
    g_base = root + "case" + std::to_string(++number) + "\\";
    CreateDirectoryA(g_base.c_str(), nullptr);
    test();
  }
  std::printf("%s: %d failure(s)\n", argv[0], g_failures);
  return g_failures == 0 ? 0 : 1;
}
