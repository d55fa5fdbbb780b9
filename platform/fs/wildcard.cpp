#include "platform/fs/wildcard.h"

#include <vector>

#include "platform/text/ascii.h"

namespace {

// Tokens above the byte range stand for the wildcards.
enum Token : int { kStar = 256, kDosStar, kDosQm, kDosDot };

std::vector<int> tokenize(std::string_view pattern) {
  if (pattern == "*.*") pattern = "*";
  std::vector<int> tokens;
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
    if (c == '?') {
      tokens.push_back(kDosQm);
    } else if (c == '*') {
      tokens.push_back(next == '.' ? kDosStar : kStar);
    } else if (c == '.' && (next == '?' || next == '*' || next == '\0')) {
      tokens.push_back(kDosDot);
    } else {
      tokens.push_back(static_cast<unsigned char>(c));
    }
  }
  return tokens;
}

class Matcher final {
 public:
  Matcher(std::vector<int> tokens, std::string_view name)
      : m_tokens(std::move(tokens)),
        m_name(name),
        m_last_dot(name.rfind('.')),
        m_memo((m_tokens.size() + 1) * (name.size() + 1), kUnknown) {}

  bool match(size_t p, size_t n) {
    signed char& memo = m_memo[p * (m_name.size() + 1) + n];
    if (memo == kUnknown) memo = compute(p, n) ? 1 : 0;
    return memo == 1;
  }

 private:
  static constexpr signed char kUnknown = -1;

  bool compute(size_t p, size_t n) {
    const size_t end = m_name.size();
    if (p == m_tokens.size()) return n == end;
    switch (m_tokens[p]) {
      case kStar:
        for (size_t k = n; k <= end; ++k) {
          if (match(p + 1, k)) return true;
        }
        return false;
      case kDosStar:
        // Runs up to, never across, the last '.' of the name.
        for (size_t k = n;; ++k) {
          if (match(p + 1, k)) return true;
          if (k == end || k == m_last_dot) return false;
        }
      case kDosQm:
        if (n == end || m_name[n] == '.') return match(p + 1, n);
        return match(p + 1, n + 1);
      case kDosDot:
        if (n == end) return match(p + 1, n);
        return m_name[n] == '.' && match(p + 1, n + 1);
      default:
        return n < end &&
               ascii::toUpper(m_name[n]) == ascii::toUpper(static_cast<char>(m_tokens[p])) &&
               match(p + 1, n + 1);
    }
  }

  std::vector<int> m_tokens;
  std::string_view m_name;
  size_t m_last_dot;
  std::vector<signed char> m_memo;
};

}  // namespace

bool hasWildcard(std::string_view pattern) {
  return pattern.find_first_of("*?") != std::string_view::npos;
}

bool matchesWildcard(std::string_view pattern, std::string_view name) {
  Matcher matcher(tokenize(pattern), name);
  return matcher.match(0, 0);
}
