#include "registry/store/sqlite/sqlite_store.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <windows.h>

#include "registry/names.h"
#include "registry/store_files.h"

namespace regkey::registry {
namespace {

const char* const kTables = R"sql(
CREATE TABLE IF NOT EXISTS keys(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  parent INTEGER NOT NULL,
  name TEXT NOT NULL,
  path TEXT NOT NULL,
  mtime INTEGER NOT NULL);
CREATE UNIQUE INDEX IF NOT EXISTS keys_by_parent ON keys(parent, path);
CREATE TABLE IF NOT EXISTS vals(
  key INTEGER NOT NULL,
  fold TEXT NOT NULL,
  name TEXT NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  seq INTEGER NOT NULL,
  mtime INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY(key, fold)) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS vals_in_order ON vals(key, seq);
)sql";

// The schema: the tables, then the roots (kRoots), last written when the
// store was made (100 ns units since 1601).
std::string Schema() {
  std::string schema = kTables;
  schema +=
      "INSERT OR IGNORE INTO keys(id, parent, name, path, mtime)\n"
      "  WITH now(t) AS (SELECT CAST((julianday('now') - 2305813.5) * 864000000000 AS INTEGER))";
  for (const RootKey& root : kRoots) {
    schema += root.id == 1 ? "\n  " : " UNION ALL\n  ";
    schema += "SELECT " + std::to_string(root.id) + ", 0, '" + root.name + "', '" + root.path +
              "', t FROM now";
  }
  return schema + ";\n";
}

enum StatementId {
  kFindKey,
  kReadKey,
  kReadChildren,
  kReadValues,
  kHasChildren,
  kValuesLastWrite,
  kBegin,
  kCommit,
  kRollback,
  kInsertKey,
  kTouchKey,
  kPutValue,
  kUpdateValue,
  kDeleteValue,
  kDeleteKeyValues,
  kDeleteKey,
  kChildIds,
  kSavepoint,
  kRelease,
  kRollbackTo,
  kStatementCount
};

const char* const kStatements[] = {
    "SELECT id, parent, name, path, mtime FROM keys WHERE parent = ?1 AND path = ?2",
    "SELECT id, parent, name, path, mtime FROM keys WHERE id = ?1",
    // Children's paths share the parent's prefix, so ordering by path orders
    // by folded name.
    "SELECT id, name, path, mtime FROM keys WHERE parent = ?1 ORDER BY path",
    "SELECT name, fold, type, data, mtime FROM vals WHERE key = ?1 ORDER BY seq",
    "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1",
    // Children in the order of kReadChildren, with no grouping to sort.
    "SELECT k.id, (SELECT MAX(mtime) FROM vals WHERE key = k.id), k.path FROM keys k "
    "WHERE k.parent = ?1 ORDER BY k.path",
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
    "INSERT INTO keys(parent, name, path, mtime) VALUES (?1, ?2, ?3, ?4)",
    "UPDATE keys SET mtime = ?2 WHERE id = ?1",
    // One row of VALUES: an INSERT ... SELECT reading vals would go through a
    // temporary table. A missing key makes seq null, and the row is skipped.
    "INSERT OR IGNORE INTO vals(key, fold, name, type, data, seq, mtime) "
    "VALUES (?1, ?2, ?3, ?4, ?5, (SELECT COALESCE((SELECT MAX(seq) FROM vals WHERE key = ?1), 0) "
    "+ 1 FROM keys WHERE id = ?1), ?6) "
    "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data, "
    "mtime = excluded.mtime",
    "UPDATE vals SET type = ?4, data = ?5, mtime = ?6 WHERE key = ?1 AND fold = ?2",
    "DELETE FROM vals WHERE key = ?1 AND fold = ?2",
    "DELETE FROM vals WHERE key = ?1",
    "DELETE FROM keys WHERE id = ?1",
    "SELECT id FROM keys WHERE parent = ?1",
    "SAVEPOINT one_write",
    "RELEASE one_write",
    "ROLLBACK TO one_write",
};
static_assert(std::size(kStatements) == kStatementCount, "one statement for each StatementId");

// Resets a statement when it goes out of scope.
class Use {
 public:
  explicit Use(sqlite3_stmt* statement) : statement_(statement) {}
  ~Use() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }
  Use(const Use&) = delete;
  Use& operator=(const Use&) = delete;
  sqlite3_stmt* operator*() const { return statement_; }

