#include "tools/qreg/src/cli/key_path.h"

#include "platform/root_keys.h"
#include "tools/qreg/src/cli/text.h"

namespace qreg {
namespace {

using regkey::platform::kRootKeys;
using regkey::platform::RootHandle;
using regkey::platform::RootKey;

// The roots the tool names: those that hold a tree.
bool Named(const RootKey& root) { return root.shortName != nullptr; }

}  // namespace

const char* RootName(HKEY root) {
  const RootKey* entry = regkey::platform::FindRoot(root);
  return entry != nullptr && Named(*entry) ? entry->name : nullptr;
}

std::optional<HKEY> ParseRoot(std::string_view name) {
  for (const RootKey& root : kRootKeys)
    if (Named(root) && (EqualsNoCase(name, root.shortName) || EqualsNoCase(name, root.name)))
      return RootHandle(root);
  return std::nullopt;
}

std::optional<KeyPath> ParseKeyPath(std::string_view text) {
  KeyPath key;
  if (text.starts_with("\\\\")) {
    text.remove_prefix(2);
    const size_t end = text.find('\\');
    if (end == 0 || end == std::string_view::npos) return std::nullopt;
    key.machine = std::string(text.substr(0, end));
    text.remove_prefix(end + 1);
  }
  const size_t end = text.find('\\');
  const auto root = ParseRoot(text.substr(0, end));
  if (!root) return std::nullopt;
  if (!key.machine.empty() && *root != HKEY_LOCAL_MACHINE && *root != HKEY_USERS)
    return std::nullopt;
  key.root = *root;
  if (end != std::string_view::npos) {
    std::string_view path = text.substr(end + 1);
    while (path.ends_with('\\')) path.remove_suffix(1);
    if (path.starts_with('\\')) return std::nullopt;
    key.path = std::string(path);
  }
  return key;
}

std::string KeyPath::FullName() const {
  std::string name;
  if (!machine.empty()) name = "\\\\" + machine + "\\";
  name += RootName(root) != nullptr ? RootName(root) : "?";
  if (!path.empty()) name += "\\" + path;
  return name;
}

KeyPath KeyPath::Child(std::string_view relative) const {
  KeyPath child = *this;
  if (!relative.empty())
    child.path = path.empty() ? std::string(relative) : path + "\\" + std::string(relative);
  return child;
}

}  // namespace qreg
