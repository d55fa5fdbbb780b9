// The tokens of a resource script: names, numbers, quoted strings and the
// punctuation of the script's statements, with the line each stands on.
// Comments and blanks are skipped; preprocessor lines are handed whole to the
// parser. The first error stops the lexer: from then on it hands out only the
// end of the text.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/result/result.h"

namespace resources {

enum class TokenKind { Identifier, Number, String, Punct, End };

struct Token {
  TokenKind kind = TokenKind::End;
  std::string text;  // identifier, string contents or punctuation
  long value = 0;    // numbers
  int line = 0;
};

class Lexer {
 public:
  // Reads `text`, named `name` in messages; the first error goes to `status`.
  Lexer(std::string_view name, std::string_view text, Result<void>& status)
      : m_name(name), m_text(text), m_status(status) {}

  // Returns the next token; preprocessor lines are handed to `directive`.
  // After an error, only the end.
  Token next(const std::function<void(std::string_view, int)>& directive);

  Token endToken() const { return Token{TokenKind::End, {}, 0, m_line}; }

  bool failed() const { return !m_status.ok(); }
  // Records "name:line: what", unless an earlier error stands.
  void fail(const std::string& what) { failAt(m_line, what); }
  void failAt(int line, const std::string& what);

 private:
  void skipBlanksAndComments();
  // A quoted string: "" stands for one quote; \\, \", \n and \t are escapes.
  std::string readString();
  long readNumber();

  std::string_view m_name;
  std::string_view m_text;
  Result<void>& m_status;
  size_t m_pos = 0;
  int m_line = 1;
  bool m_atLineStart = true;
};

}  // namespace resources
