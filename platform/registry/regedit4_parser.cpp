#include "platform/registry/regedit4_parser.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "platform/text/ascii.h"

namespace {

struct Line {
  std::string_view text;  // Without its line end.
  std::size_t number = 0;
};

// Blanks around the parts of a line: spaces and tabs. The trims are written
// out here rather than taken from the text helper: they run several times on
// every line of a file of some hundred thousand lines, and a loop over the
// few blanks there are is much quicker than a search for each byte in a set.
constexpr bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimLeft(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && isBlank(s[i])) ++i;
  s.remove_prefix(i);
  return s;
}

std::string_view trimRight(std::string_view s) {
  std::size_t n = s.size();
  while (n > 0 && isBlank(s[n - 1])) --n;
  return s.substr(0, n);
}

std::string_view trim(std::string_view s) { return trimRight(trimLeft(s)); }

// Whether `s` starts with `lower_prefix` (ASCII, in lower case) in any letter
// case. No byte of 128 and above folds to an ASCII letter in registry names
// either, so ASCII folding decides as the names' folding would.
bool startsWithAsciiNoCase(std::string_view s, std::string_view lower_prefix) {
  if (s.size() < lower_prefix.size()) return false;
  for (std::size_t i = 0; i < lower_prefix.size(); ++i) {
    if (ascii::toLower(s[i]) != lower_prefix[i]) return false;
  }
  return true;
}

constexpr std::array<signed char, 256> kHexDigitValues = [] {
  std::array<signed char, 256> t{};
  for (auto& v : t) v = -1;
  for (int c = '0'; c <= '9'; ++c) t[c] = static_cast<signed char>(c - '0');
  for (int c = 'a'; c <= 'f'; ++c) t[c] = static_cast<signed char>(c - 'a' + 10);
  for (int c = 'A'; c <= 'F'; ++c) t[c] = static_cast<signed char>(c - 'A' + 10);
  return t;
}();

int hexDigit(char c) { return kHexDigitValues[static_cast<unsigned char>(c)]; }

// Parses 1 to `max_digits` hex digits making up the whole of `s`. A byte that
// is no digit is noted and judged at the end, leaving the loop one branch.
std::optional<DWORD> parseHexNumber(std::string_view s, std::size_t max_digits) {
  if (s.empty() || s.size() > max_digits) return std::nullopt;
  DWORD v = 0;
  int bad = 0;
  for (char c : s) {
    const int d = hexDigit(c);
    bad |= d;
    v = (v << 4) | static_cast<DWORD>(d & 0xF);
  }
  if (bad < 0) return std::nullopt;
  return v;
}

// Reads a REGEDIT4 text line by line into a tree, checking it as it goes.
class Parser {
 public:
  // A text that is all in memory.
  Parser(std::string_view text, std::string_view source)
      : m_data(text.data()), m_size(text.size()), m_eof(true), m_source(source) {
    m_total = text.size();
    noteNewBytes(0);
  }

  // A text read a block at a time, of about `expected_size` bytes.
  Parser(const ReadBlock& read, std::size_t expected_size, std::string_view source)
      : m_read(&read), m_expected(expected_size), m_source(source) {}

  // Reads the whole text into a tree: the tree, or what is wrong with the
  // text.
  Result<RegistryTree> run() {
    if (auto done = read(); !done) return done.failure();
    return std::move(m_tree);
  }
  Regedit4Layout& layout() { return m_layout; }

 private:
  // Reads the text into m_tree, or says what is wrong with it.
  Result<void> read() {
    // A text in memory has been looked at whole; a text being read is looked
    // at block by block, up to its first line at least.
    if (m_stopped) return failAt(0, "");
    const std::optional<Line> first = nextLine();
    if (!first || trimRight(first->text) != "REGEDIT4") {
      return failAt(1, "the file does not start with REGEDIT4");
    }
    // Room for the tree's tables, guessed from the file's size rather than
    // counted, which would take a pass of its own over every line: a key's
    // section and a value line take a few dozen bytes each in any real export.
    // Too little room only means that a table grows.
    const std::size_t size = m_read == nullptr ? m_size : m_expected;
    m_tree.reserve(size / 80, size / 40, size);
    while (const std::optional<Line> line = nextLine()) {
      // Past its leading blanks a line that is not blank starts with a byte
      // that is not a blank either.
      const std::string_view body = trimLeft(line->text);
      if (body.empty()) continue;
      Result<void> parsed;
      if (body.front() == '[') {
        parsed = parseSection(body);
      } else if (body.front() == '"' || body.front() == '@') {
        parsed = m_key != kNoKey ? parseValue(body, line->number)
                                 : Error{"a value before the first [key] line"};
      } else {
        parsed = Error{"not a [key], value or blank line"};
      }
      if (!parsed) return failAt(m_errorLine ? m_errorLine : line->number, parsed.error());
    }
    if (m_stopped) return failAt(0, "");
    m_layout.textSize = m_total;
    return {};
  }

