#include "platform/handle_table.h"

namespace regkey::platform {

std::uintptr_t TakeHandleValue(std::atomic<std::uintptr_t>& next) {
  std::uintptr_t value = next.load(std::memory_order_relaxed);
  do {
    if (value >= kPredefinedHandles - kHandleStep) return 0;
  } while (!next.compare_exchange_weak(value, value + kHandleStep, std::memory_order_relaxed));
  return value;
}

std::uintptr_t NextHandleValue() {
  static std::atomic<std::uintptr_t> next{kFirstHandle};
  return TakeHandleValue(next);
}

}  // namespace regkey::platform
