#include "registry/notifications.h"

#include <algorithm>
#include <chrono>
#include <windows.h>

namespace regkey::registry {
namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(10);

// A change's kind is matched against the caller's notify filter bit for bit.
static_assert(kChangeName == REG_NOTIFY_CHANGE_NAME);
static_assert(kChangeLastSet == REG_NOTIFY_CHANGE_LAST_SET);
static_assert((kChangeDeleted & REG_LEGAL_CHANGE_FILTER) == 0);
static_assert((kChangeTreeDeleted & REG_LEGAL_CHANGE_FILTER) == 0);

bool StartsWith(const std::string& text, const std::string& start) {
  return text.size() >= start.size() && text.compare(0, start.size(), start) == 0;
}

bool Below(const std::string& path, const std::string& key) {
  return path.size() > key.size() && StartsWith(path, key) && path[key.size()] == '\\';
}

// A truncated path matches whenever the whole path might.
bool Matches(const Watch& watch, const ChangeRow& change) {
  if (change.seq <= watch.armedAt) return false;
  const bool mayBeKey =
      change.truncated ? StartsWith(watch.path, change.path) : change.path == watch.path;
  if (change.kind == kChangeDeleted) return mayBeKey;
  // The watched key went with a subtree above it (a truncated path: may have).
  if (change.kind == kChangeTreeDeleted)
    return change.truncated ? StartsWith(watch.path, change.path)
                            : mayBeKey || Below(watch.path, change.path);
  if ((static_cast<std::uint32_t>(change.kind) & watch.filter) == 0) return false;
  return mayBeKey || (watch.subtree && Below(change.path, watch.path));
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

long Notifications::Arm(Watch watch) {
  std::lock_guard<std::mutex> lock(mutex_);
  // A request that read a number beyond what the feed holds now armed while
  // the numbers went back (a shared log rebuilt or put back in place): later
  // changes may carry smaller numbers than it read, so it counts from here.
  if (shared_ != nullptr) watch.armedAt = std::min(watch.armedAt, shared_->Committed());
  try {
    watches_.push_back(std::move(watch));
  } catch (const std::bad_alloc&) {
    return ERROR_OUTOFMEMORY;
  }
  StartWatcherLocked();
  return 0;
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

// Changes were lost to the watcher: every request may have matched one.
void Notifications::RaiseAllLocked() {
  for (const Watch& watch : watches_) watch.event->Set();
  watches_.clear();
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
  if (shared_ == nullptr || watching_) return;
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
  std::vector<ChangeRow> changes;
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_ && !watches_.empty()) {
    stop_.wait_for(lock, kPollInterval);
    if (stopping_) break;
    if (shared_->ReadSince(seen_, changes)) {
      RaiseLocked(changes);
    } else {
      RaiseAllLocked();
    }
  }
  watching_ = false;
}

}  // namespace regkey::registry
