// One machine's registry on disk (or in memory): an SQLite database in WAL
// mode holding the key tree, the values and a log of recent changes that
// other processes read to raise change notifications.
//
// Every key row carries its full folded path ("HKCU\SOFTWARE\X"), so that a
// path resolves with one indexed look-up. Calls return 0 or a Win32 code.
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

// Change kinds in the log, as notify filters; a deleted key is its own kind.
inline constexpr int kChangeName = 0x1;
inline constexpr int kChangeLastSet = 0x4;
inline constexpr int kChangeDeleted = 0x10000;

struct KeyRow {
  KeyId id = 0;
  KeyId parent = 0;  // 0 for a root
  std::string name;
  std::string path;
  std::int64_t mtime = 0;
};

struct ChildRow {
  std::string name;
  std::string fold;
  std::int64_t mtime = 0;
};

struct ValueRow {
  std::string name;
  std::string fold;
  std::uint32_t type = 0;
  std::string data;
};

struct ChangeRow {
  std::int64_t seq = 0;
  std::string path;
  int kind = 0;
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
  long FindKey(const std::string& path, KeyRow& row, bool& found);
  long ReadKey(KeyId id, KeyRow& row, bool& found);
  long ReadChildren(KeyId id, std::vector<ChildRow>& rows);  // sorted by folded name
  long ReadValues(KeyId id, std::vector<ValueRow>& rows);    // in order of creation
  long HasChildren(KeyId id, bool& any);
  long LastChange(std::int64_t& seq);
  long ChangesSince(std::int64_t seq, std::vector<ChangeRow>& rows);

  // Writes, between Begin and Commit (or Rollback).
  long Begin();
  long Commit();
  void Rollback();
  long InsertKey(KeyId parent, const std::string& name, const std::string& path, std::int64_t mtime,
                 KeyId& id);
  long TouchKey(KeyId id, std::int64_t mtime, bool& exists);
  long PutValue(KeyId key, const std::string& name, const std::string& fold, std::uint32_t type,
                const void* data, std::size_t size);
  long DeleteValue(KeyId key, const std::string& fold, bool& existed);
  long DeleteKey(KeyId id);
  long LogChange(const std::string& path, int kind, std::int64_t now, std::int64_t& seq);

 private:
  Store() = default;
  long Prepare();
  sqlite3_stmt* Statement(int which);

  sqlite3* db_ = nullptr;
  bool inMemory_ = false;
  std::vector<sqlite3_stmt*> statements_;
  std::uint64_t logged_ = 0;  // changes logged by this connection, to prune now and then
};

// The Win32 code for an SQLite result.
long ErrorFromSqlite(int rc);

}  // namespace regkey::registry
