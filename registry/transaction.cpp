#include "registry/transaction.h"

#include "registry/hive.h"
#include "registry/machines.h"

#include <windows.h>

namespace regkey::registry {
namespace {

// Each retry follows a store that grew: a few cover any file.
constexpr int kAttempts = 8;

}  // namespace

long RunInOneTransaction(const std::function<long()>& changes) {
  std::shared_ptr<Hive> hive;
  if (const long error = LocalHive(hive)) return error;
  for (int attempt = 0;; ++attempt) {
    if (const long error = hive->BeginBatch()) return error;
    long error = ERROR_SUCCESS;
    try {
      error = changes();
    } catch (...) {
      hive->EndBatch(false);
      throw;
    }
    const long ended = hive->EndBatch(error == ERROR_SUCCESS);
    if (ended == ERROR_RETRY && attempt + 1 < kAttempts) continue;
    return error ? error : ended;
  }
}

}  // namespace regkey::registry
