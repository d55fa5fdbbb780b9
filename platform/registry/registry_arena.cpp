#include "platform/registry/registry_arena.h"

#include <algorithm>
#include <utility>

RegistryArena::RegistryArena(const RegistryArena& other) { *this = other; }

RegistryArena& RegistryArena::operator=(const RegistryArena& other) {
  if (this == &other) return *this;
  // A copy gets room for what is there and no more: copies are made of whole
  // trees, and a copy is mostly read.
  auto data = std::make_unique_for_overwrite<char[]>(std::max<std::size_t>(other.m_size, 1));
  if (other.m_size != 0) std::memcpy(data.get(), other.m_data.get(), other.m_size);
  m_data = std::move(data);
  m_size = other.m_size;
  m_capacity = std::max<std::size_t>(other.m_size, 1);
  return *this;
}

RegistryArena::RegistryArena(RegistryArena&& other) noexcept
    : m_data(std::move(other.m_data)),
      m_size(std::exchange(other.m_size, 0)),
      m_capacity(std::exchange(other.m_capacity, 0)) {}

RegistryArena& RegistryArena::operator=(RegistryArena&& other) noexcept {
  m_data = std::move(other.m_data);
  m_size = std::exchange(other.m_size, 0);
  m_capacity = std::exchange(other.m_capacity, 0);
  return *this;
}

void RegistryArena::grow(std::size_t more) {
  regrow(std::max({m_size + more, 2 * m_capacity, std::size_t{256}}));
}

void RegistryArena::regrow(std::size_t capacity) {
  auto data = std::make_unique_for_overwrite<char[]>(capacity);
  if (m_size != 0) std::memcpy(data.get(), m_data.get(), m_size);
  m_data = std::move(data);
  m_capacity = capacity;
}
