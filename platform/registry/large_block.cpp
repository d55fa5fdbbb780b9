#include "platform/registry/large_block.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>

namespace {

constexpr std::size_t kHugePage = 2 * 1024 * 1024;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kFromKernel = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kFromKernel = false;
#else
constexpr bool kFromKernel = true;
#endif
#else
constexpr bool kFromKernel = true;
#endif

bool fromKernel(std::size_t bytes) { return kFromKernel && bytes >= kHugePage; }

std::size_t roundUp(std::size_t bytes) { return (bytes + kHugePage - 1) & ~(kHugePage - 1); }

}  // namespace

void* allocateLarge(std::size_t bytes) {
  if (!fromKernel(bytes)) return ::operator new(bytes);
  const std::size_t size = roundUp(bytes);
  // Mapped with a huge page's room to spare, then trimmed to an aligned start.
  void* const mapped =
      ::mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<std::uintptr_t>(mapped);
  const std::uintptr_t aligned = (start + kHugePage - 1) & ~(std::uintptr_t{kHugePage} - 1);
  const std::size_t head = aligned - start;
  if (head != 0) ::munmap(mapped, head);
  if (kHugePage - head != 0) ::munmap(reinterpret_cast<void*>(aligned + size), kHugePage - head);
  // Only a hint: without huge pages the block works the same in small ones.
  (void)::madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
  return reinterpret_cast<void*>(aligned);
}

void freeLarge(void* block, std::size_t bytes) noexcept {
  if (block == nullptr) return;
  if (!fromKernel(bytes)) {
    ::operator delete(block);
    return;
  }
  ::munmap(block, roundUp(bytes));
}
