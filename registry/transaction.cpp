#include "registry/transaction.h"

#include <windows.h>

#include "registry/hive.h"
#include "registry/machines.h"

namespace regkey::registry {
namespace {

// Each retry follows a store that grew: a few cover any file.
constexpr int kAttempts = 8;

// The store serving every one of `roots`; null when they differ.
long CommonHive(const std::string& machine, const std::vector<HKEY>& roots,
                std::shared_ptr<Hive>& hive) {
  const HKEY predefined[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS,
                             HKEY_CURRENT_CONFIG};
  hive.reset();
  for (const HKEY root : roots) {
    std::int64_t id = 0;
    for (std::int64_t i = 0; i < 5; ++i)
      if (predefined[i] == root) id = i + 1;
    if (id == 0) return ERROR_NOT_SUPPORTED;
    std::shared_ptr<Hive> serving;
    if (const long error =
            machine.empty() ? LocalHive(id, serving) : MachineHive(machine, id, serving))
      return error;
    if (hive && hive != serving) {
      hive.reset();
      return ERROR_NOT_SUPPORTED;
    }
    hive = std::move(serving);
  }
  return hive ? ERROR_SUCCESS : ERROR_NOT_SUPPORTED;
}

}  // namespace

long RunInOneTransaction(const std::vector<HKEY>& roots, const std::function<long()>& changes) {
  return RunInOneTransaction(std::string(), roots, changes);
}

long RunInOneTransaction(const std::string& machine, const std::vector<HKEY>& roots,
                         const std::function<long()>& changes) {
  // Holding the hive keeps it the one every connection to the machine gets.
  std::shared_ptr<Hive> hive;
  if (const long error = CommonHive(machine, roots, hive)) return error;
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
