// A counter in shared memory (`<store>-counter`, which also holds the
// change log) that every commit to a store moves, so that a
// process can tell with one load whether its cache is still current. A
// writer makes it odd before committing and even again afterwards; an odd
// value (a writer in progress, or one that died mid-commit) means "do not
// cache".
#pragma once

#include <cstdint>
#include <string>

namespace regkey::registry {

class ChangeCounter {
 public:
  // A counter shared by every process that opens the store at `storePath`;
  // an empty path gives a counter private to this object. A new side file
  // gets `mode`; `readOnly` maps it for reading only (a reader of a store
  // it may not write, which never calls BeginWrite).
  explicit ChangeCounter(const std::string& storePath, unsigned mode = 0600, bool readOnly = false);
  ~ChangeCounter();
  ChangeCounter(const ChangeCounter&) = delete;
  ChangeCounter& operator=(const ChangeCounter&) = delete;

  std::uint64_t Load() const;
  // Call while holding the store's write lock: returns the odd value stored.
  std::uint64_t BeginWrite();
  // False when another writer moved the counter meanwhile.
  bool EndWrite(std::uint64_t begun);
  // The shared memory after the counter that holds the change log; null
  // when the counter is not shared.
  void* LogArea() const;

 private:
  std::uint64_t* word_;
  bool uncached_ = false;  // no shared counter could be made
  void* mapped_ = nullptr;
  std::uint64_t local_ = 0;
};

}  // namespace regkey::registry
