// How an import changes the registry, behind one function so that a registry
// able to apply a whole file in one transaction can take its place.
#pragma once

#include <string>

#include "regfile/reg_file.h"

namespace qreg {

// Applies a checked file's changes in file order, all or nothing: when the
// registry refuses a change, the changes already made are undone. Prints the
// outcome (source names the file in messages); returns the exit code.
int ApplyRegFile(const RegFile& file, const std::string& source);

}  // namespace qreg
