// SPDX-License-Identifier: MIT
// Heap blocks that start a cache line, for buffers that read() fills and vector code walks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace iq {

inline constexpr std::size_t kCacheLine = 64;

template <typename T>
struct CacheLineAllocator {
  using value_type = T;
  CacheLineAllocator() = default;
  template <typename U>
  explicit CacheLineAllocator(const CacheLineAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    return static_cast<T*>(::operator new (n * sizeof(T), std::align_val_t{kCacheLine}));
  }
  void deallocate(T* p, std::size_t) noexcept { ::operator delete (p, std::align_val_t{kCacheLine}); }
  template <typename U>
  bool operator==(const CacheLineAllocator<U>&) const noexcept {
    return true;
  }
};

// Bytes whose first one starts a cache line.
using CacheLineBytes = std::vector<std::uint8_t, CacheLineAllocator<std::uint8_t>>;

}  // namespace iq
