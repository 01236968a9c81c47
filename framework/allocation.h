// Allocation for the framework's own buffers: failure raises CMemoryException.
#pragma once

#include <cstddef>

namespace afx_detail {

void* Allocate(std::size_t nBytes);             // nBytes may be 0
void* Reallocate(void* p, std::size_t nBytes);  // p unchanged on failure
void Free(void* p) noexcept;

}  // namespace afx_detail
