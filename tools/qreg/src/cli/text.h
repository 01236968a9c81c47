// Small text helpers shared by the parsers.
#pragma once

#include <string>
#include <string_view>

namespace qreg {

bool EqualsNoCase(std::string_view a, std::string_view b);
std::string Lower(std::string_view text);
std::string_view Trim(std::string_view text);
// Whether the whole text matches pattern, where * stands for any run of
// characters and ? for any one; ASCII letters compare without regard to case
// unless caseSensitive.
bool Matches(std::string_view pattern, std::string_view text, bool caseSensitive);
// -1 for a character that is not a hexadecimal digit.
int HexDigit(char c);

}  // namespace qreg
