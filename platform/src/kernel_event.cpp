#include "platform/kernel_event.h"

#include <chrono>
#include <unordered_map>

namespace regkey::platform {

KernelEvent::KernelEvent(bool manualReset, bool initiallySignalled)
    : manualReset_(manualReset), signalled_(initiallySignalled) {}

void KernelEvent::Set() {
  std::lock_guard<std::mutex> lock(mutex_);
  signalled_ = true;
  if (manualReset_) {
    changed_.notify_all();
  } else {
    changed_.notify_one();
  }
}

void KernelEvent::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  signalled_ = false;
}

void KernelEvent::Pulse() {
  // Releases the threads waiting now (one for an auto-reset event) and leaves
  // the event not signalled.
  std::lock_guard<std::mutex> lock(mutex_);
  signalled_ = false;
  ++pulses_;
  if (manualReset_) {
    changed_.notify_all();
  } else {
    changed_.notify_one();
  }
}

DWORD KernelEvent::Wait(DWORD milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  const std::uint64_t pulsesBefore = pulses_;
  auto ready = [this, pulsesBefore] { return signalled_ || pulses_ != pulsesBefore; };
  if (milliseconds == 0) {
    // A poll: no timed wait, which would give up the processor.
    if (!ready()) return WAIT_TIMEOUT;
  } else if (milliseconds == INFINITE) {
    changed_.wait(lock, ready);
  } else if (!changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), ready)) {
    return WAIT_TIMEOUT;
  }
  if (signalled_ && !manualReset_) signalled_ = false;
  return WAIT_OBJECT_0;
}

bool KernelEvent::IsSignalled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return signalled_;
}

namespace {

// Handle values are never reused, so a closed or forged handle is recognised.
class HandleTable {
 public:
  HANDLE Add(std::shared_ptr<KernelEvent> event) {
    std::lock_guard<std::mutex> lock(mutex_);
    next_ += 4;
    events_.emplace(next_, std::move(event));
    return reinterpret_cast<HANDLE>(next_);
  }
  std::shared_ptr<KernelEvent> Find(HANDLE handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = events_.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == events_.end() ? nullptr : it->second;
  }
  bool Remove(HANDLE handle) {
    std::shared_ptr<KernelEvent> last;  // freed outside the lock
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = events_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == events_.end()) return false;
    last = std::move(it->second);
    events_.erase(it);
    return true;
  }

 private:
  std::mutex mutex_;
  std::uintptr_t next_ = 0x10000;
  std::unordered_map<std::uintptr_t, std::shared_ptr<KernelEvent>> events_;
};

HandleTable& Handles() {
  static HandleTable* table = new HandleTable;  // outlives static destructors
  return *table;
}

thread_local DWORD lastError = 0;

}  // namespace

std::shared_ptr<KernelEvent> ReferenceEvent(HANDLE handle) { return Handles().Find(handle); }

}  // namespace regkey::platform

using regkey::platform::Handles;
using regkey::platform::KernelEvent;

extern "C" {

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState,
                           LPCSTR lpName) {
  if (lpName != nullptr && lpName[0] != '\0') {
    // Named events would need a name space shared between processes.
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  try {
    return Handles().Add(
        std::make_shared<KernelEvent>(bManualReset != FALSE, bInitialState != FALSE));
  } catch (...) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

BOOL WINAPI SetEvent(HANDLE hEvent) {
  auto event = regkey::platform::ReferenceEvent(hEvent);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  event->Set();
  return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE hEvent) {
  auto event = regkey::platform::ReferenceEvent(hEvent);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  event->Reset();
  return TRUE;
}

BOOL WINAPI PulseEvent(HANDLE hEvent) {
  auto event = regkey::platform::ReferenceEvent(hEvent);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  event->Pulse();
  return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  auto event = regkey::platform::ReferenceEvent(hHandle);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  return event->Wait(dwMilliseconds);
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
  if (!Handles().Remove(hObject)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

DWORD WINAPI GetLastError(void) { return regkey::platform::lastError; }

void WINAPI SetLastError(DWORD dwErrCode) { regkey::platform::lastError = dwErrCode; }

}  // extern "C"
