// libFuzzer target: the startup-file editor on any file, key and new line.
// Afterwards the file must hold exactly the input transformed by the editor's
// rules, worked out here on the whole text: read in text mode, pieces of at
// most 127 characters, the pieces before the replaced one without leading
// spaces and in capitals, the new line in its place (or after the last piece),
// every later piece unchanged. With a failure forced (a folder where the
// temporary goes, a read-only file), the old file must be intact.
//
// Input: one byte of choices, the key and the new line (each a length byte and
// its bytes, cut at a zero), then the file.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "files/startup_file_editor.h"
#include "tools/fuzz/fuzz_input.h"
#include "tools/fuzz/scratch_machine.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kPiece = 127;

std::string capitals(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return text;
}

// Text mode: "\r\n" reads as '\n', a byte 26 ends the file; '\n' writes as "\r\n".
std::string decode(std::string_view bytes) {
  std::string text;
  for (std::size_t i = 0; i < bytes.size() && bytes[i] != '\x1A'; ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    text += bytes[i];
  }
  return text;
}
std::string encode(std::string_view text) {
  std::string bytes;
  for (char c : text) bytes += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return bytes;
}

std::vector<std::string> pieces(const std::string& text) {
  std::vector<std::string> result;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = at;
    while (end < text.size() && end - at < kPiece && text[end] != '\n') ++end;
    if (end < text.size() && end - at < kPiece) ++end;  // the line break stays in the piece
    result.push_back(text.substr(at, end - at));
    at = end;
  }
  return result;
}

std::string expectedEdit(std::string_view bytes, const std::string& key, const std::string& line) {
  const std::string wanted = capitals(key);
  const std::vector<std::string> all = pieces(decode(bytes));
  std::string out;
  std::size_t i = 0;
  for (; i < all.size(); ++i) {
    std::string piece = capitals(all[i].substr(all[i].find_first_not_of(' ') == std::string::npos
                                                   ? all[i].size()
                                                   : all[i].find_first_not_of(' ')));
    // The search sees the piece up to a zero byte.
    const std::string seen = piece.substr(0, piece.find('\0'));
    const bool rem = seen.rfind("REM ", 0) == 0;
    if (!wanted.empty() && seen.find(wanted) != std::string::npos &&
        (!rem || wanted.rfind("REM ", 0) == 0)) {
      ++i;  // the matching piece is dropped
      break;
    }
    out += piece;
  }
  const bool inserted = !line.empty();
  if (inserted) {
    if (!out.empty() && out.back() != '\n') out += '\n';
    out += line;
  }
  if (i < all.size() && inserted) out += '\n';
  for (; i < all.size(); ++i) out += all[i];
  return encode(out);
}

void writeFile(const fs::path& path, std::string_view bytes) {
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) std::abort();
  std::fwrite(bytes.data(), 1, bytes.size(), out);
  if (std::fclose(out) != 0) std::abort();
}

std::string readFile(const fs::path& path) {
  std::string bytes;
  FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) std::abort();
  char chunk[4096];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) bytes.append(chunk, n);
  std::fclose(in);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fs::path drive = fuzz::scratchMachine() / "drive_c";
  const fs::path file = drive / "AUTOEXEC.BAT";
  const fs::path temp = drive / "AUTOEXEC.@@@";
  std::error_code ec;
  fs::remove_all(temp, ec);
  fs::remove(file, ec);

  fuzz::InputReader in(data, size);
  const unsigned choice = in.byte();
  const std::string key = in.cString();
  const std::string line = in.cString();
  const std::string_view old_text = in.rest();
  writeFile(file, old_text);

  // Choice 0 to 2: an ordinary edit; 3: a folder where the temporary goes;
  // 4: a read-only file; 5: a link at the temporary to a file outside.
  const unsigned mode = choice % 6;
  const fs::path outside = fuzz::scratchMachine() / "victim";
  if (mode == 3) fs::create_directory(temp);
  if (mode == 4) ::chmod(file.c_str(), 0444);
  if (mode == 5) {
    writeFile(outside, "keep");
    fs::create_symlink(outside, temp);
  }
  // No key, or no new line, as a null pointer now and then.
  const char* key_arg = (choice & 0x40) != 0 && key.empty() ? nullptr : key.c_str();
  const char* line_arg = (choice & 0x80) != 0 && line.empty() ? nullptr : line.c_str();
  const int result = EditStartupFileLine(key_arg, line_arg, "C:\\AUTOEXEC.BAT");

  const std::string expected = expectedEdit(old_text, key, line);
  if (key.size() >= 128) {
    // A key longer than the editor's buffer fails before anything is touched.
    if (result != 0 || readFile(file) != old_text) std::abort();
    if (mode < 3 && fs::exists(temp, ec)) std::abort();
    ::chmod(file.c_str(), 0644);
  } else if (mode == 3 || mode == 4) {
    if (result != 0) std::abort();
    if (readFile(file) != old_text) std::abort();  // the old file is intact
    // Refused only at the replace: the finished copy stays beside it.
    if (mode == 4 && readFile(temp) != expected) std::abort();
    ::chmod(file.c_str(), 0644);
  } else {
    if (result != 1) std::abort();
    if (readFile(file) != expected) std::abort();
    if (fs::exists(temp, ec) || fs::is_symlink(temp, ec)) std::abort();
  }
  if (mode == 5 && readFile(outside) != "keep") std::abort();
  return 0;
}
