// xpm2ico: writes a Windows icon file from a 32x32 XPM drawing.
//
//   xpm2ico INPUT.xpm OUTPUT.ico
//
// The icon holds one image of 32x32 pixels in 16 colours (4 bits a pixel) with
// its transparency mask: the format every Windows since 3.0 reads. The palette
// holds the drawing's own colours, black first, so at most 15 others and
// "None" (transparent) are allowed. A malformed drawing is refused with its
// file name and line; the output is only written when the whole icon is made.
#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kSize = 32;
constexpr int kColours = 16;

struct Failure {
  std::string message;
};

struct XpmString {
  std::string text;
  int line;
};

// The quoted strings of the C source, in order, with their line numbers.
std::vector<XpmString> quotedStrings(const std::string& source, const std::string& name) {
  std::vector<XpmString> strings;
  int line = 1;
  for (size_t i = 0; i < source.size(); ++i) {
    if (source[i] == '\n') ++line;
    if (source.compare(i, 2, "/*") == 0) {
      const size_t end = source.find("*/", i + 2);
      if (end == std::string::npos)
        throw Failure{name + ":" + std::to_string(line) + ": unterminated comment"};
      for (size_t j = i; j < end; ++j)
        if (source[j] == '\n') ++line;
      i = end + 1;
      continue;
    }
    if (source[i] != '"') continue;
    const size_t end = source.find('"', i + 1);
    if (end == std::string::npos || source.find('\n', i + 1) < end)
      throw Failure{name + ":" + std::to_string(line) + ": unterminated string"};
    strings.push_back({source.substr(i + 1, end - i - 1), line});
    i = end;
  }
  return strings;
}

// "#RRGGBB" as 0xRRGGBB, or nothing for "None".
std::optional<std::uint32_t> parseColour(const std::string& value, const std::string& where) {
  if (value == "None" || value == "none") return std::nullopt;
  if (value.size() != 7 || value[0] != '#')
    throw Failure{where + ": colour must be None or #RRGGBB, not \"" + value + "\""};
  std::uint32_t rgb = 0;
  for (size_t i = 1; i < value.size(); ++i) {
    const char c = value[i];
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) throw Failure{where + ": bad colour \"" + value + "\""};
    rgb = rgb * 16 + static_cast<std::uint32_t>(digit);
  }
  return rgb;
}

void putWord(std::string& out, std::uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}

void putLong(std::string& out, std::uint32_t v) {
  putWord(out, static_cast<std::uint16_t>(v & 0xFFFF));
  putWord(out, static_cast<std::uint16_t>(v >> 16));
}

