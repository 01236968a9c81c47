// Key names as the tool takes them: [\\Machine\]ROOT[\Path], ROOT short
// (HKLM) or long (HKEY_LOCAL_MACHINE), in any case.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <windows.h>

namespace qreg {

struct KeyPath {
  std::string machine;  // without the leading backslashes; empty: this machine
  HKEY root = nullptr;
  std::string path;  // below the root; no leading or trailing backslash

  // The name as reg prints it: [\\Machine\]HKEY_...[\Path].
  std::string FullName() const;
  // This key with a relative path appended.
  KeyPath Child(std::string_view relative) const;
};

// The long name of a predefined root, or nullptr.
const char* RootName(HKEY root);
std::optional<HKEY> ParseRoot(std::string_view name);
// nullopt for an unknown root, or a remote root other than HKLM and HKU.
std::optional<KeyPath> ParseKeyPath(std::string_view text);

}  // namespace qreg
