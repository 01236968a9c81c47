// One machine's registry as stored: the key tree and the values. The hive
// above (handles, names, access checks, its cache, notification requests)
// is one code path whatever store holds the data; a store only reads rows
// and performs whole changes.
//
// Contract of every store:
// - Calls return 0 or a Win32 code. The hive makes them one at a time
//   (under its lock); only the change feed is read from another thread
//   meanwhile.
// - A read sees every change committed, by anyone, before it began.
// - A write is one transaction: when it returns 0 it is committed and its
//   changes are published to every watcher of the store; otherwise nothing
//   of it is (or, when the outcome cannot be known, it returns a failure
//   code, never 0).
// - Paths are folded full paths ("HKCU\SOFTWARE\X", see names.h); ids are
//   never reused, so a key's id, parent, name and path never change.
// - Version() lets the hive keep a cache: a value read at version V may
//   serve a later call while Version() still gives V. An odd value means
//   the store cannot tell (a commit in progress, no shared counter, or a
//   store that learns of others' commits only by asking): nothing read may
//   serve a later call.
// - A store whose Version() costs a request (VersionIsRemote()) also tells,
//   after each read, the version that read saw (Seen(), of the same
//   snapshot as its rows), and sets a value to the type and data it already
//   has without a change (0, nothing in `written.changes`): its hive checks
//   its cache through these instead of asking Version() at every call.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/root_keys.h"
#include "registry/store/change_feed.h"

namespace regkey::registry {

using KeyId = std::int64_t;

// Ids, names and folded paths of the roots that hold trees, taken from the
// root-key table in the order of their ids.
struct RootKey {
  KeyId id;
  const char* name;
  const char* path;
};
inline constexpr std::size_t kRootCount = [] {
  std::size_t count = 0;
  for (const platform::RootKey& root : platform::kRootKeys) count += root.tree != 0;
  return count;
}();
inline constexpr std::array<RootKey, kRootCount> kRoots = [] {
  std::array<RootKey, kRootCount> roots{};
  for (const platform::RootKey& root : platform::kRootKeys)
    if (root.tree != 0) roots[root.tree - 1] = {root.tree, root.name, root.shortName};
  return roots;
}();
static_assert(
    [] {
      for (std::size_t i = 0; i < kRootCount; ++i)
        if (kRoots[i].id != static_cast<KeyId>(i + 1)) return false;
      return true;
    }(),
    "tree ids run from 1 without gaps");

struct KeyRow {
  KeyId id = 0;
  KeyId parent = 0;  // 0 for a root
  std::string name;
  std::string path;
  std::int64_t mtime = 0;  // the row's own time, without its values' times
};

struct ChildRow {
  KeyId id = 0;
  std::string name;
  std::string fold;
  std::int64_t mtime = 0;  // the row's time
};

// The entry for folded name `fold` in children sorted by folded name; null
// when there is none.
inline ChildRow* FindChildRow(std::vector<ChildRow>& children, std::string_view fold) {
  const auto it =
      std::lower_bound(children.begin(), children.end(), fold,
                       [](const ChildRow& row, std::string_view name) { return row.fold < name; });
  return it != children.end() && it->fold == fold ? &*it : nullptr;
}

struct ValueRow {
  std::string name;
  std::string fold;
  std::uint32_t type = 0;
  std::string data;
  std::int64_t mtime = 0;
};

// One level of a key to create: its name as given and its folded path.
struct NewKey {
  std::string name;
  std::string path;
};

// What a write did, for the hive's cache and the local watchers.
struct Written {
  std::uint64_t before = 1;        // Version() just before the write took effect
  std::uint64_t after = 1;         // Version() just after it
  std::vector<ChangeRow> changes;  // as published, numbered
};

class Store {
 public:
  virtual ~Store() = default;

  virtual std::uint64_t Version() = 0;
  virtual ChangeFeed& Changes() = 0;
  virtual bool VersionIsRemote() const { return false; }
  // The version the last read saw; odd when it cannot tell.
  virtual std::uint64_t Seen() const { return 1; }

