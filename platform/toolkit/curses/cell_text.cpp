#include "platform/toolkit/curses/cell_text.h"

#include <array>

namespace toolkit::curses {
namespace {

// Unicode for the bytes 0x80 to 0x9F of Windows-1252; 0 where the code page
// defines no character. From 0xA0 on it agrees with Latin-1.
constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

constexpr char32_t kReplacement = 0xFFFD;

char32_t codePoint(unsigned char byte) {
  if (byte < 0x20 || byte == 0x7F) return 0;
  if (byte < 0x80) return byte;
  if (byte < 0xA0) return kHighControls[byte - 0x80];
  return byte;
}

std::string utf8(char32_t c) {
  std::string out;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<std::string> toCells(std::string_view ansi, Charset charset) {
  std::vector<std::string> cells;
  cells.reserve(ansi.size());
  for (char byte : ansi) {
    const char32_t c = codePoint(static_cast<unsigned char>(byte));
    if (c != 0 && c < 0x80)
      cells.emplace_back(1, static_cast<char>(c));
    else if (charset == Charset::Utf8)
      cells.push_back(utf8(c != 0 ? c : kReplacement));
    else
      cells.emplace_back("?");
  }
  return cells;
}

std::string displayText(std::string_view ansi, Charset charset, int width) {
  std::string out;
  if (width <= 0) return out;
  if (ansi.size() > static_cast<size_t>(width)) ansi = ansi.substr(0, static_cast<size_t>(width));
  for (const std::string& cell : toCells(ansi, charset)) out += cell;
  return out;
}

std::vector<std::string> wrapText(std::string_view ansi, int width) {
  std::vector<std::string> lines;
  if (width <= 0) return lines;
  const size_t limit = static_cast<size_t>(width);
  size_t start = 0;
  while (start <= ansi.size()) {
    size_t end = ansi.find('\n', start);
    if (end == std::string_view::npos) end = ansi.size();
    std::string_view paragraph = ansi.substr(start, end - start);
    if (!paragraph.empty() && paragraph.back() == '\r') paragraph.remove_suffix(1);
    do {
      if (paragraph.size() <= limit) {
        lines.emplace_back(paragraph);
        break;
      }
      // The last blank that lets the line end within the width; a word
      // longer than the line is cut where the line ends.
      size_t cut = limit;
      while (cut > 0 && !isBlank(paragraph[cut])) --cut;
      size_t next = cut;
      if (cut == 0) {
        cut = next = limit;
      } else {
        while (cut > 0 && isBlank(paragraph[cut - 1])) --cut;
      }
      lines.emplace_back(paragraph.substr(0, cut));
      while (next < paragraph.size() && isBlank(paragraph[next])) ++next;
      paragraph.remove_prefix(next);
    } while (!paragraph.empty());
    start = end + 1;
  }
  return lines;
}

}  // namespace toolkit::curses
