// Values: reading, writing and deleting them.
#include <limits>

#include "regkey/KeyCall.h"
#include "regkey/KeyMemory.h"
#include "regkey/qorCRegKey.h"

namespace {

bool BeginsWithBackslash(LPCTSTR lpszName) { return lpszName != nullptr && lpszName[0] == '\\'; }

}  // namespace

LONG qorCRegKey::QueryValue(LPCTSTR lpszValueName, LPBYTE lpBuffer, DWORD dwSize, DWORD dwType,
                            bool bCloseAfter) {
  if (BeginsWithBackslash(lpszValueName)) {
    m_lError = ERROR_INVALID_DATA;
    return 0;
  }
  DWORD dwStoredType = REG_NONE;
  DWORD dwCount = dwSize;
  if (!CallOnOpenKey(bCloseAfter, [&](regkey::RegistryService& service, HKEY hKey) {
        return service.RegQueryValueExA(hKey, lpszValueName, nullptr, &dwStoredType, lpBuffer,
                                        &dwCount);
      }))
    return 0;
  if (lpBuffer == nullptr && (m_lError == ERROR_SUCCESS || m_lError == ERROR_MORE_DATA))
    m_lError = ERROR_MORE_DATA;
  if (m_lError == ERROR_SUCCESS && dwStoredType != dwType) m_lError = ERROR_INVALID_DATATYPE;
  if (m_lError != ERROR_SUCCESS && m_lError != ERROR_MORE_DATA) return 0;
  // A size the signed result can't carry would read as the opposite outcome.
  if (dwCount > static_cast<DWORD>(std::numeric_limits<LONG>::max())) {
    m_lError = ERROR_ARITHMETIC_OVERFLOW;
    return 0;
  }
  const LONG lCount = static_cast<LONG>(dwCount);
  return m_lError == ERROR_SUCCESS ? lCount : -lCount;
}

LPBYTE qorCRegKey::QueryValueAlloc(LPCTSTR lpszValueName, DWORD* pdwSize, DWORD dwType,
                                   bool bCloseAfter) {
  const LONG lProbe = QueryValue(lpszValueName, nullptr, 0, dwType, false);
  if (lProbe >= 0) {
    ApplyCloseAfter(bCloseAfter);
    return nullptr;
  }
  const DWORD dwNeeded = static_cast<DWORD>(-lProbe);
  regkey::detail::OwnedBuffer<BYTE> buffer(
      static_cast<BYTE*>(regkey::detail::AllocateOrThrow(std::size_t{dwNeeded} + 2)));
  const LONG lRead = QueryValue(lpszValueName, buffer.get(), dwNeeded, dwType, bCloseAfter);
  if (lRead != static_cast<LONG>(dwNeeded)) {
    if (m_lError == ERROR_SUCCESS) m_lError = ERROR_INVALID_DATATYPE;
    return nullptr;
  }
  // The spare bytes terminate a string stored without its zero.
  buffer.get()[dwNeeded] = 0;
  buffer.get()[dwNeeded + 1] = 0;
  if (pdwSize != nullptr) *pdwSize = dwNeeded;
  return buffer.release();
}

bool qorCRegKey::SetValue(LPCTSTR lpszValueName, const BYTE* lpData, DWORD dwSize, DWORD dwType,
                          bool bCloseAfter) {
  if (lpData == nullptr || dwSize == 0 || BeginsWithBackslash(lpszValueName)) {
    m_lError = ERROR_INVALID_DATA;
    return false;
  }
  return CallOnOpenKey(bCloseAfter,
                       [&](regkey::RegistryService& service, HKEY hKey) {
                         return service.RegSetValueExA(hKey, lpszValueName, 0, dwType, lpData,
                                                       dwSize);
                       }) &&
         m_lError == ERROR_SUCCESS;
}

bool qorCRegKey::DeleteValue(LPCTSTR lpszValueName, bool bCloseAfter) {
  if (BeginsWithBackslash(lpszValueName)) {
    m_lError = ERROR_INVALID_DATA;
    return false;
  }
  return CallOnOpenKey(bCloseAfter,
                       [&](regkey::RegistryService& service, HKEY hKey) {
                         return service.RegDeleteValueA(hKey, lpszValueName);
                       }) &&
         m_lError == ERROR_SUCCESS;
}
