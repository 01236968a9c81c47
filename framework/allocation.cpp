#include "framework/allocation.h"

#include <cstdlib>

#include "framework/exceptions.h"

namespace afx_detail {

void* Allocate(std::size_t nBytes) {
  void* p = std::malloc(nBytes == 0 ? 1 : nBytes);
  if (p == nullptr) AfxThrowMemoryException();
  return p;
}

void* Reallocate(void* p, std::size_t nBytes) {
  void* q = std::realloc(p, nBytes == 0 ? 1 : nBytes);
  if (q == nullptr) AfxThrowMemoryException();
  return q;
}

void Free(void* p) noexcept { std::free(p); }

}  // namespace afx_detail
