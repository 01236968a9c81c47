// The fuzz targets: each takes one input and returns 0. A target that finds a
// fault (a broken property, a result its model did not expect) prints what it
// saw and aborts, so libFuzzer and the corpus replay test both report it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace regkey::fuzz {

int FuzzRegFile(const std::uint8_t* data, std::size_t size);
int FuzzValueText(const std::uint8_t* data, std::size_t size);
int FuzzArchive(const std::uint8_t* data, std::size_t size);
int FuzzRegistryOps(const std::uint8_t* data, std::size_t size);

}  // namespace regkey::fuzz
