// Change notification: arming it on a caller's event, and waiting for it.
#include <optional>

#include "regkey/qorCRegKey.h"
#include "regkey/service/RegistryService.h"

bool qorCRegKey::NotifyChange(CEvent& event, DWORD dwFilter, bool bWatchSubtree, bool bCloseAfter) {
  // A handle from a remote connection can't carry a notification.
  if (IsOpen() && !m_strMachine.IsEmpty()) {
    m_lError = ERROR_INVALID_HANDLE;
    return false;
  }
  if (!Open()) return false;
  m_lError = regkey::RegistryService::Current().RegNotifyChangeKeyValue(
      m_hKey, bWatchSubtree ? TRUE : FALSE, dwFilter, event.m_hObject, TRUE);
  ApplyCloseAfter(bCloseAfter);
  return m_lError == ERROR_SUCCESS;
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
