#include "platform/registry/key_index.h"

#include <algorithm>
#include <bit>

void KeyIndex::reserve(std::size_t keys) {
  const std::size_t wanted = std::bit_ceil(2 * keys + 2);
  if (wanted > m_slots.size()) rebuild(wanted);
}

void KeyIndex::insert(std::uint32_t hash, KeyId id) {
  if (2 * (m_taken + 1) > m_slots.size()) {
    // Twice the keys rounded up: a table of a large registry's keys stays
    // between a quarter and a half full, in as little memory as that allows.
    rebuild(std::max<std::size_t>(16, std::bit_ceil(2 * (m_live + 1))));
  }
  std::size_t i = spread(hash) & mask();
  while (m_slots[i].id != kEmpty) i = (i + 1) & mask();
  m_slots[i] = Slot{hash, id};
  ++m_taken;
  ++m_live;
}

void KeyIndex::erase(std::uint32_t hash, KeyId id) {
  if (m_slots.empty()) return;
  for (std::size_t i = spread(hash) & mask(); m_slots[i].id != kEmpty; i = (i + 1) & mask()) {
    if (m_slots[i].id == id) {
      // The slot stays taken, so that searches for keys filed after it go on.
      m_slots[i].id = kRemoved;
      --m_live;
      return;
    }
  }
}

void KeyIndex::rebuild(std::size_t slot_count) {
  auto old = std::move(m_slots);
  m_slots.assign(slot_count, Slot{});
  m_taken = 0;
  for (const Slot& slot : old) {
    if (slot.id == kEmpty || slot.id == kRemoved) continue;
    std::size_t i = spread(slot.hash) & mask();
    while (m_slots[i].id != kEmpty) i = (i + 1) & mask();
    m_slots[i] = slot;
    ++m_taken;
  }
}
