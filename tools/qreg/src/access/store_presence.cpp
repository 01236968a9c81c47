#include "tools/qreg/src/access/store_presence.h"

#ifndef _WIN32
#include <cstdlib>
#include <sys/stat.h>

#include "registry/machines.h"
#include "tools/qreg/src/cli/text.h"
#endif

namespace qreg {
#ifndef _WIN32
namespace {

bool OwnName(const std::string& machine) {
  char own[MAX_COMPUTERNAME_LENGTH + 256] = {};
  DWORD size = sizeof own;
  return GetComputerNameA(own, &size) && EqualsNoCase(machine, own);
}

// The store that serves key: another machine's from the machine map (none
// for an unknown name, which fails in the registry call); this machine's,
// by its own name too, as the embedded registry chooses it.
std::string StorePath(const KeyPath& key, bool& mapped) {
  if (!key.machine.empty()) {
    std::string store = regkey::registry::MappedMachineStore(key.machine);
    mapped = !store.empty();
    if (mapped || !OwnName(key.machine)) return store;
  }
  const char* variable = std::getenv("REGKEY_STORE");
  const bool single = variable != nullptr && *variable != '\0';
  return single || key.root == HKEY_CURRENT_USER ? regkey::registry::LocalStorePath()
                                                 : regkey::registry::MachineStoreLocation();
}

}  // namespace
#endif

std::string MissingStore(const KeyPath& key, bool* mapped) {
  bool fromMap = false;
  if (mapped != nullptr) *mapped = false;
#ifdef _WIN32
  (void)key;
  (void)fromMap;
  return std::string();
#else
  const std::string path = StorePath(key, fromMap);
  if (mapped != nullptr) *mapped = fromMap;
  if (path.empty() || path == ":memory:" || path.find("://") != std::string::npos)
    return std::string();
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? std::string() : path;
#endif
}

}  // namespace qreg
