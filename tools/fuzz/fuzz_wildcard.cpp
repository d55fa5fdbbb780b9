// libFuzzer target: FindFirstFileA's pattern matcher against a plain
// backtracking reading of the same DOS rules, on any pattern and name.
//
// Input: a pattern and a name, split at the first zero byte. Each is cut to a
// length that keeps the backtracking reference quick.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/fs/wildcard.h"

namespace {

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

// Whether `pattern` from `p` matches `name` from `n`. The rules: "*.*" is "*";
// '*' is any run of characters, except that a '*' right before a '.' runs
// only up to the last '.' of the name; '?' is one character, or none before a
// '.' or at the end; a '.' before '?', '*' or the end of the pattern also
// matches the end of the name; other characters match themselves in any case.
bool reference(std::string_view pattern, std::size_t p, std::string_view name, std::size_t n) {
  if (p == pattern.size()) return n == name.size();
  const char c = pattern[p];
  const bool at_end = n == name.size();
  if (c == '*') {
    const bool dos = p + 1 < pattern.size() && pattern[p + 1] == '.';
    const std::size_t last_dot = name.rfind('.');
    for (std::size_t k = n; k <= name.size(); ++k) {
      if (dos && k > n && (k - 1 == last_dot)) return false;  // never across the last '.'
      if (reference(pattern, p + 1, name, k)) return true;
    }
    return false;
  }
  if (c == '?') {
    if (at_end || name[n] == '.') return reference(pattern, p + 1, name, n);
    return reference(pattern, p + 1, name, n + 1);
  }
  if (c == '.') {
    const bool before_wild =
        p + 1 == pattern.size() || pattern[p + 1] == '?' || pattern[p + 1] == '*';
    if (before_wild && at_end) return reference(pattern, p + 1, name, n);
  }
  return !at_end && upper(name[n]) == upper(c) && reference(pattern, p + 1, name, n + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const std::size_t zero = in.find('\0');
  std::string_view pattern = in.substr(0, zero);
  std::string_view name = zero == std::string_view::npos ? std::string_view() : in.substr(zero + 1);
  // The reference backtracks: a few stars over a short name stay fast.
  if (pattern.size() > 24 || name.size() > 40) return 0;
  std::size_t stars = 0;
  for (char c : pattern) stars += c == '*';
  if (stars > 5) return 0;

  const std::string_view effective = pattern == "*.*" ? std::string_view("*") : pattern;
  const bool expected = reference(effective, 0, name, 0);
  if (matchesWildcard(pattern, name) != expected) std::abort();
  if (hasWildcard(pattern) != (pattern.find_first_of("*?") != std::string_view::npos)) std::abort();
  return 0;
}
