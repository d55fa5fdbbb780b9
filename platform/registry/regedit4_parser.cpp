#include "platform/registry/regedit4_parser.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry/byte_scan.h"
#include "platform/registry/name_fold.h"
#include "platform/registry/regedit4_part.h"
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

// The first `c` in `s`, or npos: a plain loop, as hex tokens are a few bytes
// long and a library search costs more in the call than in the looking.
std::size_t findByte(std::string_view s, char c) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == c) return i;
  }
  return std::string_view::npos;
}

// How many bytes two texts have in common at their start.
std::size_t commonPrefix(std::string_view a, std::string_view b) {
  return bytescan::commonPrefix(a.data(), b.data(), std::min(a.size(), b.size()));
}

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

// Whether the eight bytes of `word`, first byte lowest, are all hex digits;
// if so `value` is their number, the first digit the highest. Each byte is
// checked against the two ranges a word at a time (no byte of 128 or above
// passes), and the digits' values are gathered in three steps.
bool eightHexDigits(std::uint64_t word, DWORD& value) {
  if constexpr (!bytescan::kByWord) return false;
  using bytescan::kHighs;
  using bytescan::kOnes;
  if ((word & kHighs) != 0) return false;
  // The high bit of each byte from lo to hi; bytes are below 128, so no sum
  // carries into the next byte.
  const auto within = [](std::uint64_t x, unsigned lo, unsigned hi) {
    return (x + kOnes * (0x80 - lo)) & ~(x + kOnes * (0x7F - hi)) & kHighs;
  };
  const std::uint64_t decimal = within(word, '0', '9');
  const std::uint64_t letter = within(word | kOnes * 0x20, 'a', 'f');
  if ((decimal | letter) != kHighs) return false;
  // '0'..'9' are 0x30..0x39 and 'a'..'f' (or 'A'..'F') 0x?1..0x?6, nine short.
  const std::uint64_t nibbles = (word & kOnes * 0x0F) + (letter >> 7) * 9;
  // Pairs into bytes, the first of each pair high, then bytes into one word.
  std::uint64_t x = ((nibbles & 0x000F000F000F000Fu) << 4) | ((nibbles >> 8) & 0x000F000F000F000Fu);
  x = (x | (x >> 8)) & 0x0000FFFF0000FFFFu;
  x = (x | (x >> 16)) & 0xFFFFFFFFu;
  value = __builtin_bswap32(static_cast<std::uint32_t>(x));
  return true;
}

// Room for the tree's tables, guessed from the file's size rather than
// counted, which would take a pass of its own over every line: a key's
// section and a value line take a few dozen bytes each in any real export.
// Too little room only means that a table grows.
struct Estimate {
  std::size_t keys = 0;
  std::size_t values = 0;
};

Estimate estimateFromSize(std::size_t bytes) { return Estimate{bytes / 80, bytes / 40}; }

using regedit4::Failure;
using regedit4::Part;

// Reads a REGEDIT4 text line by line into a tree, checking it as it goes.
// The parts of a large text are read at once on two threads, a parser each:
// each parser has cache lines of its own, as writes next to another's
// members on every line would make both threads wait.
class alignas(64) Parser {
 public:
  // A text that is all in memory.
  Parser(std::string_view text, std::string_view source)
      : m_data(text.data()), m_size(text.size()), m_eof(true), m_source(source) {
    m_total = text.size();
    noteNewBytes(0);
  }

  // A text read a block at a time, of about `expected_size` bytes. A later
  // part starts at a [key] line, where no line before it goes on, and has no
  // REGEDIT4 line of its own; its lines are counted from its start.
  Parser(const ReadBlock& read, std::size_t expected_size, std::string_view source,
         Part::Place place = Part::Place::First)
      : m_read(&read),
        m_expected(expected_size),
        m_later(place == Part::Place::Later),
        m_source(source) {}

  // Reads the whole text into a tree: the tree, or what is wrong with the
  // text.
  Result<RegistryTree> run() {
    if (!read()) return describe(m_failure, m_source);
    return std::move(m_tree);
  }

