#include "platform/registry/regedit4_parser.h"

#include <optional>
#include <string>
#include <vector>

#include "platform/registry/name_fold.h"

namespace {

struct Line {
  std::string_view text;  // Without its line end.
  std::size_t number = 0;
};

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimLeft(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view trimRight(std::string_view s) {
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view trim(std::string_view s) { return trimRight(trimLeft(s)); }

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

class Parser {
 public:
  Parser(std::string_view text, std::string_view source) : m_source(source) { splitLines(text); }

  RegistryResult<RegistryTree> run() {
    if (m_nulLine != 0) return fail(m_nulLine, "contains a NUL byte");
    if (m_lines.empty() || trimRight(m_lines[0].text) != "REGEDIT4") {
      return RegistryError{std::string(m_source) +
                           ": line 1: the file does not start with REGEDIT4"};
    }
    for (m_next = 1; m_next < m_lines.size();) {
      const Line line = m_lines[m_next++];
      const std::string_view body = trimLeft(line.text);
      if (trimRight(body).empty()) continue;
      std::optional<std::string> problem;
      if (body.front() == '[') {
        problem = parseSection(body);
      } else if (body.front() == '"' || body.front() == '@') {
        problem = m_key ? parseValue(body, line.number)
                        : std::optional<std::string>("a value before the first [key] line");
      } else {
        problem = "not a [key], value or blank line";
      }
      if (problem) return fail(m_errorLine ? m_errorLine : line.number, *problem);
    }
    return std::move(m_tree);
  }

 private:
  void splitLines(std::string_view text) {
    std::size_t number = 1;
    while (!text.empty()) {
      const std::size_t lf = text.find('\n');
      std::string_view line = text.substr(0, lf);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (m_nulLine == 0 && line.find('\0') != std::string_view::npos) m_nulLine = number;
      m_lines.push_back(Line{line, number++});
      if (lf == std::string_view::npos) break;
      text.remove_prefix(lf + 1);
    }
  }

  RegistryError fail(std::size_t line, const std::string& problem) const {
    return RegistryError{std::string(m_source) + ": line " + std::to_string(line) + ": " + problem};
  }

  std::optional<std::string> parseSection(std::string_view body) {
    const std::size_t close = body.rfind(']');
    if (close == std::string_view::npos) return "a [key] line without its closing ]";
    if (!trim(body.substr(close + 1)).empty()) return "text after the closing ] of a [key] line";
    std::string_view path = body.substr(1, close - 1);
    if (!path.empty() && path.front() == '-') {
      return "a [-key] line deletes a key; a registry file cannot hold one";
    }
    std::vector<std::string_view> parts;
    while (true) {
      const std::size_t sep = path.find('\\');
      parts.push_back(path.substr(0, sep));
      if (sep == std::string_view::npos) break;
      path.remove_prefix(sep + 1);
    }
    const auto root = rootKeyFromName(parts[0]);
    if (!root) return "unknown root key \"" + std::string(parts[0]) + "\"";
    if (parts.size() - 1 > kMaxKeyDepth) return "a key path deeper than 512 levels";
    for (std::size_t i = 1; i < parts.size(); ++i) {
      if (parts[i].empty()) return "a key path with an empty name (a stray backslash)";
    }
    m_tree.noteMentioned(*root);
    if (parts.size() == 1) m_tree.noteListed(*root);
    auto key = m_tree.rootPtr(*root);
    for (std::size_t i = 1; i < parts.size(); ++i) key = key->findOrAddSubkey(parts[i]);
    m_key = std::move(key);
    return std::nullopt;
  }

  // Reads a quoted text starting at body[pos] == '"'; leaves pos after the
  // closing quote.
  std::optional<std::string> parseQuoted(std::string_view body, std::size_t& pos,
                                         std::string& out) {
    for (++pos; pos < body.size(); ++pos) {
      const char c = body[pos];
      if (c == '"') {
        ++pos;
        return std::nullopt;
      }
      if (c == '\\') {
        if (pos + 1 >= body.size()) break;
        const char e = body[++pos];
        if (e != '\\' && e != '"') return std::string("bad escape \\") + e + " in quoted text";
      }
      out.push_back(body[pos]);
    }
    return "quoted text without its closing quote";
  }

  std::optional<std::string> parseValue(std::string_view body, std::size_t line) {
    std::string name;
    std::size_t pos = 0;
    if (body.front() == '@') {
      pos = 1;
    } else if (auto problem = parseQuoted(body, pos, name)) {
      return problem;
    }
    std::string_view rest = trimLeft(body.substr(pos));
    if (rest.empty() || rest.front() != '=') return "a value name without =";
    rest = trimLeft(rest.substr(1));

    if (!rest.empty() && rest.front() == '"') {
      std::string data;
      std::size_t p = 0;
      if (auto problem = parseQuoted(rest, p, data)) return problem;
      if (!trim(rest.substr(p)).empty()) return "text after a quoted value";
      data.push_back('\0');
      m_key->setValue(name, REG_SZ, std::move(data));
      return std::nullopt;
    }
    if (startsWithNoCase(rest, "dword:")) {
      const auto v = parseHexNumber(trimRight(rest.substr(6)), 8);
      if (!v) return "bad dword: value (1 to 8 hex digits expected)";
      std::string data(4, '\0');
      for (int i = 0; i < 4; ++i) data[i] = static_cast<char>((*v >> (8 * i)) & 0xFF);
      m_key->setValue(name, REG_DWORD, std::move(data));
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
      std::string data;
      if (auto problem = parseHexBytes(rest.substr(1), line, data)) return problem;
      m_key->setValue(name, type, std::move(data));
      return std::nullopt;
    }
    if (trim(rest) == "-")
      return "a \"name\"=- line deletes a value; a registry file cannot hold one";
    return "unrecognised value data";
  }

  // Reads comma-separated hex bytes, following "\" continuations onto the
  // next lines. Errors are reported at the line where they are found.
  std::optional<std::string> parseHexBytes(std::string_view segment, std::size_t line,
                                           std::string& out) {
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
          out.push_back(static_cast<char>(*byte));
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
      if (m_next >= m_lines.size()) {
        m_errorLine = line;
        return "hex data continued past the end of the file";
      }
      segment = m_lines[m_next].text;
      line = m_lines[m_next].number;
      ++m_next;
      first = false;
    }
  }

  std::string_view m_source;
  std::vector<Line> m_lines;
  std::size_t m_nulLine = 0;
  std::size_t m_next = 0;
  std::size_t m_errorLine = 0;
  RegistryTree m_tree;
  std::shared_ptr<RegistryKey> m_key;
};

}  // namespace

RegistryResult<RegistryTree> parseRegedit4(std::string_view text, std::string_view source) {
  return Parser(text, source).run();
}
