// One machine's registry on disk (or in memory): an SQLite database in WAL
// mode holding the key tree and the values.
//
// A key's last write time is the latest of its row's time (set when a
// subkey or value is created or deleted) and its values' times, so that
// setting a value writes one row.
//
// Every key row carries its full folded path ("HKCU\SOFTWARE\X"); keys are
// found by parent and path, through the one index that also lists children,
// so that deleting a key updates as few pages as possible. Calls return 0 or a Win32 code.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace regkey::registry {

using KeyId = std::int64_t;

// Ids and folded paths of the roots that hold trees.
struct RootKey {
  KeyId id;
  const char* path;
};
inline constexpr RootKey kRoots[] = {
    {1, "HKCR"}, {2, "HKCU"}, {3, "HKLM"}, {4, "HKU"}, {5, "HKCC"}};

struct KeyRow {
  KeyId id = 0;
  KeyId parent = 0;  // 0 for a root
  std::string name;
  std::string path;
  std::int64_t mtime = 0;
};

struct ChildRow {
  KeyId id = 0;
  std::string name;
  std::string fold;
  std::int64_t mtime = 0;  // the row's time
};

struct ValueRow {
  std::string name;
  std::string fold;
  std::uint32_t type = 0;
  std::string data;
  std::int64_t mtime = 0;
};

class Store {
 public:
  // Opens or creates the store; ":memory:" is a private in-memory store.
  static long Open(const std::string& path, std::unique_ptr<Store>& store);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  bool InMemory() const { return inMemory_; }

  // Reads. A missing key gives 0 and `found` false.
  long FindChild(KeyId parent, const std::string& path, KeyRow& row, bool& found);
  long ReadKey(KeyId id, KeyRow& row, bool& found);
  long ReadChildren(KeyId id, std::vector<ChildRow>& rows);  // sorted by folded name
  long ReadValues(KeyId id, std::vector<ValueRow>& rows);    // in order of creation
  long HasChildren(KeyId id, bool& any);
  // Moves each child's time up to the latest of its values' times.
  long AddValueTimes(KeyId id, std::vector<ChildRow>& children);

  // Writes, between Begin and Commit (or Rollback).
  long Begin();
  long Commit();
  void Rollback();
  long InsertKey(KeyId parent, const std::string& name, const std::string& path, std::int64_t mtime,
                 KeyId& id);
  long TouchKey(KeyId id, std::int64_t mtime, bool& exists);
  // Sets the value when the key still exists (`keyExists` false otherwise).
  long PutValue(KeyId key, const std::string& name, const std::string& fold, std::uint32_t type,
                const void* data, std::size_t size, std::int64_t mtime, bool& keyExists);
  // Overwrites an existing value (`updated` false when there is none).
  long UpdateValue(KeyId key, const std::string& fold, std::uint32_t type, const void* data,
                   std::size_t size, std::int64_t mtime, bool& updated);
  long DeleteValue(KeyId key, const std::string& fold, bool& existed);
  long DeleteKey(KeyId id);

 private:
  Store() = default;
  long Prepare();
  long Setup(const char* pragmas);
  long Migrate();
  sqlite3_stmt* Statement(int which);

  sqlite3* db_ = nullptr;
  bool inMemory_ = false;
  std::vector<sqlite3_stmt*> statements_;
};

// The Win32 code for an SQLite result; with the connection, an I/O error
// for want of space is ERROR_DISK_FULL.
long ErrorFromSqlite(int rc);
long ErrorFromSqlite(int rc, sqlite3* db);

}  // namespace regkey::registry
