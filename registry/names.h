// Key and value names: compared without regard to case (ASCII letters only),
// kept with the case they were created with.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace regkey::registry {

inline constexpr std::size_t kMaxKeyNameLength = 255;      // one level of a key path
inline constexpr std::size_t kMaxValueNameLength = 16383;  // characters
inline constexpr std::size_t kMaxValueSize = 16u << 20;    // bytes of one value
inline constexpr std::size_t kMaxKeyDepth = 512;           // levels below a root

// The form names are compared in: ASCII letters upper-cased, as Windows
// orders subkeys.
inline std::string Fold(std::string_view name) {
  std::string folded(name);
  for (char& c : folded)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return folded;
}

// The last level of a stored path (after its last backslash), and the path
// of its parent (before it; empty for a root).
inline std::string_view LastLevel(std::string_view path) {
  const std::size_t end = path.rfind('\\');
  return end == std::string_view::npos ? path : path.substr(end + 1);
}
inline std::string_view ParentPath(std::string_view path) {
  const std::size_t end = path.rfind('\\');
  return end == std::string_view::npos ? std::string_view() : path.substr(0, end);
}

// Splits a key path into its levels. Doubled and trailing backslashes
// separate no further level. Returns 0, ERROR_BAD_PATHNAME for a path that
// begins with a backslash, or ERROR_INVALID_PARAMETER for an over-long level.
long SplitPath(std::string_view path, std::vector<std::string_view>& levels);

// 0, or ERROR_FILENAME_EXCED_RANGE when `levels` more levels below the key at
// `keyPath` (a stored path: its root, then one backslash per level) would go
// deeper than kMaxKeyDepth, as Windows refuses a key nested too deep.
long CheckDepth(std::string_view keyPath, std::size_t levels);

}  // namespace regkey::registry
