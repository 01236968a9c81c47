// Whether the embedded store that serves a key exists, so that commands that
// only read never create one (the embedded registry makes a missing store on
// first use). Windows' registry always exists.
#pragma once

#include <string>

#include "cli/key_path.h"

namespace qreg {

// The path of the missing store file that would serve key; empty when it
// exists, when it is no file (":memory:", a database URI), for another
// machine's key, and on Windows.
std::string MissingStore(const KeyPath& key);

}  // namespace qreg
