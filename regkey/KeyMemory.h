// Buffers that the key class allocates for itself: taken with the global
// operator new (nothrow, so a failure surfaces as CMemoryException even where
// the allocator would abort) and released with operator delete.
#pragma once

#include <cstddef>
#include <memory>
#include <new>

#include "framework/afx.h"

namespace regkey::detail {

inline void* AllocateOrThrow(std::size_t nBytes) {
  void* p = ::operator new(nBytes, std::nothrow);
  if (p == nullptr) AfxThrowMemoryException();
  return p;
}

struct OperatorDelete {
  void operator()(void* p) const { ::operator delete(p); }
};

template <typename T>
using OwnedBuffer = std::unique_ptr<T, OperatorDelete>;

}  // namespace regkey::detail