  // The next line without its line end (LF, or CR LF), or nothing at the end
  // of the text or once reading stopped. The line's bytes stay where they are
  // until the next call.
  std::optional<Line> nextLine() {
    std::size_t scanned = m_pos;  // No line feed before this.
    while (true) {
      const char* const start = m_data + m_pos;
      const char* const end = m_data + m_size;
      // Before the first block there are no bytes, nor a buffer, to look at.
      const void* const found =
          scanned < m_size ? std::memchr(m_data + scanned, '\n', m_size - scanned) : nullptr;
      const char* const lf = found == nullptr ? end : static_cast<const char*>(found);
      if (lf != end || m_eof) {
        if (m_pos >= m_size) return std::nullopt;
        std::size_t length = static_cast<std::size_t>(lf - start);
        m_pos += lf == end ? length : length + 1;
        if (length != 0 && start[length - 1] == '\r') --length;
        return Line{std::string_view(start, length), ++m_lineNumber};
      }
      scanned = m_size - m_pos;  // The same bytes after the refill moves them.
      // At the end of the text the last line needs no line feed.
      if (!refill() && !m_eof) return std::nullopt;
    }
  }

  // Reads the next block behind the bytes not yet taken, which move to the
  // front of the buffer first; the buffer doubles when one line fills it.
  // False at the end of the text, or when reading stopped.
  bool refill() {
    if (m_eof || m_stopped) return false;
    const std::size_t keep = m_size - m_pos;
    if (keep == m_capacity) {
      m_capacity = std::max(kBlockSize, 2 * m_capacity);
      auto larger = std::make_unique_for_overwrite<char[]>(m_capacity);
      if (keep != 0) std::memcpy(larger.get(), m_data + m_pos, keep);
      m_buffer = std::move(larger);
    } else if (keep != 0 && m_pos != 0) {
      std::memmove(m_buffer.get(), m_data + m_pos, keep);
    }
    m_data = m_buffer.get();
    m_pos = 0;
    m_size = keep;
    Result<std::size_t> got = (*m_read)(m_buffer.get() + m_size, m_capacity - m_size);
    if (!got) {
      m_readError = got.error();
      m_stopped = true;
      return false;
    }
    if (got.value() == 0) {
      m_eof = true;
      return false;
    }
    m_size += got.value();
    m_total += got.value();
    noteNewBytes(m_size - got.value());
    return !m_stopped;
  }

  // Looks at the bytes of the window from `from` on, just read: reading stops
  // at a NUL byte, whose line is noted, and once the text passes 4 GB.
  void noteNewBytes(std::size_t from) {
    if (m_total > RegistryArena::kMaxSize) m_stopped = true;
    if (m_nulLine != 0) return;
    const auto* nul = static_cast<const char*>(std::memchr(m_data + from, '\0', m_size - from));
    if (nul == nullptr) return;
    // The lines taken so far each ended in a line feed.
    m_nulLine = m_lineNumber + static_cast<std::size_t>(std::count(m_data + m_pos, nul, '\n')) + 1;
    m_stopped = true;
  }

  // What is wrong with a text in which `problem` was found at `line` (or
  // nothing, when reading stopped). Whatever is wrong
  // with the text as a whole comes first, as if it had been looked at whole
  // before any line was read: an error reading it, its size, a NUL byte. The
  // rest of the text is read to find those.
  Error failAt(std::size_t line, const std::string& problem) {
    if (m_read != nullptr && !m_readError) {
      std::size_t lines_before = m_lineNumber + static_cast<std::size_t>(std::count(
                                                    m_data + m_pos, m_data + m_size, '\n'));
      if (!m_buffer) m_buffer = std::make_unique_for_overwrite<char[]>(m_capacity = kBlockSize);
      while (!m_eof) {
        Result<std::size_t> got = (*m_read)(m_buffer.get(), m_capacity);
        if (!got) {
          m_readError = got.error();
          break;
        }
        if (got.value() == 0) break;
        const char* const block = m_buffer.get();
        m_total += got.value();
        if (m_nulLine == 0) {
          const auto* nul = static_cast<const char*>(std::memchr(block, '\0', got.value()));
          const char* const stop = nul == nullptr ? block + got.value() : nul;
          lines_before += static_cast<std::size_t>(std::count(block, stop, '\n'));
          if (nul != nullptr) m_nulLine = lines_before + 1;
        }
      }
    }
    const auto at = [&](std::size_t number, std::string_view what) {
      return Error{std::string(m_source) + ": line " + std::to_string(number) + ": " +
                   std::string(what)};
    };
    if (m_readError) return Error{*m_readError};
    if (m_total > RegistryArena::kMaxSize)
      return Error{std::string(m_source) + ": larger than 4 GB; not a registry file"};
    if (m_nulLine != 0) return at(m_nulLine, "contains a NUL byte");
    return at(line, problem);
  }

