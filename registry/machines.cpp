#include "registry/machines.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>

#include "registry/hive.h"
#include "registry/machine_map.h"

namespace regkey::registry {
namespace {

constexpr const char* kDefaultMachineStore = "/var/lib/regkey/machine.db";
constexpr std::int64_t kCurrentUser = 2;

struct Machines {
  std::mutex mutex;
  bool decided = false;
  bool single = false;            // REGKEY_STORE serves every root
  std::shared_ptr<Hive> user;     // HKEY_CURRENT_USER (every root when single)
  std::shared_ptr<Hive> machine;  // the other roots
  bool machineAwaited = false;    // `machine` stands in for a store not made yet
  std::map<std::string, std::shared_ptr<Hive>> declared;  // by machine key
  std::map<std::string, std::weak_ptr<Hive>> open;        // by location
  bool mapRead = false;
  MachineMap map;
};

Machines& All() {
  static Machines* machines = new Machines;  // outlives static destructors
  return *machines;
}

// Creates each missing folder of `path`'s parent with `mode`.
void MakeParentFolders(const std::string& path, mode_t mode) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    const std::string folder = path.substr(0, slash);
    if (::mkdir(folder.c_str(), mode) != 0) continue;
    // Its mode whatever the umask, on the folder made (never through a link
    // put in its place meanwhile).
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    ::fchmod(fd, mode);
    ::close(fd);
  }
}

// The runtime folder ($XDG_RUNTIME_DIR), when it is this user's own and
// mode 0700.
bool PrivateRuntimeFolder(const char* folder) {
  struct stat info {};
  return folder != nullptr && *folder == '/' && ::lstat(folder, &info) == 0 &&
         S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 0777) == 0700;
}

std::string OwnName() {
  char own[MAX_COMPUTERNAME_LENGTH + 256] = {};
  DWORD size = sizeof own;
  return GetComputerNameA(own, &size) ? MachineKey(own) : std::string();
}

const MachineMap& MapLocked(Machines& machines) {
  if (!machines.mapRead) {
    machines.mapRead = true;
    const char* named = std::getenv("REGKEY_MACHINES");
    ReadMachineMap(MachineMapPath(), named != nullptr && *named != '\0', machines.map);
    for (const std::string& problem : machines.map.problems)
      std::fprintf(stderr, "regkey: %s\n", problem.c_str());
  }
  return machines.map;
}

// One hive per store location in the process, so that every handle on a
// store shares its cache; private in-memory stores are each their own.
long OpenLocked(Machines& machines, const std::string& location, StoreAccess access,
                std::shared_ptr<Hive>& hive) {
  const bool privateStore = location == ":memory:";
  if (!privateStore) {
    if (auto it = machines.open.find(location); it != machines.open.end()) {
      if ((hive = it->second.lock())) return ERROR_SUCCESS;
    }
  }
  if (const long error = Hive::Open(location, access, hive)) return error;
  if (!privateStore) machines.open[location] = hive;
  return ERROR_SUCCESS;
}

const char* StoreVariable() {
  const char* store = std::getenv("REGKEY_STORE");
  return store != nullptr && *store != '\0' ? store : nullptr;
}

std::string MachineStoreLocked(Machines& machines) {
  const MachineMap& map = MapLocked(machines);
  const auto own = map.stores.find(OwnName());
  return own != map.stores.end() ? own->second : kDefaultMachineStore;
}

long UserHiveLocked(Machines& machines, std::shared_ptr<Hive>& hive) {
  if (!machines.user) {
    // A store that can't be opened now is tried again at the next call.
    const std::string path = LocalStorePath();
    if (path.empty()) return ERROR_ENVVAR_NOT_FOUND;
    if (path != ":memory:" && path.front() == '/') MakeParentFolders(path, 0700);
    if (const long error = OpenLocked(machines, path, StoreAccess::kOwner, machines.user))
      return error;
  }
  hive = machines.user;
  return ERROR_SUCCESS;
}

