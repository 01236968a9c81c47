// Whether a Windows test program runs under Wine rather than Windows, for the
// few expectations where the two differ (each says which one Windows shows).
#pragma once

#include <windows.h>

namespace regkey::test {

inline bool RunningUnderWine() {
#ifdef _WIN32
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

}  // namespace regkey::test
