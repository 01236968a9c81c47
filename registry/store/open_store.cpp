// Chooses the store a location names.
#include "registry/store/sqlite/sqlite_store.h"
#include "registry/store/store.h"
#ifdef REGKEY_WITH_POSTGRES
#include "registry/store/postgres/pg_store.h"
#endif

#include <windows.h>

namespace regkey::registry {

bool IsPostgresLocation(const std::string& location) {
  return location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0;
}

long OpenStore(const std::string& location, StoreAccess access, std::unique_ptr<Store>& store) {
  if (IsPostgresLocation(location)) {
#ifdef REGKEY_WITH_POSTGRES
    std::unique_ptr<PgStore> remote;
    if (const long error = PgStore::Open(location, access, remote)) return error;
    store = std::move(remote);
    return ERROR_SUCCESS;
#else
    return ERROR_NOT_SUPPORTED;
#endif
  }
  std::unique_ptr<SqliteStore> file;
  if (const long error = SqliteStore::Open(location, access, file)) return error;
  store = std::move(file);
  return ERROR_SUCCESS;
}

}  // namespace regkey::registry
