// The road of a typical request: name a key under HKEY_CURRENT_USER, store an
// object in one of its values, read it back, and see what a missing value says.
#include <cstdio>

#include "regkey/qorCRegKey.h"

namespace {

class WindowPlacement : public CObject {
 public:
  int m_nLeft = 0;
  int m_nTop = 0;
  CString m_strTitle;

  void Serialize(CArchive& ar) override {
    if (ar.IsStoring())
      ar << m_nLeft << m_nTop << m_strTitle;
    else
      ar >> m_nLeft >> m_nTop >> m_strTitle;
  }
};

}  // namespace

int main() {
  qorCRegKey key;
  key.SetKey(nullptr, HKEY_CURRENT_USER, "Software\\regkey\\example", 0);
  std::printf("key: %s\n", static_cast<LPCTSTR>(key.GetFullName()));

  WindowPlacement stored;
  stored.m_nLeft = 120;
  stored.m_nTop = 80;
  stored.m_strTitle = "Main window";
  if (!key.WriteObject("Placement", &stored, true)) {
    std::printf("WriteObject failed: error %ld\n", static_cast<long>(key.m_lError));
    return 1;
  }
  std::printf("stored (key %s)\n", key.WasCreated() ? "created" : "already there");

  WindowPlacement loaded;
  if (!key.ReadObject("Placement", &loaded, true)) {
    std::printf("ReadObject failed: error %ld\n", static_cast<long>(key.m_lError));
    return 1;
  }
  std::printf("read back: left %d, top %d, title \"%s\"\n", loaded.m_nLeft, loaded.m_nTop,
              static_cast<LPCTSTR>(loaded.m_strTitle));

  WindowPlacement absent;
  const bool found = key.ReadObject("NoSuchValue", &absent, true);
  std::printf("missing value: %s, m_lError %ld%s\n", found ? "found" : "not found",
              static_cast<long>(key.m_lError),
              key.m_lError == ERROR_FILE_NOT_FOUND ? " (ERROR_FILE_NOT_FOUND)" : "");
  return found ? 1 : 0;
}