 private:
  sqlite3_stmt* statement_;
};

void BindText(sqlite3_stmt* statement, int index, const std::string& text) {
  sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

std::string ColumnText(sqlite3_stmt* statement, int column) {
  const auto* text = static_cast<const char*>(sqlite3_column_blob(statement, column));
  const int size = sqlite3_column_bytes(statement, column);
  return text == nullptr ? std::string() : std::string(text, static_cast<std::size_t>(size));
}

// Runs a statement that returns no rows.
long Run(sqlite3_stmt* statement) {
  const int rc = sqlite3_step(statement);
  return rc == SQLITE_DONE || rc == SQLITE_ROW ? ERROR_SUCCESS
                                               : ErrorFromSqlite(rc, sqlite3_db_handle(statement));
}

// Creates the store file with `mode` before SQLite opens it, or finds the
// one there. `readOnly` becomes true for a file this user may read but not
// write; `othersRead` tells whether users other than its owner may read it.
long PrepareFile(const std::string& path, mode_t mode, bool& readOnly, bool& othersRead) {
  int fd = -1;
  int error = 0;
  if (!readOnly) {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    // A new file gets its mode whatever the umask.
    if (fd >= 0) ::fchmod(fd, mode);
    if (fd < 0 && errno == EEXIST) fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    error = fd < 0 ? errno : 0;
  }
  if (fd < 0 && (readOnly || error == EACCES || error == EPERM || error == EROFS)) {
    fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    // On a read-only file system SQLite finds out for itself (ERROR_CANTWRITE).
    if (fd >= 0 && error != EROFS) readOnly = true;
  }
  if (fd < 0) {
    if (error == EACCES || error == EPERM || errno == EACCES) return ERROR_ACCESS_DENIED;
    return ERROR_CANTOPEN;
  }
  struct stat info {};
  othersRead = ::fstat(fd, &info) == 0 && (info.st_mode & (S_IRGRP | S_IROTH)) != 0;
  ::close(fd);
  return ERROR_SUCCESS;
}

}  // namespace

long ErrorFromSqlite(int rc, sqlite3* db) {
  // SQLite reports some writes that found no space (growing the -shm file)
  // as I/O errors.
  if ((rc & 0xFF) == SQLITE_IOERR && db != nullptr) {
    const int error = sqlite3_system_errno(db);
    if (error == ENOSPC || error == EDQUOT) return ERROR_DISK_FULL;
  }
  return ErrorFromSqlite(rc);
}

long ErrorFromSqlite(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
      return ERROR_SUCCESS;
    case SQLITE_NOMEM:
      return ERROR_OUTOFMEMORY;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ERROR_BUSY;
    case SQLITE_READONLY:
      return ERROR_CANTWRITE;
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return ERROR_ACCESS_DENIED;
    case SQLITE_CORRUPT:
      return ERROR_REGISTRY_CORRUPT;
    case SQLITE_NOTADB:
      return ERROR_NOT_REGISTRY_FILE;
    case SQLITE_CANTOPEN:
      return ERROR_CANTOPEN;
    case SQLITE_FULL:
      return ERROR_DISK_FULL;
    case SQLITE_TOOBIG:
      return ERROR_INVALID_PARAMETER;
    case SQLITE_IOERR:
      return ERROR_REGISTRY_IO_FAILED;
    default:
      return ERROR_REGISTRY_IO_FAILED;
  }
}

