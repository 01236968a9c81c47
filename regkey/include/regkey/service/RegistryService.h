// The seam through which the key class reaches the registry: the twelve
// registry functions it uses, with the Win32 arguments and results.
//
// Default() forwards to the system's functions (advapi32 on Windows, the
// embedded registry elsewhere). Current() is what the key class calls:
// Default() unless a ScopedRegistryService has put another service in place.
//
// Rules:
// - Scope. A replacement is process-wide: while it is in place every key
//   object on every thread, and every other caller of Current(), reaches it.
//   Scopes nest; each restores the service it replaced.
// - Threads. Current() and the exchange behind ScopedRegistryService are
//   atomic and may race with each other: a caller sees either the old or the
//   new service, never neither. A service in place must accept calls from any
//   thread that uses the registry meanwhile; Default() does.
// - Lifetime. A key object remembers the service it opened its handle
//   through and closes the handle there, even after that service was
//   replaced. A replaced service must therefore outlive every key handle
//   opened through it, and every call that may still be running in it.
//   Other calls on an open handle go to Current(). A remote root from
//   RegConnectRegistryA lives only within one Open or DeleteKey and is closed
//   through Current(): replace the service between operations, not while one
//   runs on another thread.
// - Forwarding. A wrapper (ForwardingRegistryService) passes every call it
//   does not replace to Next() unchanged, arguments and result alike, and
//   must close the handles it hands out itself (a made-up handle must not
//   reach the system's RegCloseKey).
#pragma once

#include <windows.h>

namespace regkey {

class RegistryService {
 public:
  virtual ~RegistryService() = default;
  // A service is known by its address (Current(), a key's closing service):
  // it is never copied, so that wrapping one can't silently copy it instead.
  RegistryService(const RegistryService&) = delete;
  RegistryService& operator=(const RegistryService&) = delete;

  virtual LONG RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, PHKEY phkResult) = 0;
  virtual LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                             PHKEY phkResult) = 0;
  virtual LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                               DWORD dwOptions, REGSAM samDesired,
                               LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                               LPDWORD lpdwDisposition) = 0;
  virtual LONG RegCloseKey(HKEY hKey) = 0;
  virtual LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData) = 0;
  virtual LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                              const BYTE* lpData, DWORD cbData) = 0;
  virtual LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) = 0;
  virtual LONG RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                                LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen,
                                LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                                LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                                LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) = 0;
  virtual LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                             LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                             LPDWORD lpcbData) = 0;
  virtual LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                             LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                             PFILETIME lpftLastWriteTime) = 0;
  virtual LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) = 0;
  virtual LONG RegNotifyChangeKeyValue(HKEY hKey, BOOL bWatchSubtree, DWORD dwNotifyFilter,
                                       HANDLE hEvent, BOOL fAsynchronous) = 0;

  // The system's registry.
  static RegistryService& Default();
  // The service in place now.
  static RegistryService& Current();

 protected:
  RegistryService() = default;

 private:
  friend class ScopedRegistryService;
  static RegistryService* Exchange(RegistryService* service);
};

// Puts a service in place for the lifetime of this object (typically a test's
// scope) and restores the previous one afterwards.
class ScopedRegistryService {
 public:
  explicit ScopedRegistryService(RegistryService& service)
      : previous_(RegistryService::Exchange(&service)) {}
  ~ScopedRegistryService() { RegistryService::Exchange(previous_); }
  ScopedRegistryService(const ScopedRegistryService&) = delete;
  ScopedRegistryService& operator=(const ScopedRegistryService&) = delete;

 private:
  RegistryService* previous_;
};

}  // namespace regkey