std::string makeIcon(const std::string& source, const std::string& name) {
  const std::vector<XpmString> strings = quotedStrings(source, name);
  if (strings.empty()) throw Failure{name + ": no XPM values line"};
  const auto where = [&](const XpmString& s) { return name + ":" + std::to_string(s.line); };

  int width = 0, height = 0, colours = 0, chars = 0;
  std::istringstream values(strings[0].text);
  if (!(values >> width >> height >> colours >> chars) || chars < 1)
    throw Failure{where(strings[0]) + ": bad XPM values line"};
  if (width != kSize || height != kSize)
    throw Failure{where(strings[0]) + ": the icon must be 32x32 pixels"};
  if (strings.size() != static_cast<size_t>(1 + colours + height))
    throw Failure{name + ": expected " + std::to_string(colours) + " colours and " +
                  std::to_string(height) + " rows"};

  // Palette index per pixel code; nothing for transparent.
  std::array<std::uint32_t, kColours> palette{};  // index 0 stays black
  int used = 1;
  std::map<std::string, std::optional<int>> codes;
  for (int i = 1; i <= colours; ++i) {
    const XpmString& entry = strings[static_cast<size_t>(i)];
    if (entry.text.size() < static_cast<size_t>(chars))
      throw Failure{where(entry) + ": colour line too short"};
    const std::string code = entry.text.substr(0, static_cast<size_t>(chars));
    std::istringstream rest(entry.text.substr(static_cast<size_t>(chars)));
    std::string key, value;
    std::optional<std::uint32_t> rgb;
    bool found = false;
    while (rest >> key >> value) {
      if (key == "c") {
        rgb = parseColour(value, where(entry));
        found = true;
      }
    }
    if (!found) throw Failure{where(entry) + ": colour line without a \"c\" colour"};
    std::optional<int> index;
    if (rgb) {
      for (int p = 0; p < used; ++p)
        if (palette[static_cast<size_t>(p)] == *rgb) index = p;
      if (!index) {
        if (used == kColours) throw Failure{where(entry) + ": more than 16 colours"};
        palette[static_cast<size_t>(used)] = *rgb;
        index = used++;
      }
    }
    if (!codes.emplace(code, index).second)
      throw Failure{where(entry) + ": pixel code \"" + code + "\" defined twice"};
  }

  // Rows top-down as drawn; the icon stores them bottom-up.
  std::array<std::array<std::optional<int>, kSize>, kSize> pixels{};
  for (int y = 0; y < height; ++y) {
    const XpmString& row = strings[static_cast<size_t>(1 + colours + y)];
    if (row.text.size() != static_cast<size_t>(width * chars))
      throw Failure{where(row) + ": row must hold " + std::to_string(width) + " pixels"};
    for (int x = 0; x < width; ++x) {
      const std::string code =
          row.text.substr(static_cast<size_t>(x * chars), static_cast<size_t>(chars));
      const auto it = codes.find(code);
      if (it == codes.end()) throw Failure{where(row) + ": unknown pixel code \"" + code + "\""};
      pixels[static_cast<size_t>(y)][static_cast<size_t>(x)] = it->second;
    }
  }

  constexpr std::uint32_t kHeaderSize = 40;
  constexpr std::uint32_t kColourBytes = kSize * kSize / 2;  // 16 bytes a row, no padding
  constexpr std::uint32_t kMaskBytes = kSize * 4;            // 32 bits a row
  constexpr std::uint32_t kImageBytes = kHeaderSize + kColours * 4 + kColourBytes + kMaskBytes;

  std::string ico;
  // ICONDIR and its one entry.
  putWord(ico, 0);
  putWord(ico, 1);
  putWord(ico, 1);
  ico.push_back(static_cast<char>(kSize));
  ico.push_back(static_cast<char>(kSize));
  ico.push_back(static_cast<char>(kColours));
  ico.push_back(0);
  putWord(ico, 1);  // planes
  putWord(ico, 4);  // bits a pixel
  putLong(ico, kImageBytes);
  putLong(ico, 6 + 16);
  // BITMAPINFOHEADER: the height counts the colour image and the mask.
  putLong(ico, kHeaderSize);
  putLong(ico, kSize);
  putLong(ico, kSize * 2);
  putWord(ico, 1);
  putWord(ico, 4);
  putLong(ico, 0);  // BI_RGB
  putLong(ico, kColourBytes + kMaskBytes);
  for (int i = 0; i < 4; ++i) putLong(ico, 0);
  for (std::uint32_t rgb : palette) {
    ico.push_back(static_cast<char>(rgb & 0xFF));
    ico.push_back(static_cast<char>((rgb >> 8) & 0xFF));
    ico.push_back(static_cast<char>((rgb >> 16) & 0xFF));
    ico.push_back(0);
  }
  // Transparent pixels are black in the colour image and set in the mask, so
  // that the screen shows through unchanged.
  for (int y = kSize - 1; y >= 0; --y) {
    for (int x = 0; x < kSize; x += 2) {
      const auto& row = pixels[static_cast<size_t>(y)];
      const int hi = row[static_cast<size_t>(x)].value_or(0);
      const int lo = row[static_cast<size_t>(x + 1)].value_or(0);
      ico.push_back(static_cast<char>((hi << 4) | lo));
    }
  }
  for (int y = kSize - 1; y >= 0; --y) {
    for (int byte = 0; byte < 4; ++byte) {
      unsigned bits = 0;
      for (int bit = 0; bit < 8; ++bit)
        if (!pixels[static_cast<size_t>(y)][static_cast<size_t>(byte * 8 + bit)])
          bits |= 0x80u >> bit;
      ico.push_back(static_cast<char>(bits));
    }
  }
  return ico;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: xpm2ico INPUT.xpm OUTPUT.ico\n");
    return 2;
  }
  try {
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) throw Failure{std::string(argv[1]) + ": cannot read"};
    std::stringstream source;
    source << in.rdbuf();
    const std::string ico = makeIcon(source.str(), argv[1]);

    const std::string temporary = std::string(argv[2]) + ".tmp";
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(ico.data(), static_cast<std::streamsize>(ico.size()));
    out.close();
    if (!out || std::rename(temporary.c_str(), argv[2]) != 0) {
      std::remove(temporary.c_str());
      throw Failure{std::string(argv[2]) + ": cannot write"};
    }
  } catch (const Failure& failure) {
    std::fprintf(stderr, "xpm2ico: %s\n", failure.message.c_str());
    return 1;
  }
  return 0;
}
