#include "registry/machines.h"

#include "registry/hive.h"
#include "registry/names.h"

#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>

#include <cstdlib>
#include <map>
#include <mutex>

namespace regkey::registry {
namespace {

struct Machines {
  std::mutex mutex;
  std::shared_ptr<Hive> local;
  std::map<std::string, std::shared_ptr<Hive>> declared;  // by folded name
};

Machines& All() {
  static Machines* machines = new Machines;  // outlives static destructors
  return *machines;
}

// Creates each missing folder of `path`'s parent, for its owner alone.
void MakeParentFolders(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    ::mkdir(path.substr(0, slash).c_str(), 0700);
  }
}

// The runtime folder, when this user alone may enter it, as its
// specification demands.
bool PrivateRuntimeFolder(const char* folder) {
  struct stat info {};
  return folder != nullptr && *folder == '/' && ::lstat(folder, &info) == 0 &&
         S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 0777) == 0700;
}

}  // namespace

long LocalStorePath(std::string& path) {
  if (const char* store = std::getenv("REGKEY_STORE"); store != nullptr && *store != '\0') {
    path = store;
    return ERROR_SUCCESS;
  }
  std::string folder;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data == '/') {
    folder = data;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
    folder = std::string(home) + "/.local/share";
  } else if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); PrivateRuntimeFolder(runtime)) {
    folder = runtime;
  } else {
    return ERROR_ENVVAR_NOT_FOUND;
  }
  path = folder + "/regkey/registry.db";
  return ERROR_SUCCESS;
}

long LocalHive(std::shared_ptr<Hive>& hive) {
  Machines& machines = All();
  std::lock_guard<std::mutex> lock(machines.mutex);
  if (!machines.local) {
    // A store that can't be opened now is tried again at the next call.
    std::string path;
    if (const long error = LocalStorePath(path)) return error;
    if (path != ":memory:") MakeParentFolders(path);
    if (const long error = Hive::Open(path, machines.local)) return error;
  }
  hive = machines.local;
  return ERROR_SUCCESS;
}

long DeclareMachine(const std::string& name, const std::string& storePath) {
  std::shared_ptr<Hive> hive;
  if (const long error = Hive::Open(storePath, hive)) return error;
  Machines& machines = All();
  std::lock_guard<std::mutex> lock(machines.mutex);
  machines.declared[Fold(name)] = std::move(hive);
  return ERROR_SUCCESS;
}

void ForgetMachine(const std::string& name) {
  std::shared_ptr<Hive> last;  // released outside the lock
  Machines& machines = All();
  std::lock_guard<std::mutex> lock(machines.mutex);
  auto it = machines.declared.find(Fold(name));
  if (it == machines.declared.end()) return;
  last = std::move(it->second);
  machines.declared.erase(it);
}

long MachineHive(const std::string& name, std::shared_ptr<Hive>& hive) {
  {
    Machines& machines = All();
    std::lock_guard<std::mutex> lock(machines.mutex);
    auto it = machines.declared.find(Fold(name));
    if (it != machines.declared.end()) {
      hive = it->second;
      return ERROR_SUCCESS;
    }
  }
  char own[MAX_COMPUTERNAME_LENGTH + 256] = {};
  DWORD size = sizeof own;
  if (GetComputerNameA(own, &size) && Fold(name) == Fold(own)) return LocalHive(hive);
  return ERROR_BAD_NETPATH;
}

}  // namespace regkey::registry
