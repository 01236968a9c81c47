#include "registry/names.h"

#include <algorithm>
#include <windows.h>

namespace regkey::registry {

// A path relative to a key may not start with a backslash; doubled and
// trailing backslashes separate no further level (as Windows and Wine parse).
long SplitPath(std::string_view path, std::vector<std::string_view>& levels) {
  levels.clear();
  if (!path.empty() && path.front() == '\\') return ERROR_BAD_PATHNAME;
  std::size_t start = 0;
  while (start < path.size()) {
    const std::size_t end = std::min(path.find('\\', start), path.size());
    const std::string_view level = path.substr(start, end - start);
    if (level.size() > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
    if (!level.empty()) levels.push_back(level);
    start = end + 1;
  }
  return ERROR_SUCCESS;
}

long CheckDepth(std::string_view keyPath, std::size_t levels) {
  const auto depth = static_cast<std::size_t>(std::count(keyPath.begin(), keyPath.end(), '\\'));
  return depth + levels > kMaxKeyDepth ? ERROR_FILENAME_EXCED_RANGE : ERROR_SUCCESS;
}

}  // namespace regkey::registry
