// The file store: one machine's registry in an SQLite database in WAL mode
// (or in memory), with the shared-memory side file `<store>-counter` that
// holds its change counter (the store's Version()) and its change log.
//
// A key's last write time is the latest of its row's time (set when a
// subkey or value is created or deleted) and its values' times, so that
// setting a value writes one row.
//
// Every key row carries its full folded path ("HKCU\SOFTWARE\X"); keys are
// found by parent and path, through the one index that also lists children,
// so that deleting a key updates as few pages as possible.
//
// Each write is one `BEGIN IMMEDIATE` transaction: the counter is odd from
// just after the write lock is taken until the commit, and the write's
// changes are appended to the log under the lock and published after the
// commit.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <sqlite3.h>

#include "registry/change_counter.h"
#include "registry/change_log.h"
#include "registry/store/store.h"

namespace regkey::registry {

class SqliteStore final : public Store {
 public:
  // Opens or creates the store file; ":memory:" is a private in-memory store.
  static long Open(const std::string& location, StoreAccess access,
                   std::unique_ptr<SqliteStore>& store);
  ~SqliteStore() override;
  SqliteStore(const SqliteStore&) = delete;
  SqliteStore& operator=(const SqliteStore&) = delete;

  std::uint64_t Version() override { return counter_->Load(); }
  ChangeFeed& Changes() override { return *log_; }

  long ReadKey(KeyId id, KeyRow& row, bool& found) override;
  long FindChild(KeyId parent, const std::string& path, KeyRow& row, bool& found) override;
  long ReadChildren(KeyId id, std::vector<ChildRow>& rows) override;
  long ReadValues(KeyId id, std::vector<ValueRow>& rows) override;
  long AddValueTimes(KeyId id, std::vector<ChildRow>& children) override;

  long CreateKey(KeyId base, const std::string& basePath, const std::vector<NewKey>& levels,
                 std::int64_t mtime, std::vector<KeyRow>& rows, std::size_t& firstCreated,
                 Written& written) override;
  long SetValue(KeyId key, const std::string& path, const std::string& name,
                const std::string& fold, std::uint32_t type, const void* data, std::size_t size,
                std::int64_t mtime, Written& written) override;
  long DeleteValue(KeyId key, const std::string& path, const std::string& fold, std::int64_t mtime,
                   Written& written) override;
  long DeleteKey(KeyId id, const std::string& path, std::int64_t mtime, Written& written) override;
  long DeleteTree(KeyId id, const std::string& path, bool withKey, std::int64_t mtime,
                  Written& written) override;

  long BeginBatch(std::uint64_t& before) override;
  long EndBatch(bool commit, Written& written) override;
  long Flush() override;

 private:
  SqliteStore() = default;
  long Prepare();
  long Setup(const char* pragmas);
  long Migrate();
  sqlite3_stmt* Statement(int which);
  // Runs `change` in one transaction; it adds its changes to `written`.
  // `oneRow`: the change writes at most one row, so that within a batch a
  // failure leaves nothing of it without a savepoint.
  template <typename Change>
  long Write(Written& written, Change change, bool oneRow = false);

  long Begin();
  long Commit();
  void Rollback();
  long InsertKey(KeyId parent, const std::string& name, const std::string& path, std::int64_t mtime,
                 KeyId& id);
  long TouchKey(KeyId id, std::int64_t mtime, bool& exists);
  long HasChildren(KeyId id, bool& any);
  // Deletes the key's row and values; the subtree below it first.
  long DeleteSubtree(KeyId id);

  // The batch in progress: its counter value, version before and changes.
  struct Batch {
    std::uint64_t begun = 0;
    std::uint64_t before = 1;
    std::vector<ChangeRow> changes;
    long lost = 0;  // why SQLite ended the batch's transaction early (0: it did not)
  };
  // Nonzero once SQLite has rolled the batch's transaction back by itself
  // (after a full disk or an I/O error): later writes would each commit
  // on their own, so they are refused, and the batch commits nothing.
  long BatchLost();

  sqlite3* db_ = nullptr;
  bool inMemory_ = false;
  bool readOnly_ = false;
  std::vector<sqlite3_stmt*> statements_;
  std::unique_ptr<ChangeCounter> counter_;
  std::unique_ptr<ChangeLog> log_;
  std::unique_ptr<Batch> batch_;
};

// The Win32 code for an SQLite result; with the connection, an I/O error
// for want of space is ERROR_DISK_FULL.
long ErrorFromSqlite(int rc);
long ErrorFromSqlite(int rc, sqlite3* db);

}  // namespace regkey::registry
