#include "access/store_presence.h"

#ifndef _WIN32
#include <sys/stat.h>

#include <cstdlib>

#include "registry/machines.h"
#endif

namespace qreg {

std::string MissingStore(const KeyPath& key) {
#ifdef _WIN32
  (void)key;
  return std::string();
#else
  if (!key.machine.empty()) return std::string();
  const char* variable = std::getenv("REGKEY_STORE");
  const bool single = variable != nullptr && *variable != '\0';
  const std::string path = single || key.root == HKEY_CURRENT_USER
                               ? regkey::registry::LocalStorePath()
                               : regkey::registry::MachineStoreLocation();
  if (path.empty() || path == ":memory:" || path.find("://") != std::string::npos)
    return std::string();
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? std::string() : path;
#endif
}

}  // namespace qreg
