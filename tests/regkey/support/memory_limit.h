// Makes a large allocation fail for the scope of a test, so that the paths
// that raise CMemoryException can be reached on every leg: a 32-bit process
// can't get 2 GiB at once anyway; under AddressSanitizer or ThreadSanitizer
// the allocator's own limit refuses it (their shadow memory makes an address
// space cap meaningless); elsewhere the address space is capped for the scope.
#pragma once

#include "support/sanitizer.h"

// Read by the sanitizer runtime at start-up; include this header in one
// source file per test executable only.
#if defined(REGKEY_TEST_ASAN)
extern "C" __attribute__((used)) const char* __asan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=1024";
}
#define REGKEY_TEST_ALLOCATOR_LIMIT 1
#elif defined(REGKEY_TEST_TSAN)
extern "C" __attribute__((used)) const char* __tsan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=1024";
}
#define REGKEY_TEST_ALLOCATOR_LIMIT 1
#endif

#if !defined(_WIN32) && !defined(REGKEY_TEST_ALLOCATOR_LIMIT)
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#endif

namespace regkey::test {

class LargeAllocationsFail {
 public:
  LargeAllocationsFail() {
#if !defined(_WIN32) && !defined(REGKEY_TEST_ALLOCATOR_LIMIT)
    getrlimit(RLIMIT_AS, &saved_);
    unsigned long long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    rlimit capped = saved_;
    capped.rlim_cur = pages * sysconf(_SC_PAGESIZE) + (512ull << 20);
    setrlimit(RLIMIT_AS, &capped);
#endif
  }
  ~LargeAllocationsFail() {
#if !defined(_WIN32) && !defined(REGKEY_TEST_ALLOCATOR_LIMIT)
    setrlimit(RLIMIT_AS, &saved_);
#endif
  }
  LargeAllocationsFail(const LargeAllocationsFail&) = delete;
  LargeAllocationsFail& operator=(const LargeAllocationsFail&) = delete;

#if !defined(_WIN32) && !defined(REGKEY_TEST_ALLOCATOR_LIMIT)
 private:
  rlimit saved_{};
#endif
};

}  // namespace regkey::test
