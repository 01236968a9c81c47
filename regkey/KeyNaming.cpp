// Naming, opening and closing a key, and reaching the root it starts from.
#include "platform/root_keys.h"
#include "regkey/qorCRegKey.h"
#include "regkey/service/RegistryService.h"

IMPLEMENT_DYNAMIC(qorCRegKey, CObject)

// Names from the root-key table, in its order; the handles spelled as
// constants so that the table is set before any program code runs (a test
// checks them against the table's values).
using regkey::platform::kRootKeys;
static_assert(regkey::platform::kRootKeyCount == 7);
const qorCRegKey::RootKeyName qorCRegKey::rootKeyNames[8] = {
    {kRootKeys[0].name, HKEY_CLASSES_ROOT}, {kRootKeys[1].name, HKEY_CURRENT_CONFIG},
    {kRootKeys[2].name, HKEY_CURRENT_USER}, {kRootKeys[3].name, HKEY_LOCAL_MACHINE},
    {kRootKeys[4].name, HKEY_USERS},        {kRootKeys[5].name, HKEY_PERFORMANCE_DATA},
    {kRootKeys[6].name, HKEY_DYN_DATA},     {nullptr, nullptr},
};

qorCRegKey::qorCRegKey(WORD nFlags)
    : m_hKey(nullptr),
      m_hRoot(nullptr),
      m_samDesired(KEY_ALL_ACCESS),
      m_nFlags(0),
      m_lError(ERROR_SUCCESS),
      m_bCreated(false),
      m_pService(nullptr) {
  if (nFlags != flagsNotGiven) m_nFlags = nFlags;
}

qorCRegKey::qorCRegKey(const qorCRegKey& parent, LPCTSTR lpszName, REGSAM samDesired, WORD nFlags)
    : qorCRegKey(nFlags) {
  SetSubKeyOf(parent, lpszName, samDesired, flagsNotGiven);
}

qorCRegKey::~qorCRegKey() { qorCRegKey::Close(); }

bool qorCRegKey::SetKey(LPCTSTR lpszMachine, HKEY hRoot, LPCTSTR lpszSubKey, REGSAM samDesired) {
  if (lpszSubKey == nullptr || lpszSubKey[0] == '\0' || lpszSubKey[0] == '\\') {
    m_lError = ERROR_INVALID_DATA;
    return false;
  }
  // Copied first: the texts may live in this object's own strings.
  CString strSubKey(lpszSubKey);
  CString strMachine(lpszMachine);
  Close();
  m_hRoot = hRoot;
  m_strSubKey = strSubKey;
  m_strMachine = strMachine;
  if (samDesired != accessNotGiven) m_samDesired = samDesired;
  m_lError = ERROR_SUCCESS;
  return true;
}

bool qorCRegKey::SetSubKeyOf(const qorCRegKey& parent, LPCTSTR lpszName, REGSAM samDesired,
                             WORD nFlags) {
  if (!parent.IsNamed()) {
    m_lError = ERROR_BADKEY;
    return false;
  }
  LPCTSTR lpszRelative = nullptr;
  if (lpszName != nullptr) {
    while (*lpszName == '\\') ++lpszName;
    if (*lpszName != '\0') lpszRelative = lpszName;
  }
  const REGSAM samPassed = samDesired != accessNotGiven ? samDesired : parent.m_samDesired;
  m_nFlags = nFlags == flagsNotGiven ? parent.m_nFlags : nFlags;
  // Built apart from this object's fields, as the parent may be this object.
  CString strPath;
  if (lpszRelative != nullptr)
    strPath.Format("%s\\%s", static_cast<LPCTSTR>(parent.m_strSubKey), lpszRelative);
  else
    strPath = parent.m_strSubKey;
  return SetKey(parent.m_strMachine, parent.m_hRoot, strPath, samPassed);
}

bool qorCRegKey::Open() {
  if (m_hKey != nullptr) return true;
  if (!IsNamed()) {
    m_lError = ERROR_INVALID_DATA;
    return false;
  }
  HKEY hRoot = AcquireRoot();
  if (hRoot == nullptr) return false;
  regkey::RegistryService& service = regkey::RegistryService::Current();
  DWORD dwDisposition = REG_OPENED_EXISTING_KEY;
  if (m_nFlags & flagOpenExisting)
    m_lError = service.RegOpenKeyExA(hRoot, m_strSubKey, 0, m_samDesired, &m_hKey);
  else
    m_lError = service.RegCreateKeyExA(hRoot, m_strSubKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                       m_samDesired, nullptr, &m_hKey, &dwDisposition);
  ReleaseRoot(hRoot);
  if (m_lError != ERROR_SUCCESS) {
    m_hKey = nullptr;
    return false;
  }
  m_pService = &service;
  m_bCreated = dwDisposition == REG_CREATED_NEW_KEY;
  return true;
}

void qorCRegKey::Close() {
  if (m_hKey == nullptr) return;
  // A handle that a derived class put in place itself has no recorded service.
  regkey::RegistryService& service =
      m_pService != nullptr ? *m_pService : regkey::RegistryService::Current();
  service.RegCloseKey(m_hKey);
  m_hKey = nullptr;
  m_pService = nullptr;
}

bool qorCRegKey::IsOpen() const { return m_hKey != nullptr; }

bool qorCRegKey::IsLocal() const { return m_strMachine.IsEmpty(); }

HKEY qorCRegKey::AcquireRoot() {
  if (!IsNamed()) return nullptr;
  if (m_strMachine.IsEmpty()) return m_hRoot;
  CString strConnection;
  strConnection.Format("\\\\%s", static_cast<LPCTSTR>(m_strMachine));
  HKEY hRemote = nullptr;
  m_lError =
      regkey::RegistryService::Current().RegConnectRegistryA(strConnection, m_hRoot, &hRemote);
  if (m_lError != ERROR_SUCCESS) return nullptr;
  return hRemote;
}

void qorCRegKey::ReleaseRoot(HKEY hRoot) {
  if (hRoot != nullptr && hRoot != m_hRoot) regkey::RegistryService::Current().RegCloseKey(hRoot);
}

CString qorCRegKey::GetFullName() const {
  CString strName;
  if (!IsNamed()) return strName;
  const RootKeyName* pEntry = rootKeyNames;
  while (pEntry->lpszName != nullptr && pEntry->hKey != m_hRoot) ++pEntry;
  if (pEntry->lpszName == nullptr) return strName;
  if (m_strMachine.IsEmpty())
    strName.Format("%s\\%s", pEntry->lpszName, static_cast<LPCTSTR>(m_strSubKey));
  else
    strName.Format("\\\\%s\\%s\\%s", static_cast<LPCTSTR>(m_strMachine), pEntry->lpszName,
                   static_cast<LPCTSTR>(m_strSubKey));
  return strName;
}

void qorCRegKey::ApplyCloseAfter(bool bCloseAfter) {
  if (bCloseAfter && IsLocal()) Close();
}
