// The bytes of every key name, value name and value data of the registry,
// kept one after another in one buffer instead of in an allocation each: a
// registry of 100,000 keys would otherwise make some 400,000 small strings.
// Bytes are only ever added; a removed value or key leaves its bytes behind
// until the program ends, which it soon does.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Where some bytes lie in the arena. Offsets are 32-bit, which bounds the
// arena at 4 GB; the reader refuses larger files.
struct ArenaSpan {
  std::uint32_t offset = 0;
  std::uint32_t size = 0;
};

class RegistryArena final {
 public:
  static constexpr std::size_t kMaxSize = UINT32_MAX;

  // Makes room for `bytes` more without moving what is there.
  void reserve(std::size_t bytes) { m_bytes.reserve(m_bytes.size() + bytes); }

  std::string_view view(ArenaSpan span) const {
    return std::string_view(m_bytes.data() + span.offset, span.size);
  }

  // The position at which the next byte goes, for since().
  std::size_t mark() const { return m_bytes.size(); }
  void put(char c) { m_bytes.push_back(c); }
  void append(std::string_view bytes) { m_bytes.append(bytes); }
  // The bytes added since `mark`.
  ArenaSpan since(std::size_t mark) const {
    return ArenaSpan{static_cast<std::uint32_t>(mark),
                     static_cast<std::uint32_t>(m_bytes.size() - mark)};
  }
  // Copies `bytes` in; they must not lie in the arena itself.
  ArenaSpan keep(std::string_view bytes) {
    const std::size_t start = mark();
    append(bytes);
    return since(start);
  }

 private:
  std::string m_bytes;
};