  // Reads. A missing key gives 0 and `found` false.
  virtual long ReadKey(KeyId id, KeyRow& row, bool& found) = 0;
  // The child of `parent` whose folded path is `path`.
  virtual long FindChild(KeyId parent, const std::string& path, KeyRow& row, bool& found) = 0;
  // Children sorted by folded name; values in the order they were created.
  virtual long ReadChildren(KeyId id, std::vector<ChildRow>& rows) = 0;
  virtual long ReadValues(KeyId id, std::vector<ValueRow>& rows) = 0;
  // Moves each child's time up to the latest of its values' times.
  virtual long AddValueTimes(KeyId id, std::vector<ChildRow>& children) = 0;
  // ReadChildren and ReadValues at once (one snapshot where the store can).
  virtual long ReadContents(KeyId id, std::vector<ChildRow>& children,
                            std::vector<ValueRow>& values);

  // Writes, each one transaction (times are FILETIME counts).
  //
  // Creates the missing levels below `base` (whose path is `basePath`),
  // touching each parent that gains a child. `rows` gets one row per level;
  // the levels from `firstCreated` on were created by this call
  // (levels.size(): none). ERROR_KEY_DELETED when a parent no longer exists.
  virtual long CreateKey(KeyId base, const std::string& basePath, const std::vector<NewKey>& levels,
                         std::int64_t mtime, std::vector<KeyRow>& rows, std::size_t& firstCreated,
                         Written& written) = 0;
  // Sets a value of the key `key` (whose path is `path`); ERROR_KEY_DELETED
  // when the key no longer exists.
  virtual long SetValue(KeyId key, const std::string& path, const std::string& name,
                        const std::string& fold, std::uint32_t type, const void* data,
                        std::size_t size, std::int64_t mtime, Written& written) = 0;
  // Deletes a value and touches its key; ERROR_KEY_DELETED when the key no
  // longer exists, ERROR_FILE_NOT_FOUND when the value does not.
  virtual long DeleteValue(KeyId key, const std::string& path, const std::string& fold,
                           std::int64_t mtime, Written& written) = 0;
  // Deletes a key without subkeys, with its values, and touches its parent;
  // ERROR_FILE_NOT_FOUND when it no longer exists, ERROR_ACCESS_DENIED for a
  // root or a key with subkeys.
  virtual long DeleteKey(KeyId id, const std::string& path, std::int64_t mtime,
                         Written& written) = 0;
  // Deletes everything below the key `id` (whose path is `path`): every key
  // of its subtree and their values, and, with `withKey`, the key itself
  // with its values (touching its parent); without, the key's own values
  // too, and the key stays. One transaction. ERROR_FILE_NOT_FOUND when the
  // key no longer exists, ERROR_ACCESS_DENIED for a root with `withKey`;
  // ERROR_NOT_SUPPORTED from a store that cannot (the hive then deletes key
  // by key).
  virtual long DeleteTree(KeyId id, const std::string& path, bool withKey, std::int64_t mtime,
                          Written& written);

  // Batches: from BeginBatch to EndBatch every write joins one transaction
  // (its `written` carries the changes, not yet published), reads see the
  // batch's changes, and nobody else may write. A write that fails inside a
  // batch has changed nothing, or it leaves the batch able only to roll
  // back. EndBatch commits the whole (or, without `commit`, rolls it back)
  // and reports it as one write. ERROR_NOT_SUPPORTED: no batches here.
  // `before` gets the version the batch starts from.
  virtual long BeginBatch(std::uint64_t& before);
  virtual long EndBatch(bool commit, Written& written);

  // Returns when every change committed so far is on disk (survives a
  // power cut). A store whose commits are on disk already has nothing to do.
  virtual long Flush();
};

// Who may use a store.
enum class StoreAccess {
  kOwner,     // a new store file is readable and writable by its owner alone
  kAllUsers,  // a new store file is readable by all users, writable by its owner
  kReadOnly,  // reads only; every write gives ERROR_ACCESS_DENIED
};

// Whether `location` is a libpq connection URI (postgresql:// or postgres://).
bool IsPostgresLocation(const std::string& location);

// Opens or creates the store at `location`: a file path, ":memory:" for
// a private in-memory store, or a libpq URI for a PostgreSQL database
// (ERROR_NOT_SUPPORTED in a build without PostgreSQL). A store file this user may read but not
// write is opened for reading: its writes give ERROR_ACCESS_DENIED.
long OpenStore(const std::string& location, StoreAccess access, std::unique_ptr<Store>& store);

}  // namespace regkey::registry
