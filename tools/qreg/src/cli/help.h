// The usage texts: the tool's, and each command's own, laid out as reg's.
#pragma once

#include <string_view>

namespace qreg {

const char* GeneralHelp();
// nullptr for a word that names no command.
const char* CommandHelp(std::string_view command);

}  // namespace qreg