  // A [key] line: its root, then the names below it, split at their
  // backslashes, each key made when it is new. A name in error ends the
  // reading of the file, so the keys made before it do no harm.
  Result<void> parseSection(std::string_view body) {
    const std::size_t close = body.rfind(']');
    if (close == std::string_view::npos) return Error{"a [key] line without its closing ]"};
    if (!trim(body.substr(close + 1)).empty())
      return Error{"text after the closing ] of a [key] line"};
    const std::string_view path = body.substr(1, close - 1);
    if (!path.empty() && path.front() == '-') {
      return Error{"a [-key] line deletes a key; a registry file cannot hold one"};
    }
    const std::size_t slash = path.find('\\');
    const std::string_view root_name = path.substr(0, slash);
    const std::optional<RootKey> root = rootKeyFromName(root_name);
    if (!root) return Error{"unknown root key \"" + std::string(root_name) + "\""};
    m_layout.noteMentioned(*root);
    KeyId key = RegistryTree::rootKey(*root);
    if (slash == std::string_view::npos) {
      // A path of the root alone is the root's own section.
      m_layout.noteListed(*root);
    } else {
      // The root is the first level; each name below it follows a backslash.
      std::size_t start = slash + 1;
      for (std::size_t depth = 1;; ++depth) {
        const std::size_t stop = std::min(path.find('\\', start), path.size());
        if (stop == start || depth > kMaxKeyDepth) return badPath(path);
        key = m_tree.findOrAddSubkey(key, path.substr(start, stop - start));
        if (stop == path.size()) break;
        start = stop + 1;
      }
    }
    m_key = key;
    return {};
  }

  // What is wrong with a path that has an empty name or too many: the depth
  // comes first. Each name below the root follows a backslash.
  static Error badPath(std::string_view path) {
    if (static_cast<std::size_t>(std::count(path.begin(), path.end(), '\\')) > kMaxKeyDepth)
      return Error{"a key path deeper than 512 levels"};
    return Error{"a key path with an empty name (a stray backslash)"};
  }

  // Reads a quoted text starting at body[pos] == '"' into the arena; leaves
  // pos after the closing quote.
  Result<void> parseQuoted(std::string_view body, std::size_t& pos, ArenaSpan& out) {
    RegistryArena& arena = m_tree.arena();
    const std::size_t start = arena.mark();
    for (std::size_t p = pos + 1; p < body.size();) {
      // The plain bytes up to the next quote or backslash go in at once.
      std::size_t plain = p;
      while (plain < body.size() && body[plain] != '"' && body[plain] != '\\') ++plain;
      arena.append(body.substr(p, plain - p));
      p = plain;
      if (p == body.size() || (p + 1 == body.size() && body[p] == '\\')) break;
      if (body[p] == '"') {
        pos = p + 1;
        out = arena.since(start);
        return {};
      }
      const char e = body[p + 1];
      if (e != '\\' && e != '"') return Error{std::string("bad escape \\") + e + " in quoted text"};
      arena.put(e);
      p += 2;
    }
    return Error{"quoted text without its closing quote"};
  }

  Result<void> parseValue(std::string_view body, std::size_t line) {
    RegistryArena& arena = m_tree.arena();
    ArenaSpan name{static_cast<std::uint32_t>(arena.mark()), 0};
    std::size_t pos = 0;
    if (body.front() == '@') {
      pos = 1;
    } else if (auto parsed = parseQuoted(body, pos, name); !parsed) {
      return parsed;
    }
    std::string_view rest = trimLeft(body.substr(pos));
    if (rest.empty() || rest.front() != '=') return Error{"a value name without ="};
    rest = trimLeft(rest.substr(1));

    const std::size_t data_start = arena.mark();
    if (!rest.empty() && rest.front() == '"') {
      ArenaSpan text;
      std::size_t p = 0;
      if (auto parsed = parseQuoted(rest, p, text); !parsed) return parsed;
      if (!trim(rest.substr(p)).empty()) return Error{"text after a quoted value"};
      arena.put('\0');
      m_tree.setValue(m_key, name, REG_SZ, arena.since(data_start));
      return {};
    }
    if (startsWithAsciiNoCase(rest, "dword:")) {
      const auto v = parseHexNumber(trimRight(rest.substr(6)), 8);
      if (!v) return Error{"bad dword: value (1 to 8 hex digits expected)"};
      const char bytes[4] = {static_cast<char>(*v & 0xFF), static_cast<char>((*v >> 8) & 0xFF),
                             static_cast<char>((*v >> 16) & 0xFF),
                             static_cast<char>((*v >> 24) & 0xFF)};
      arena.append(std::string_view(bytes, sizeof bytes));
      m_tree.setValue(m_key, name, REG_DWORD, arena.since(data_start));
      return {};
    }
    if (startsWithAsciiNoCase(rest, "hex")) {
      rest.remove_prefix(3);
      DWORD type = REG_BINARY;
      if (!rest.empty() && rest.front() == '(') {
        const std::size_t close = rest.find(')');
        const auto t = close == std::string_view::npos
                           ? std::nullopt
                           : parseHexNumber(rest.substr(1, close - 1), 8);
        if (!t) return Error{"bad hex(type): value type"};
        type = *t;
        rest.remove_prefix(close + 1);
      }
      if (rest.empty() || rest.front() != ':') return Error{"hex value without :"};
      if (auto parsed = parseHexBytes(rest.substr(1), line); !parsed) return parsed;
      m_tree.setValue(m_key, name, type, arena.since(data_start));
      return {};
    }
    if (trim(rest) == "-")
      return Error{"a \"name\"=- line deletes a value; a registry file cannot hold one"};
    return Error{"unrecognised value data"};
  }

