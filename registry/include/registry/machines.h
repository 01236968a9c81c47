// The machines whose registries RegConnectRegistryA reaches: this machine
// (by its own name), the machines of the machine map (machine_map.h), and
// any that a program declares; and which store serves each root of this
// machine.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace regkey::registry {

class Hive;

// Declares (or redeclares) a machine named `name` whose registry lives in
// the store `storePath` (a file, ":memory:" for a private one, or a
// postgresql:// URI). A declaration wins over the machine map. Returns 0 or
// a Win32 code when the store can't be opened.
long DeclareMachine(const std::string& name, const std::string& storePath);
// Forgets a declared machine; handles already open under it stay valid.
void ForgetMachine(const std::string& name);

// The registry serving the root key `root` (1 HKCR ... 5 HKCC) of this
// machine: with REGKEY_STORE set, that store for every root; otherwise
// HKEY_CURRENT_USER from the user's own store and the other roots from the
// machine store shared by all users of this host.
long LocalHive(std::int64_t root, std::shared_ptr<Hive>& hive);
// The registry serving `root` on the machine named `name` (with or without
// its leading backslashes; this machine's own name included, compared
// without regard to case); ERROR_BAD_NETPATH for an unknown one.
long MachineHive(const std::string& name, std::int64_t root, std::shared_ptr<Hive>& hive);

// The user's own store: $REGKEY_STORE, else under $XDG_DATA_HOME, else
// under $HOME/.local/share, else (no home) under $XDG_RUNTIME_DIR when that
// is a folder of this user's alone (0700); empty when none of them gives
// one (the calls then give ERROR_ENVVAR_NOT_FOUND): no shared folder is
// ever a default.
std::string LocalStorePath();
// This host's machine store: the machine map's entry for this host's own
// name, else /var/lib/regkey/machine.db.
std::string MachineStoreLocation();
// The store that the machine map names for the machine `name` (other than
// this machine's own name, and unless a declaration wins); empty when none.
std::string MappedMachineStore(const std::string& name);
// What is wrong in the machine map, "FILE:LINE: problem" each (also written
// to standard error once, when the map is first read).
std::vector<std::string> MachineMapProblems();

}  // namespace regkey::registry
