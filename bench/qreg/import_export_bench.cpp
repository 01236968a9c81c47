// qreg import and export of a 20,000-key, 60,000-value file on a store file,
// run in process through the commands themselves.
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/support/private_store.h"
#include "tools/qreg/src/commands/commands.h"
#include "tools/qreg/src/regfile/reg_file.h"

namespace {

regkey::bench::PrivateStore setup("qreg_import_export_bench");

const char* const kTop = "Software\\qreg-import-bench";
constexpr int kGroups = 100;
constexpr int kKeysPerGroup = 200;  // the group key and 199 below it

qreg::KeyPath Key(const std::string& path) {
  qreg::KeyPath key;
  key.root = HKEY_CURRENT_USER;
  key.path = path;
  return key;
}

// 20,000 keys of three values each (a string, a number, 16 bytes), in
// version 5 format as reg export writes it.
const std::string& ImportFile() {
  static const std::string name = [] {
    std::vector<qreg::RegSection> sections;
    for (int g = 0; g < kGroups; ++g) {
      const std::string group = std::string(kTop) + "\\Group" + std::to_string(g);
      for (int k = 0; k < kKeysPerGroup; ++k) {
        qreg::RegSection section;
        section.key = Key(k == 0 ? group : group + "\\Item" + std::to_string(k));
        const std::string text = "value of item " + std::to_string(k) + '\0';
        const DWORD number = static_cast<DWORD>(g * kKeysPerGroup + k);
        section.entries.push_back({{"Name", REG_SZ, text}, false, 0});
        section.entries.push_back(
            {{"Count", REG_DWORD, std::string(reinterpret_cast<const char*>(&number), 4)},
             false,
             0});
        section.entries.push_back({{"Data", REG_BINARY, std::string(16, '\x5a')}, false, 0});
        sections.push_back(std::move(section));
      }
    }
    const std::string file = setup.path + ".reg";
    std::ofstream(file, std::ios::binary)
        << qreg::WriteRegFile(sections, qreg::RegFormat::kVersion5);
    return file;
  }();
  return name;
}

const std::string& ExportFile() {
  static const std::string name = setup.path + "-out.reg";
  return name;
}

// Removes the files at exit.
struct Cleanup {
  ~Cleanup() {
    for (const char* suffix : {".reg", "-out.reg"}) unlink((setup.path + suffix).c_str());
  }
} cleanup;

// Runs a command with its line of success sent nowhere.
int Quietly(int (*command)(const qreg::Words&), const qreg::Words& words) {
  std::fflush(stdout);
  const int saved = dup(1);
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  close(null);
  const int code = command(words);
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  return code;
}

void DeleteTop() { RegDeleteTreeA(HKEY_CURRENT_USER, kTop); }

void BM_Import20kKeys(benchmark::State& state) {
  const std::string& file = ImportFile();
  for (auto _ : state) {
    state.PauseTiming();
    DeleteTop();
    state.ResumeTiming();
    if (Quietly(qreg::Import, {file}) != 0) state.SkipWithError("import failed");
  }
}
BENCHMARK(BM_Import20kKeys)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);

void BM_Export20kKeys(benchmark::State& state) {
  static const bool imported = [] {
    DeleteTop();
    return Quietly(qreg::Import, {ImportFile()}) == 0;
  }();
  if (!imported) state.SkipWithError("import failed");
  for (auto _ : state) {
    if (Quietly(qreg::Export, {std::string("HKCU\\") + kTop, ExportFile(), "/y"}) != 0)
      state.SkipWithError("export failed");
  }
}
BENCHMARK(BM_Export20kKeys)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);

}  // namespace
