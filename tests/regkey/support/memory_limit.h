// Makes a large allocation fail for the scope of a test, so that the paths
// that raise CMemoryException can be reached on every leg: a 32-bit process
// can't get 2 GiB at once anyway; under AddressSanitizer the allocator's own
// limit refuses it; elsewhere the address space is capped for the scope.
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

namespace regkey::test {

class LargeAllocationsFail {
 public:
  LargeAllocationsFail() {
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
