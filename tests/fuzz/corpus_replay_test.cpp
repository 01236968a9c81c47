// Every file of the fuzz targets' corpus in the tree (the seeds and the inputs
// that once found a fault) run through its target: a broken property aborts.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "fuzz/targets/targets.h"

namespace {

using Target = int (*)(const std::uint8_t*, std::size_t);

void Replay(const char* name, Target target) {
  int count = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::filesystem::path(FUZZ_CORPUS_DIR) / name)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    SCOPED_TRACE(entry.path().string());
    EXPECT_EQ(0, target(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    ++count;
  }
  EXPECT_GT(count, 0) << "no corpus for " << name;
}

TEST(FuzzCorpus, RegFile) { Replay("reg_file", regkey::fuzz::FuzzRegFile); }
TEST(FuzzCorpus, ValueText) { Replay("value_text", regkey::fuzz::FuzzValueText); }
TEST(FuzzCorpus, Archive) { Replay("archive", regkey::fuzz::FuzzArchive); }
TEST(FuzzCorpus, RegistryOps) { Replay("registry_ops", regkey::fuzz::FuzzRegistryOps); }

}  // namespace
