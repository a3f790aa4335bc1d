// An allocator whose failure ends the process through the fatal-error path
// instead of throwing, so a result that cannot be built never reaches a caller
// half-made.
#pragma once

#include <cstddef>
#include <cstdlib>

#include "text/fatal.h"

namespace taviro {

// Texts and byte strings count their bytes in signed 32-bit integers, and a
// 32-bit process never obtains a block of 2 GB or more; a larger request is
// refused here on every target, so the host behaves like the product.
constexpr std::size_t kLargestBlock = 0x7FFFFFFF;

template <class T>
struct FatalAllocator {
  using value_type = T;

  FatalAllocator() = default;
  template <class U>
  FatalAllocator(const FatalAllocator<U>&) noexcept {}  // NOLINT

  T* allocate(std::size_t n) {
    if (n > kLargestBlock / sizeof(T)) {
      FatalOutOfMemory(n > static_cast<std::size_t>(-1) / sizeof(T) ? static_cast<std::size_t>(-1)
                                                                    : n * sizeof(T));
    }
    const std::size_t bytes = n * sizeof(T);
    void* p = std::malloc(bytes == 0 ? 1 : bytes);
    if (p == nullptr) FatalOutOfMemory(bytes);
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t) noexcept { std::free(p); }

  template <class U>
  bool operator==(const FatalAllocator<U>&) const noexcept { return true; }
  template <class U>
  bool operator!=(const FatalAllocator<U>&) const noexcept { return false; }
};

}  // namespace taviro
