// Out-parameters are filled with these before a call, so that one the call
// should have written but left untouched shows.
#pragma once

#include <windows.h>

namespace regkey::test {

inline constexpr DWORD kUntouched = 0xCCCCCCCCu;
inline const HKEY kUntouchedKey = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0xCCCC0000u));

}  // namespace regkey::test
