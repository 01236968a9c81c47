#include "registry/notifications.h"

#include <algorithm>
#include <chrono>

namespace regkey::registry {
namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(10);

bool Matches(const Watch& watch, const ChangeRow& change) {
  if (change.seq <= watch.armedAt) return false;
  if (change.kind == kChangeDeleted) return change.path == watch.path;
  if ((static_cast<std::uint32_t>(change.kind) & watch.filter) == 0) return false;
  if (change.path == watch.path) return true;
  return watch.subtree && change.path.size() > watch.path.size() &&
         change.path.compare(0, watch.path.size(), watch.path) == 0 &&
         change.path[watch.path.size()] == '\\';
}

}  // namespace

Notifications::~Notifications() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  stop_.notify_all();
  if (watcher_.joinable()) watcher_.join();
}

void Notifications::Raise(const std::vector<ChangeRow>& changes) {
  std::lock_guard<std::mutex> lock(mutex_);
  RaiseLocked(changes);
}

void Notifications::RaiseLocked(const std::vector<ChangeRow>& changes) {
  if (watches_.empty() || changes.empty()) return;
  std::erase_if(watches_, [&](const Watch& watch) {
    for (const ChangeRow& change : changes) {
      if (Matches(watch, change)) {
        watch.event->Set();
        return true;
      }
    }
    return false;
  });
}

void Notifications::Cancel(std::uintptr_t handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase_if(watches_, [handle](const Watch& watch) {
    if (watch.handle != handle) return false;
    watch.event->Set();
    return true;
  });
}

void Notifications::StartWatcherLocked() {
  if (storePath_.empty() || watching_) return;
  if (watcher_.joinable()) watcher_.join();  // a watcher that has just ended
  // Changes up to the oldest armed request are known already.
  seen_ = watches_.front().armedAt;
  for (const Watch& watch : watches_) seen_ = std::min(seen_, watch.armedAt);
  watching_ = true;
  try {
    watcher_ = std::thread([this] { WatchStore(); });
  } catch (...) {
    watching_ = false;
  }
}

void Notifications::WatchStore() {
  std::unique_ptr<Store> store;
  std::vector<ChangeRow> changes;
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_ && !watches_.empty()) {
    stop_.wait_for(lock, kPollInterval);
    if (stopping_) break;
    if (!store && Store::Open(storePath_, store) != 0) continue;
    if (store->ChangesSince(seen_, changes) != 0 || changes.empty()) continue;
    seen_ = changes.back().seq;
    RaiseLocked(changes);
  }
  watching_ = false;
}

}  // namespace regkey::registry
