// Open key handles: each names a key of one machine's registry and carries
// the access it was opened with. Values come from platform/handle_table.h:
// never reused, never an event's or a predefined root's.
#pragma once

#include <cstdint>
#include <memory>
#include <windows.h>

#include "registry/hive.h"

namespace regkey::registry {

struct OpenKey {
  std::shared_ptr<Hive> hive;
  KeyId key = 0;
  REGSAM access = 0;
};

// Adds a handle; null when out of memory or out of handle values.
HKEY AddHandle(OpenKey key);
// The key behind a handle; false when the handle is not open.
bool FindHandle(HKEY handle, OpenKey& key);
// Closes a handle; false when it was not open.
bool RemoveHandle(HKEY handle);

// The rights an access mask grants, generic rights mapped to key rights.
REGSAM MapAccess(REGSAM access);

}  // namespace regkey::registry
