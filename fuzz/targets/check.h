// Property checks for the fuzz targets: a failed one prints where and why,
// then aborts.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace regkey::fuzz {

[[noreturn]] inline void Fail(const char* file, int line, const std::string& what) {
  std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, what.c_str());
  std::abort();
}

// Printable form of bytes, for failure messages; long ones shortened.
inline std::string Show(const std::string& bytes) {
  constexpr std::size_t kShown = 64;
  std::string out = "\"";
  for (unsigned char c : bytes.substr(0, kShown)) {
    if (c == '"' || c == '\\') {
      (out += '\\') += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  out += '"';
  if (bytes.size() > kShown) out += "... (" + std::to_string(bytes.size()) + " bytes)";
  return out;
}

}  // namespace regkey::fuzz

#define FUZZ_CHECK(condition, what) \
  ((condition) ? (void)0 : ::regkey::fuzz::Fail(__FILE__, __LINE__, (what)))
