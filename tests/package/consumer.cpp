// Links regkey::regkey from the installed package and makes one round trip.
#include <cstdio>
#include <cstring>

#include "regkey/service/RegistryService.h"
#include "regkey/version.h"

int main() {
#ifdef REGKEY_PACKAGE_VERSION
  // Built by CMake: the package's version is the headers' version.
  if (std::strcmp(REGKEY_PACKAGE_VERSION, REGKEY_VERSION) != 0) {
    std::printf("package version %s, headers %s\n", REGKEY_PACKAGE_VERSION, REGKEY_VERSION);
    return 1;
  }
#endif
  regkey::RegistryService& registry = regkey::RegistryService::Current();
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (registry.RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\regkey-consumer", 0, nullptr, 0,
                               KEY_ALL_ACCESS, nullptr, &key, &disposition) != ERROR_SUCCESS) {
    std::puts("create failed");
    return 1;
  }
  registry.RegCloseKey(key);
  registry.RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\regkey-consumer");
  std::puts("regkey package: ok");
  return 0;
}
