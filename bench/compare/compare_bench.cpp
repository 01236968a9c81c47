// The key class and the raw registry calls, timed the same way on both legs:
// built natively it runs on the embedded registry (a store of its own in the
// working folder), built for Windows it runs on the registry in place (under
// Wine, Wine's). Prints one line per measurement: its name, the median of
// the repetitions in microseconds per operation, and the repetitions.
// scripts/bench-vs-wine runs both builds in one go and sets them side by side.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>
#include <windows.h>

#include "bench/support/private_store.h"
#include "regkey/qorCRegKey.h"

namespace {

#ifndef _WIN32
regkey::bench::PrivateStore setup("compare_bench");
#endif

using Clock = std::chrono::steady_clock;

const char* const kBase = "Software\\regkey-compare-bench";
int repetitions = 7;
double scale = 1.0;  // --quick makes every batch smaller

std::string Path(const std::string& below) { return std::string(kBase) + "\\" + below; }

// Times `batch` operations `repetitions` times; `prepare` runs untimed before
// each repetition. Prints the median time per operation.
void Measure(
    const char* name, long batch, const std::function<void(long)>& run,
    const std::function<void()>& prepare = [] {}) {
  batch = std::max(1L, static_cast<long>(static_cast<double>(batch) * scale));
  std::vector<double> perOp;
  for (int r = 0; r < repetitions; ++r) {
    prepare();
    const auto start = Clock::now();
    run(batch);
    const std::chrono::duration<double, std::micro> took = Clock::now() - start;
    perOp.push_back(took.count() / static_cast<double>(batch));
  }
  std::sort(perOp.begin(), perOp.end());
  std::printf("%-32s %12.3f us  (median of %d, %ld per repetition)\n", name,
              perOp[perOp.size() / 2], repetitions, batch);
  std::fflush(stdout);
}

void Fail(const char* what, LONG code) {
  std::fprintf(stderr, "%s failed: %ld\n", what, static_cast<long>(code));
  std::exit(1);
}

HKEY CreateRaw(const std::string& path) {
  HKEY key = nullptr;
  const LONG code = RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                    nullptr, &key, nullptr);
  if (code != ERROR_SUCCESS) Fail("RegCreateKeyExA", code);
  return key;
}

void MakeKey(const std::string& path) { RegCloseKey(CreateRaw(path)); }

void DeleteTree(const std::string& path) {
  qorCRegKey key(qorCRegKey::flagOpenExisting);
  key.SetKey(nullptr, HKEY_CURRENT_USER, path.c_str());
  key.DeleteKey();
}

// 1 + 10 + 100 + 9,900 = 10,011 keys in four levels.
void BuildTree(const std::string& root) {
  MakeKey(root);
  for (int a = 0; a < 10; ++a)
    for (int b = 0; b < 10; ++b)
      for (int c = 0; c < 99; ++c)
        MakeKey(root + "\\a" + std::to_string(a) + "\\b" + std::to_string(b) + "\\c" +
                std::to_string(c));
}

// Deletes a tree built by BuildTree with raw calls, deepest keys first.
void DeleteTreeRaw(const std::string& root) {
  for (int a = 0; a < 10; ++a) {
    const std::string pa = root + "\\a" + std::to_string(a);
    for (int b = 0; b < 10; ++b) {
      const std::string pb = pa + "\\b" + std::to_string(b);
      for (int c = 0; c < 99; ++c)
        RegDeleteKeyA(HKEY_CURRENT_USER, (pb + "\\c" + std::to_string(c)).c_str());
      RegDeleteKeyA(HKEY_CURRENT_USER, pb.c_str());
    }
    RegDeleteKeyA(HKEY_CURRENT_USER, pa.c_str());
  }
  const LONG code = RegDeleteKeyA(HKEY_CURRENT_USER, root.c_str());
  if (code != ERROR_SUCCESS) Fail("RegDeleteKeyA", code);
}

