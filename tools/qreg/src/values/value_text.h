// Value types and data as reg prints and takes them on the command line.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>
#include <windows.h>

namespace qreg {

// REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD (and its endian forms),
// REG_QWORD, REG_BINARY, REG_NONE, in any case.
std::optional<DWORD> ParseTypeName(std::string_view name);
// The type's name; "0x..." for codes without one.
std::string TypeName(DWORD type);
// The data as query prints it: strings as they are, REG_MULTI_SZ joined with
// separator ("\0" by default), numbers as 0x..., everything else (and misfit
// sizes) as hex digits.
std::string FormatData(DWORD type, std::string_view data, std::string_view separator = "\\0");
// The strings of REG_MULTI_SZ data, without the empty ones at its end.
std::vector<std::string> MultiStrings(std::string_view data);
// The bytes that add stores for /d TEXT (nullopt text: /d not given).
// separator is the /s character for REG_MULTI_SZ, "\0" by default.
std::optional<std::string> ParseData(DWORD type, const std::string* text,
                                     const std::string* separator, std::string& error);

}  // namespace qreg
