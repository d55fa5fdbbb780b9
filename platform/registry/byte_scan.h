// Looks at text eight bytes at a time for a few byte values: a line feed, a
// quote, a backslash, a closing bracket. Registry lines are a few dozen
// bytes, too short for a library search to pay for its start, and a loop
// over single bytes costs several instructions a byte; a word at a time
// costs about one.
//
// Only where bytes are numbered from the low end of a word (little-endian)
// does the first marked byte tell which byte matched first; elsewhere callers
// look at the bytes one by one. Where the processor has SSE2 (every x86-64),
// the searches look at sixteen bytes at a time first.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

#if defined(__SSE2__)
inline __m128i load16(const char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// One bit for each of the sixteen bytes at `p` that equals one of a, b, c.
inline unsigned matches16(const char* p, __m128i a, __m128i b, __m128i c) {
  const __m128i x = load16(p);
  const __m128i hits =
      _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, a), _mm_cmpeq_epi8(x, b)), _mm_cmpeq_epi8(x, c));
  return static_cast<unsigned>(_mm_movemask_epi8(hits));
}
#endif

// The first line feed in [p, end), or `end`.
inline const char* findLineFeed(const char* p, const char* end) {
#if defined(__SSE2__)
  const __m128i feed = _mm_set1_epi8('\n');
  for (; end - p >= 16; p += 16) {
    if (const unsigned m = matches16(p, feed, feed, feed); m != 0) return p + std::countr_zero(m);
  }
#endif
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
#if defined(__SSE2__)
  const __m128i va = _mm_set1_epi8(a);
  const __m128i vb = _mm_set1_epi8(b);
  const __m128i vc = _mm_set1_epi8(c);
  for (; end - p >= 16; p += 16) {
    if (const unsigned m = matches16(p, va, vb, vc); m != 0) return p + std::countr_zero(m);
  }
#endif
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

// How many bytes two texts have in common at their start.
inline std::size_t commonPrefix(const char* a, const char* b, std::size_t n) {
  std::size_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= n; i += 16) {
    const auto same =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(load16(a + i), load16(b + i))));
    if (same != 0xFFFF) return i + static_cast<std::size_t>(std::countr_one(same));
  }
#endif
  if constexpr (kByWord) {
    for (; i + 8 <= n; i += 8) {
      const std::uint64_t differ = load(a + i) ^ load(b + i);
      if (differ != 0) return i + static_cast<std::size_t>(std::countr_zero(differ)) / 8;
    }
  }
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

}  // namespace bytescan
