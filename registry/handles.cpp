#include "registry/handles.h"

#include <new>

#include "platform/handle_table.h"

namespace regkey::registry {
namespace {

using KeyTable = platform::HandleTable<OpenKey>;

KeyTable& Table() {
  static KeyTable* table = new KeyTable;  // outlives static destructors
  return *table;
}

}  // namespace

HKEY AddHandle(OpenKey key) {
  try {
    return reinterpret_cast<HKEY>(Table().Add(std::move(key)));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

bool FindHandle(HKEY handle, OpenKey& key) {
  return Table().Find(reinterpret_cast<std::uintptr_t>(handle), key);
}

bool RemoveHandle(HKEY handle) { return Table().Remove(reinterpret_cast<std::uintptr_t>(handle)); }

REGSAM MapAccess(REGSAM access) {
  REGSAM mapped =
      access & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | MAXIMUM_ALLOWED);
  if (access & GENERIC_READ) mapped |= KEY_READ;
  if (access & GENERIC_WRITE) mapped |= KEY_WRITE;
  if (access & GENERIC_EXECUTE) mapped |= KEY_EXECUTE;
  if (access & (GENERIC_ALL | MAXIMUM_ALLOWED)) mapped |= KEY_ALL_ACCESS;
  return mapped;
}

}  // namespace regkey::registry
