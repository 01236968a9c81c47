// CString's common work: copies (shared until changed), copies that are then
// changed, composing key names with Format, appending, and copying string
// arrays. std::string does the same work in the same run for a ratio.
#include <afx.h>
#include <afxcoll.h>
#include <string>

#include <benchmark/benchmark.h>

namespace {

void BM_CStringCopy(benchmark::State& state) {
  const CString source(CString('k', static_cast<int>(state.range(0))));
  for (auto _ : state) {
    CString copy(source);
    benchmark::DoNotOptimize(copy.GetString());
  }
}
BENCHMARK(BM_CStringCopy)->Arg(16)->Arg(256)->Arg(4096);

void BM_StdStringCopy(benchmark::State& state) {
  const std::string source(static_cast<std::size_t>(state.range(0)), 'k');
  for (auto _ : state) {
    std::string copy(source);
    benchmark::DoNotOptimize(copy.data());
  }
}
BENCHMARK(BM_StdStringCopy)->Arg(16)->Arg(256)->Arg(4096);

void BM_CStringCopyThenChange(benchmark::State& state) {
  const CString source(CString('k', static_cast<int>(state.range(0))));
  for (auto _ : state) {
    CString copy(source);
    copy.SetAt(0, 'x');
    benchmark::DoNotOptimize(copy.GetString());
  }
}
BENCHMARK(BM_CStringCopyThenChange)->Arg(16)->Arg(256)->Arg(4096);

// A full key name as the key class composes it.
void BM_CStringFormatKeyName(benchmark::State& state) {
  const CString root("HKEY_CURRENT_USER");
  const CString path("Software\\Vendor\\Product\\Settings");
  for (auto _ : state) {
    CString name;
    name.Format("%s\\%s", static_cast<LPCTSTR>(root), static_cast<LPCTSTR>(path));
    benchmark::DoNotOptimize(name.GetString());
  }
}
BENCHMARK(BM_CStringFormatKeyName);

void BM_CStringAppend(benchmark::State& state) {
  for (auto _ : state) {
    CString s;
    for (int i = 0; i < 256; ++i) s += "part\\";
    benchmark::DoNotOptimize(s.GetString());
  }
}
BENCHMARK(BM_CStringAppend);

void BM_StdStringAppend(benchmark::State& state) {
  for (auto _ : state) {
    std::string s;
    for (int i = 0; i < 256; ++i) s += "part\\";
    benchmark::DoNotOptimize(s.data());
  }
}
BENCHMARK(BM_StdStringAppend);

// A listing handed on by value: 1,000 names of 24 bytes.
void BM_CStringArrayCopy(benchmark::State& state) {
  CStringArray names;
  for (int i = 0; i < 1000; ++i) {
    CString name;
    name.Format("value-name-%013d", i);
    names.Add(name);
  }
  for (auto _ : state) {
    CStringArray copy;
    copy.Copy(names);
    benchmark::DoNotOptimize(copy.GetData());
  }
}
BENCHMARK(BM_CStringArrayCopy);

}  // namespace
