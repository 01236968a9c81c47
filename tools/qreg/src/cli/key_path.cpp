#include "cli/key_path.h"

#include "cli/text.h"

namespace qreg {
namespace {

struct Root {
  const char* shortName;
  const char* longName;
  HKEY handle;
};

const Root kRoots[] = {
    {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKU", "HKEY_USERS", HKEY_USERS},
    {"HKCC", "HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

}  // namespace

const char* RootName(HKEY root) {
  for (const Root& r : kRoots)
    if (r.handle == root) return r.longName;
  return nullptr;
}

std::optional<HKEY> ParseRoot(std::string_view name) {
  for (const Root& r : kRoots)
    if (EqualsNoCase(name, r.shortName) || EqualsNoCase(name, r.longName)) return r.handle;
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
