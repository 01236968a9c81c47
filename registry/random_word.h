// A random 64-bit word from the kernel, for numbers that must not repeat
// across processes and rebuilds (log generations, fresh counter values).
#pragma once

#include <chrono>
#include <cstdint>
#include <sys/random.h>

namespace regkey::registry {

inline std::uint64_t RandomWord() {
  std::uint64_t word = 0;
  if (::getrandom(&word, sizeof word, 0) != static_cast<ssize_t>(sizeof word)) {
    // Without the kernel's generator: the clock, mixed (splitmix64).
    word = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    word += 0x9E3779B97F4A7C15ull;
    word = (word ^ (word >> 30)) * 0xBF58476D1CE4E5B9ull;
    word = (word ^ (word >> 27)) * 0x94D049BB133111EBull;
    word ^= word >> 31;
  }
  return word;
}

}  // namespace regkey::registry
