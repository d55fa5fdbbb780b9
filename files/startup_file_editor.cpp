#include "files/startup_file_editor.h"

#include <cstring>

#include "platform/fs/file_replace.h"
#include "platform/fs/text_file.h"
#include "platform/text/ascii.h"

namespace {

constexpr size_t kKeySize = 128;
constexpr size_t kLineSize = 128;
constexpr size_t kTempPathSize = MAX_PATH;
constexpr size_t kLongestPath = 255;
constexpr char kTempSuffix[] = ".@@@";

// Capitals of a to z only, whatever the system's language: bytes of 128 and
// above keep their case.
void toCapitals(char* text, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    text[i] = ascii::toUpper(text[i]);
  }
}

// Removes the leading spaces of a piece of `length` characters, which may
// hold zero bytes, and returns its new length.
size_t stripPieceSpaces(char* piece, size_t length) {
  size_t spaces = 0;
  while (spaces < length && piece[spaces] == ' ') ++spaces;
  std::memmove(piece, piece + spaces, length - spaces + 1);
  return length - spaces;
}

bool startsWithRem(const char* text) { return std::strncmp(text, "REM ", 4) == 0; }

// The search sees a piece up to its first zero byte.
bool isMatchingLine(const char* piece, const char* key) {
  if (key[0] == '\0' || std::strstr(piece, key) == nullptr) return false;
  return !startsWithRem(piece) || startsWithRem(key);
}

// Paths of MAX_PATH characters or more are never the same.
bool sameTextIgnoringCase(const char* a, const char* b) {
  const size_t length = std::strlen(a);
  if (length != std::strlen(b) || length >= kTempPathSize) return false;
  return ascii::equalsIgnoringCase(std::string_view(a, length), std::string_view(b, length));
}

}  // namespace

void StripLeadingSpaces(LPSTR line) {
  if (line == nullptr) return;
  stripPieceSpaces(line, std::strlen(line));
}

int EditStartupFileLine(LPCSTR key, LPCSTR new_line, LPCSTR path) {
  if (path == nullptr || std::strlen(path) > kLongestPath) return 0;

  char key_text[kKeySize] = "";
  if (key != nullptr) {
    const size_t key_length = std::strlen(key);
    if (key_length >= kKeySize) return 0;
    std::memcpy(key_text, key, key_length + 1);
    toCapitals(key_text, key_length);
  }

  // The temporary: the path up to its first '.', wherever that stands, then
  // ".@@@". C:\AUTOEXEC.BAT gives C:\AUTOEXEC.@@@.
  char temp_path[kTempPathSize];
  const size_t stem = std::strcspn(path, ".");
  std::memcpy(temp_path, path, stem);
  std::memcpy(temp_path + stem, kTempSuffix, sizeof kTempSuffix);
  // A file that is itself named like its temporary would be removed when the
  // temporary is created.
  if (sameTextIgnoringCase(temp_path, path)) return 0;

  auto source = TextFileReader::open(path);
  if (!source) return 0;
  auto copy = TextFileWriter::createNew(temp_path);
  if (!copy) return 0;

  char line[kLineSize];
  // Whether the text written so far ends inside a line, so that the new line
  // needs a line break before it to stand on a line of its own.
  bool inside_line = false;
  for (;;) {
    size_t length = source->readPiece(line, sizeof line);
    if (length == 0) {
      if (source->failed()) return 0;
      break;
    }
    length = stripPieceSpaces(line, length);
    toCapitals(line, length);
    if (isMatchingLine(line, key_text)) break;
    if (length == 0) continue;
    if (!copy->write(line, length)) return 0;
    inside_line = line[length - 1] != '\n';
  }

  // The new line takes the matched line's place, or follows the last line.
  // Text after it is put on a line of its own; where it ends the file, no
  // line break follows it.
  bool break_before_rest = false;
  if (new_line != nullptr && new_line[0] != '\0') {
    if (inside_line && !copy->write("\n", 1)) return 0;
    if (!copy->write(new_line, std::strlen(new_line))) return 0;
    break_before_rest = true;
  }

  for (;;) {
    const size_t length = source->readPiece(line, sizeof line);
    if (length == 0) {
      if (source->failed()) return 0;
      break;
    }
    if (break_before_rest && !copy->write("\n", 1)) return 0;
    break_before_rest = false;
    if (!copy->write(line, length)) return 0;
  }

  // The copy must be on the disk before it replaces the file: the program
  // asks for a shutdown right after this edit.
  if (!copy->commit()) return 0;
  source.reset();
  return replaceFileWithCopy(temp_path, path) ? 1 : 0;
}
