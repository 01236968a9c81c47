// How an import changes the registry, behind one function: in one
// transaction where the registry offers one, else change by change with undo.
#pragma once

#include <string>

#include "tools/qreg/src/regfile/reg_file.h"

namespace qreg {

// Applies a checked file's changes in file order, all or nothing: when the
// registry refuses a change, nothing of the file stays applied. Prints the
// outcome (source names the file in messages); returns the exit code.
int ApplyRegFile(const RegFile& file, const std::string& source);

}  // namespace qreg