  // Reads comma-separated hex bytes into the arena, following "\"
  // continuations onto the next lines. Errors are reported at the line where
  // they are found.
  Result<void> parseHexBytes(std::string_view segment, std::size_t line) {
    RegistryArena& arena = m_tree.arena();
    bool first = true;
    while (true) {
      std::string_view s = trimRight(segment);
      const bool continued = !s.empty() && s.back() == '\\';
      if (continued) s = trimRight(s.substr(0, s.size() - 1));
      s = trimLeft(s);
      if (!s.empty()) {
        bool ends_with_comma = false;
        while (true) {
          const std::size_t comma = s.find(',');
          const std::string_view token = trim(s.substr(0, comma));
          if (comma != std::string_view::npos && comma + 1 == s.size() &&
              trim(s.substr(comma + 1)).empty()) {
            ends_with_comma = true;
          }
          const auto byte = parseHexNumber(token, 2);
          if (!byte) {
            m_errorLine = line;
            return Error{token.empty() ? std::string("a missing hex byte (stray comma)")
                                       : "bad hex byte \"" + std::string(token) + "\""};
          }
          arena.put(static_cast<char>(*byte));
          if (comma == std::string_view::npos || ends_with_comma) break;
          s.remove_prefix(comma + 1);
        }
        if (continued != ends_with_comma) {
          m_errorLine = line;
          return Error{continued ? "a hex line continued without a comma before the backslash"
                                 : "a hex list ending in a comma"};
        }
      } else if (!first && continued) {
        m_errorLine = line;
        return Error{"an empty continuation line in hex data"};
      }
      if (!continued) return {};
      const std::optional<Line> next = nextLine();
      if (!next) {
        m_errorLine = line;
        return Error{"hex data continued past the end of the file"};
      }
      segment = next->text;
      line = next->number;
      first = false;
    }
  }

  // Blocks of this size are read at a time: small enough to stay in the
  // processor's cache while they are parsed.
  static constexpr std::size_t kBlockSize = 128 * 1024;

  // The window of text at hand: m_size bytes at m_data, of which those before
  // m_pos have been taken. A text in memory is one window; a text being read
  // has its window in m_buffer.
  const char* m_data = nullptr;
  std::size_t m_size = 0;
  std::size_t m_pos = 0;
  bool m_eof = false;
  const ReadBlock* m_read = nullptr;  // Null for a text in memory.
  std::size_t m_expected = 0;
  std::unique_ptr<char[]> m_buffer;
  std::size_t m_capacity = 0;
  std::size_t m_total = 0;  // Bytes of the text seen so far.
  // Reading stopped: it failed, met a NUL byte or passed 4 GB.
  bool m_stopped = false;
  std::optional<std::string> m_readError;
  std::size_t m_nulLine = 0;  // The line of the first NUL byte, once found.

  std::string_view m_source;
  std::size_t m_lineNumber = 0;
  std::size_t m_errorLine = 0;
  RegistryTree m_tree;
  Regedit4Layout m_layout;
  KeyId m_key = kNoKey;  // The last section's key.
};

}  // namespace

namespace {

Result<RegistryTree> runParser(Parser& parser, Regedit4Layout* layout) {
  auto tree = parser.run();
  if (tree && layout != nullptr) *layout = std::move(parser.layout());
  return tree;
}

}  // namespace

Result<RegistryTree> parseRegedit4(std::string_view text, std::string_view source,
                                   Regedit4Layout* layout) {
  Parser parser(text, source);
  return runParser(parser, layout);
}

Result<RegistryTree> parseRegedit4(const ReadBlock& read, std::size_t expected_size,
                                   std::string_view source, Regedit4Layout* layout) {
  Parser parser(read, expected_size, source);
  return runParser(parser, layout);
}
