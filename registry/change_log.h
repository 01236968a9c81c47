// The log of recent changes to a store, in memory shared by every process
// that uses the store (or private to one hive), read by notification
// watchers. A ring of fixed slots, each numbered by its change's sequence
// number (1, 2, ...).
//
// Writers append while holding the store's write lock, so appends never
// interleave; `Publish` after the commit marks everything up to a number as
// committed (writers commit in the order they appended). A reader reads
// only published slots and checks each slot's number before and after
// copying it, so a slot overwritten meanwhile is seen as an overflow.
#pragma once

#include "registry/store/change_feed.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace regkey::registry {

class ChangeLog final : public ChangeFeed {
 public:
  static constexpr std::size_t kSlots = 2048;
  static constexpr std::size_t kPathBytes = 496;
  // Bytes of shared memory the log occupies.
  static std::size_t AreaSize();

  // A log in `area` (AreaSize() bytes of shared memory, zero-filled when new),
  // or, when `area` is null, in memory of its own.
  explicit ChangeLog(void* area);
  ChangeLog(const ChangeLog&) = delete;
  ChangeLog& operator=(const ChangeLog&) = delete;

  // Appends the changes, numbering them; returns the number before the first.
  std::int64_t Append(std::vector<ChangeRow>& changes);
  // Takes back what was appended since `start` (the write was rolled back).
  void Abandon(std::int64_t start);
  // Marks every change up to `last` as committed.
  void Publish(std::int64_t last);
  // Shared: the log lives in memory other processes map.
  bool Shared() const override { return own_ == nullptr; }
  // The last committed change.
  std::int64_t Committed() const override;
  // Reads the committed changes after `seen` into `changes`, advancing
  // `seen`. False when some were overwritten before they could be read.
  bool ReadSince(std::int64_t& seen, std::vector<ChangeRow>& changes) const override;

 private:
  struct Header;
  struct Slot;

  Header* header_;
  Slot* slots_;
  struct Free {
    void operator()(unsigned char* area) const noexcept { std::free(area); }
  };
  std::unique_ptr<unsigned char, Free> own_;
};

}  // namespace regkey::registry
