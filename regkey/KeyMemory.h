// Buffers that the key class allocates for itself: taken with the global
// operator new (nothrow, so a failure surfaces as CMemoryException even where
// the allocator would abort) and released with the class's BufferDeleter, as
// a buffer handed to the caller is.
#pragma once

#include <cstddef>
#include <memory>
#include <new>

#include "framework/afx.h"
#include "regkey/qorCRegKey.h"

namespace regkey::detail {

inline void* AllocateOrThrow(std::size_t nBytes) {
  void* p = ::operator new(nBytes, std::nothrow);
  if (p == nullptr) AfxThrowMemoryException();
  return p;
}

template <typename T>
using OwnedBuffer = std::unique_ptr<T, qorCRegKey::BufferDeleter>;

}  // namespace regkey::detail
