// The key class on named machines: one whose store is a file, one whose
// store is a PostgreSQL server (a private, durable one on a Unix socket,
// started by this program; REGKEY_BENCH_PG_NO_FSYNC=1 runs it without
// syncing commits to disk). Listing and deleting a tree of 10,000 keys
// through qorCRegKey; registry_pg_bench times the single calls. Argument 0 is
// the file store, 1 the server; "round_trips" counts the requests sent to the
// server per operation.
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <windows.h>

#include <benchmark/benchmark.h>

#include "bench/support/pg_server.h"
#include "registry/machines.h"
#include "registry/store/postgres/pg_link.h"
#include "regkey/qorCRegKey.h"

namespace {

const char* const kMachines[] = {"bench-file", "bench-postgres"};
const char* const kLabels[] = {"file store", "postgres"};

struct Stores {
  Stores() : server(REGKEY_PG_CLUSTER_SCRIPT, REGKEY_BENCH_PG_DIR) {
    file = "remote_bench-" + std::to_string(::getpid()) + ".db";
    ready = regkey::registry::DeclareMachine(kMachines[0], file) == ERROR_SUCCESS &&
            !server.uri().empty() &&
            regkey::registry::DeclareMachine(kMachines[1], server.uri()) == ERROR_SUCCESS;
    if (!ready) std::fprintf(stderr, "remote_bench: could not set up the stores\n");
  }
  ~Stores() {
    regkey::registry::ForgetMachine(kMachines[0]);
    regkey::registry::ForgetMachine(kMachines[1]);
    for (const char* suffix : {"", "-wal", "-shm", "-counter"}) ::unlink((file + suffix).c_str());
  }
  regkey::bench::PgServer server;
  std::string file;
  bool ready = false;
};

Stores& TheStores() {
  static Stores stores;
  return stores;
}

const std::string kBase = "Software\\regkey-remote-bench\\" + std::to_string(::getpid());

// HKEY_LOCAL_MACHINE of the machine `state` names; null (and the benchmark
// skipped) when it cannot be reached.
HKEY Root(benchmark::State& state) {
  HKEY root = nullptr;
  if (!TheStores().ready ||
      RegConnectRegistryA((std::string("\\\\") + kMachines[state.range(0)]).c_str(),
                          HKEY_LOCAL_MACHINE, &root) != ERROR_SUCCESS) {
    state.SkipWithError("store not reachable");
    return nullptr;
  }
  state.SetLabel(state.range(0) == 1 && !TheStores().server.durable() ? "postgres, fsync off"
                                                                      : kLabels[state.range(0)]);
  return root;
}

HKEY Create(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return nullptr;
  return key;
}

// Round trips to the server per iteration, from `before`.
void CountRoundTrips(benchmark::State& state, std::uint64_t before) {
  state.counters["round_trips"] =
      benchmark::Counter(static_cast<double>(regkey::registry::pg::RoundTripsSoFar() - before),
                         benchmark::Counter::kAvgIterations);
}

// `count` subkeys below `path`.
bool MakeChildren(HKEY root, const std::string& path, int count) {
  for (int i = 0; i < count; ++i) {
    HKEY key = Create(root, path + "\\k" + std::to_string(i));
    if (key == nullptr) return false;
    RegCloseKey(key);
  }
  return true;
}

void BM_ListSubkeys10k(benchmark::State& state) {
  HKEY root = Root(state);
  if (root == nullptr) return;
  const std::string path = kBase + "\\list";
  if (!MakeChildren(root, path, 10'000)) state.SkipWithError("setup failed");
  RegCloseKey(root);
  qorCRegKey key;
  key.SetKey((std::string("\\\\") + kMachines[state.range(0)]).c_str(), HKEY_LOCAL_MACHINE,
             path.c_str(), 0);
  CStringArray names;
  const std::uint64_t before = regkey::registry::pg::RoundTripsSoFar();
  for (auto _ : state) {
    if (!key.EnumSubKeyNames(names) || names.GetSize() != 10'000)
      state.SkipWithError("listing failed");
  }
  CountRoundTrips(state, before);
}
BENCHMARK(BM_ListSubkeys10k)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(5);

// 10,011 keys: 10 children, 10 x 10 grandchildren, 100 x 99 below those.
bool MakeTree(HKEY root, const std::string& path) {
  for (int a = 0; a < 10; ++a)
    for (int b = 0; b < 10; ++b)
      if (!MakeChildren(root, path + "\\a" + std::to_string(a) + "\\b" + std::to_string(b), 99))
        return false;
  return true;
}

void BM_DeleteTree10kThroughTheClass(benchmark::State& state) {
  HKEY root = Root(state);
  if (root == nullptr) return;
  const std::string path = kBase + "\\tree";
  std::uint64_t trips = 0;
  for (auto _ : state) {
    state.PauseTiming();
    if (!MakeTree(root, path)) state.SkipWithError("setup failed");
    qorCRegKey key;
    key.SetKey((std::string("\\\\") + kMachines[state.range(0)]).c_str(), HKEY_LOCAL_MACHINE,
               path.c_str(), 0);
    const std::uint64_t before = regkey::registry::pg::RoundTripsSoFar();
    state.ResumeTiming();
    if (!key.DeleteKey()) state.SkipWithError("DeleteKey failed");
    trips += regkey::registry::pg::RoundTripsSoFar() - before;
  }
  state.counters["round_trips"] =
      benchmark::Counter(static_cast<double>(trips), benchmark::Counter::kAvgIterations);
  RegCloseKey(root);
}
BENCHMARK(BM_DeleteTree10kThroughTheClass)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace
