#include "platform/resources/rc_lexer.h"

#include <cctype>
#include <charconv>

namespace resources {

Token Lexer::next(const std::function<void(std::string_view, int)>& directive) {
  for (;;) {
    skipBlanksAndComments();
    if (failed() || m_pos >= m_text.size()) return endToken();
    if (m_text[m_pos] == '#' && m_atLineStart) {
      const size_t end = m_text.find('\n', m_pos);
      const size_t stop = end == std::string_view::npos ? m_text.size() : end;
      directive(m_text.substr(m_pos, stop - m_pos), m_line);
      m_pos = stop;
      continue;
    }
    break;
  }
  m_atLineStart = false;
  const char c = m_text[m_pos];
  Token token;
  token.line = m_line;
  if (c == '"') {
    token.kind = TokenKind::String;
    token.text = readString();
  } else if (std::isdigit(static_cast<unsigned char>(c))) {
    token.kind = TokenKind::Number;
    token.value = readNumber();
  } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
    token.kind = TokenKind::Identifier;
    const size_t start = m_pos;
    while (m_pos < m_text.size() &&
           (std::isalnum(static_cast<unsigned char>(m_text[m_pos])) || m_text[m_pos] == '_'))
      ++m_pos;
    token.text = std::string(m_text.substr(start, m_pos - start));
  } else if (c == ',' || c == '|' || c == '(' || c == ')' || c == '-') {
    token.kind = TokenKind::Punct;
    token.text = std::string(1, c);
    ++m_pos;
  } else {
    fail("unexpected character '" + std::string(1, c) + "'");
  }
  return failed() ? endToken() : token;
}

void Lexer::failAt(int line, const std::string& what) {
  if (failed()) return;
  m_status = Error{std::string(m_name) + ":" + std::to_string(line) + ": " + what};
}

void Lexer::skipBlanksAndComments() {
  while (m_pos < m_text.size()) {
    const char c = m_text[m_pos];
    if (c == '\n') {
      ++m_line;
      ++m_pos;
      m_atLineStart = true;
    } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
      ++m_pos;
    } else if (m_text.substr(m_pos, 2) == "//") {
      while (m_pos < m_text.size() && m_text[m_pos] != '\n') ++m_pos;
    } else if (m_text.substr(m_pos, 2) == "/*") {
      const size_t end = m_text.find("*/", m_pos + 2);
      if (end == std::string_view::npos) {
        fail("comment is not closed");
        m_pos = m_text.size();
        return;
      }
      for (size_t i = m_pos; i < end; ++i)
        if (m_text[i] == '\n') ++m_line;
      m_pos = end + 2;
    } else {
      return;
    }
  }
}

std::string Lexer::readString() {
  std::string out;
  ++m_pos;
  for (;;) {
    if (m_pos >= m_text.size() || m_text[m_pos] == '\n') {
      fail("string is not closed");
      return out;
    }
    const char c = m_text[m_pos++];
    if (c == '"') {
      if (m_pos < m_text.size() && m_text[m_pos] == '"') {
        out += '"';
        ++m_pos;
        continue;
      }
      return out;
    }
    if (c == '\\') {
      if (m_pos >= m_text.size()) {
        fail("string is not closed");
        return out;
      }
      const char e = m_text[m_pos++];
      switch (e) {
        case '\\':
          out += '\\';
          break;
        case '"':
          out += '"';
          break;
        case 'n':
          out += '\n';
          break;
        case 't':
          out += '\t';
          break;
        default:
          fail(std::string("unknown escape \\") + e);
          return out;
      }
      continue;
    }
    out += c;
  }
}

long Lexer::readNumber() {
  int base = 10;
  if (m_text.substr(m_pos, 2) == "0x" || m_text.substr(m_pos, 2) == "0X") {
    base = 16;
    m_pos += 2;
  }
  const char* first = m_text.data() + m_pos;
  const char* last = m_text.data() + m_text.size();
  unsigned long value = 0;
  const auto [ptr, ec] = std::from_chars(first, last, value, base);
  if (ec != std::errc() || ptr == first || value > 0xFFFFFFFFul) {
    fail("bad number");
    return 0;
  }
  m_pos += static_cast<size_t>(ptr - first);
  // A trailing L or U marks a long or unsigned constant.
  while (m_pos < m_text.size() && (m_text[m_pos] == 'L' || m_text[m_pos] == 'l' ||
                                   m_text[m_pos] == 'U' || m_text[m_pos] == 'u'))
    ++m_pos;
  return static_cast<long>(value);
}

}  // namespace resources
