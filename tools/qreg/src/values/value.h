// A registry value as the tool moves it around: name ("" is the key's
// unnamed value), type code and the exact bytes.
#pragma once

#include <string>
#include <windows.h>

namespace qreg {

struct Value {
  std::string name;
  DWORD type = REG_NONE;
  std::string data;
};

}  // namespace qreg
