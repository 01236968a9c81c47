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
//
// The shared memory belongs to every process of the user, so nothing read
// from it is trusted: numbers out of range, numbers that went back, and an
// area that is not (or no longer) a log tell a reader that changes may have
// been missed, and a writer renumbers impossible numbers from 0.
// registry/DESIGN.md states the log's invariants and its steps in a write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "registry/store/change_feed.h"

namespace regkey::registry {

class ChangeLog final : public ChangeFeed {
 public:
  static constexpr std::size_t kSlots = 2048;
  static constexpr std::size_t kPathBytes = 496;
  // No real log comes near this; larger numbers are damage.
  static constexpr std::int64_t kMaxSeq = std::int64_t{1} << 62;
  // Bytes of shared memory the log occupies.
  static std::size_t AreaSize();
  // Makes `area` an empty log.
  static void Initialise(void* area);
  // Whether `area` is a log with numbers a log can have.
  static bool Plausible(const void* area);
  // Moves the numbers of the log in `area` on by more than a ring, so that
  // every reader learns that it may have missed changes.
  static void Skip(void* area);

  // A log in `area` (AreaSize() bytes of shared memory, initialised), or,
  // when `area` is null, in memory of its own. `beforeRead` runs at the
  // start of each ReadSince (a check of the memory the log is in).
  explicit ChangeLog(void* area, std::function<void()> beforeRead = {});
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
  // The last committed change (0 when the area is no log).
  std::int64_t Committed() const override;
  // Reads the committed changes after `seen` into `changes`, advancing
  // `seen`. False when some may have been missed: overwritten before they
  // could be read, numbers that went back or are out of range, or no log.
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
  std::function<void()> beforeRead_;
};

}  // namespace regkey::registry
