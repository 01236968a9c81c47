// Change notification: arming it on a caller's event, and waiting for it.
#include <optional>

#include "regkey/KeyCall.h"
#include "regkey/qorCRegKey.h"

bool qorCRegKey::NotifyChange(CEvent& event, DWORD dwFilter, bool bWatchSubtree, bool bCloseAfter) {
  // A key already open on a remote machine is refused; one not yet open is
  // opened below and armed like a local one.
  if (IsOpen() && !m_strMachine.IsEmpty()) {
    m_lError = ERROR_INVALID_HANDLE;
    return false;
  }
  return CallOnOpenKey(bCloseAfter,
                       [&](regkey::RegistryService& service, HKEY hKey) {
                         return service.RegNotifyChangeKeyValue(hKey, bWatchSubtree ? TRUE : FALSE,
                                                                dwFilter, event.m_hObject, TRUE);
                       }) &&
         m_lError == ERROR_SUCCESS;
}

bool qorCRegKey::WaitForChange(DWORD dwTimeout, DWORD dwFilter, bool bWatchSubtree,
                               bool bCloseAfter) {
  CEvent event(FALSE, FALSE, nullptr, nullptr);
  std::optional<CSingleLock> lock;
  if (NotifyChange(event, dwFilter, bWatchSubtree, false)) {
    lock.emplace(&event, FALSE);
    if (lock->Lock(dwTimeout))
      lock->Unlock();
    else
      m_lError = ERROR_TIMEOUT;
  }
  ApplyCloseAfter(bCloseAfter);
  return m_lError == ERROR_SUCCESS;
}
