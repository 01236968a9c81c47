// A service that passes every call on to another one (Default() unless given).
// Tests derive from it and replace the calls they record or fail; a replaced
// call that still wants the real outcome calls Next() itself. Put one in place
// with ScopedRegistryService; the rules of RegistryService.h apply.
#pragma once

#include "regkey/service/RegistryService.h"

namespace regkey {

class ForwardingRegistryService : public RegistryService {
 public:
  explicit ForwardingRegistryService(RegistryService& next = RegistryService::Default())
      : next_(&next) {}

  LONG RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, PHKEY phkResult) override {
    return next_->RegConnectRegistryA(lpMachineName, hKey, phkResult);
  }
  LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                     PHKEY phkResult) override {
    return next_->RegOpenKeyExA(hKey, lpSubKey, ulOptions, samDesired, phkResult);
  }
  LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                       REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                       PHKEY phkResult, LPDWORD lpdwDisposition) override {
    return next_->RegCreateKeyExA(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired,
                                  lpSecurityAttributes, phkResult, lpdwDisposition);
  }
  LONG RegCloseKey(HKEY hKey) override { return next_->RegCloseKey(hKey); }
  LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                        LPBYTE lpData, LPDWORD lpcbData) override {
    return next_->RegQueryValueExA(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
  }
  LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                      const BYTE* lpData, DWORD cbData) override {
    return next_->RegSetValueExA(hKey, lpValueName, Reserved, dwType, lpData, cbData);
  }
  LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) override {
    return next_->RegDeleteValueA(hKey, lpValueName);
  }
  LONG RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                        LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                        LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                        LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) override {
    return next_->RegQueryInfoKeyA(
        hKey, lpClass, lpcchClass, lpReserved, lpcSubKeys, lpcbMaxSubKeyLen, lpcbMaxClassLen,
        lpcValues, lpcbMaxValueNameLen, lpcbMaxValueLen, lpcbSecurityDescriptor, lpftLastWriteTime);
  }
  LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                     LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) override {
    return next_->RegEnumValueA(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType,
                                lpData, lpcbData);
  }
  LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                     LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) override {
    return next_->RegEnumKeyExA(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass,
                                lpftLastWriteTime);
  }
  LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) override {
    return next_->RegDeleteKeyA(hKey, lpSubKey);
  }
  LONG RegNotifyChangeKeyValue(HKEY hKey, BOOL bWatchSubtree, DWORD dwNotifyFilter, HANDLE hEvent,
                               BOOL fAsynchronous) override {
    return next_->RegNotifyChangeKeyValue(hKey, bWatchSubtree, dwNotifyFilter, hEvent,
                                          fAsynchronous);
  }

  // The service that calls not replaced go to.
  RegistryService& Next() const { return *next_; }

 private:
  RegistryService* next_;
};

}  // namespace regkey
