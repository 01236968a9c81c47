// JSON for scripts: one object per line, texts in UTF-8.
#pragma once

#include <string>
#include <string_view>

#include "tools/qreg/src/values/value.h"

namespace qreg {

// A quoted JSON string of narrow text (ANSI on Windows, UTF-8 elsewhere;
// bytes that are not UTF-8 read as Latin-1).
std::string JsonString(std::string_view narrow);
// {"name":...,"type":"REG_SZ","data":...}: strings as strings, REG_MULTI_SZ
// as an array, REG_DWORD and REG_QWORD as numbers; other types, misfit sizes
// and strings that are not text give "hex" with the bytes instead of "data".
std::string ValueJson(const Value& value);

}  // namespace qreg
