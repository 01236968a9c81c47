// The frame that value, listing and notification operations share: open on
// demand, one service call on the open handle, the close-after rule.
#pragma once

#include "regkey/qorCRegKey.h"
#include "regkey/service/RegistryService.h"

// call(service, hKey) returns the Win32 code to store in m_lError.
template <typename ServiceCall>
bool qorCRegKey::CallOnOpenKey(bool bCloseAfter, ServiceCall call) {
  if (!Open()) return false;
  m_lError = call(regkey::RegistryService::Current(), m_hKey);
  ApplyCloseAfter(bCloseAfter);
  return true;
}
