// Per-call cost of the embedded registry on a durable file store.
#include <cstdio>
#include <string>
#include <unistd.h>
#include <windows.h>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include "bench/support/private_store.h"

namespace {

// A store of its own in the working folder, on local disk.
regkey::bench::PrivateStore setup("registry_bench");

HKEY Create(const std::string& path) {
  HKEY key = nullptr;
  RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                  nullptr);
  return key;
}

void BM_QueryValue(benchmark::State& state) {
  HKEY key = Create("bench\\query");
  const DWORD value = 42;
  RegSetValueExA(key, "v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
  for (auto _ : state) {
    DWORD out = 0, size = 4, type = 0;
    benchmark::DoNotOptimize(
        RegQueryValueExA(key, "v", nullptr, &type, reinterpret_cast<BYTE*>(&out), &size));
  }
  RegCloseKey(key);
}
BENCHMARK(BM_QueryValue);

void BM_SetValue(benchmark::State& state) {
  HKEY key = Create("bench\\set");
  DWORD value = 0;
  for (auto _ : state) {
    ++value;
    benchmark::DoNotOptimize(
        RegSetValueExA(key, "v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4));
  }
  RegCloseKey(key);
}
BENCHMARK(BM_SetValue);

void BM_SetValue1MiB(benchmark::State& state) {
  HKEY key = Create("bench\\set-large");
  std::string data(1 << 20, 'x');
  for (auto _ : state) {
    ++data[0];
    benchmark::DoNotOptimize(RegSetValueExA(key, "v", 0, REG_BINARY,
                                            reinterpret_cast<const BYTE*>(data.data()),
                                            static_cast<DWORD>(data.size())));
  }
  RegCloseKey(key);
}
BENCHMARK(BM_SetValue1MiB)->Unit(benchmark::kMillisecond);

void BM_OpenClose(benchmark::State& state) {
  RegCloseKey(Create("bench\\open\\here"));
  for (auto _ : state) {
    HKEY key = nullptr;
    RegOpenKeyExA(HKEY_CURRENT_USER, "bench\\open\\here", 0, KEY_READ, &key);
    RegCloseKey(key);
  }
}
BENCHMARK(BM_OpenClose);

void BM_CreateNewSubkey(benchmark::State& state) {
  HKEY parent = Create("bench\\create");
  static long n = 0;  // names stay new across repetitions
  for (auto _ : state) {
    HKEY key = nullptr;
    char name[32];
    std::snprintf(name, sizeof name, "k%ld", ++n);
    RegCreateKeyExA(parent, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegCloseKey(key);
  }
  RegCloseKey(parent);
}
BENCHMARK(BM_CreateNewSubkey);

void BM_ListSubkeys(benchmark::State& state) {
  const std::string path = "bench\\list" + std::to_string(state.range(0));
  HKEY parent = Create(path);
  for (long i = 0; i < state.range(0); ++i) {
    HKEY key = nullptr;
    RegCreateKeyExA(parent, ("child" + std::to_string(i)).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                    nullptr, &key, nullptr);
    RegCloseKey(key);
  }
  char name[256];
  for (auto _ : state) {
    for (DWORD index = 0;; ++index) {
      DWORD length = sizeof name;
      if (RegEnumKeyExA(parent, index, name, &length, nullptr, nullptr, nullptr, nullptr) != 0)
        break;
    }
  }
  state.SetComplexityN(state.range(0));
  RegCloseKey(parent);
}
BENCHMARK(BM_ListSubkeys)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

void BM_DeleteTree10000(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    HKEY parent = Create("bench\\tree");
    for (int i = 0; i < 100; ++i)
      for (int j = 0; j < 99; ++j)
        RegCloseKey(Create("bench\\tree\\" + std::to_string(i) + "\\" + std::to_string(j)));
    RegCloseKey(parent);
    state.ResumeTiming();
    for (int i = 0; i < 100; ++i) {
      const std::string branch = "bench\\tree\\" + std::to_string(i);
      for (int j = 0; j < 99; ++j)
        RegDeleteKeyA(HKEY_CURRENT_USER, (branch + "\\" + std::to_string(j)).c_str());
      RegDeleteKeyA(HKEY_CURRENT_USER, branch.c_str());
    }
    RegDeleteKeyA(HKEY_CURRENT_USER, "bench\\tree");
  }
}
BENCHMARK(BM_DeleteTree10000)->Unit(benchmark::kMillisecond)->Iterations(1);

// The floor under a durable set: one row updated and committed by SQLite
// itself on a WAL file with the store's settings.
void BM_SqliteOneRowCommit(benchmark::State& state) {
  const std::string path = setup.path + "-raw";
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db,
               "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL;"
               "CREATE TABLE IF NOT EXISTS t(k INTEGER PRIMARY KEY, v BLOB);"
               "INSERT OR REPLACE INTO t VALUES (1, x'00');",
               nullptr, nullptr, nullptr);
  sqlite3_stmt* update = nullptr;
  sqlite3_prepare_v2(db, "UPDATE t SET v = ?1 WHERE k = 1", -1, &update, nullptr);
  int value = 0;
  for (auto _ : state) {
    sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    sqlite3_bind_int(update, 1, ++value);
    sqlite3_step(update);
    sqlite3_reset(update);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  }
  sqlite3_finalize(update);
  sqlite3_close(db);
  for (const char* suffix : {"", "-wal", "-shm"}) unlink((path + suffix).c_str());
}
BENCHMARK(BM_SqliteOneRowCommit);

}  // namespace