// The machine store: root creates the default one (and its folders) readable
// by all; other users read it, and until it exists see empty trees, without
// a private store of their own that would hide the shared one.
long MachineHiveLocked(Machines& machines, std::shared_ptr<Hive>& hive) {
  if (machines.machine && !machines.machineAwaited) {
    hive = machines.machine;
    return ERROR_SUCCESS;
  }
  const std::string location = MachineStoreLocked(machines);
  struct stat info {};
  const bool missing = location.front() == '/' && ::lstat(location.c_str(), &info) != 0;
  if (missing && ::geteuid() != 0) {
    if (!machines.machine) {
      if (const long error = Hive::Open(":memory:", StoreAccess::kReadOnly, machines.machine))
        return error;
      machines.machineAwaited = true;
    }
    hive = machines.machine;
    return ERROR_SUCCESS;
  }
  if (missing && location == kDefaultMachineStore) MakeParentFolders(location, 0755);
  std::shared_ptr<Hive> opened;
  if (const long error = OpenLocked(machines, location, StoreAccess::kAllUsers, opened))
    return error;
  machines.machine = std::move(opened);
  machines.machineAwaited = false;
  hive = machines.machine;
  return ERROR_SUCCESS;
}

}  // namespace

std::string LocalStorePath() {
  if (const char* store = StoreVariable()) return store;
  std::string folder;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data == '/') {
    folder = data;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
    folder = std::string(home) + "/.local/share";
  } else if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); PrivateRuntimeFolder(runtime)) {
    folder = runtime;
  } else {
    return std::string();
  }
  return folder + "/regkey/registry.db";
}

std::string MachineStoreLocation() {
  Machines& machines = All();
  std::lock_guard<std::mutex> lock(machines.mutex);
  return MachineStoreLocked(machines);
}

std::vector<std::string> MachineMapProblems() {
  Machines& machines = All();
  std::lock_guard<std::mutex> lock(machines.mutex);
  return MapLocked(machines).problems;
}

long LocalHive(std::int64_t root, std::shared_ptr<Hive>& hive) {
  Machines& machines = All();
  std::lock_guard<std::mutex> lock(machines.mutex);
  if (!machines.decided) {
    machines.single = StoreVariable() != nullptr;
    machines.decided = true;
  }
  if (machines.single || root == kCurrentUser) return UserHiveLocked(machines, hive);
  return MachineHiveLocked(machines, hive);
}

long DeclareMachine(const std::string& name, const std::string& storePath) {
  std::shared_ptr<Hive> hive;
  Machines& machines = All();
  std::lock_guard<std::mutex> lock(machines.mutex);
  if (const long error = OpenLocked(machines, storePath, StoreAccess::kOwner, hive)) return error;
  machines.declared[MachineKey(name)] = std::move(hive);
  return ERROR_SUCCESS;
}

void ForgetMachine(const std::string& name) {
  std::shared_ptr<Hive> last;  // released outside the lock
  Machines& machines = All();
  std::lock_guard<std::mutex> lock(machines.mutex);
  auto it = machines.declared.find(MachineKey(name));
  if (it == machines.declared.end()) return;
  last = std::move(it->second);
  machines.declared.erase(it);
}

std::string MappedMachineStore(const std::string& name) {
  const std::string key = MachineKey(name);
  Machines& machines = All();
  std::lock_guard<std::mutex> lock(machines.mutex);
  if (machines.declared.count(key) != 0 || key == OwnName()) return std::string();
  const MachineMap& map = MapLocked(machines);
  const auto entry = map.stores.find(key);
  return entry == map.stores.end() ? std::string() : entry->second;
}

long MachineHive(const std::string& name, std::int64_t root, std::shared_ptr<Hive>& hive) {
  const std::string key = MachineKey(name);
  {
    Machines& machines = All();
    std::lock_guard<std::mutex> lock(machines.mutex);
    if (auto it = machines.declared.find(key); it != machines.declared.end()) {
      hive = it->second;
      return ERROR_SUCCESS;
    }
    if (key != OwnName()) {
      const MachineMap& map = MapLocked(machines);
      const auto entry = map.stores.find(key);
      if (entry == map.stores.end()) return ERROR_BAD_NETPATH;
      return OpenLocked(machines, entry->second, StoreAccess::kOwner, hive);
    }
  }
  return LocalHive(root, hive);
}

}  // namespace regkey::registry
