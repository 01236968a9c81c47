// Windows' message texts for the Win32 codes the tool can meet.
#pragma once

#include <windows.h>

#include <string>

namespace qreg {

std::string SystemMessage(LONG code);

}  // namespace qreg
