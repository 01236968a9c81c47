// The machine map: which store serves the registry of each named machine.
// One line per machine, a name and a store, separated by blanks:
//
//   # comment
//   buildhost   /srv/regkey/buildhost.db
//   scratch     :memory:
//   office      postgresql://regkey@db.example.org/registry?sslmode=verify-full
//
// The store is an absolute file path, ":memory:" or a libpq connection URI
// (postgresql:// or postgres://). Names compare without regard to case; a
// name may be written with its two leading backslashes. A malformed line is
// reported with the file and line and skipped; the rest of the map serves.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace regkey::registry {

struct MachineMap {
  std::string file;                           // where it was read from; empty: none
  std::map<std::string, std::string> stores;  // folded name -> store
  std::vector<std::string> problems;          // "FILE:LINE: what is wrong"
};

// Parses map text read from `file`. `othersMayRead`: the file is readable by
// users other than its owner, so a password in it is refused.
void ParseMachineMap(std::string_view text, const std::string& file, bool othersMayRead,
                     MachineMap& map);

// The map file this process uses: $REGKEY_MACHINES, else
// $XDG_CONFIG_HOME/regkey/machines.conf (or ~/.config/regkey/machines.conf),
// else /etc/regkey/machines.conf; the first that is set (the variable) or
// exists (the files).
std::string MachineMapPath();

// Reads and parses the map at `path`, which must be a regular file (not a
// link) owned by this user or by root and writable by its owner alone. A
// missing file is an empty map (a problem only when `required`).
void ReadMachineMap(const std::string& path, bool required, MachineMap& map);

// A machine name as the map and RegConnectRegistryA compare it: without its
// leading backslashes, ASCII letters upper-cased.
std::string MachineKey(std::string_view name);

}  // namespace regkey::registry
