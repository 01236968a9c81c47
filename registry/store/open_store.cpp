// Chooses the store a location names.
#include "registry/store/sqlite/sqlite_store.h"
#include "registry/store/store.h"

#include <windows.h>

namespace regkey::registry {

long OpenStore(const std::string& location, StoreAccess access, std::unique_ptr<Store>& store) {
  std::unique_ptr<SqliteStore> file;
  if (const long error = SqliteStore::Open(location, access, file)) return error;
  store = std::move(file);
  return ERROR_SUCCESS;
}

}  // namespace regkey::registry
