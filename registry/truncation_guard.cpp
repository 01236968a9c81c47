#include "registry/truncation_guard.h"

#include <cstdint>
#include <mutex>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace regkey::registry {
namespace {

struct Range {
  std::atomic<bool> used{false};
  std::atomic<std::uintptr_t> begin{0};  // 0 while not (yet) guarded
  std::atomic<std::uintptr_t> end{0};
  std::atomic<std::atomic<bool>*> broken{nullptr};
};

constexpr int kRanges = 256;
Range gRanges[kRanges];
struct sigaction gPrevious {};
std::uintptr_t gPageSize = 4096;

// Async-signal-safe: atomics and raw system calls only (the raw mmap keeps
// sanitizer interceptors out of the handler).
void OnBusError(int signal, siginfo_t* info, void* context) {
  const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  if (info->si_code > 0) {  // raised by a fault, not sent
    for (Range& range : gRanges) {
      const std::uintptr_t begin = range.begin.load(std::memory_order_acquire);
      if (begin == 0 || address < begin || address >= range.end.load(std::memory_order_relaxed))
        continue;
      const std::uintptr_t page = address & ~(gPageSize - 1);
      const long mapped = ::syscall(SYS_mmap, page, gPageSize, PROT_READ | PROT_WRITE,
                                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
      if (mapped == static_cast<long>(page)) {
        range.broken.load(std::memory_order_relaxed)->store(true, std::memory_order_release);
        return;  // the access is retried on the zero page
      }
      break;
    }
  }
  if ((gPrevious.sa_flags & SA_SIGINFO) != 0 && gPrevious.sa_sigaction != nullptr) {
    gPrevious.sa_sigaction(signal, info, context);
  } else if (gPrevious.sa_handler != SIG_DFL && gPrevious.sa_handler != SIG_IGN) {
    gPrevious.sa_handler(signal);
  } else {
    // The default action: a fault repeats once this handler is gone; a
    // signal sent by someone is raised again.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    ::sigaction(SIGBUS, &fallback, nullptr);
    if (info->si_code <= 0) ::raise(SIGBUS);
  }
}

void Install() {
  const long pageSize = ::sysconf(_SC_PAGESIZE);
  if (pageSize > 0) gPageSize = static_cast<std::uintptr_t>(pageSize);
  ::sigaction(SIGBUS, nullptr, &gPrevious);
  struct sigaction action {};
  action.sa_sigaction = OnBusError;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGBUS, &action, nullptr);
}

}  // namespace

TruncationGuard::TruncationGuard(void* begin, std::size_t size, std::atomic<bool>& broken) {
  static std::once_flag installed;
  std::call_once(installed, Install);
  for (int i = 0; i < kRanges; ++i) {
    Range& range = gRanges[i];
    bool expected = false;
    if (!range.used.compare_exchange_strong(expected, true)) continue;
    const auto start = reinterpret_cast<std::uintptr_t>(begin);
    range.broken.store(&broken, std::memory_order_relaxed);
    range.end.store(start + size, std::memory_order_relaxed);
    range.begin.store(start, std::memory_order_release);
    slot_ = i;
    return;
  }
}

TruncationGuard::~TruncationGuard() {
  if (slot_ < 0) return;
  Range& range = gRanges[slot_];
  range.begin.store(0, std::memory_order_release);
  range.end.store(0, std::memory_order_relaxed);
  range.broken.store(nullptr, std::memory_order_relaxed);
  range.used.store(false, std::memory_order_release);
}

}  // namespace regkey::registry
