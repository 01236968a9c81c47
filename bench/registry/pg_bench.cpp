// The same calls on the file store and on the PostgreSQL store, in one run:
// the file store under HKEY_CURRENT_USER of a private store file, the
// PostgreSQL one under HKEY_LOCAL_MACHINE of a machine whose store is a
// private server started for the run (scripts/pg-cluster, over its Unix
// socket) and stopped at exit. The server syncs each commit to disk, unless
// REGKEY_BENCH_PG_NO_FSYNC=1 runs it as the tests' server (fsync off).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <windows.h>

#include <benchmark/benchmark.h>

#include "bench/support/pg_server.h"
#include "bench/support/private_store.h"
#include "registry/machines.h"
#include "registry/store/postgres/pg_link.h"

namespace {

regkey::bench::PrivateStore setup("registry_pg_bench");

struct Server {
  Server() : server(REGKEY_PG_CLUSTER_SCRIPT, REGKEY_BENCH_PG_DIR) {
    if (server.uri().empty() || regkey::registry::DeclareMachine("bench-pg", server.uri()) != 0 ||
        RegConnectRegistryA("\\\\bench-pg", HKEY_LOCAL_MACHINE, &root) != 0) {
      std::fprintf(stderr, "no PostgreSQL store for the benchmark\n");
      std::exit(1);
    }
  }
  regkey::bench::PgServer server;
  HKEY root = nullptr;
};

Server& PgServer() {
  static Server server;
  return server;
}

HKEY Root(int store) { return store == 0 ? HKEY_CURRENT_USER : PgServer().root; }

HKEY Create(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  return key;
}

// Round trips per iteration, for the PostgreSQL store.
class Trips {
 public:
  Trips() : start_(regkey::registry::pg::RoundTripsSoFar()) {}
  void Report(benchmark::State& state) const {
    state.counters["round_trips"] =
        benchmark::Counter(static_cast<double>(regkey::registry::pg::RoundTripsSoFar() - start_),
                           benchmark::Counter::kAvgIterations);
  }

 private:
  std::uint64_t start_;
};

void BM_QueryValue(benchmark::State& state) {
  HKEY key = Create(Root(state.range(0)), "bench\\query");
  const DWORD value = 42;
  RegSetValueExA(key, "v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
  Trips trips;
  for (auto _ : state) {
    DWORD out = 0, size = 4, type = 0;
    benchmark::DoNotOptimize(
        RegQueryValueExA(key, "v", nullptr, &type, reinterpret_cast<BYTE*>(&out), &size));
  }
  trips.Report(state);
  RegCloseKey(key);
}

void BM_SetValue(benchmark::State& state) {
  HKEY key = Create(Root(state.range(0)), "bench\\set");
  DWORD value = 0;
  Trips trips;
  for (auto _ : state) {
    ++value;
    benchmark::DoNotOptimize(
        RegSetValueExA(key, "v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4));
  }
  trips.Report(state);
  RegCloseKey(key);
}

void BM_OpenClose(benchmark::State& state) {
  HKEY root = Root(state.range(0));
  RegCloseKey(Create(root, "bench\\open\\here"));
  Trips trips;
  for (auto _ : state) {
    HKEY key = nullptr;
    RegOpenKeyExA(root, "bench\\open\\here", 0, KEY_READ, &key);
    RegCloseKey(key);
  }
  trips.Report(state);
}

void BM_CreateNewSubkey(benchmark::State& state) {
  HKEY parent = Create(Root(state.range(0)), "bench\\create");
  static long n = 0;  // names stay new across repetitions
  Trips trips;
  for (auto _ : state) {
    RegCloseKey(Create(parent, "k" + std::to_string(::getpid()) + "-" + std::to_string(++n)));
  }
  trips.Report(state);
  RegCloseKey(parent);
}

void BM_List10000Subkeys(benchmark::State& state) {
  HKEY parent = Create(Root(state.range(0)), "bench\\list");
  for (long i = 0; i < 10000; ++i) RegCloseKey(Create(parent, "child" + std::to_string(i)));
  char name[256];
  Trips trips;
  for (auto _ : state) {
    for (DWORD index = 0;; ++index) {
      DWORD length = sizeof name;
      if (RegEnumKeyExA(parent, index, name, &length, nullptr, nullptr, nullptr, nullptr) != 0)
        break;
    }
  }
  trips.Report(state);
  RegCloseKey(parent);
}

// Key by key, deepest first, as the key class deletes a tree.
void BM_DeleteTree10000(benchmark::State& state) {
  HKEY root = Root(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    RegCloseKey(Create(root, "bench\\tree"));
    for (int i = 0; i < 100; ++i)
      for (int j = 0; j < 99; ++j)
        RegCloseKey(Create(root, "bench\\tree\\" + std::to_string(i) + "\\" + std::to_string(j)));
    state.ResumeTiming();
    for (int i = 0; i < 100; ++i) {
      const std::string branch = "bench\\tree\\" + std::to_string(i);
      for (int j = 0; j < 99; ++j) RegDeleteKeyA(root, (branch + "\\" + std::to_string(j)).c_str());
      RegDeleteKeyA(root, branch.c_str());
    }
    RegDeleteKeyA(root, "bench\\tree");
  }
}

// Argument 0: the file store; 1: the PostgreSQL store.
BENCHMARK(BM_QueryValue)->Arg(0)->Arg(1);
BENCHMARK(BM_SetValue)->Arg(0)->Arg(1);
BENCHMARK(BM_OpenClose)->Arg(0)->Arg(1);
BENCHMARK(BM_CreateNewSubkey)->Arg(0)->Arg(1);
BENCHMARK(BM_List10000Subkeys)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeleteTree10000)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
