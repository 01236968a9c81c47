// A store written before values carried their own times opens, keeps its
// data and takes new writes.
#include <algorithm>
#include <string>
#include <unistd.h>
#include <windows.h>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "registry/store/sqlite/sqlite_store.h"

namespace {

using regkey::registry::SqliteStore;

TEST(StoreMigration, OldValuesTableGainsTimesAndKeepsItsRows) {
  const std::string path = "store_migration-" + std::to_string(getpid()) + ".db";
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &db));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, R"sql(
    PRAGMA journal_mode = WAL;
    CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL,
      name TEXT NOT NULL, path TEXT NOT NULL UNIQUE, mtime INTEGER NOT NULL);
    CREATE TABLE vals(key INTEGER NOT NULL, fold TEXT NOT NULL, name TEXT NOT NULL,
      type INTEGER NOT NULL, data BLOB NOT NULL, seq INTEGER NOT NULL,
      PRIMARY KEY(key, fold)) WITHOUT ROWID;
    CREATE TABLE changes(seq INTEGER PRIMARY KEY AUTOINCREMENT, path TEXT NOT NULL,
      kind INTEGER NOT NULL, at INTEGER NOT NULL);
    CREATE INDEX keys_by_parent ON keys(parent, path);
    INSERT INTO keys VALUES (2, 0, 'HKEY_CURRENT_USER', 'HKCU', 7);
    INSERT INTO vals VALUES (2, 'OLD', 'Old', 4, x'2a000000', 1);
  )sql",
                                    nullptr, nullptr, nullptr));
  sqlite3_close(db);

  std::unique_ptr<SqliteStore> store;
  ASSERT_EQ(0, SqliteStore::Open(path, regkey::registry::StoreAccess::kOwner, store));
  std::vector<regkey::registry::ValueRow> rows;
  ASSERT_EQ(0, store->ReadValues(2, rows));
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ("Old", rows[0].name);
  EXPECT_EQ(std::string("\x2a\0\0\0", 4), rows[0].data);
  EXPECT_EQ(0, rows[0].mtime);

  regkey::registry::Written written;
  ASSERT_EQ(0, store->SetValue(2, "HKCU", "New", "NEW", 1, "x", 1, 99, written));
  // Values keep the order they were first set in.
  ASSERT_EQ(0, store->SetValue(2, "HKCU", "Old", "OLD", 4, "y", 1, 99, written));
  ASSERT_EQ(0, store->ReadValues(2, rows));
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ("Old", rows[0].name);
  EXPECT_EQ("y", rows[0].data);
  EXPECT_EQ("New", rows[1].name);
  // The key's listed time is its latest value's.
  std::vector<regkey::registry::ChildRow> roots;
  ASSERT_EQ(0, store->ReadChildren(0, roots));
  const auto user =
      std::find_if(roots.begin(), roots.end(), [](const auto& r) { return r.id == 2; });
  ASSERT_NE(roots.end(), user);
  EXPECT_EQ(7, user->mtime);
  ASSERT_EQ(0, store->AddValueTimes(0, roots));
  EXPECT_EQ(99, user->mtime);

  // A value for a key that is gone is refused, not stored.
  EXPECT_EQ(ERROR_KEY_DELETED,
            store->SetValue(12345, "HKCU\\GONE", "v", "V", 1, "x", 1, 99, written));

  // Keys are found by parent and path in the old layout too.
  regkey::registry::KeyRow row;
  bool found = false;
  ASSERT_EQ(0, store->FindChild(0, "HKCU", row, found));
  EXPECT_TRUE(found);
  EXPECT_EQ(2, row.id);

  store.reset();
  for (const char* suffix : {"", "-wal", "-shm", "-counter"}) unlink((path + suffix).c_str());
}

}  // namespace
