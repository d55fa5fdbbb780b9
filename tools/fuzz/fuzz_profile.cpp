// libFuzzer target: any bytes as a profile file (C:\MSDOS.SYS's [Paths], an
// INF file's [Strings]). GetPrivateProfileStringA must fill no byte past the
// buffer it is given (sentinels follow it), and what it returns must be what a
// plain reading of the same rules, written here line by line, gives: the
// value, the default, or the list of section or key names cut to the buffer.
//
// Input: one byte of buffer size, one of query, the section and key asked for
// (each a length byte and its bytes), then the file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fs/profile.h"
#include "platform/fs/profile_text.h"
#include "tools/fuzz/fuzz_input.h"
#include "tools/fuzz/scratch_machine.h"

namespace {

constexpr std::size_t kSentinels = 16;
constexpr unsigned char kSentinel = 0xA5;

std::string_view trimmed(std::string_view text, std::string_view blanks) {
  while (!text.empty() && blanks.find(text.front()) != std::string_view::npos)
    text.remove_prefix(1);
  while (!text.empty() && blanks.find(text.back()) != std::string_view::npos) text.remove_suffix(1);
  return text;
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x -= 32;
    if (y >= 'a' && y <= 'z') y -= 32;
    if (x != y) return false;
  }
  return true;
}

// The file's lines: every "\r\n" is one break, then every lone '\r' or '\n'.
std::vector<std::string> lines(std::string_view bytes) {
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    text += bytes[i] == '\r' ? '\n' : bytes[i];
  }
  std::vector<std::string> result;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\n') {
      if (i < text.size() || start < text.size()) result.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return result;
}

// What is left of a line that counts: up to a zero byte, without blanks, not
// empty and not a comment.
std::optional<std::string_view> meaningful(std::string_view line) {
  line = line.substr(0, line.find('\0'));
  line = trimmed(line, " \t\v");
  if (line.empty() || line[0] == ';') return std::nullopt;
  return line;
}

std::optional<std::string> sectionOf(std::string_view line) {
  if (line[0] != '[') return std::nullopt;
  line.remove_prefix(1);
  return std::string(trimmed(line.substr(0, line.find(']')), " \t\v"));
}

struct Reference {
  std::vector<std::string> sections;
  std::vector<std::string> keys;  // of the first section asked for
  std::optional<std::string> value;
};

Reference readReference(std::string_view bytes, std::string_view section, std::string_view key) {
  Reference ref;
  section = trimmed(section, " ");
  key = trimmed(key, " ");
  bool any_section = false;
  bool in_wanted = false;
  bool wanted_seen = false;
  for (const std::string& whole : lines(bytes)) {
    const auto line = meaningful(whole);
    if (!line) continue;
    if (auto name = sectionOf(*line)) {
      ref.sections.push_back(*name);
      any_section = true;
      in_wanted = !wanted_seen && sameName(*name, section);
      wanted_seen = wanted_seen || in_wanted;
      continue;
    }
    const std::size_t equals = line->find('=');
    if (!any_section || equals == std::string_view::npos || !in_wanted) continue;
    const std::string_view name = trimmed(line->substr(0, equals), " \t\v");
    ref.keys.emplace_back(name);
    if (!ref.value && sameName(name, key)) {
      std::string_view value = trimmed(line->substr(equals + 1), " \t\v");
      if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
        value = value.substr(1, value.size() - 2);
      }
      ref.value = std::string(value);
    }
  }
  return ref;
}

// The buffer a list of names gives: each name and a zero, one more zero at
// the end; cut to the buffer with two zeros at its end.
std::pair<std::string, DWORD> expectedList(const std::vector<std::string>& names, DWORD size) {
  if (size < 2) return {std::string(1, '\0'), 0};
  std::string full;
  for (const std::string& name : names) full += name + '\0';
  if (full.size() + 1 <= size) return {full + '\0', static_cast<DWORD>(full.size())};
  return {full.substr(0, size - 2) + std::string(2, '\0'), size - 2};
}

std::pair<std::string, DWORD> expectedText(std::string_view text, DWORD size) {
  const std::size_t length = text.size() < size ? text.size() : size - 1;
  return {std::string(text.substr(0, length)) + '\0', static_cast<DWORD>(length)};
}

void check(const char* section, const char* key, const char* fallback, DWORD size,
           const std::pair<std::string, DWORD>& expected) {
  std::vector<unsigned char> buffer(size + kSentinels, kSentinel);
  const DWORD got = GetPrivateProfileStringA(
      section, key, fallback, reinterpret_cast<char*>(buffer.data()), size, "C:\\MSDOS.SYS");
  for (std::size_t i = size; i < buffer.size(); ++i) {
    if (buffer[i] != kSentinel) std::abort();  // written past the buffer
  }
  if (size == 0) {
    if (got != 0) std::abort();
    return;
  }
  if (got != expected.second) std::abort();
  if (std::string_view(reinterpret_cast<const char*>(buffer.data()), expected.first.size()) !=
      expected.first) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path& machine = fuzz::scratchMachine();
  fuzz::InputReader in(data, size);
  const DWORD buffer_size = in.byte();
  const unsigned query = in.byte();
  const std::string section = in.cString();
  const std::string key = in.cString();
  const std::string_view file = in.rest();

  {
    FILE* out = std::fopen((machine / "drive_c" / "MSDOS.SYS").c_str(), "wb");
    if (out == nullptr) std::abort();
    std::fwrite(file.data(), 1, file.size(), out);
    std::fclose(out);
  }

  // The Windows directory's own reading, and the INF lookup as the program makes it.
  const Reference paths = readReference(file, "Paths", "WinDir");
  if (ProfileText(file).value("Paths", "WinDir") != paths.value) std::abort();
  const Reference strings = readReference(file, "Strings", "KivraKey");
  check("Strings", "KivraKey", "NIL", buffer_size,
        expectedText(strings.value.value_or("NIL"), buffer_size));

  const Reference asked = readReference(file, section, key);
  switch (query % 4) {
    case 0: {
      // The default loses its trailing spaces.
      const std::string fallback = std::string(key) + "  ";
      check(section.c_str(), key.c_str(), fallback.c_str(), buffer_size,
            expectedText(asked.value.value_or(key.substr(0, key.find_last_not_of(' ') + 1)),
                         buffer_size));
      break;
    }
    case 1:
      check(section.c_str(), key.c_str(), nullptr, buffer_size,
            expectedText(asked.value.value_or(""), buffer_size));
      break;
    case 2:
      check(section.c_str(), nullptr, nullptr, buffer_size, expectedList(asked.keys, buffer_size));
      break;
    default:
      check(nullptr, nullptr, nullptr, buffer_size, expectedList(asked.sections, buffer_size));
      break;
  }
  return 0;
}
