// A counter in shared memory (in the side file `<store>-counter`, which also
// holds the change log) that every commit to a store moves, so that a
// process can tell with one load whether its cache is still current. A
// writer makes it odd before committing and even again afterwards; an odd
// value (a writer in progress, or one that died mid-commit) means "do not
// cache". registry/DESIGN.md states its invariants and its steps in a write.
//
// The side file is checked again at most every 10 ms by the calls that read
// the counter and by notification watchers, and after every commit by the
// writer: when it was deleted, replaced, cut short or damaged, the process
// maps the store's side file afresh (rebuilding it if need be) and, if that
// is another file than before, moves its counter and renews its log's
// generation, so that no process keeps a cache or a request that a change
// made meanwhile should have ended. A side file made anew takes no commit
// for its first 25 ms, so that every process still holding the old one has
// checked before any change it could miss is made.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "registry/side_file.h"

namespace regkey::registry {

class ChangeCounter {
 public:
  // The counter of the store file at `storePath` (a resolved path), shared
  // with every process that opens it; an empty path gives a counter private
  // to this object. A new side file gets `mode`; `readOnly` maps it for
  // reading only (a reader of a store it may not write, which never calls
  // BeginWrite); such a reader goes uncached while the side file is missing
  // or unsound, since it may not make it right.
  explicit ChangeCounter(const std::string& storePath, unsigned mode = 0600, bool readOnly = false);
  ChangeCounter(const ChangeCounter&) = delete;
  ChangeCounter& operator=(const ChangeCounter&) = delete;

  // Why the store's side file cannot be used (0 when it can).
  long error() const { return error_; }

  std::uint64_t Load();
  // Call while holding the store's write lock: stores an odd value in
  // `begun`. Fails (ERROR_DISK_FULL, ERROR_ACCESS_DENIED, ...) when the side
  // file is lost and cannot be made again: the commit could not be told.
  long BeginWrite(std::uint64_t& begun);
  // Call after the commit. False when another writer moved the counter
  // meanwhile, or the side file had to be mapped again.
  bool EndWrite(std::uint64_t begun);
  // The shared memory after the counter that holds the change log; null
  // when the counter is not shared.
  void* LogArea() const;
  // Checks the side file when it was not checked for 10 ms. Thread-safe.
  void Refresh();

 private:
  bool Due() const;
  void CheckLocked();
  long AttachLocked();

  std::uint64_t* word_;
  std::uint64_t local_ = 0;
  std::unique_ptr<SideFile> file_;  // null: private, or no side file (read-only)
  bool uncached_ = false;           // no shared counter: nothing may be cached
  long error_ = 0;
  std::string store_;
  unsigned mode_ = 0600;
  bool readOnly_ = false;
  std::mutex mutex_;  // checking and attaching
  std::atomic<std::int64_t> checkedAt_{0};
  std::int64_t settleAt_ = 0;  // no commit before (steady clock, ns)
};

}  // namespace regkey::registry
