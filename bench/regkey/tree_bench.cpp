// Subtree deletion, listings and bulk value deletion on the registry in place.
#include <string>

#include <benchmark/benchmark.h>

#include "bench/support/private_store.h"
#include "regkey/qorCRegKey.h"

namespace {

#ifndef _WIN32
regkey::bench::PrivateStore setup("regkey_tree_bench");
#endif

const char* const kBase = "Software\\regkey-bench";

void MakeKey(const std::string& path) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) == ERROR_SUCCESS)
    RegCloseKey(key);
}

// 10,000 keys in four levels: the root, 10 children, 10 x 10 grandchildren and
// 100 x 99 great-grandchildren (1 + 10 + 100 + 9,900 = 10,011 keys).
void BuildTree(const std::string& root) {
  MakeKey(root);
  for (int a = 0; a < 10; ++a) {
    const std::string pa = root + "\\a" + std::to_string(a);
    for (int b = 0; b < 10; ++b) {
      const std::string pb = pa + "\\b" + std::to_string(b);
      for (int c = 0; c < 99; ++c) MakeKey(pb + "\\c" + std::to_string(c));
    }
  }
}

void BM_DeleteKeyTree10k(benchmark::State& state) {
  const std::string root = std::string(kBase) + "\\tree";
  for (auto _ : state) {
    state.PauseTiming();
    BuildTree(root);
    qorCRegKey key;
    key.SetKey(nullptr, HKEY_CURRENT_USER, root.c_str(), 0);
    state.ResumeTiming();
    if (!key.DeleteKey()) state.SkipWithError("DeleteKey failed");
  }
}
BENCHMARK(BM_DeleteKeyTree10k)->Unit(benchmark::kMillisecond)->Iterations(3);

// The keys are made once per size and kept: the library calls the function
// several times, and each listing after the first is served from the cache.
void BM_EnumSubKeyNames(benchmark::State& state) {
  const std::string root = std::string(kBase) + "\\list" + std::to_string(state.range(0));
  qorCRegKey key;
  key.SetKey(nullptr, HKEY_CURRENT_USER, root.c_str(), 0);
  DWORD made = 0;
  if (key.Open())
    RegQueryInfoKeyA(key.GetKeyHandle(), nullptr, nullptr, nullptr, &made, nullptr, nullptr,
                     nullptr, nullptr, nullptr, nullptr, nullptr);
  if (made != state.range(0))
    for (int i = 0; i < state.range(0); ++i) MakeKey(root + "\\k" + std::to_string(i));
  CStringArray names;
  for (auto _ : state) {
    if (!key.EnumSubKeyNames(names) || names.GetSize() != state.range(0))
      state.SkipWithError("listing failed");
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_EnumSubKeyNames)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->MinWarmUpTime(0.5)  // the first listing after the keys were made reads the store
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

void BM_DeleteAllValues10k(benchmark::State& state) {
  const std::string root = std::string(kBase) + "\\values";
  qorCRegKey key;
  key.SetKey(nullptr, HKEY_CURRENT_USER, root.c_str(), 0);
  const DWORD data = 1;
  for (auto _ : state) {
    state.PauseTiming();
    for (int i = 0; i < 10000; ++i) {
      const std::string name = std::string("v").append(std::to_string(i));
      key.SetValue(name.c_str(), reinterpret_cast<const BYTE*>(&data), sizeof data, REG_DWORD);
    }
    state.ResumeTiming();
    if (!key.DeleteAllValues()) state.SkipWithError("DeleteAllValues failed");
  }
  key.DeleteKey();
}
BENCHMARK(BM_DeleteAllValues10k)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
