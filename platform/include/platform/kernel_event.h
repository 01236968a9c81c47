// Kernel events behind the HANDLE values of CreateEventA, for systems without
// Windows. An event is reference-counted: whoever signals it later (the
// embedded registry, for an armed notification) holds a reference of its own,
// so closing the handle never frees an event that is still referenced.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <windows.h>

namespace regkey::platform {

class KernelEvent {
 public:
  KernelEvent(bool manualReset, bool initiallySignalled);

  void Set();
  void Reset();
  void Pulse();
  // WAIT_OBJECT_0 when signalled within the time-out, else WAIT_TIMEOUT.
  DWORD Wait(DWORD milliseconds);
  bool IsSignalled() const;

 private:
  const bool manualReset_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool signalled_;
  std::uint64_t pulses_ = 0;  // counts pulses, so that a pulse releases current waiters
};

// The event behind a handle, or null when the handle is not an open event.
std::shared_ptr<KernelEvent> ReferenceEvent(HANDLE handle);

}  // namespace regkey::platform
