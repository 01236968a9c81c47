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

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace regkey::registry {

// Change kinds, as notify filters; a deleted key is its own kind.
inline constexpr int kChangeName = 0x1;
inline constexpr int kChangeLastSet = 0x4;
inline constexpr int kChangeDeleted = 0x10000;

struct ChangeRow {
  std::int64_t seq = 0;
  std::string path;  // folded path of the changed key
  int kind = 0;
  bool truncated = false;  // `path` is only the start of a longer path
};

class ChangeLog {
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
  // The last committed change.
  std::int64_t Committed() const;
  // Reads the committed changes after `seen` into `changes`, advancing
  // `seen`. False when some were overwritten before they could be read.
  bool ReadSince(std::int64_t& seen, std::vector<ChangeRow>& changes) const;

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
