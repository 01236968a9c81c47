// porting.cpp : settings of an MFC program kept in the registry, written as
// MFC code is written. The same file builds for Windows and for Linux.

#include <afx.h>
#include <afxcoll.h>
#include <tchar.h>

#include "regkey/qorCRegKey.h"

#ifdef _DEBUG
#define new DEBUG_NEW
#endif

/////////////////////////////////////////////////////////////////////////////
// CWindowPlacement: where the main window was. Schema 1 had no title.

class CWindowPlacement : public CObject {
  DECLARE_SERIAL(CWindowPlacement)
 public:
  CWindowPlacement() : m_nLeft(0), m_nTop(0), m_nWidth(0), m_nHeight(0), m_nSchema(0) {}

  int m_nLeft;
  int m_nTop;
  int m_nWidth;
  int m_nHeight;
  CString m_strTitle;
  UINT m_nSchema;

  virtual void Serialize(CArchive& ar);
};

IMPLEMENT_SERIAL(CWindowPlacement, CObject, VERSIONABLE_SCHEMA | 2)

void CWindowPlacement::Serialize(CArchive& ar) {
  CObject::Serialize(ar);
  if (ar.IsStoring()) {
    ar << m_nLeft << m_nTop << m_nWidth << m_nHeight << m_strTitle;
  } else {
    m_nSchema = ar.GetObjectSchema();
    ar >> m_nLeft >> m_nTop >> m_nWidth >> m_nHeight;
    if (m_nSchema >= 2) ar >> m_strTitle;
  }
}

/////////////////////////////////////////////////////////////////////////////
// CSettings: two views of one placement, stored by pointer.

class CSettings : public CObject {
  DECLARE_SERIAL(CSettings)
 public:
  CSettings() : m_pMain(NULL), m_pLast(NULL) {}
  virtual ~CSettings() { delete m_pMain; }

  CWindowPlacement* m_pMain;
  CWindowPlacement* m_pLast;  // the same object as m_pMain, not owned

  virtual void Serialize(CArchive& ar);
};

IMPLEMENT_SERIAL(CSettings, CObject, 1)

void CSettings::Serialize(CArchive& ar) {
  if (ar.IsStoring()) {
    ar << m_pMain << m_pLast;
  } else {
    ar >> m_pMain >> m_pLast;
  }
}

/////////////////////////////////////////////////////////////////////////////

static const TCHAR szSettingsKey[] = _T("Software\\regkey\\PortingExample");

static BOOL SaveSettings(qorCRegKey& key) {
  CString strGreeting;
  strGreeting.Format(_T("Hello from %s"), _T("the porting example"));
  if (!key.SetValue(_T("Greeting"), (const BYTE*)(LPCTSTR)strGreeting, strGreeting.GetLength() + 1,
                    REG_SZ))
    return FALSE;

  DWORD dwRuns = 1;
  if (!key.SetValue(_T("Runs"), (const BYTE*)&dwRuns, sizeof(dwRuns), REG_DWORD)) return FALSE;

  CSettings settings;
  settings.m_pMain = new CWindowPlacement;
  settings.m_pMain->m_nLeft = 10;
  settings.m_pMain->m_nTop = 20;
  settings.m_pMain->m_nWidth = 640;
  settings.m_pMain->m_nHeight = 480;
  settings.m_pMain->m_strTitle = _T("Main window");
  settings.m_pLast = settings.m_pMain;
  return key.WriteObject(_T("Settings"), &settings);
}

static void ShowSettings(qorCRegKey& key) {
  TCHAR szGreeting[64];
  if (key.QueryValue(_T("Greeting"), (LPBYTE)szGreeting, sizeof(szGreeting), REG_SZ) > 0)
    _tprintf(_T("Greeting: %s\n"), szGreeting);

  DWORD dwRuns = 0;
  key.QueryValue(_T("Runs"), (LPBYTE)&dwRuns, sizeof(dwRuns), REG_DWORD);
  _tprintf(_T("Runs: %lu\n"), (unsigned long)dwRuns);

  CSettings settings;
  if (key.ReadObject(_T("Settings"), &settings)) {
    const CWindowPlacement* p = settings.m_pMain;
    CString strLine;
    strLine.Format(_T("placement: %d,%d %dx%d \"%s\" (schema %u)"), p->m_nLeft, p->m_nTop,
                   p->m_nWidth, p->m_nHeight, p->m_strTitle, p->m_nSchema);
    _tprintf(_T("%s\n"), strLine);
    _tprintf(_T("one placement behind both pointers: %s\n"),
             settings.m_pLast == settings.m_pMain ? _T("yes") : _T("no"));
  }

  CStringArray names;
  if (key.EnumValueNames(names)) {
    CString strNames;
    for (int i = 0; i < names.GetSize(); i++) {
      if (i > 0) strNames += _T(", ");
      strNames += names[i];
    }
    _tprintf(_T("values: %s\n"), strNames);
  }
}

// A value that does not hold an object of the class is refused, not loaded.
static void LoadDamagedValue(qorCRegKey& key) {
  BYTE damaged[] = {0xFF, 0xFF, 0x01, 0x00, 0x05, 0x00, 'C', 'N', 'o', 'n', 'e'};
  key.SetValue(_T("Damaged"), damaged, sizeof(damaged), REG_BINARY);

  CSettings settings;
  TRY {
    key.ReadObject(_T("Damaged"), &settings);
    _tprintf(_T("damaged value: loaded?\n"));
  }
  CATCH(CArchiveException, e) {
    TCHAR szCause[128];
    e->GetErrorMessage(szCause, _countof(szCause));
    _tprintf(_T("damaged value: refused (cause %d)\n"), e->m_cause);
    TRACE(_T("%s\n"), szCause);
  }
  AND_CATCH(CException, e) { _tprintf(_T("damaged value: another exception\n")); }
  END_CATCH
}

int _tmain(int argc, TCHAR* argv[]) {
  UNUSED_ALWAYS(argc);
  UNUSED_ALWAYS(argv);

  qorCRegKey key;
  key.SetKey(NULL, HKEY_CURRENT_USER, szSettingsKey);
  key.DeleteKey();  // from an earlier run
  _tprintf(_T("key: %s\n"), key.GetFullName());

  if (!SaveSettings(key)) {
    _tprintf(_T("saving failed: error %ld\n"), (long)key.m_lError);
    return 1;
  }
  ShowSettings(key);
  LoadDamagedValue(key);

  TCHAR szMissing[16];
  LONG nRead = key.QueryValue(_T("Missing"), (LPBYTE)szMissing, sizeof(szMissing), REG_SZ);
  _tprintf(_T("missing value: %ld, error %ld\n"), (long)nRead, (long)key.m_lError);

  VERIFY(key.DeleteKey());
  _tprintf(_T("porting example: done\n"));
  return 0;
}
