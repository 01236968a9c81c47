// Links regkey::regkey from the installed package and makes one round trip.
#include <cstdio>

#include "regkey/service/RegistryService.h"

int main() {
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
