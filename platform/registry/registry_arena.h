// The bytes of every key name, value name and value data of the registry,
// kept one after another in one buffer instead of in an allocation each: a
// registry of 100,000 keys would otherwise make some 400,000 small strings.
// Bytes are only ever added; a removed value or key leaves its bytes behind
// until the program ends, which it soon does.
//
// The buffer is a plain block rather than a std::string: the reader adds
// half a million short runs while loading, and each append is then a bounds
// check and a copy, with no clearing of room that is written next anyway. A
// large one lies in huge pages (large_block.h).
#pragma once

#include <cstdint>
#include <cstring>
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

  RegistryArena() = default;
  RegistryArena(const RegistryArena& other);
  RegistryArena& operator=(const RegistryArena& other);
  RegistryArena(RegistryArena&& other) noexcept;
  RegistryArena& operator=(RegistryArena&& other) noexcept;
  ~RegistryArena();

  // Sixteen bytes past the room may always be read and written, so that the
  // texts in the arena can be read, and copied in, eight or sixteen bytes at
  // a time.
  static constexpr std::size_t kSlack = 16;

  // Makes room for `bytes` more without moving what is there.
  void reserve(std::size_t bytes) {
    if (m_capacity - m_size < bytes) regrow(m_size + bytes);
  }

  std::string_view view(ArenaSpan span) const {
    return std::string_view(m_data + span.offset, span.size);
  }

  // Forgets every byte, keeping the room.
  void clear() { m_size = 0; }

  // The position at which the next byte goes, for since().
  std::size_t mark() const { return m_size; }
  // Every byte held, in order.
  std::string_view all() const { return std::string_view(m_data, m_size); }
  void put(char c) {
    if (m_size == m_capacity) grow(1);
    m_data[m_size++] = c;
  }
  void append(std::string_view bytes) {
    if (m_capacity - m_size < bytes.size()) grow(bytes.size());
    copyIn(m_data + m_size, bytes.data(), bytes.size());
    m_size += bytes.size();
  }
  // Where the next bytes go, with room for `bytes` of them (and the slack
  // behind); commit() adds those written there.
  char* room(std::size_t bytes) {
    if (m_capacity - m_size < bytes) grow(bytes);
    return m_data + m_size;
  }
  void commit(std::size_t bytes) { m_size += bytes; }
  // The bytes added since `mark`.
  ArenaSpan since(std::size_t mark) const {
    return ArenaSpan{static_cast<std::uint32_t>(mark), static_cast<std::uint32_t>(m_size - mark)};
  }
  // Copies `bytes` in; they must not lie in the arena itself.
  ArenaSpan keep(std::string_view bytes) {
    const std::size_t start = mark();
    append(bytes);
    return since(start);
  }

 private:
  // Copies `n` bytes. Names are mostly 4 to 16 bytes long: those go as two
  // words that may overlap, which reads no byte outside them, instead of a
  // call whose set-up costs more than the copy.
  static void copyIn(char* to, const char* from, std::size_t n) {
    if (n >= 8 && n <= 16) {
      copyAsTwo<std::uint64_t>(to, from, n);
    } else if (n >= 4 && n < 8) {
      copyAsTwo<std::uint32_t>(to, from, n);
    } else if (n != 0) {
      std::memcpy(to, from, n);
    }
  }
  // `n` bytes, from one to two words' worth, as the first and the last word.
  template <typename Word>
  static void copyAsTwo(char* to, const char* from, std::size_t n) {
    Word head;
    Word tail;
    std::memcpy(&head, from, sizeof(Word));
    std::memcpy(&tail, from + n - sizeof(Word), sizeof(Word));
    std::memcpy(to, &head, sizeof(Word));
    std::memcpy(to + n - sizeof(Word), &tail, sizeof(Word));
  }
  // Makes room for `more` bytes past the end, at least doubling the block.
  void grow(std::size_t more);
  // Moves the bytes to a new block of `capacity` bytes.
  void regrow(std::size_t capacity);
  // What the block took from allocateLarge.
  std::size_t blockSize() const { return m_data == nullptr ? 0 : m_capacity + kSlack; }

  char* m_data = nullptr;  // From allocateLarge, of m_capacity + kSlack bytes.
  std::size_t m_size = 0;
  std::size_t m_capacity = 0;
};
