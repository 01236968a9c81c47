// libFuzzer's entry point for one target, chosen by FUZZ_TARGET at build time.
#include "fuzz/targets/targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return regkey::fuzz::FUZZ_TARGET(data, size);
}
