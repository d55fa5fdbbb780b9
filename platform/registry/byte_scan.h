// Looks at text eight bytes at a time for a few byte values: a line feed, a
// quote, a backslash, a closing bracket. Registry lines are a few dozen
// bytes, too short for a library search to pay for its start, and a loop
// over single bytes costs several instructions a byte; a word at a time
// costs about one.
//
// Only where bytes are numbered from the low end of a word (little-endian)
// does the first marked byte tell which byte matched first; elsewhere callers
// look at the bytes one by one.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace bytescan {

inline constexpr bool kByWord = std::endian::native == std::endian::little;

inline constexpr std::uint64_t kOnes = 0x0101010101010101u;
inline constexpr std::uint64_t kHighs = 0x8080808080808080u;

inline std::uint64_t load(const char* p) {
  std::uint64_t word = 0;
  std::memcpy(&word, p, 8);
  return word;
}

// Marks (sets the high bit of) the first byte of `word` that equals `c`, and
// maybe bytes after it; nothing when no byte does.
inline std::uint64_t marks(std::uint64_t word, unsigned char c) {
  const std::uint64_t x = word ^ (kOnes * c);
  return (x - kOnes) & ~x & kHighs;
}

// The position of the first marked byte; `marked` is not zero.
inline std::size_t firstMarked(std::uint64_t marked) {
  return static_cast<std::size_t>(std::countr_zero(marked)) / 8;
}

// The first line feed in [p, end), or `end`.
inline const char* findLineFeed(const char* p, const char* end) {
  if constexpr (kByWord) {
    for (; end - p >= 8; p += 8) {
      if (const std::uint64_t m = marks(load(p), '\n'); m != 0) return p + firstMarked(m);
    }
  }
  while (p != end && *p != '\n') ++p;
  return p;
}

// The first byte in [p, end) that is one of `a`, `b` and `c`, or `end`.
inline const char* findAnyOf(const char* p, const char* end, char a, char b, char c) {
  if constexpr (kByWord) {
    for (; end - p >= 8; p += 8) {
      const std::uint64_t word = load(p);
      const std::uint64_t m = marks(word, static_cast<unsigned char>(a)) |
                              marks(word, static_cast<unsigned char>(b)) |
                              marks(word, static_cast<unsigned char>(c));
      if (m != 0) return p + firstMarked(m);
    }
  }
  while (p != end && *p != a && *p != b && *p != c) ++p;
  return p;
}

}  // namespace bytescan
