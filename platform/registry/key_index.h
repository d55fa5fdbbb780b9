// The subkeys of one key by name: a hash table of key ids filed under the hash
// of their name's capital form; the caller decides whether a key with a
// matching hash is the one sought. A key with many subkeys gets one, so that
// opening or deleting a key costs one lookup per path component; each table
// stays small and close to the keys being added, which keeps loading a large
// registry fast.
#pragma once

#include <cstdint>
#include <vector>

using KeyId = std::uint32_t;
inline constexpr KeyId kNoKey = UINT32_MAX;

class KeyIndex final {
 public:
  // Makes room for `keys` keys in all without growing again.
  void reserve(std::size_t keys);

  // The key filed under `hash` for which `matches(id)` holds, or kNoKey.
  template <typename Matches>
  KeyId find(std::uint32_t hash, Matches&& matches) const {
    if (m_slots.empty()) return kNoKey;
    for (std::size_t i = spread(hash) & mask();; i = (i + 1) & mask()) {
      const Slot& slot = m_slots[i];
      if (slot.id == kEmpty) return kNoKey;
      if (slot.id != kRemoved && slot.hash == hash && matches(slot.id)) return slot.id;
    }
  }

  // True until the first insert.
  bool empty() const { return m_slots.empty(); }
  void insert(std::uint32_t hash, KeyId id);
  // Takes out the key `id` filed under `hash`; nothing when it is not there.
  void erase(std::uint32_t hash, KeyId id);

 private:
  struct Slot {
    std::uint32_t hash = 0;
    KeyId id = kEmpty;
  };
  static constexpr KeyId kEmpty = UINT32_MAX;
  static constexpr KeyId kRemoved = UINT32_MAX - 1;

  std::size_t mask() const { return m_slots.size() - 1; }
  // Mixes all bits of a name hash into the low ones that pick the slot.
  static std::uint32_t spread(std::uint32_t hash) {
    hash ^= hash >> 16;
    hash *= 0x85EBCA6Bu;
    hash ^= hash >> 13;
    return hash;
  }
  void rebuild(std::size_t slot_count);

  // Open addressing with linear probing; at most half the slots are taken
  // (keys and removed marks together), so a search ends at an empty slot soon.
  std::vector<Slot> m_slots;
  std::size_t m_taken = 0;
  std::size_t m_live = 0;
};
