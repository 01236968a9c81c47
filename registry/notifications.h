// Armed change notifications of one store, and the watcher that raises them
// for changes others commit (read from the store's change feed). Each request signals its
// event once, at the first logged change after it was armed that it matches.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel_event.h"
#include "registry/store/change_feed.h"

namespace regkey::registry {

struct Watch {
  std::uintptr_t handle = 0;  // the key handle it was armed on
  std::string path;           // folded path of the watched key
  bool subtree = false;
  std::uint32_t filter = 0;
  std::int64_t armedAt = 0;  // last change committed when it was armed
  std::shared_ptr<platform::KernelEvent> event;
};

class Notifications {
 public:
  // `shared` null: changes come from this process alone.
  explicit Notifications(const ChangeFeed* shared) : shared_(shared) {}
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

  const ChangeFeed* const shared_;
  std::mutex mutex_;
  std::condition_variable stop_;
  bool stopping_ = false;
  std::vector<Watch> watches_;
  bool watching_ = false;
  std::thread watcher_;
  std::int64_t seen_ = 0;  // last change the watcher read
};

}  // namespace regkey::registry
