// The names and data that the store tests' child process writes, shared by
// the child and the tests that check them.
#pragma once

#include <string>

namespace regkey::test {

// Appended rather than "v" + std::to_string(i): GCC 12 at -O3 warns falsely
// (-Wrestrict) about the insertion at the front that operator+ makes.
inline std::string StreamName(unsigned i) {
  std::string name = "v";
  name += std::to_string(i);
  return name;
}

// Between 1 and 200 bytes, each depending on i and its position.
inline std::string StreamData(unsigned i) {
  std::string data(1 + i % 200, '\0');
  for (std::size_t at = 0; at < data.size(); ++at)
    data[at] = static_cast<char>((i * 131 + at * 7) & 0xFF);
  return data;
}

inline std::string FillValueName(const std::string& tag, unsigned i) {
  return tag + "-" + std::to_string(i);
}

// A string with its terminator counted.
inline std::string FillValueData(const std::string& tag, unsigned i) {
  return tag + " wrote " + std::to_string(i) + std::string(1, '\0');
}

}  // namespace regkey::test
