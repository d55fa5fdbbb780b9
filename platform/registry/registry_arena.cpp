#include "platform/registry/registry_arena.h"

#include <algorithm>
#include <utility>

#include "platform/registry/large_block.h"

RegistryArena::RegistryArena(const RegistryArena& other) { *this = other; }

RegistryArena& RegistryArena::operator=(const RegistryArena& other) {
  if (this == &other) return *this;
  // A copy gets room for what is there and no more: copies are made of whole
  // trees, and a copy is mostly read.
  const std::size_t capacity = std::max<std::size_t>(other.m_size, 1);
  char* const data = static_cast<char*>(allocateLarge(capacity + kSlack));
  if (other.m_size != 0) std::memcpy(data, other.m_data, other.m_size);
  freeLarge(m_data, blockSize());
  m_data = data;
  m_size = other.m_size;
  m_capacity = capacity;
  return *this;
}

RegistryArena::RegistryArena(RegistryArena&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)),
      m_size(std::exchange(other.m_size, 0)),
      m_capacity(std::exchange(other.m_capacity, 0)) {}

RegistryArena& RegistryArena::operator=(RegistryArena&& other) noexcept {
  if (this == &other) return *this;
  freeLarge(m_data, blockSize());
  m_data = std::exchange(other.m_data, nullptr);
  m_size = std::exchange(other.m_size, 0);
  m_capacity = std::exchange(other.m_capacity, 0);
  return *this;
}

RegistryArena::~RegistryArena() { freeLarge(m_data, blockSize()); }

void RegistryArena::grow(std::size_t more) {
  // Blocks double with the slack counted in, so that a block of a power of
  // two bytes does not spill into another huge page for its slack.
  const std::size_t block =
      std::max({m_size + more + kSlack, 2 * (m_capacity + kSlack), std::size_t{256}});
  regrow(block - kSlack);
}

void RegistryArena::regrow(std::size_t capacity) {
  char* const data = static_cast<char*>(allocateLarge(capacity + kSlack));
  if (m_size != 0) std::memcpy(data, m_data, m_size);
  freeLarge(m_data, blockSize());
  m_data = data;
  m_capacity = capacity;
}
