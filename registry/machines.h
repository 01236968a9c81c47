// The machines whose registries RegConnectRegistryA reaches: this machine
// (by its own name) and any that a program declares, each backed by a store
// file of its own.
#pragma once

#include <memory>
#include <string>

namespace regkey::registry {

class Hive;

// Declares (or redeclares) a machine named `name` whose registry lives in
// the store file `storePath` (":memory:" for a private one). Returns 0 or a
// Win32 code when the store can't be opened.
long DeclareMachine(const std::string& name, const std::string& storePath);
// Forgets a declared machine; handles already open under it stay valid.
void ForgetMachine(const std::string& name);

// This machine's registry: the store that REGKEY_STORE names, else the
// default store under the user's data folder.
long LocalHive(std::shared_ptr<Hive>& hive);
// The registry of the machine named `name` (this one's own name included,
// compared without regard to case); ERROR_BAD_NETPATH for an unknown one.
long MachineHive(const std::string& name, std::shared_ptr<Hive>& hive);

// The store file this process uses for its own registry: $REGKEY_STORE,
// else under $XDG_DATA_HOME, else under $HOME/.local/share, else (no home)
// under $XDG_RUNTIME_DIR when that is a folder of this user's alone (0700).
// ERROR_ENVVAR_NOT_FOUND when none of them gives one: no shared folder is
// ever a default.
long LocalStorePath(std::string& path);

}  // namespace regkey::registry
