// Makes a large allocation fail for the scope of a test, so that the paths
// that raise CMemoryException can be reached on every leg: a 32-bit process
// can't get 2 GiB at once anyway; under AddressSanitizer the allocator's own
// limit refuses it; on 64-bit Windows the key class's nothrow operator new is
// replaced for the program and refuses 1 GiB or more for the scope;
// elsewhere the address space is capped for the scope.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
// Read by the sanitizer runtime at start-up; include this header in one
// source file per test executable only.
extern "C" __attribute__((used)) const char* __asan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=1024";
}
#endif

#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__)
#include <fstream>
#include <sys/resource.h>
#include <unistd.h>
#endif

#if defined(_WIN64)
#include <cstddef>
#include <new>

namespace regkey::test {
inline bool largeAllocationsFail = false;
}  // namespace regkey::test

// Include this header in one source file per test executable only.
void* operator new(std::size_t nBytes, const std::nothrow_t&) noexcept {
  if (regkey::test::largeAllocationsFail && nBytes >= (std::size_t{1} << 30)) return nullptr;
  try {
    return ::operator new(nBytes);
  } catch (...) {
    return nullptr;
  }
}
#endif

namespace regkey::test {

class LargeAllocationsFail {
 public:
  LargeAllocationsFail() {
#if defined(_WIN64)
    largeAllocationsFail = true;
#endif
#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__)
    getrlimit(RLIMIT_AS, &saved_);
    unsigned long long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    rlimit capped = saved_;
    capped.rlim_cur = pages * sysconf(_SC_PAGESIZE) + (512ull << 20);
    setrlimit(RLIMIT_AS, &capped);
#endif
  }
  ~LargeAllocationsFail() {
#if defined(_WIN64)
    largeAllocationsFail = false;
#endif
#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__)
    setrlimit(RLIMIT_AS, &saved_);
#endif
  }
  LargeAllocationsFail(const LargeAllocationsFail&) = delete;
  LargeAllocationsFail& operator=(const LargeAllocationsFail&) = delete;

#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__)
 private:
  rlimit saved_{};
#endif
};

}  // namespace regkey::test