void ValueOperations() {
  const std::string path = Path("values");
  qorCRegKey key;
  key.SetKey(nullptr, HKEY_CURRENT_USER, path.c_str());
  DWORD data = 42;
  if (!key.SetValue("v", reinterpret_cast<const BYTE*>(&data), sizeof data, REG_DWORD))
    Fail("SetValue", key.m_lError);
  Measure("class query", 100000, [&](long n) {
    for (long i = 0; i < n; ++i) {
      DWORD out = 0;
      key.QueryValue("v", reinterpret_cast<BYTE*>(&out), sizeof out, REG_DWORD);
    }
  });
  Measure("class query close-after", 20000, [&](long n) {
    for (long i = 0; i < n; ++i) {
      DWORD out = 0;
      key.QueryValue("v", reinterpret_cast<BYTE*>(&out), sizeof out, REG_DWORD, true);
    }
  });
  Measure("class open+close", 20000, [&](long n) {
    for (long i = 0; i < n; ++i) {
      key.Open();
      key.Close();
    }
  });
  key.Open();
  Measure("class set", 20000, [&](long n) {
    for (long i = 0; i < n; ++i) {
      ++data;
      key.SetValue("v", reinterpret_cast<const BYTE*>(&data), sizeof data, REG_DWORD);
    }
  });
  HKEY raw = key.GetKeyHandle();
  Measure("raw query", 100000, [&](long n) {
    for (long i = 0; i < n; ++i) {
      DWORD out = 0, size = sizeof out, type = 0;
      RegQueryValueExA(raw, "v", nullptr, &type, reinterpret_cast<BYTE*>(&out), &size);
    }
  });
  Measure("raw set", 20000, [&](long n) {
    for (long i = 0; i < n; ++i) {
      ++data;
      RegSetValueExA(raw, "v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
    }
  });
  Measure("raw open+close", 20000, [&](long n) {
    for (long i = 0; i < n; ++i) {
      HKEY opened = nullptr;
      RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &opened);
      RegCloseKey(opened);
    }
  });
}

void CreateOperations() {
  const std::string parentPath = Path("create");
  qorCRegKey parent;
  parent.SetKey(nullptr, HKEY_CURRENT_USER, parentPath.c_str());
  if (!parent.Open()) Fail("Open", parent.m_lError);
  long next = 0;  // names stay new across repetitions
  Measure("class create new subkey", 5000, [&](long n) {
    qorCRegKey child;
    for (long i = 0; i < n; ++i) {
      const std::string name = "k" + std::to_string(++next);
      child.SetSubKeyOf(parent, name.c_str());
      if (!child.Open() || !child.WasCreated()) Fail("create", child.m_lError);
      child.Close();
    }
  });
  HKEY raw = parent.GetKeyHandle();
  Measure("raw create new subkey", 5000, [&](long n) {
    for (long i = 0; i < n; ++i) {
      HKEY key = nullptr;
      const std::string name = "k" + std::to_string(++next);
      RegCreateKeyExA(raw, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
      RegCloseKey(key);
    }
  });
  parent.DeleteKey();
}

void ListOperations(long children) {
  const std::string path = Path("list" + std::to_string(children));
  qorCRegKey key;
  key.SetKey(nullptr, HKEY_CURRENT_USER, path.c_str());
  if (!key.Open()) Fail("Open", key.m_lError);
  for (long i = 0; i < children; ++i) {
    HKEY child = nullptr;
    RegCreateKeyExA(key.GetKeyHandle(), ("child" + std::to_string(i)).c_str(), 0, nullptr, 0,
                    KEY_ALL_ACCESS, nullptr, &child, nullptr);
    RegCloseKey(child);
  }
  CStringArray names;
  const std::string classRow = "class list per name, " + std::to_string(children);
  const long listings = std::max(1L, 200000 / children);
  Measure(classRow.c_str(), listings * children, [&](long n) {
    for (long i = 0; i < std::max(1L, n / children); ++i)
      if (!key.EnumSubKeyNames(names) || names.GetSize() != children)
        Fail("EnumSubKeyNames", key.m_lError);
  });
  const std::string rawRow = "raw list per name, " + std::to_string(children);
  HKEY raw = key.GetKeyHandle();
  Measure(rawRow.c_str(), listings * children, [&](long n) {
    char name[256];
    for (long i = 0; i < std::max(1L, n / children); ++i)
      for (DWORD index = 0;; ++index) {
        DWORD length = sizeof name;
        FILETIME time;
        if (RegEnumKeyExA(raw, index, name, &length, nullptr, nullptr, nullptr, &time) != 0) break;
      }
  });
  key.DeleteKey();
}

void TreeOperations() {
  const std::string root = Path("tree");
  const int saved = repetitions;
  repetitions = std::min(repetitions, 3);
  Measure(
      "class DeleteKey 10,011-key tree", 1,
      [&](long) {
        qorCRegKey key(qorCRegKey::flagOpenExisting);
        key.SetKey(nullptr, HKEY_CURRENT_USER, root.c_str());
        if (!key.DeleteKey()) Fail("DeleteKey", key.m_lError);
      },
      [&] { BuildTree(root); });
  Measure(
      "raw delete 10,011-key tree", 1, [&](long) { DeleteTreeRaw(root); },
      [&] { BuildTree(root); });
  repetitions = saved;
}

}  // namespace

int main(int argc, char** argv) {
  bool big = true;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) {
      scale = 0.1;
      repetitions = 3;
      big = false;
    }
  }
  DeleteTree(kBase);
  ValueOperations();
  CreateOperations();
  for (long children : {1000L, 10000L}) ListOperations(children);
  if (big) ListOperations(100000);
  TreeOperations();
  DeleteTree(kBase);
  return 0;
}
