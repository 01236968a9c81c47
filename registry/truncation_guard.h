// Keeps the process alive when a file it maps shared is cut short under it.
//
// Touching a page of a shared file mapping that lies past the file's end
// raises SIGBUS, and any process of the same user can truncate the file. A
// guarded range is protected by a SIGBUS handler: a fault inside it gets a
// private zero-filled page in place of the missing one (the access then
// completes on that page) and raises the range's `broken` flag, so that its
// owner maps the file again. Faults elsewhere go to the handler that was
// installed before (or end the process, as they would have without this one).
//
// A program that installs its own SIGBUS handler after the first guarded
// range replaces this one; a truncated side file then ends it as before.
#pragma once

#include <atomic>
#include <cstddef>

namespace regkey::registry {

class TruncationGuard {
 public:
  // Guards [begin, begin + size); `broken` is set at a fault there and must
  // outlive the guard. Unguarded when the table of ranges is full.
  TruncationGuard(void* begin, std::size_t size, std::atomic<bool>& broken);
  ~TruncationGuard();
  TruncationGuard(const TruncationGuard&) = delete;
  TruncationGuard& operator=(const TruncationGuard&) = delete;

  bool guarded() const { return slot_ >= 0; }

 private:
  int slot_ = -1;
};

}  // namespace regkey::registry
