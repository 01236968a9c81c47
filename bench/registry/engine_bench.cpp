// The cheapest commit that survives the process being killed at once, for
// each embedded engine and setting a shared, multi-process store could use:
// one small value overwritten in a table of 10,000 and committed.
// Nothing here syncs per commit except the *Sync rows, which show what a
// commit that also survives a power cut costs.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include <benchmark/benchmark.h>
#include <lmdb.h>
#include <sqlite3.h>

namespace {

constexpr int kRows = 10000;

std::string ScratchPath(const char* name) {
  return std::string("engine_bench-") + name + "-" + std::to_string(getpid());
}

void RemoveFiles(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal", "-lock"})
    unlink((path + suffix).c_str());
}

// SQLite: a WITHOUT ROWID table keyed like the store's values, one row
// updated per transaction with the statements prepared once.
void SqliteCommit(benchmark::State& state, const char* pragmas) {
  const std::string path = ScratchPath("sqlite");
  RemoveFiles(path);
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    state.SkipWithError("cannot open");
    return;
  }
  sqlite3_exec(db, pragmas, nullptr, nullptr, nullptr);
  sqlite3_exec(db,
               "CREATE TABLE t(k INTEGER, f TEXT, v BLOB, PRIMARY KEY(k, f)) WITHOUT ROWID;"
               "BEGIN;",
               nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO t VALUES (?1, 'V', x'00000000')", -1, &insert, nullptr);
  for (int i = 0; i < kRows; ++i) {
    sqlite3_bind_int(insert, 1, i);
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_stmt* begin = nullptr;
  sqlite3_stmt* update = nullptr;
  sqlite3_stmt* commit = nullptr;
  sqlite3_prepare_v2(db, "BEGIN IMMEDIATE", -1, &begin, nullptr);
  sqlite3_prepare_v2(db, "UPDATE t SET v = ?2 WHERE k = ?1 AND f = 'V'", -1, &update, nullptr);
  sqlite3_prepare_v2(db, "COMMIT", -1, &commit, nullptr);
  std::uint32_t n = 0;
  for (auto _ : state) {
    ++n;
    sqlite3_step(begin);
    sqlite3_reset(begin);
    sqlite3_bind_int(update, 1, static_cast<int>(n % kRows));
    sqlite3_bind_blob(update, 2, &n, sizeof n, SQLITE_STATIC);
    sqlite3_step(update);
    sqlite3_reset(update);
    if (sqlite3_step(commit) != SQLITE_DONE) state.SkipWithError("commit failed");
    sqlite3_reset(commit);
  }
  for (sqlite3_stmt* statement : {begin, update, commit}) sqlite3_finalize(statement);
  sqlite3_close(db);
  RemoveFiles(path);
}

const char* const kWalNormal =
    "PRAGMA page_size = 1024; PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL;";
const char* const kWalOff =
    "PRAGMA page_size = 1024; PRAGMA journal_mode = WAL; PRAGMA synchronous = OFF;";
const char* const kWalOffMmap =
    "PRAGMA page_size = 1024; PRAGMA journal_mode = WAL; PRAGMA synchronous = OFF;"
    "PRAGMA mmap_size = 268435456;";
const char* const kWalOff4kMmapNoCheckpoint =
    "PRAGMA page_size = 4096; PRAGMA journal_mode = WAL; PRAGMA synchronous = OFF;"
    "PRAGMA mmap_size = 268435456; PRAGMA wal_autocheckpoint = 100000;";
const char* const kWalFull =
    "PRAGMA page_size = 1024; PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL;";

void BM_SqliteWalNormal(benchmark::State& state) { SqliteCommit(state, kWalNormal); }
void BM_SqliteWalOff(benchmark::State& state) { SqliteCommit(state, kWalOff); }
void BM_SqliteWalOffMmap(benchmark::State& state) { SqliteCommit(state, kWalOffMmap); }
void BM_SqliteWalOff4kMmapNoCheckpoint(benchmark::State& state) {
  SqliteCommit(state, kWalOff4kMmapNoCheckpoint);
}
void BM_SqliteWalFullSync(benchmark::State& state) { SqliteCommit(state, kWalFull); }
BENCHMARK(BM_SqliteWalNormal);
BENCHMARK(BM_SqliteWalOff);
BENCHMARK(BM_SqliteWalOffMmap);
BENCHMARK(BM_SqliteWalOff4kMmapNoCheckpoint);
BENCHMARK(BM_SqliteWalFullSync)->Iterations(200);

// Row `i`'s key, as the store names a value, written into `name`.
MDB_val RowKey(char (&name)[16], std::uint32_t i) {
  const int length = std::snprintf(name, sizeof name, "%08u\\V", i);
  return MDB_val{static_cast<std::size_t>(length), name};
}

// A fresh environment of 64 MiB at `path` with room for `tables` named tables;
// null (and the benchmark skipped) when it cannot be opened.
MDB_env* OpenLmdb(benchmark::State& state, const std::string& path, unsigned flags,
                  MDB_dbi tables) {
  RemoveFiles(path);
  MDB_env* env = nullptr;
  mdb_env_create(&env);
  if (tables != 0) mdb_env_set_maxdbs(env, tables);
  mdb_env_set_mapsize(env, std::size_t{64} << 20);
  if (mdb_env_open(env, path.c_str(), flags | MDB_NOSUBDIR | MDB_NOTLS, 0600) != 0) {
    state.SkipWithError("cannot open");
    mdb_env_close(env);
    return nullptr;
  }
  return env;
}

// LMDB: one environment (multi-process by design), the same 10,000 keys,
// one value overwritten per write transaction.
void LmdbCommit(benchmark::State& state, unsigned flags) {
  const std::string path = ScratchPath("lmdb");
  MDB_env* env = OpenLmdb(state, path, flags, 0);
  if (env == nullptr) return;
  MDB_txn* txn = nullptr;
  MDB_dbi dbi = 0;
  mdb_txn_begin(env, nullptr, 0, &txn);
  mdb_dbi_open(txn, nullptr, 0, &dbi);
  std::uint32_t zero = 0;
  for (std::uint32_t i = 0; i < kRows; ++i) {
    char name[16];
    MDB_val key = RowKey(name, i);
    MDB_val data{sizeof zero, &zero};
    mdb_put(txn, dbi, &key, &data, 0);
  }
  mdb_txn_commit(txn);
  std::uint32_t n = 0;
  for (auto _ : state) {
    ++n;
    char name[16];
    MDB_val key = RowKey(name, n % kRows);
    MDB_val data{sizeof n, &n};
    mdb_txn_begin(env, nullptr, 0, &txn);
    mdb_put(txn, dbi, &key, &data, 0);
    if (mdb_txn_commit(txn) != 0) state.SkipWithError("commit failed");
  }
  mdb_env_close(env);
  RemoveFiles(path);
}

// As a set does it in a store of two tables: the value's row and its key's
// row (which carries the key's last write time) in named tables.
void LmdbTwoTableCommit(benchmark::State& state, unsigned flags) {
  const std::string path = ScratchPath("lmdb2");
  MDB_env* env = OpenLmdb(state, path, flags, 4);
  if (env == nullptr) return;
  MDB_txn* txn = nullptr;
  MDB_dbi tables[2] = {};
  mdb_txn_begin(env, nullptr, 0, &txn);
  mdb_dbi_open(txn, "keys", MDB_CREATE, &tables[0]);
  mdb_dbi_open(txn, "values", MDB_CREATE, &tables[1]);
  char row[40] = {};
  for (std::uint32_t i = 0; i < kRows; ++i) {
    char name[16];
    MDB_val key = RowKey(name, i);
    MDB_val data{sizeof row, row};
    for (MDB_dbi table : tables) mdb_put(txn, table, &key, &data, 0);
  }
  mdb_txn_commit(txn);
  std::uint32_t n = 0;
  for (auto _ : state) {
    ++n;
    char name[16];
    MDB_val key = RowKey(name, n % kRows);
    std::memcpy(row, &n, sizeof n);
    MDB_val data{sizeof row, row};
    mdb_txn_begin(env, nullptr, 0, &txn);
    for (MDB_dbi table : tables) mdb_put(txn, table, &key, &data, 0);
    if (mdb_txn_commit(txn) != 0) state.SkipWithError("commit failed");
  }
  mdb_env_close(env);
  RemoveFiles(path);
}

void BM_LmdbNoSync(benchmark::State& state) { LmdbCommit(state, MDB_NOSYNC); }
void BM_LmdbTwoTablesNoSync(benchmark::State& state) { LmdbTwoTableCommit(state, MDB_NOSYNC); }
void BM_LmdbTwoTablesNoSyncWriteMap(benchmark::State& state) {
  LmdbTwoTableCommit(state, MDB_NOSYNC | MDB_WRITEMAP);
}
BENCHMARK(BM_LmdbTwoTablesNoSync);
BENCHMARK(BM_LmdbTwoTablesNoSyncWriteMap);
void BM_LmdbNoSyncWriteMap(benchmark::State& state) {
  LmdbCommit(state, MDB_NOSYNC | MDB_WRITEMAP);
}
void BM_LmdbSync(benchmark::State& state) { LmdbCommit(state, 0); }
BENCHMARK(BM_LmdbNoSync);
BENCHMARK(BM_LmdbNoSyncWriteMap);
BENCHMARK(BM_LmdbSync)->Iterations(200);

// What one flush to disk costs: a small write and fdatasync.
void BM_FileWriteAndDatasync(benchmark::State& state) {
  const std::string path = ScratchPath("sync");
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  char page[4096] = {};
  for (auto _ : state) {
    ++page[0];
    if (::pwrite(fd, page, sizeof page, 0) != static_cast<ssize_t>(sizeof page) ||
        ::fdatasync(fd) != 0)
      state.SkipWithError("write failed");
  }
  ::close(fd);
  unlink(path.c_str());
}
BENCHMARK(BM_FileWriteAndDatasync)->Iterations(200);

}  // namespace
