// qreg's tree walk over a chain of keys as deep as the registry allows, beside
// the same reads with every key opened by its full name.
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/support/private_store.h"
#include "tools/qreg/src/access/tree_walk.h"

namespace {

#ifndef _WIN32
regkey::bench::PrivateStore setup("qreg_tree_walk_bench");
#endif

// HKCU\Software\qreg-bench-N, then a chain of keys "d" below it: depth
// keys in all, the deepest at depth + 1 levels below the root.
qreg::KeyPath Chain(int depth) {
  qreg::KeyPath top;
  top.root = HKEY_CURRENT_USER;
  top.path = "Software\\qreg-bench-" + std::to_string(depth);
  qreg::KeyPath deepest = top;
  for (int level = 1; level < depth; ++level) deepest.path += "\\d";
  qreg::RegistryKey key(deepest, qreg::Access::kCreate);
  if (!key.Write({"v", REG_SZ, std::string("x\0", 2)})) return {};
  return top;
}

void BM_WalkChain(benchmark::State& state) {
  const qreg::KeyPath top = Chain(static_cast<int>(state.range(0)));
  std::vector<qreg::RegSection> sections;
  for (auto _ : state) {
    sections.clear();
    qreg::WalkFailure failure;
    if (!qreg::ReadTree(top, true, sections, failure) ||
        sections.size() != static_cast<size_t>(state.range(0)))
      state.SkipWithError("walk failed");
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_WalkChain)->RangeMultiplier(2)->Range(64, 511)->Complexity();

// The reads of a walk with each key opened by its full name, as a walk that
// does not keep its parents open must.
void BM_ReadChainByFullNames(benchmark::State& state) {
  const qreg::KeyPath top = Chain(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    qreg::KeyPath path = top;
    for (int level = 0; level < state.range(0); ++level) {
      qreg::RegistryKey key(path, qreg::Access::kRead);
      std::vector<qreg::Value> values;
      std::vector<std::string> children;
      if (!key.Values(values) || !key.SubKeys(children)) state.SkipWithError("read failed");
      path = path.Child("d");
    }
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ReadChainByFullNames)->RangeMultiplier(2)->Range(64, 511)->Complexity();

}  // namespace
