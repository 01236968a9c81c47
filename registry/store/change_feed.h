// Committed changes as watchers see them: each change names the key it
// touched and what happened to it, numbered in the order changes were
// committed (1, 2, ...).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace regkey::registry {

// Change kinds, as notify filters; a deleted key is its own kind.
inline constexpr int kChangeName = 0x1;
inline constexpr int kChangeLastSet = 0x4;
inline constexpr int kChangeDeleted = 0x10000;
// The key and every key below it were deleted.
inline constexpr int kChangeTreeDeleted = 0x20000;

struct ChangeRow {
  std::int64_t seq = 0;
  std::string path;  // folded path of the changed key
  int kind = 0;
  bool truncated = false;  // `path` is only the start of a longer path
};

// A change of `kind` to the key at `path`, not yet numbered.
inline ChangeRow MakeChange(const std::string& path, int kind) {
  ChangeRow change;
  change.path = path;
  change.kind = kind;
  return change;
}

// Where a store's watchers read the changes committed by others (other
// processes, other hosts). Committed() and ReadSince() may be called from a
// watcher thread while the store serves other calls.
class ChangeFeed {
 public:
  virtual ~ChangeFeed() = default;

  // False when nobody but this process writes the store: there is nothing
  // to watch for.
  virtual bool Shared() const = 0;
  // Makes sure that every change committed once this returns will be read
  // (a remote store subscribes here). 0 or a Win32 code.
  virtual long Subscribe() { return 0; }
  // The number of the last change known to be committed.
  virtual std::int64_t Committed() const = 0;
  // Reads the changes after `seen` into `changes`, advancing `seen`. False
  // when some were lost (overwritten, or a connection dropped): every
  // request may have matched one of them.
  virtual bool ReadSince(std::int64_t& seen, std::vector<ChangeRow>& changes) const = 0;
};

}  // namespace regkey::registry