long SqliteStore::Open(const std::string& location, StoreAccess access,
                       std::unique_ptr<SqliteStore>& store) {
  std::unique_ptr<SqliteStore> opened(new SqliteStore);
  opened->inMemory_ = location == ":memory:";
  opened->readOnly_ = access == StoreAccess::kReadOnly;
  const mode_t mode = access == StoreAccess::kAllUsers ? 0644 : 0600;
  bool othersRead = false;
  // A file store is opened by its real path, after its files are checked.
  std::string path = location;
  if (!opened->inMemory_) {
    if (const long error = PrepareStoreFile(location, mode, !opened->readOnly_, path)) return error;
    // The files SQLite opens by the store's name.
    if (const long error = CheckStoreFiles(path, {"-wal", "-shm", "-journal"})) return error;
    if (const long error = PrepareFile(path, mode, opened->readOnly_, othersRead)) return error;
  }
  const bool reading = opened->readOnly_ && !opened->inMemory_;
  // The path is the store's real one: a link put in its place is refused.
  const int flags = (reading ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
                    SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW;
  int rc = sqlite3_open_v2(path.c_str(), &opened->db_, flags, nullptr);
  if (rc != SQLITE_OK) return ErrorFromSqlite(rc, opened->db_);
  sqlite3_extended_result_codes(opened->db_, 0);
  sqlite3_busy_timeout(opened->db_, 10'000);
  // 1 KiB pages (for new stores): a commit writes whole pages, and most
  // commits change a row or two in a few pages.
  // WAL: readers and one writer at a time across processes. NORMAL sync
  // makes a commit survive the process dying at once (power loss may lose
  // the last commits, never the database's consistency).
  const char* const setup =
      opened->inMemory_
          ? "PRAGMA foreign_keys = OFF;"
          : "PRAGMA page_size = 1024; PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL;";
  if (!reading) {
    // Users who may read a shared store but not write it can read its WAL
    // only while the -wal and -shm files exist: they stay after the last
    // writer closes.
    if (othersRead) {
      int persist = 1;
      sqlite3_file_control(opened->db_, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    }
    if (const long error = opened->Setup(setup)) return error;
  }
  if (const long error = opened->Migrate()) return error;
  if (const long error = opened->Prepare()) return error;
  try {
    opened->counter_ =
        std::make_unique<ChangeCounter>(opened->inMemory_ ? std::string() : path, mode, reading);
    if (const long error = opened->counter_->error()) return error;
    // Watchers read the log while the side file's mapping is held.
    ChangeCounter* counter = opened->counter_.get();
    opened->log_ = std::make_unique<ChangeLog>(
        counter->LogArea(), [counter](bool& current) { return counter->Hold(current); });
  } catch (const std::bad_alloc&) {
    return ERROR_OUTOFMEMORY;
  }
  store = std::move(opened);
  return ERROR_SUCCESS;
}

SqliteStore::~SqliteStore() {
  for (sqlite3_stmt* statement : statements_) sqlite3_finalize(statement);
  sqlite3_close(db_);
}

// Switching to WAL and the first schema write can meet another process
// doing the same, where SQLite answers busy at once rather than waiting (a
// reader that would upgrade); those are retried until the busy time-out.
long SqliteStore::Setup(const char* pragmas) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    int rc = sqlite3_exec(db_, pragmas, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_exec(db_, Schema().c_str(), nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) return ERROR_SUCCESS;
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    const bool busy = (rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED;
    if (!busy || std::chrono::steady_clock::now() >= deadline) return ErrorFromSqlite(rc, db_);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Stores made before values carried their own times get the column.
long SqliteStore::Migrate() {
  const char* const probe = "SELECT 1 FROM pragma_table_info('vals') WHERE name = 'mtime'";
  int altered = SQLITE_OK;
  for (int attempt = 0; attempt < 2; ++attempt) {
    sqlite3_stmt* statement = nullptr;
    int rc = sqlite3_prepare_v2(db_, probe, -1, &statement, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_step(statement);
    sqlite3_finalize(statement);
    if (rc == SQLITE_ROW) return ERROR_SUCCESS;
    if (rc != SQLITE_DONE) return ErrorFromSqlite(rc);
    if (attempt == 0) {
      // Another process may add it first; the probe then finds it.
      altered = sqlite3_exec(db_, "ALTER TABLE vals ADD COLUMN mtime INTEGER NOT NULL DEFAULT 0",
                             nullptr, nullptr, nullptr);
    }
  }
  return altered != SQLITE_OK ? ErrorFromSqlite(altered) : ERROR_REGISTRY_CORRUPT;
}

long SqliteStore::Prepare() {
  statements_.assign(kStatementCount, nullptr);
  for (int i = 0; i < kStatementCount; ++i) {
    const int rc = sqlite3_prepare_v3(db_, kStatements[i], -1, SQLITE_PREPARE_PERSISTENT,
                                      &statements_[i], nullptr);
    if (rc != SQLITE_OK) return ErrorFromSqlite(rc);
  }
  return ERROR_SUCCESS;
}

sqlite3_stmt* SqliteStore::Statement(int which) { return statements_[which]; }

namespace {

long ReadKeyRow(sqlite3_stmt* statement, KeyRow& row, bool& found) {
  const int rc = sqlite3_step(statement);
  found = rc == SQLITE_ROW;
  if (rc == SQLITE_DONE) return ERROR_SUCCESS;
  if (rc != SQLITE_ROW) return ErrorFromSqlite(rc, sqlite3_db_handle(statement));
  row.id = sqlite3_column_int64(statement, 0);
  row.parent = sqlite3_column_int64(statement, 1);
  row.name = ColumnText(statement, 2);
  row.path = ColumnText(statement, 3);
  row.mtime = sqlite3_column_int64(statement, 4);
  return ERROR_SUCCESS;
}

}  // namespace

long SqliteStore::FindChild(KeyId parent, const std::string& path, KeyRow& row, bool& found) {
  Use use(Statement(kFindKey));
  sqlite3_bind_int64(*use, 1, parent);
  BindText(*use, 2, path);
  return ReadKeyRow(*use, row, found);
}

long SqliteStore::ReadKey(KeyId id, KeyRow& row, bool& found) {
  Use use(Statement(kReadKey));
  sqlite3_bind_int64(*use, 1, id);
  return ReadKeyRow(*use, row, found);
}

long SqliteStore::ReadChildren(KeyId id, std::vector<ChildRow>& rows) {
  rows.clear();
  Use use(Statement(kReadChildren));
  sqlite3_bind_int64(*use, 1, id);
  int rc;
  while ((rc = sqlite3_step(*use)) == SQLITE_ROW) {
    ChildRow row;
    row.id = sqlite3_column_int64(*use, 0);
    row.name = ColumnText(*use, 1);
    row.fold = LastLevel(ColumnText(*use, 2));
    row.mtime = sqlite3_column_int64(*use, 3);
    rows.push_back(std::move(row));
  }
  return rc == SQLITE_DONE ? ERROR_SUCCESS : ErrorFromSqlite(rc, db_);
}

long SqliteStore::ReadValues(KeyId id, std::vector<ValueRow>& rows) {
  rows.clear();
  Use use(Statement(kReadValues));
  sqlite3_bind_int64(*use, 1, id);
  int rc;
  while ((rc = sqlite3_step(*use)) == SQLITE_ROW) {
    ValueRow row;
    row.name = ColumnText(*use, 0);
    row.fold = ColumnText(*use, 1);
    row.type = static_cast<std::uint32_t>(sqlite3_column_int64(*use, 2));
    row.data = ColumnText(*use, 3);
    row.mtime = sqlite3_column_int64(*use, 4);
    rows.push_back(std::move(row));
  }
  return rc == SQLITE_DONE ? ERROR_SUCCESS : ErrorFromSqlite(rc, db_);
}

long SqliteStore::HasChildren(KeyId id, bool& any) {
  Use use(Statement(kHasChildren));
  sqlite3_bind_int64(*use, 1, id);
  const int rc = sqlite3_step(*use);
  any = rc == SQLITE_ROW;
  return rc == SQLITE_ROW || rc == SQLITE_DONE ? ERROR_SUCCESS : ErrorFromSqlite(rc, db_);
}

long SqliteStore::AddValueTimes(KeyId id, std::vector<ChildRow>& children) {
  Use use(Statement(kValuesLastWrite));
  sqlite3_bind_int64(*use, 1, id);
  int rc;
  // The rows come in the children's order: each is the next child, unless the
  // list differs from the store's, when it is looked for by name.
  std::size_t next = 0;
  while ((rc = sqlite3_step(*use)) == SQLITE_ROW) {
    ChildRow* child = nullptr;
    if (next < children.size() && children[next].id == sqlite3_column_int64(*use, 0)) {
      child = &children[next];
    } else {
      const auto* path = static_cast<const char*>(sqlite3_column_blob(*use, 2));
      const auto size = static_cast<std::size_t>(sqlite3_column_bytes(*use, 2));
      child = FindChildRow(children, LastLevel(std::string_view(path, size)));
      if (child == nullptr) continue;
    }
    next = static_cast<std::size_t>(child - children.data()) + 1;
    // Null for a child without values.
    if (sqlite3_column_type(*use, 1) != SQLITE_NULL)
      child->mtime = std::max<std::int64_t>(child->mtime, sqlite3_column_int64(*use, 1));
  }
  return rc == SQLITE_DONE ? ERROR_SUCCESS : ErrorFromSqlite(rc, db_);
}

long SqliteStore::Begin() {
  Use use(Statement(kBegin));
  return Run(*use);
}

long SqliteStore::Commit() {
  Use use(Statement(kCommit));
  return Run(*use);
}

void SqliteStore::Rollback() {
  if (sqlite3_get_autocommit(db_)) return;
  Use use(Statement(kRollback));
  Run(*use);
}

long SqliteStore::InsertKey(KeyId parent, const std::string& name, const std::string& path,
                            std::int64_t mtime, KeyId& id) {
  Use use(Statement(kInsertKey));
  sqlite3_bind_int64(*use, 1, parent);
  BindText(*use, 2, name);
  BindText(*use, 3, path);
  sqlite3_bind_int64(*use, 4, mtime);
  if (const long error = Run(*use)) return error;
  id = sqlite3_last_insert_rowid(db_);
  return ERROR_SUCCESS;
}

long SqliteStore::TouchKey(KeyId id, std::int64_t mtime, bool& exists) {
  Use use(Statement(kTouchKey));
  sqlite3_bind_int64(*use, 1, id);
  sqlite3_bind_int64(*use, 2, mtime);
  if (const long error = Run(*use)) return error;
  exists = sqlite3_changes(db_) > 0;
  return ERROR_SUCCESS;
}

namespace {

// Binds a value's common parameters (?1 key, ?2 folded name, ?4 type,
// ?5 data, ?6 time) and runs the statement; `changed` says whether a row was.
long WriteValue(sqlite3* db, sqlite3_stmt* statement, KeyId key, const std::string& fold,
                std::uint32_t type, const void* data, std::size_t size, std::int64_t mtime,
                bool& changed) {
  sqlite3_bind_int64(statement, 1, key);
  BindText(statement, 2, fold);
  sqlite3_bind_int64(statement, 4, type);
  static const char kEmpty = 0;
  sqlite3_bind_blob64(statement, 5, size == 0 ? &kEmpty : data, size, SQLITE_STATIC);
  sqlite3_bind_int64(statement, 6, mtime);
  if (const long error = Run(statement)) return error;
  changed = sqlite3_changes(db) > 0;
  return ERROR_SUCCESS;
}

// Runs one change of a batch; on success its changes join the batch's.
template <typename Change>
long BatchStep(Change& change, std::vector<ChangeRow>& changes, std::vector<ChangeRow>& batch) {
  try {
    const long error = change(changes);
    if (!error) batch.insert(batch.end(), changes.begin(), changes.end());
    return error;
  } catch (const std::bad_alloc&) {
    return ERROR_OUTOFMEMORY;
  }
}

}  // namespace

// One write: write lock, counter odd, the change, log append, commit, then
// publish or abandon, counter even (registry/DESIGN.md walks the steps).
template <typename Change>
long SqliteStore::Write(Written& written, Change change, bool oneRow) {
  written = Written{};
  if (readOnly_) return ERROR_ACCESS_DENIED;
  if (batch_) {
    if (const long lost = BatchLost()) return lost;
  }
  if (batch_ && oneRow) {
    // A change of one row happens whole or not at all: no savepoint needed.
    const long error = BatchStep(change, written.changes, batch_->changes);
    if (error) {
      written.changes.clear();
      if (sqlite3_get_autocommit(db_)) batch_->lost = error;
    }
    return error;
  }
  if (batch_) {
    // Inside a batch each write is a savepoint: one that fails is undone
    // alone, and the batch goes on.
    {
      Use use(Statement(kSavepoint));
      if (const long error = Run(*use)) return error;
    }
    const long error = BatchStep(change, written.changes, batch_->changes);
    if (error) {
      if (sqlite3_get_autocommit(db_)) {
        batch_->lost = error;
        written.changes.clear();
        return error;
      }
      Use use(Statement(kRollbackTo));
      Run(*use);
      written.changes.clear();
    }
    Use use(Statement(kRelease));
    Run(*use);
    return error;
  }
  if (const long error = Begin()) return error;
  written.before = counter_->Load();
  std::uint64_t begun = 0;
  if (const long error = counter_->BeginWrite(begun)) {
    // The commit could not be told to other processes.
    Rollback();
    return error;
  }
  long error;
  try {
    error = change(written.changes);
  } catch (const std::bad_alloc&) {
    error = ERROR_OUTOFMEMORY;
  }
  // Only a change that reached the commit has its log entries to take back.
  const bool logged = !error && !written.changes.empty();
  const std::int64_t start = logged ? log_->Append(written.changes) : 0;
  if (!error) error = Commit();
  if (error) {
    if (logged) log_->Abandon(start);
    Rollback();
    written.changes.clear();
  } else if (logged) {
    log_->Publish(written.changes.back().seq);
  }
  // When another commit came in between, what was read before may lack it.
  written.after = counter_->EndWrite(begun) ? begun + 1 : 1;
  return error;
}

long SqliteStore::CreateKey(KeyId base, const std::string& basePath,
                            const std::vector<NewKey>& levels, std::int64_t mtime,
                            std::vector<KeyRow>& rows, std::size_t& firstCreated,
                            Written& written) {
  return Write(written, [&](std::vector<ChangeRow>& changes) -> long {
    rows.clear();
    firstCreated = levels.size();
    KeyId parent = base;
    for (std::size_t i = 0; i < levels.size(); ++i) {
      KeyRow row;
      bool found = false;
      // Below a level created here, every level is new.
      if (firstCreated == levels.size()) {
        if (const long error = FindChild(parent, levels[i].path, row, found)) return error;
        if (!found) {
          bool parentExists = false;
          if (const long error = TouchKey(parent, mtime, parentExists)) return error;
          if (!parentExists) return ERROR_KEY_DELETED;
          firstCreated = i;
        }
      }
      if (!found) {
        row = KeyRow{0, parent, levels[i].name, levels[i].path, mtime};
        if (const long error = InsertKey(parent, row.name, row.path, mtime, row.id)) return error;
        changes.push_back(MakeChange(i == 0 ? basePath : rows.back().path, kChangeName));
      }
      parent = row.id;
      rows.push_back(std::move(row));
    }
    return ERROR_SUCCESS;
  });
}

long SqliteStore::SetValue(KeyId key, const std::string& path, const std::string& name,
                           const std::string& fold, std::uint32_t type, const void* data,
                           std::size_t size, std::int64_t mtime, Written& written) {
  // One row is updated, or none and one inserted.
  const auto change = [&](std::vector<ChangeRow>& changes) -> long {
    // Overwriting an existing value updates its row alone.
    bool updated = false;
    {
      Use use(Statement(kUpdateValue));
      if (const long error = WriteValue(db_, *use, key, fold, type, data, size, mtime, updated))
        return error;
    }
    if (!updated) {
      Use use(Statement(kPutValue));
      BindText(*use, 3, name);
      bool keyExists = false;
      if (const long error = WriteValue(db_, *use, key, fold, type, data, size, mtime, keyExists))
        return error;
      if (!keyExists) return ERROR_KEY_DELETED;
    }
    changes.push_back(MakeChange(path, kChangeLastSet));
    return ERROR_SUCCESS;
  };
  return Write(written, change, true);
}

long SqliteStore::DeleteValue(KeyId key, const std::string& path, const std::string& fold,
                              std::int64_t mtime, Written& written) {
  return Write(written, [&](std::vector<ChangeRow>& changes) -> long {
    bool existed = false;
    {
      Use use(Statement(kDeleteValue));
      sqlite3_bind_int64(*use, 1, key);
      BindText(*use, 2, fold);
      if (const long error = Run(*use)) return error;
      existed = sqlite3_changes(db_) > 0;
    }
    if (!existed) {
      KeyRow row;
      bool keyExists = false;
      if (const long error = ReadKey(key, row, keyExists)) return error;
      return keyExists ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
    }
    bool keyExists = false;
    if (const long error = TouchKey(key, mtime, keyExists)) return error;
    if (!keyExists) return ERROR_KEY_DELETED;
    changes.push_back(MakeChange(path, kChangeLastSet));
    return ERROR_SUCCESS;
  });
}

long SqliteStore::DeleteKey(KeyId id, const std::string& path, std::int64_t mtime,
                            Written& written) {
  return Write(written, [&](std::vector<ChangeRow>& changes) -> long {
    KeyRow row;
    bool found = false;
    if (const long error = ReadKey(id, row, found)) return error;
    if (!found) return ERROR_FILE_NOT_FOUND;
    if (row.parent == 0) return ERROR_ACCESS_DENIED;
    bool hasChildren = false;
    if (const long error = HasChildren(id, hasChildren)) return error;
    if (hasChildren) return ERROR_ACCESS_DENIED;
    {
      Use use(Statement(kDeleteKeyValues));
      sqlite3_bind_int64(*use, 1, id);
      if (const long error = Run(*use)) return error;
    }
    {
      Use use(Statement(kDeleteKey));
      sqlite3_bind_int64(*use, 1, id);
      if (const long error = Run(*use)) return error;
    }
    bool parentExists = false;
    if (const long error = TouchKey(row.parent, mtime, parentExists)) return error;
    changes.push_back(MakeChange(std::string(ParentPath(path)), kChangeName));
    changes.push_back(MakeChange(path, kChangeDeleted));
    return ERROR_SUCCESS;
  });
}

}  // namespace regkey::registry

namespace regkey::registry {

long SqliteStore::DeleteSubtree(KeyId id) {
  std::vector<KeyId> children;
  {
    Use use(Statement(kChildIds));
    sqlite3_bind_int64(*use, 1, id);
    int rc;
    while ((rc = sqlite3_step(*use)) == SQLITE_ROW)
      children.push_back(sqlite3_column_int64(*use, 0));
    if (rc != SQLITE_DONE) return ErrorFromSqlite(rc);
  }
  for (const KeyId child : children)
    if (const long error = DeleteSubtree(child)) return error;
  {
    Use use(Statement(kDeleteKeyValues));
    sqlite3_bind_int64(*use, 1, id);
    if (const long error = Run(*use)) return error;
  }
  Use use(Statement(kDeleteKey));
  sqlite3_bind_int64(*use, 1, id);
  return Run(*use);
}

long SqliteStore::DeleteTree(KeyId id, const std::string& path, bool withKey, std::int64_t mtime,
                             Written& written) {
  return Write(written, [&](std::vector<ChangeRow>& changes) -> long {
    KeyRow row;
    bool found = false;
    if (const long error = ReadKey(id, row, found)) return error;
    if (!found) return ERROR_FILE_NOT_FOUND;
    if (withKey) {
      if (row.parent == 0) return ERROR_ACCESS_DENIED;
      if (const long error = DeleteSubtree(id)) return error;
      bool parentExists = false;
      if (const long error = TouchKey(row.parent, mtime, parentExists)) return error;
      changes.push_back(MakeChange(std::string(ParentPath(path)), kChangeName));
      changes.push_back(MakeChange(path, kChangeTreeDeleted));
      return ERROR_SUCCESS;
    }
    std::vector<ChildRow> children;
    if (const long error = ReadChildren(id, children)) return error;
    std::vector<ValueRow> values;
    if (const long error = ReadValues(id, values)) return error;
    for (const ChildRow& child : children)
      if (const long error = DeleteSubtree(child.id)) return error;
    {
      Use use(Statement(kDeleteKeyValues));
      sqlite3_bind_int64(*use, 1, id);
      if (const long error = Run(*use)) return error;
    }
    if (children.empty() && values.empty()) return ERROR_SUCCESS;
    bool exists = false;
    if (const long error = TouchKey(id, mtime, exists)) return error;
    if (!children.empty()) changes.push_back(MakeChange(path, kChangeName));
    if (!values.empty()) changes.push_back(MakeChange(path, kChangeLastSet));
    for (const ChildRow& child : children)
      changes.push_back(MakeChange(path + '\\' + child.fold, kChangeTreeDeleted));
    return ERROR_SUCCESS;
  });
}

long SqliteStore::BeginBatch(std::uint64_t& before) {
  if (readOnly_) return ERROR_ACCESS_DENIED;
  if (batch_) return ERROR_INVALID_FUNCTION;
  auto batch = std::make_unique<Batch>();
  if (const long error = Begin()) return error;
  batch->before = counter_->Load();
  if (const long error = counter_->BeginWrite(batch->begun)) {
    Rollback();
    return error;
  }
  before = batch->before;
  batch_ = std::move(batch);
  return ERROR_SUCCESS;
}

long SqliteStore::BatchLost() {
  if (batch_->lost == 0 && sqlite3_get_autocommit(db_)) batch_->lost = ERROR_REGISTRY_IO_FAILED;
  return batch_->lost;
}

long SqliteStore::EndBatch(bool commit, Written& written) {
  written = Written{};
  if (!batch_) return ERROR_INVALID_FUNCTION;
  long error = commit ? BatchLost() : ERROR_CANCELLED;
  std::unique_ptr<Batch> batch = std::move(batch_);
  written.before = batch->before;
  const bool logged = !error && !batch->changes.empty();
  const std::int64_t start = logged ? log_->Append(batch->changes) : 0;
  if (!error) error = Commit();
  if (error) {
    if (logged) log_->Abandon(start);
    Rollback();
  } else {
    if (logged) log_->Publish(batch->changes.back().seq);
    written.changes = std::move(batch->changes);
  }
  written.after = counter_->EndWrite(batch->begun) ? batch->begun + 1 : 1;
  return error == ERROR_CANCELLED ? ERROR_SUCCESS : error;
}

// Commits reach the write-ahead log unsynced (synchronous=NORMAL): a flush
// syncs the log, then the main file.
long SqliteStore::Flush() {
  if (inMemory_) return ERROR_SUCCESS;
  for (const int op : {SQLITE_FCNTL_JOURNAL_POINTER, SQLITE_FCNTL_FILE_POINTER}) {
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(db_, "main", op, &file) != SQLITE_OK || file == nullptr ||
        file->pMethods == nullptr)
      continue;  // no log open yet
    const int rc = file->pMethods->xSync(file, SQLITE_SYNC_NORMAL);
    if (rc != SQLITE_OK) return ErrorFromSqlite(rc, db_);
  }
  return ERROR_SUCCESS;
}

}  // namespace regkey::registry
