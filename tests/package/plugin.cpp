// A plugin that links the key class statically into a shared object: the
// installed static libraries must be position-independent for this to link.
#include <afx.h>

#include "regkey/qorCRegKey.h"

extern "C" __attribute__((visibility("default"))) int regkey_plugin_roundtrip() {
  qorCRegKey key;
  key.SetKey(nullptr, HKEY_CURRENT_USER, "Software\\regkey-plugin");
  DWORD written = 7;
  if (!key.SetValue("Seven", reinterpret_cast<const BYTE*>(&written), sizeof(written), REG_DWORD))
    return 1;
  DWORD read = 0;
  key.QueryValue("Seven", reinterpret_cast<LPBYTE>(&read), sizeof(read), REG_DWORD);
  // An exception thrown and caught inside the plugin: its thread-local chain.
  int caught = 0;
  TRY { AfxThrowArchiveException(CArchiveException::badIndex); }
  CATCH(CArchiveException, e) { caught = e->m_cause; }
  END_CATCH
  key.DeleteKey();
  return read == written && caught == CArchiveException::badIndex ? 0 : 2;
}
