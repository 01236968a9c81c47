#include "registry/change_counter.h"

#include <chrono>
#include <thread>
#include <time.h>
#include <windows.h>

#include "registry/change_log.h"

namespace regkey::registry {
namespace {

constexpr std::int64_t kCheckEveryNs = 10'000'000;
// Longer than the check interval plus the coarse clock's tick.
constexpr std::int64_t kSettleNs = 25'000'000;

// A few nanoseconds: read at every call.
std::int64_t CoarseNow() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

std::int64_t SteadyNow() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

ChangeCounter::ChangeCounter(const std::string& storePath, unsigned mode, bool readOnly)
    : word_(&local_), store_(storePath), mode_(mode), readOnly_(readOnly) {
  if (storePath.empty()) return;
  file_ = std::make_unique<SideFile>();
  std::lock_guard<std::mutex> lock(mutex_);
  const long error = AttachLocked();
  if (error == ERROR_CANTWRITE) {
    // A read-only file system: no side file can be made or written, and
    // no one can commit here; reads go to the store.
    file_.reset();
    uncached_ = true;
    return;
  }
  // A reader keeps looking for a sound side file (uncached meanwhile).
  error_ = readOnly ? ERROR_SUCCESS : error;
  if (!error_) word_ = file_->CounterWord();
}

long ChangeCounter::AttachLocked() {
  const std::uint64_t device = file_->Device();
  const std::uint64_t inode = file_->Inode();
  const long error = file_->Attach(store_, mode_, readOnly_);
  checkedAt_.store(CoarseNow(), std::memory_order_relaxed);
  if (error) return error;
  if (!readOnly_ && inode != 0 && (device != file_->Device() || inode != file_->Inode())) {
    // Commits this process made may have gone to the file it held before:
    // everyone on this one drops their cache and wakes their requests.
    std::atomic_ref<std::uint64_t>(*file_->CounterWord()).fetch_add(2, std::memory_order_seq_cst);
    ChangeLog::Skip(file_->LogArea());
  }
  // The file says when it was made: believed only when that was within
  // the last settling time (any other value, however large, means none).
  const std::int64_t created = file_->CreatedAt();
  const std::int64_t now = SteadyNow();
  settleAt_ = created <= now && created > now - kSettleNs ? created + kSettleNs : 0;
  return ERROR_SUCCESS;
}

bool ChangeCounter::Due() const {
  return CoarseNow() - checkedAt_.load(std::memory_order_relaxed) >= kCheckEveryNs;
}

void ChangeCounter::Refresh() {
  if (!file_ || !Due()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (Due()) CheckLocked();
}

void ChangeCounter::CheckLocked() {
  checkedAt_.store(CoarseNow(), std::memory_order_relaxed);
  if (!file_->Current()) AttachLocked();
}

void* ChangeCounter::LogArea() const { return file_ ? file_->LogArea() : nullptr; }

std::uint64_t ChangeCounter::Load() {
  if (uncached_) return 1;
  if (!file_) return std::atomic_ref<std::uint64_t>(*word_).load(std::memory_order_acquire);
  Refresh();
  const std::uint64_t now = std::atomic_ref<std::uint64_t>(*word_).load(std::memory_order_acquire);
  // A page lost to truncation reads as zeros: nothing to trust.
  return file_->broken() ? 1 : now;
}

long ChangeCounter::BeginWrite(std::uint64_t& begun) {
  if (uncached_) return ERROR_CANTWRITE;
  if (readOnly_) return ERROR_ACCESS_DENIED;
  if (file_) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_->broken()) {
      if (const long error = AttachLocked()) return error;
    }
    if (settleAt_ != 0) {
      const std::int64_t now = SteadyNow();
      if (now < settleAt_) std::this_thread::sleep_for(std::chrono::nanoseconds(settleAt_ - now));
      settleAt_ = 0;
    }
  }
  std::atomic_ref<std::uint64_t> word(*word_);
  const std::uint64_t now = word.load(std::memory_order_acquire);
  begun = (now % 2 == 0) ? now + 1 : now + 2;
  word.store(begun, std::memory_order_seq_cst);
  return ERROR_SUCCESS;
}

bool ChangeCounter::EndWrite(std::uint64_t begun) {
  // A later writer may have moved the counter since this one committed; its
  // value is newer and stays.
  const bool ended = std::atomic_ref<std::uint64_t>(*word_).compare_exchange_strong(
      begun, begun + 1, std::memory_order_release, std::memory_order_relaxed);
  if (!file_) return ended;
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_->Whole()) return ended;
  // The commit may have gone to a file no one else reads any more.
  AttachLocked();
  return false;
}

}  // namespace regkey::registry
