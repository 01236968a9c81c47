// Memory of a process that lists every key of a store of 1,000,000 keys
// through the key class: its peak resident size as a counter.
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "bench/support/private_store.h"
#include "registry/transaction.h"
#include "regkey/qorCRegKey.h"

namespace {

regkey::bench::PrivateStore setup("regkey_memory_bench");

const char* const kTop = "Software\\regkey-memory-bench";
constexpr int kFanOut = 100;  // 100 x 100 x 100 keys below the top

// The process's resident size now and at its peak, in MiB.
double StatusMiB(const char* field) {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return 0;
  char line[256];
  double kib = 0;
  const std::size_t length = std::strlen(field);
  while (std::fgets(line, sizeof line, status) != nullptr)
    if (std::strncmp(line, field, length) == 0) kib = std::atof(line + length + 1);
  std::fclose(status);
  return kib / 1024;
}

// Builds the keys in another process, one transaction per top-level group,
// so that nothing of the building stays in this one.
bool BuildStore() {
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    for (int a = 0; a < kFanOut; ++a) {
      const std::string group = std::string(kTop) + "\\g" + std::to_string(a);
      const long error = regkey::registry::RunInOneTransaction({HKEY_CURRENT_USER}, [&]() -> long {
        for (int b = 0; b < kFanOut; ++b)
          for (int c = 0; c < kFanOut; ++c) {
            const std::string path = group + "\\s" + std::to_string(b) + "\\k" + std::to_string(c);
            HKEY key = nullptr;
            if (const LONG code = RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                                                  KEY_ALL_ACCESS, nullptr, &key, nullptr))
              return code;
            RegCloseKey(key);
          }
        return ERROR_SUCCESS;
      });
      if (error != ERROR_SUCCESS) _exit(1);
    }
    _exit(0);
  }
  int status = 0;
  return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Lists the key's subkeys and, depth first, theirs; returns the keys listed.
long ListAll(qorCRegKey& key) {
  CStringArray names;
  if (!key.EnumSubKeyNames(names)) return -1;
  long count = names.GetSize();
  for (INT_PTR i = 0; i < names.GetSize(); ++i) {
    qorCRegKey child(key, names[i], KEY_READ, qorCRegKey::flagOpenExisting);
    const long below = ListAll(child);
    if (below < 0) return -1;
    count += below;
  }
  return count;
}

void BM_ListMillionKeys(benchmark::State& state) {
  if (!BuildStore()) {
    state.SkipWithError("building the store failed");
    return;
  }
  const double before = StatusMiB("VmRSS:");
  long listed = 0;
  for (auto _ : state) {
    qorCRegKey top(qorCRegKey::flagOpenExisting);
    top.SetKey(nullptr, HKEY_CURRENT_USER, kTop, KEY_READ);
    listed = ListAll(top);
    if (listed != kFanOut + kFanOut * kFanOut + kFanOut * kFanOut * kFanOut)
      state.SkipWithError("listing failed");
  }
  state.counters["keys"] = static_cast<double>(listed);
  state.counters["rss_before_MiB"] = before;
  state.counters["rss_MiB"] = StatusMiB("VmRSS:");
  state.counters["peak_rss_MiB"] = StatusMiB("VmHWM:");
}
BENCHMARK(BM_ListMillionKeys)->Unit(benchmark::kSecond)->Iterations(2);

}  // namespace
