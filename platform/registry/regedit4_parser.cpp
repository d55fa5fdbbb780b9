#include "platform/registry/regedit4_parser.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry/name_fold.h"
#include "platform/text/ascii.h"

namespace {

struct Line {
  std::string_view text;  // Without its line end.
  std::size_t number = 0;
};

// Blanks around the parts of a line: spaces and tabs.
constexpr std::string_view kBlanks = " \t";

std::string_view trimLeft(std::string_view s) { return ascii::trimLeft(s, kBlanks); }
std::string_view trimRight(std::string_view s) { return ascii::trimRight(s, kBlanks); }
std::string_view trim(std::string_view s) { return ascii::trim(s, kBlanks); }

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

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

// How many lines may make a key and how many a value, counted before reading
// so that the tree's tables get their room at once instead of growing.
struct LineCounts {
  std::size_t sections = 0;
  std::size_t values = 0;
};

LineCounts countLines(std::string_view text) {
  LineCounts counts;
  std::size_t pos = 0;
  while (pos < text.size()) {
    pos = std::min(text.find_first_not_of(kBlanks, pos), text.size());
    if (pos < text.size()) {
      const char c = text[pos];
      if (c == '[') ++counts.sections;
      if (c == '"' || c == '@') ++counts.values;
    }
    const std::size_t lf = text.find('\n', pos);
    if (lf == std::string_view::npos) break;
    pos = lf + 1;
  }
  return counts;
}

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
      return Error{std::string(m_source) +
                           ": line 1: the file does not start with REGEDIT4"};
    }
    const LineCounts counts = countLines(m_text);
    m_tree.reserve(counts.sections, counts.values, m_text.size());
    while (const std::optional<Line> line = nextLine()) {
      const std::string_view body = trimLeft(line->text);
      if (trimRight(body).empty()) continue;
      std::optional<std::string> problem;
      if (body.front() == '[') {
        problem = parseSection(body);
      } else if (body.front() == '"' || body.front() == '@') {
        problem = m_key != kNoKey
                      ? parseValue(body, line->number)
                      : std::optional<std::string>("a value before the first [key] line");
      } else {
        problem = "not a [key], value or blank line";
      }
      if (problem) return fail(m_errorLine ? m_errorLine : line->number, *problem);
    }
    return std::move(m_tree);
  }

 private:
  // The next line without its line end (LF, or CR LF), or nothing at the end.
  std::optional<Line> nextLine() {
    if (m_pos >= m_text.size()) return std::nullopt;
    const std::size_t lf = m_text.find('\n', m_pos);
    std::string_view line = m_text.substr(m_pos, lf == std::string_view::npos ? lf : lf - m_pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    m_pos = lf == std::string_view::npos ? m_text.size() : lf + 1;
    return Line{line, ++m_lineNumber};
  }

  Error fail(std::size_t line, const std::string& problem) const {
    return Error{std::string(m_source) + ": line " + std::to_string(line) + ": " + problem};
  }

  std::optional<std::string> parseSection(std::string_view body) {
    const std::size_t close = body.rfind(']');
    if (close == std::string_view::npos) return "a [key] line without its closing ]";
    if (!trim(body.substr(close + 1)).empty()) return "text after the closing ] of a [key] line";
    const std::string_view path = body.substr(1, close - 1);
    if (!path.empty() && path.front() == '-') {
      return "a [-key] line deletes a key; a registry file cannot hold one";
    }
    const std::size_t root_end = path.find('\\');
    const std::string_view root_name = path.substr(0, root_end);
    // Sections mostly spell their root as the one before did.
    const auto root = root_name == m_rootName ? m_pathRoot : rootKeyFromName(root_name);
    if (!root) return "unknown root key \"" + std::string(root_name) + "\"";
    std::string_view names;  // The key names below the root, joined by backslashes.
    if (root_end != std::string_view::npos) {
      names = path.substr(root_end + 1);
      std::size_t depth = 0;
      bool empty_name = false;
      for (std::size_t start = 0;; ++depth) {
        const std::size_t sep = names.find('\\', start);
        const std::size_t end = sep == std::string_view::npos ? names.size() : sep;
        empty_name = empty_name || end == start;
        if (sep == std::string_view::npos) break;
        start = sep + 1;
      }
      if (depth + 1 > kMaxKeyDepth) return "a key path deeper than 512 levels";
      if (empty_name) return "a key path with an empty name (a stray backslash)";
    }
    m_tree.noteMentioned(*root);
    if (root_end == std::string_view::npos) m_tree.noteListed(*root);
    m_rootName = root_name;
    m_key = walkSection(*root, names);
    return std::nullopt;
  }

  // Finds or adds the keys of a section's path. Sections mostly follow their
  // parent or a sibling, so the names that match the previous section's path
  // byte for byte reuse its keys without a lookup.
  KeyId walkSection(RootKey root, std::string_view names) {
    if (m_pathRoot != root) {
      m_path.clear();
      m_pathRoot = root;
    }
    KeyId key = RegistryTree::rootKey(root);
    std::size_t depth = 0;
    while (!names.empty()) {
      const std::size_t sep = names.find('\\');
      const std::string_view name = names.substr(0, sep);
      if (depth < m_path.size() && m_path[depth].name == name) {
        key = m_path[depth].key;
      } else {
        m_path.resize(depth);
        key = m_tree.findOrAddSubkey(key, name);
        m_path.push_back(PathStep{name, key});
      }
      ++depth;
      if (sep == std::string_view::npos) break;
      names.remove_prefix(sep + 1);
    }
    m_path.resize(depth);
    return key;
  }

  // Reads a quoted text starting at body[pos] == '"' into the arena; leaves
  // pos after the closing quote.
  std::optional<std::string> parseQuoted(std::string_view body, std::size_t& pos, ArenaSpan& out) {
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
        return std::nullopt;
      }
      if (pos + 1 >= body.size()) break;
      const char e = body[++pos];
      if (e != '\\' && e != '"') return std::string("bad escape \\") + e + " in quoted text";
      arena.put(e);
      ++pos;
    }
    return "quoted text without its closing quote";
  }

  std::optional<std::string> parseValue(std::string_view body, std::size_t line) {
    RegistryArena& arena = m_tree.arena();
    ArenaSpan name{static_cast<std::uint32_t>(arena.mark()), 0};
    std::size_t pos = 0;
    if (body.front() == '@') {
      pos = 1;
    } else if (auto problem = parseQuoted(body, pos, name)) {
      return problem;
    }
    std::string_view rest = trimLeft(body.substr(pos));
    if (rest.empty() || rest.front() != '=') return "a value name without =";
    rest = trimLeft(rest.substr(1));

    const std::size_t data_start = arena.mark();
    if (!rest.empty() && rest.front() == '"') {
      ArenaSpan text;
      std::size_t p = 0;
      if (auto problem = parseQuoted(rest, p, text)) return problem;
      if (!trim(rest.substr(p)).empty()) return "text after a quoted value";
      arena.put('\0');
      m_tree.setValue(m_key, name, REG_SZ, arena.since(data_start));
      return std::nullopt;
    }
    if (startsWithNoCase(rest, "dword:")) {
      const auto v = parseHexNumber(trimRight(rest.substr(6)), 8);
      if (!v) return "bad dword: value (1 to 8 hex digits expected)";
      for (int i = 0; i < 4; ++i) arena.put(static_cast<char>((*v >> (8 * i)) & 0xFF));
      m_tree.setValue(m_key, name, REG_DWORD, arena.since(data_start));
      return std::nullopt;
    }
    if (startsWithNoCase(rest, "hex")) {
      rest.remove_prefix(3);
      DWORD type = REG_BINARY;
      if (!rest.empty() && rest.front() == '(') {
        const std::size_t close = rest.find(')');
        const auto t = close == std::string_view::npos
                           ? std::nullopt
                           : parseHexNumber(rest.substr(1, close - 1), 8);
        if (!t) return "bad hex(type): value type";
        type = *t;
        rest.remove_prefix(close + 1);
      }
      if (rest.empty() || rest.front() != ':') return "hex value without :";
      if (auto problem = parseHexBytes(rest.substr(1), line)) return problem;
      m_tree.setValue(m_key, name, type, arena.since(data_start));
      return std::nullopt;
    }
    if (trim(rest) == "-")
      return "a \"name\"=- line deletes a value; a registry file cannot hold one";
    return "unrecognised value data";
  }

  // Reads comma-separated hex bytes into the arena, following "\"
  // continuations onto the next lines. Errors are reported at the line where
  // they are found.
  std::optional<std::string> parseHexBytes(std::string_view segment, std::size_t line) {
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
            return token.empty() ? std::string("a missing hex byte (stray comma)")
                                 : "bad hex byte \"" + std::string(token) + "\"";
          }
          arena.put(static_cast<char>(*byte));
          if (comma == std::string_view::npos || ends_with_comma) break;
          s.remove_prefix(comma + 1);
        }
        if (continued != ends_with_comma) {
          m_errorLine = line;
          return continued ? "a hex line continued without a comma before the backslash"
                           : "a hex list ending in a comma";
        }
      } else if (!first && continued) {
        m_errorLine = line;
        return "an empty continuation line in hex data";
      }
      if (!continued) return std::nullopt;
      const std::optional<Line> next = nextLine();
      if (!next) {
        m_errorLine = line;
        return "hex data continued past the end of the file";
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
};

}  // namespace

Result<RegistryTree> parseRegedit4(std::string_view text, std::string_view source) {
  return Parser(text, source).run();
}
