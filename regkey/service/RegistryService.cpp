#include "regkey/service/RegistryService.h"

#include <atomic>

namespace regkey {
namespace {

// Forwards to the system's functions: advapi32 on Windows, the embedded
// registry elsewhere; both are reached through the same Win32 names.
class SystemRegistryService final : public RegistryService {
 public:
  LONG RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, PHKEY phkResult) override {
    return ::RegConnectRegistryA(lpMachineName, hKey, phkResult);
  }
  LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                     PHKEY phkResult) override {
    return ::RegOpenKeyExA(hKey, lpSubKey, ulOptions, samDesired, phkResult);
  }
  LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                       REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                       PHKEY phkResult, LPDWORD lpdwDisposition) override {
    return ::RegCreateKeyExA(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired,
                             lpSecurityAttributes, phkResult, lpdwDisposition);
  }
  LONG RegCloseKey(HKEY hKey) override { return ::RegCloseKey(hKey); }
  LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                        LPBYTE lpData, LPDWORD lpcbData) override {
    return ::RegQueryValueExA(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
  }
  LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                      const BYTE* lpData, DWORD cbData) override {
    return ::RegSetValueExA(hKey, lpValueName, Reserved, dwType, lpData, cbData);
  }
  LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) override {
    return ::RegDeleteValueA(hKey, lpValueName);
  }
  LONG RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                        LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                        LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                        LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) override {
    return ::RegQueryInfoKeyA(hKey, lpClass, lpcchClass, lpReserved, lpcSubKeys, lpcbMaxSubKeyLen,
                              lpcbMaxClassLen, lpcValues, lpcbMaxValueNameLen, lpcbMaxValueLen,
                              lpcbSecurityDescriptor, lpftLastWriteTime);
  }
  LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                     LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) override {
    return ::RegEnumValueA(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData,
                           lpcbData);
  }
  LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                     LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) override {
    return ::RegEnumKeyExA(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass,
                           lpftLastWriteTime);
  }
  LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) override {
    return ::RegDeleteKeyA(hKey, lpSubKey);
  }
  LONG RegNotifyChangeKeyValue(HKEY hKey, BOOL bWatchSubtree, DWORD dwNotifyFilter, HANDLE hEvent,
                               BOOL fAsynchronous) override {
    return ::RegNotifyChangeKeyValue(hKey, bWatchSubtree, dwNotifyFilter, hEvent, fAsynchronous);
  }
};

std::atomic<RegistryService*> current{nullptr};

}  // namespace

RegistryService& RegistryService::Default() {
  static SystemRegistryService service;
  return service;
}

RegistryService& RegistryService::Current() {
  RegistryService* service = current.load(std::memory_order_acquire);
  return service != nullptr ? *service : Default();
}

RegistryService* RegistryService::Exchange(RegistryService* service) {
  return current.exchange(service, std::memory_order_acq_rel);
}

}  // namespace regkey
