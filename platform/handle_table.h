// Handle values for the objects this layer serves itself (kernel events, and
// the embedded registry's keys). Every table draws its values from one
// process-wide counter, so a value names one object of one kind for the life
// of the process: a closed, forged or other-kind handle is recognised.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace regkey::platform {

// The value range of served handles: multiples of four, as Windows' handles
// are, from kFirstHandle up to but excluding the predefined registry roots
// (HKEY_CLASSES_ROOT and above, sign-extended as <windows.h> defines them).
inline constexpr std::uintptr_t kFirstHandle = 0x10000;
inline constexpr std::uintptr_t kHandleStep = 4;
inline constexpr std::uintptr_t kPredefinedHandles =
    static_cast<std::uintptr_t>(static_cast<std::intptr_t>(static_cast<std::int32_t>(0x80000000u)));
static_assert(kFirstHandle < kPredefinedHandles && kFirstHandle % kHandleStep == 0);

// The next unused handle value; 0 once the range is used up.
std::uintptr_t NextHandleValue();
// The same, drawn from `next` rather than the process-wide counter.
std::uintptr_t TakeHandleValue(std::atomic<std::uintptr_t>& next);

// Objects by handle value. Thread-safe.
template <typename T>
class HandleTable {
 public:
  // A new handle value for `object`; 0 when the range is used up. Throws
  // std::bad_alloc.
  std::uintptr_t Add(T object) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::uintptr_t value = NextHandleValue();
    if (value != 0) objects_.emplace(value, std::move(object));
    return value;
  }
  // A copy of the object behind `value`; false when it is not open here.
  bool Find(std::uintptr_t value, T& object) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = objects_.find(value);
    if (it == objects_.end()) return false;
    object = it->second;
    return true;
  }
  // Closes `value`; false when it was not open here. The object is released
  // after the table's lock.
  bool Remove(std::uintptr_t value) {
    T last;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = objects_.find(value);
    if (it == objects_.end()) return false;
    last = std::move(it->second);
    objects_.erase(it);
    return true;
  }

 private:
  mutable std::mutex mutex_;
  std::unordered_map<std::uintptr_t, T> objects_;
};

}  // namespace regkey::platform
