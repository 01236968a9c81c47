// The predefined root keys: the one table that the key class, the embedded
// registry, its store and the command-line tool derive their own from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <windows.h>

namespace regkey::platform {

struct RootKey {
  std::uint32_t value;    // the handle's value: HKEY_CLASSES_ROOT is 0x80000000
  const char* name;       // "HKEY_CLASSES_ROOT"
  const char* shortName;  // "HKCR", also the tree's folded path; null: no tree
  std::int64_t tree;      // the embedded store's key id of the tree; 0: none
};

// In the order of the key class's public root-key name table.
// clang-format off
inline constexpr RootKey kRootKeys[] = {
    {0x80000000, "HKEY_CLASSES_ROOT",     "HKCR",  1},
    {0x80000005, "HKEY_CURRENT_CONFIG",   "HKCC",  5},
    {0x80000001, "HKEY_CURRENT_USER",     "HKCU",  2},
    {0x80000002, "HKEY_LOCAL_MACHINE",    "HKLM",  3},
    {0x80000003, "HKEY_USERS",            "HKU",   4},
    {0x80000004, "HKEY_PERFORMANCE_DATA", nullptr, 0},
    {0x80000006, "HKEY_DYN_DATA",         nullptr, 0},
};
// clang-format on
inline constexpr std::size_t kRootKeyCount = sizeof kRootKeys / sizeof kRootKeys[0];

// The handle, sign-extended as <windows.h> defines the predefined keys.
inline HKEY RootHandle(const RootKey& root) {
  return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(root.value)));
}

// The entry of a predefined handle; null for any other handle.
inline const RootKey* FindRoot(HKEY handle) {
  for (const RootKey& root : kRootKeys)
    if (RootHandle(root) == handle) return &root;
  return nullptr;
}

}  // namespace regkey::platform
