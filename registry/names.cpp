#include "registry/names.h"

#include <windows.h>

namespace regkey::registry {

long SplitPath(std::string_view path, std::vector<std::string_view>& levels) {
  levels.clear();
  if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  if (path.empty()) return ERROR_SUCCESS;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = path.find('\\', start);
    const std::string_view level =
        path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (level.empty()) return ERROR_BAD_PATHNAME;
    if (level.size() > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
    levels.push_back(level);
    if (end == std::string_view::npos) return ERROR_SUCCESS;
    start = end + 1;
  }
}

}  // namespace regkey::registry
