// Small text helpers shared by the parsers.
#pragma once

#include <string>
#include <string_view>

namespace qreg {

bool EqualsNoCase(std::string_view a, std::string_view b);
std::string Lower(std::string_view text);
std::string_view Trim(std::string_view text);
// -1 for a character that is not a hexadecimal digit.
int HexDigit(char c);

}  // namespace qreg
