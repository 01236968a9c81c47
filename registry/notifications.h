// Armed change notifications of one store, and the watcher that raises them
// for changes other processes commit (read from the shared change log). Each request signals its
// event once, at the first logged change after it was armed that it matches.
#pragma once

#include "platform/kernel_event.h"
#include "registry/change_log.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace regkey::registry {

struct Watch {
  std::uintptr_t handle = 0;  // the key handle it was armed on
  std::string path;           // folded path of the watched key
  bool subtree = false;
  std::uint32_t filter = 0;
  LogPosition armedAt;  // last change committed when it was armed
  std::shared_ptr<platform::KernelEvent> event;
};

class Notifications {
 public:
  // `shared` null: changes come from this process alone. `beforeRead` runs
  // before each read of the shared log (a check of the memory it is in).
  explicit Notifications(const ChangeLog* shared, std::function<void()> beforeRead = {})
      : shared_(shared), beforeRead_(std::move(beforeRead)) {}
  ~Notifications();
  Notifications(const Notifications&) = delete;
  Notifications& operator=(const Notifications&) = delete;

  long Arm(Watch watch);
  // Signals the requests that the changes match (changes made here).
  void Raise(const std::vector<ChangeRow>& changes);
  // Ends the requests armed on a handle, signalling their events.
  void Cancel(std::uintptr_t handle);

 private:
  void RaiseLocked(const std::vector<ChangeRow>& changes);
  void StartWatcherLocked();
  void WatchStore();

  void RaiseAllLocked();

  const ChangeLog* const shared_;
  const std::function<void()> beforeRead_;
  std::mutex mutex_;
  std::condition_variable stop_;
  bool stopping_ = false;
  std::vector<Watch> watches_;
  bool watching_ = false;
  std::thread watcher_;
  LogPosition seen_;  // last change the watcher read
};

}  // namespace regkey::registry
