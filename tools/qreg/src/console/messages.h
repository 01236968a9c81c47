// Windows' message texts for the Win32 codes the tool can meet.
#pragma once

#include <string>
#include <windows.h>

namespace qreg {

std::string SystemMessage(LONG code);

}  // namespace qreg
