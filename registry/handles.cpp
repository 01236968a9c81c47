#include "registry/handles.h"

#include <mutex>
#include <unordered_map>

namespace regkey::registry {
namespace {

class HandleTable {
 public:
  HKEY Add(OpenKey key) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::uintptr_t value = next_;
    keys_.emplace(value, std::move(key));
    next_ += 4;
    return reinterpret_cast<HKEY>(value);
  }
  bool Find(HKEY handle, OpenKey& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = keys_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == keys_.end()) return false;
    key = it->second;
    return true;
  }
  bool Remove(HKEY handle) {
    OpenKey last;  // released outside the lock
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = keys_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == keys_.end()) return false;
    last = std::move(it->second);
    keys_.erase(it);
    return true;
  }

 private:
  std::mutex mutex_;
  // Apart from the event handles' range and below the predefined roots.
  std::uintptr_t next_ = 0x40000000;
  std::unordered_map<std::uintptr_t, OpenKey> keys_;
};

HandleTable& Table() {
  static HandleTable* table = new HandleTable;  // outlives static destructors
  return *table;
}

}  // namespace

HKEY AddHandle(OpenKey key) {
  try {
    return Table().Add(std::move(key));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

bool FindHandle(HKEY handle, OpenKey& key) { return Table().Find(handle, key); }

bool RemoveHandle(HKEY handle) { return Table().Remove(handle); }

REGSAM MapAccess(REGSAM access) {
  REGSAM mapped =
      access & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | MAXIMUM_ALLOWED);
  if (access & GENERIC_READ) mapped |= KEY_READ;
  if (access & GENERIC_WRITE) mapped |= KEY_WRITE;
  if (access & GENERIC_EXECUTE) mapped |= KEY_EXECUTE;
  if (access & (GENERIC_ALL | MAXIMUM_ALLOWED)) mapped |= KEY_ALL_ACCESS;
  return mapped;
}

}  // namespace regkey::registry
