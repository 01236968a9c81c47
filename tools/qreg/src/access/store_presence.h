// Whether the embedded store that serves a key exists, so that commands that
// only read never create one (the embedded registry makes a missing store on
// first use). Windows' registry always exists.
#pragma once

#include <string>

#include "tools/qreg/src/cli/key_path.h"

namespace qreg {

// The path of the missing store file that would serve key (on this machine
// or on another one of the machine map); empty when it exists, when it is no
// file (":memory:", a database URI), for a machine the map does not name,
// and on Windows. *mapped tells whether the machine map named it.
std::string MissingStore(const KeyPath& key, bool* mapped = nullptr);

}  // namespace qreg
