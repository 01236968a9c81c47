#include "platform/kernel_event.h"

#include <chrono>
#include <unordered_map>

#include "platform/handle_table.h"

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

using EventTable = HandleTable<std::shared_ptr<KernelEvent>>;

EventTable& Handles() {
  static EventTable* table = new EventTable;  // outlives static destructors
  return *table;
}

thread_local DWORD lastError = 0;

}  // namespace

std::shared_ptr<KernelEvent> ReferenceEvent(HANDLE handle) {
  std::shared_ptr<KernelEvent> event;
  Handles().Find(reinterpret_cast<std::uintptr_t>(handle), event);
  return event;
}

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
    const std::uintptr_t value =
        Handles().Add(std::make_shared<KernelEvent>(bManualReset != FALSE, bInitialState != FALSE));
    if (value == 0) SetLastError(ERROR_NOT_ENOUGH_MEMORY);  // out of handle values
    return reinterpret_cast<HANDLE>(value);
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
  if (!Handles().Remove(reinterpret_cast<std::uintptr_t>(hObject))) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

DWORD WINAPI GetLastError(void) { return regkey::platform::lastError; }

void WINAPI SetLastError(DWORD dwErrCode) { regkey::platform::lastError = dwErrCode; }

}  // extern "C"
