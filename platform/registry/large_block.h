// Memory for the registry's big tables: the arena of names and data, the key
// and value records, the subkey lists. A block of 2 MB or more comes straight
// from the kernel, aligned so that it can be backed by 2 MB pages, which a
// fresh block of some megabytes fills about ten times faster than 4 KB pages
// (a load of a large registry spends much of its time filling fresh memory).
// Smaller blocks come from the heap as usual. Under the address sanitizer all
// blocks come from the heap, so that every access stays checked.
#pragma once

#include <cstddef>

void* allocateLarge(std::size_t bytes);
// `bytes` is the size that allocateLarge was given.
void freeLarge(void* block, std::size_t bytes) noexcept;

template <typename T>
struct LargeBlockAllocator {
  using value_type = T;

  LargeBlockAllocator() = default;
  template <typename U>
  LargeBlockAllocator(const LargeBlockAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) { return static_cast<T*>(allocateLarge(n * sizeof(T))); }
  void deallocate(T* block, std::size_t n) noexcept { freeLarge(block, n * sizeof(T)); }

  friend bool operator==(const LargeBlockAllocator&, const LargeBlockAllocator&) { return true; }
};
