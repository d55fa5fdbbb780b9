#include "platform/registry/regedit4_parser.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry/name_fold.h"

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

// Whether two short names are the same bytes: a plain loop, for the same
// reason.
bool sameBytes(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return false;
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

// Parses 1 to `max_digits` hex digits making up the whole of `s`.
std::optional<DWORD> parseHexNumber(std::string_view s, std::size_t max_digits) {
  if (s.empty() || s.size() > max_digits) return std::nullopt;
  DWORD v = 0;
  for (char c : s) {
    const int d = hexDigit(c);
    if (d < 0) return std::nullopt;
    v = (v << 4) | static_cast<DWORD>(d);
  }
  return v;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && namesEqual(s.substr(0, prefix.size()), prefix);
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

class Parser {
 public:
  Parser(std::string_view text, std::string_view source) : m_text(text), m_source(source) {}

  Result<RegistryTree> run() {
    if (m_text.size() > RegistryArena::kMaxSize) {
      return Error{std::string(m_source) + ": larger than 4 GB; not a registry file"};
    }
    if (const std::size_t nul = m_text.find('\0'); nul != std::string_view::npos) {
      const auto lf_before = std::count(m_text.begin(), m_text.begin() + nul, '\n');
      return fail(static_cast<std::size_t>(lf_before) + 1, "contains a NUL byte");
    }
    const std::optional<Line> first = nextLine();
    if (!first || trimRight(first->text) != "REGEDIT4") {
      return Error{std::string(m_source) + ": line 1: the file does not start with REGEDIT4"};
    }
    const Estimate estimate = estimateFromSize(m_text.size());
    m_tree.reserve(estimate.keys, estimate.values, m_text.size());
    m_tree.noteTextSize(m_text.size());
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
      if (!parsed) return fail(m_errorLine ? m_errorLine : line->number, parsed.error());
    }
    return std::move(m_tree);
  }

 private:
  // The next line without its line end (LF, or CR LF), or nothing at the end.
  std::optional<Line> nextLine() {
    if (m_pos >= m_text.size()) return std::nullopt;
    const char* start = m_text.data() + m_pos;
    const std::size_t left = m_text.size() - m_pos;
    const auto* lf = static_cast<const char*>(std::memchr(start, '\n', left));
    std::size_t length = lf == nullptr ? left : static_cast<std::size_t>(lf - start);
    m_pos += lf == nullptr ? left : length + 1;
    if (length != 0 && start[length - 1] == '\r') --length;
    return Line{std::string_view(start, length), ++m_lineNumber};
  }

  Error fail(std::size_t line, const std::string& problem) const {
    return Error{std::string(m_source) + ": line " + std::to_string(line) + ": " + problem};
  }

  Result<void> parseSection(std::string_view body) {
    const std::size_t close = body.rfind(']');
    if (close == std::string_view::npos) return Error{"a [key] line without its closing ]"};
    if (!trim(body.substr(close + 1)).empty())
      return Error{"text after the closing ] of a [key] line"};
    const std::string_view path = body.substr(1, close - 1);
    if (!path.empty() && path.front() == '-') {
      return Error{"a [-key] line deletes a key; a registry file cannot hold one"};
    }
    const std::size_t root_end = path.find('\\');
    const std::string_view root_name = path.substr(0, root_end);
    // Sections mostly spell their root as the one before did.
    const auto root = sameBytes(root_name, m_rootName) ? m_pathRoot : rootKeyFromName(root_name);
    if (!root) return Error{"unknown root key \"" + std::string(root_name) + "\""};
    // The key names below the root, split at their backslashes in one pass
    // and checked before any key is made.
    m_names.clear();
    if (root_end != std::string_view::npos) {
      const std::string_view names = path.substr(root_end + 1);
      bool empty_name = false;
      std::size_t start = 0;
      for (std::size_t i = 0; i <= names.size(); ++i) {
        if (i != names.size() && names[i] != '\\') continue;
        empty_name = empty_name || i == start;
        m_names.push_back(names.substr(start, i - start));
        start = i + 1;
      }
      if (m_names.size() > kMaxKeyDepth) return Error{"a key path deeper than 512 levels"};
      if (empty_name) return Error{"a key path with an empty name (a stray backslash)"};
    }
    // The root of the section before has been noted already.
    if (root != m_pathRoot) m_tree.noteMentioned(*root);
    if (root_end == std::string_view::npos) m_tree.noteListed(*root);
    m_rootName = root_name;
    m_key = walkSection(*root);
    return {};
  }

  // Finds or adds the keys of m_names below `root`. Sections mostly follow
  // their parent or a sibling, so the names that match the previous section's
  // path byte for byte reuse its keys without a lookup.
  KeyId walkSection(RootKey root) {
    if (m_pathRoot != root) {
      m_path.clear();
      m_pathRoot = root;
    }
    KeyId key = RegistryTree::rootKey(root);
    const std::size_t depth = m_names.size();
    std::size_t same = 0;
    while (same < depth && same < m_path.size() && sameBytes(m_path[same].name, m_names[same]))
      ++same;
    if (same != 0) key = m_path[same - 1].key;
    m_path.resize(same);
    for (std::size_t i = same; i < depth; ++i) {
      key = m_tree.findOrAddSubkey(key, m_names[i]);
      m_path.push_back(PathStep{m_names[i], key});
    }
    return key;
  }

  // Reads a quoted text starting at body[pos] == '"' into the arena; leaves
  // pos after the closing quote.
  Result<void> parseQuoted(std::string_view body, std::size_t& pos, ArenaSpan& out) {
    RegistryArena& arena = m_tree.arena();
    const std::size_t start = arena.mark();
    for (++pos; pos < body.size();) {
      std::size_t end = pos;
      while (end < body.size() && body[end] != '"' && body[end] != '\\') ++end;
      arena.append(body.substr(pos, end - pos));
      pos = end;
      if (pos == body.size()) break;
      if (body[pos] == '"') {
        ++pos;
        out = arena.since(start);
        return {};
      }
      if (pos + 1 >= body.size()) break;
      const char e = body[++pos];
      if (e != '\\' && e != '"') return Error{std::string("bad escape \\") + e + " in quoted text"};
      arena.put(e);
      ++pos;
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
    if (startsWithNoCase(rest, "dword:")) {
      const auto v = parseHexNumber(trimRight(rest.substr(6)), 8);
      if (!v) return Error{"bad dword: value (1 to 8 hex digits expected)"};
      const char bytes[4] = {static_cast<char>(*v & 0xFF), static_cast<char>((*v >> 8) & 0xFF),
                             static_cast<char>((*v >> 16) & 0xFF),
                             static_cast<char>((*v >> 24) & 0xFF)};
      arena.append(std::string_view(bytes, sizeof bytes));
      m_tree.setValue(m_key, name, REG_DWORD, arena.since(data_start));
      return {};
    }
    if (startsWithNoCase(rest, "hex")) {
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

  // A step of the previous section's path: a key name as the file spelled it
  // and the key it named.
  struct PathStep {
    std::string_view name;
    KeyId key = kNoKey;
  };

  std::string_view m_text;
  std::string_view m_source;
  std::size_t m_pos = 0;
  std::size_t m_lineNumber = 0;
  std::size_t m_errorLine = 0;
  RegistryTree m_tree;
  KeyId m_key = kNoKey;
  std::optional<RootKey> m_pathRoot;
  std::string_view m_rootName;  // As the previous section spelled m_pathRoot.
  std::vector<PathStep> m_path;
  std::vector<std::string_view> m_names;  // Of the section being read.
};

}  // namespace

Result<RegistryTree> parseRegedit4(std::string_view text, std::string_view source) {
  return Parser(text, source).run();
}