  // Reads the text into tree(): false when something is wrong with it, which
  // failure() then says.
  bool read() {
    // A text in memory has been looked at whole; a text being read is looked
    // at block by block, up to its first line at least.
    if (m_stopped) return failAt(0, "");
    if (!m_later) {
      const std::optional<Line> first = nextLine();
      if (!first || trimRight(first->text) != "REGEDIT4") {
        return failAt(1, "the file does not start with REGEDIT4");
      }
    }
    const std::size_t size = m_read == nullptr ? m_size : m_expected;
    const Estimate estimate = estimateFromSize(size);
    m_tree.reserve(estimate.keys, estimate.values, size);
    while (true) {
      const CommonLine common = readCommonLine();
      if (common == CommonLine::Read) continue;
      if (common == CommonLine::Refused) return failAt(m_lineNumber, m_refusal);
      const std::optional<Line> line = nextLine();
      if (!line) break;
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
    m_tree.noteTextSize(m_total);
    m_lines = m_lineNumber;
    return true;
  }

  RegistryTree& tree() { return m_tree; }
  const Failure& failure() const { return m_failure; }
  // The bytes of the text read.
  std::size_t total() const { return m_total; }
  // The lines of the text, once it is read, or once a line in error is
  // found and no NUL byte stopped the count.
  std::size_t lines() const { return m_lines; }

 private:
  // How readCommonLine() left the line at hand.
  enum class CommonLine { Other, Read, Refused };

  // Reads a line of one of the common shapes in one pass over its bytes: a
  // blank line, a [key] line, "name"="text" and "name"=dword:digits, each
  // with nothing around it and its line end in the window. Other when the
  // line is of another shape or runs past the window: the general reader
  // then reads it, which gives what this gives for these shapes and the
  // error for a bad line. Refused for a [key] line in error, the error being
  // left in m_refusal.
  // Inlined into read(), where it runs for nearly every line.
  [[gnu::always_inline]] CommonLine readCommonLine() {
    const char* const start = m_data + m_pos;
    const char* const limit = m_data + m_size;
    if (start == limit) return CommonLine::Other;
    const char* next = nullptr;  // Past the line's end, once it is read.
    bool refused = false;
    if (*start == '"') {
      if (m_key == kNoKey) return CommonLine::Other;
      next = readCommonValue(start, limit);
      if (next == nullptr) return CommonLine::Other;
    } else if (*start == '[') {
      // The bytes shared with the previous section's path are compared a
      // word at a time, and the ] is sought after them: the first ] or line
      // feed, ] being named twice as two bytes are sought.
      const std::string_view rest(start + 1, static_cast<std::size_t>(limit - start - 1));
      const std::size_t common = commonPrefix(rest, m_path);
      const char* const close = bytescan::findAnyOf(start + 1 + common, limit, ']', '\n', ']');
      if (close == limit || *close != ']') return CommonLine::Other;
      next = lineEndAt(close + 1, limit);
      if (next == nullptr) return CommonLine::Other;
      // No ] follows this one on the line, so it is the line's last, which
      // closes the path. A path whose ] lies within the shared bytes is left
      // to the general reader.
      const std::string_view path = rest.substr(0, static_cast<std::size_t>(close - start - 1));
      Result<void> parsed = parsePath(path, common);
      if (!parsed) {
        m_refusal = parsed.error();
        refused = true;
      }
    } else {
      next = lineEndAt(start, limit);
      if (next == nullptr) return CommonLine::Other;
    }
    m_pos = static_cast<std::size_t>(next - m_data);
    ++m_lineNumber;
    return refused ? CommonLine::Refused : CommonLine::Read;
  }

  // Past the line end (LF, or CR LF) at `p`, or null when there is none.
  static const char* lineEndAt(const char* p, const char* limit) {
    // Regedit ends its lines in CR LF: that is looked for first.
    if (limit - p >= 2 && p[0] == '\r' && p[1] == '\n') return p + 2;
    if (p != limit && *p == '\n') return p + 1;
    return nullptr;
  }

  // "name"="text" or "name"=dword:digits at `start`, in the window up to
  // `limit`: sets the value and returns past the line's end, or returns null
  // having set nothing.
  const char* readCommonValue(const char* start, const char* limit) {
    const char* const name = start + 1;
    const char* const name_end = bytescan::findAnyOf(name, limit, '"', '\\', '\n');
    if (limit - name_end < 3 || name_end[0] != '"' || name_end[1] != '=') return nullptr;
    const auto name_size = static_cast<std::size_t>(name_end - name);
    const char* const data = name_end + 3;
    if (name_end[2] == '"') {
      const char* const data_end = bytescan::findAnyOf(data, limit, '"', '\\', '\n');
      if (data_end == limit || *data_end != '"') return nullptr;
      const char* const next = lineEndAt(data_end + 1, limit);
      if (next == nullptr) return nullptr;
      const auto data_size = static_cast<std::size_t>(data_end - data);
      RegistryArena& arena = m_tree.arena();
      const std::size_t at = arena.mark();
      char* const to = arena.room(name_size + data_size + 1);
      copyShort(to, name, name_size, limit);
      copyShort(to + name_size, data, data_size, limit);
      to[name_size + data_size] = '\0';
      arena.commit(name_size + data_size + 1);
      m_tree.setValue(
          m_key, ArenaSpan{static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(name_size)},
          REG_SZ,
          ArenaSpan{static_cast<std::uint32_t>(at + name_size),
                    static_cast<std::uint32_t>(data_size + 1)});
      return next;
    }
    constexpr std::string_view kDword = "dword:";
    if (static_cast<std::size_t>(limit - (name_end + 2)) < kDword.size() ||
        std::memcmp(name_end + 2, kDword.data(), kDword.size()) != 0) {
      return nullptr;
    }
    const char* p = name_end + 2 + kDword.size();
    DWORD v = 0;
    const char* const digits = p;
    if (limit - p >= 8 && eightHexDigits(bytescan::load(p), v)) p += 8;
    for (; p != limit && p - digits <= 8; ++p) {
      const int d = hexDigit(*p);
      if (d < 0) break;
      v = (v << 4) | static_cast<DWORD>(d);
    }
    if (p == digits || p - digits > 8) return nullptr;
    const char* const next = lineEndAt(p, limit);
    if (next == nullptr) return nullptr;
    RegistryArena& arena = m_tree.arena();
    const std::size_t at = arena.mark();
    char* const to = arena.room(name_size + 4);
    copyShort(to, name, name_size, limit);
    if constexpr (bytescan::kByWord) {
      const auto bytes = static_cast<std::uint32_t>(v);
      std::memcpy(to + name_size, &bytes, 4);
    } else {
      for (int i = 0; i < 4; ++i) to[name_size + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    }
    arena.commit(name_size + 4);
    m_tree.setValue(
        m_key, ArenaSpan{static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(name_size)},
        REG_DWORD, ArenaSpan{static_cast<std::uint32_t>(at + name_size), 4});
    return next;
  }

  // Copies `n` bytes to room in the arena, a word at a time where the window
  // may be read that far; the arena's slack takes the last word's overhang.
  static void copyShort(char* to, const char* from, std::size_t n, const char* readable) {
    if constexpr (bytescan::kByWord) {
      if (static_cast<std::size_t>(readable - from) >= n + 8) {
        for (std::size_t i = 0; i < n; i += 8) std::memcpy(to + i, from + i, 8);
        return;
      }
    }
    if (n != 0) std::memcpy(to, from, n);
  }

  // The next line without its line end (LF, or CR LF), or nothing at the end
  // of the text or once reading stopped. The line's bytes stay where they are
  // until the next call.
  std::optional<Line> nextLine() {
    std::size_t scanned = m_pos;  // No line feed before this.
    while (true) {
      const char* const start = m_data + m_pos;
      const char* const end = m_data + m_size;
      const char* const lf = bytescan::findLineFeed(m_data + scanned, end);
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
    // The previous section's path is about to be overwritten.
    if (m_path.data() != m_pathKept.data()) {
      m_pathKept.assign(m_path);
      m_path = m_pathKept;
    }
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

  // Notes what is wrong with a text in which `problem` was found at `line`
  // (or nothing, when reading stopped), and returns false. Whatever is wrong
  // with the text as a whole comes first, as if it had been looked at whole
  // before any line was read: an error reading it, its size, a NUL byte. The
  // rest of the text is read to find those.
  bool failAt(std::size_t line, const std::string& problem) {
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
      m_lines = lines_before;
    }
    m_failure = Failure{m_readError, m_total > RegistryArena::kMaxSize, m_nulLine, line, problem};
    return false;
  }

  Result<void> parseSection(std::string_view body) {
    const std::size_t close = body.rfind(']');
    if (close == std::string_view::npos) return Error{"a [key] line without its closing ]"};
    if (!trim(body.substr(close + 1)).empty())
      return Error{"text after the closing ] of a [key] line"};
    const std::string_view path = body.substr(1, close - 1);
    return parsePath(path, commonPrefix(path, m_path));
  }

  // The path of a [key] line; `common` is how many bytes it shares at its
  // start with the previous section's path.
  Result<void> parsePath(std::string_view path, std::size_t common) {
    if (!path.empty() && path.front() == '-') {
      return Error{"a [-key] line deletes a key; a registry file cannot hold one"};
    }
    // Sections mostly follow their parent or a sibling: the keys that the
    // previous section's path shares with this one byte for byte are reused
    // without a lookup, and only the names after them are read.
    const std::size_t shared = sharedSteps(path, common);
    std::optional<RootKey> root = m_pathRoot;
    if (shared == 0) {
      const std::string_view root_name = path.substr(0, path.find('\\'));
      root = rootKeyFromName(root_name);
      if (!root) return Error{"unknown root key \"" + std::string(root_name) + "\""};
      m_steps[0] = root_name.size();
      m_keys[0] = RegistryTree::rootKey(*root);
    }
    m_depth = std::max<std::size_t>(shared, 1);
    if (root != m_pathRoot) m_tree.noteMentioned(*root);
    KeyId key = m_keys[m_depth - 1];
    if (m_steps[m_depth - 1] == path.size()) {
      // A path of the root alone is the root's own section.
      if (m_depth == 1) m_tree.noteListed(*root);
    } else {
      // The names below, split at their backslashes. A name in error ends the
      // reading of the file, so the keys made before it do no harm.
      const char* const end = path.data() + path.size();
      // Names are short: a plain loop finds their ends quicker than a call.
      for (const char* start = path.data() + m_steps[m_depth - 1] + 1;;) {
        const char* stop = start;
        while (stop != end && *stop != '\\') ++stop;
        if (stop == start || m_depth > kMaxKeyDepth) return badPath(path);
        key = m_tree.findOrAddSubkey(
            key, std::string_view(start, static_cast<std::size_t>(stop - start)));
        m_steps[m_depth] = static_cast<std::size_t>(stop - path.data());
        m_keys[m_depth] = key;
        ++m_depth;
        if (stop == end) break;
        start = stop + 1;
      }
    }
    m_key = key;
    m_pathRoot = root;
    m_path = path;
    return {};
  }

  // What is wrong with a path that has an empty name or too many: the depth
  // comes first. Each name below the root follows a backslash.
  static Error badPath(std::string_view path) {
    if (static_cast<std::size_t>(std::count(path.begin(), path.end(), '\\')) > kMaxKeyDepth)
      return Error{"a key path deeper than 512 levels"};
    return Error{"a key path with an empty name (a stray backslash)"};
  }

  // How many steps of the previous section's path (its root, then its keys)
  // this path shares: those that end where a step of this path ends too and
  // whose bytes are the same up to there. 0 when even the root differs.
  std::size_t sharedSteps(std::string_view path, std::size_t common) const {
    for (std::size_t i = m_depth; i-- > 0;) {
      const std::size_t end = m_steps[i];
      if (end <= common && (end == path.size() || path[end] == '\\')) return i + 1;
    }
    return 0;
  }

  // Reads a quoted text starting at body[pos] == '"' into the arena; leaves
  // pos after the closing quote. Plain bytes are copied a word at a time: the
  // window may be read past the line's end, and the arena has room for the
  // rest of the line and a word's overhang behind it.
  Result<void> parseQuoted(std::string_view body, std::size_t& pos, ArenaSpan& out) {
    RegistryArena& arena = m_tree.arena();
    const std::size_t start = arena.mark();
    const char* const end = body.data() + body.size();
    const char* const readable = m_data + m_size;
    const char* p = body.data() + pos + 1;
    char* const first = arena.room(static_cast<std::size_t>(end - p));
    char* to = first;
    while (true) {
      bool stopped = false;
      if constexpr (bytescan::kByWord) {
        while (p < end && readable - p >= 8) {
          const std::uint64_t word = bytescan::load(p);
          std::memcpy(to, &word, 8);
          if (const std::uint64_t m = bytescan::marks(word, '"') | bytescan::marks(word, '\\');
              m != 0) {
            const std::size_t plain = bytescan::firstMarked(m);
            p += plain;
            to += plain;
            stopped = true;
            break;
          }
          p += 8;
          to += 8;
        }
      }
      if (!stopped) {
        while (p < end && *p != '"' && *p != '\\') *to++ = *p++;
      }
      if (p >= end) break;
      if (*p == '"') {
        arena.commit(static_cast<std::size_t>(to - first));
        pos = static_cast<std::size_t>(p + 1 - body.data());
        out = arena.since(start);
        return {};
      }
      if (p + 1 == end) break;
      const char e = p[1];
      if (e != '\\' && e != '"') return Error{std::string("bad escape \\") + e + " in quoted text"};
      *to++ = e;
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
          const std::size_t comma = findByte(s, ',');
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
  bool m_later = false;       // A later part of a text, without the REGEDIT4 line.
  std::size_t m_lines = 0;    // See lines().
  Failure m_failure;

  std::string_view m_source;
  std::size_t m_lineNumber = 0;
  std::size_t m_errorLine = 0;
  std::string m_refusal;  // Why readCommonLine() refused a line.
  RegistryTree m_tree;
  KeyId m_key = kNoKey;               // The last section's key.
  std::optional<RootKey> m_pathRoot;  // The root of the previous section.
  std::string_view m_path;            // The previous section's path,
  std::string m_pathKept;             // kept here while the window moves.
  // Where each step of that path (its root, then its keys) ends in it, and
  // the key of each step; m_depth steps.
  std::array<std::size_t, kMaxKeyDepth + 1> m_steps{};
  std::array<KeyId, kMaxKeyDepth + 1> m_keys{};
  std::size_t m_depth = 0;
};

}  // namespace

Result<RegistryTree> parseRegedit4(std::string_view text, std::string_view source) {
  return Parser(text, source).run();
}

Result<RegistryTree> parseRegedit4(const ReadBlock& read, std::size_t expected_size,
                                   std::string_view source) {
  return Parser(read, expected_size, source).run();
}

namespace regedit4 {

Error describe(const Failure& failure, std::string_view source) {
  const auto at = [&](std::size_t line, std::string_view problem) {
    return Error{std::string(source) + ": line " + std::to_string(line) + ": " +
                 std::string(problem)};
  };
  if (failure.readError) return Error{*failure.readError};
  if (failure.tooLarge)
    return Error{std::string(source) + ": larger than 4 GB; not a registry file"};
  if (failure.nulLine != 0) return at(failure.nulLine, "contains a NUL byte");
  return at(failure.line, failure.problem);
}

struct Part::Reader {
  Parser parser;
};

Part::Part(const ReadBlock& read, std::size_t expected_size, std::string_view source, Place place)
    : m_reader(new Reader{Parser(read, expected_size, source, place)}) {}

Part::~Part() = default;

bool Part::read() { return m_reader->parser.read(); }
RegistryTree& Part::tree() { return m_reader->parser.tree(); }
const Failure& Part::failure() const { return m_reader->parser.failure(); }
std::size_t Part::total() const { return m_reader->parser.total(); }
std::size_t Part::lines() const { return m_reader->parser.lines(); }

}  // namespace regedit4
