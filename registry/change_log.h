// The log of recent changes to a store, in memory shared by every process
// that uses the store (or private to one hive), read by notification
// watchers. A ring of fixed slots, each numbered by its change's sequence
// number (1, 2, ...) within the log's generation: a random number that
// changes whenever the log is rebuilt or may have missed changes, so that a
// reader that sees it change wakes every request it holds.
//
// Writers append while holding the store's write lock, so appends never
// interleave; `Publish` after the commit marks everything up to a number as
// committed (writers commit in the order they appended). A reader reads
// only published slots and checks each slot's number before and after
// copying it, so a slot overwritten meanwhile is seen as an overflow.
//
// The shared memory belongs to every process of the user, so nothing read
// from it is trusted: numbers out of range mean "changes may have been
// missed" to a reader and a log to renumber to a writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace regkey::registry {

// Change kinds, as notify filters; a deleted key is its own kind.
inline constexpr int kChangeName = 0x1;
inline constexpr int kChangeLastSet = 0x4;
inline constexpr int kChangeDeleted = 0x10000;

// A point in the log; generation 0 means "no usable log".
struct LogPosition {
  std::uint64_t generation = 0;
  std::int64_t seq = 0;
};

struct ChangeRow {
  std::uint64_t generation = 0;
  std::int64_t seq = 0;
  std::string path;  // folded path of the changed key
  int kind = 0;
  bool truncated = false;  // `path` is only the start of a longer path
};

class ChangeLog {
 public:
  static constexpr std::size_t kSlots = 2048;
  static constexpr std::size_t kPathBytes = 496;
  // No real log comes near these; larger numbers are damage.
  static constexpr std::int64_t kMaxSeq = std::int64_t{1} << 62;
  static constexpr std::int64_t kMaxPending = std::int64_t{1} << 20;
  // Bytes of shared memory the log occupies.
  static std::size_t AreaSize();
  // Makes `area` an empty log of a new generation.
  static void Initialise(void* area);
  // Whether `area` holds numbers a log can have.
  static bool Plausible(const void* area);
  // Gives the log in `area` a new generation (readers then wake every
  // request), keeping its numbers.
  static void Renew(void* area);

  // A log in `area` (AreaSize() bytes of shared memory, initialised), or,
  // when `area` is null, in memory of its own.
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
  LogPosition Committed() const;
  // Reads the committed changes after `seen` into `changes`, advancing
  // `seen`. False when some may have been missed: overwritten before they
  // could be read, a new generation, or numbers out of range.
  bool ReadSince(LogPosition& seen, std::vector<ChangeRow>& changes) const;

 private:
  struct Header;
  struct Slot;

  Header* header_;
  Slot* slots_;
  std::unique_ptr<unsigned char[]> own_;
};

}  // namespace regkey::registry
