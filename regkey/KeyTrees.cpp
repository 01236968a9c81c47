// Key trees: listing the names below a key, and deleting values, subkeys and
// whole subtrees.
#include "regkey/KeyCall.h"
#include "regkey/KeyMemory.h"
#include "regkey/qorCRegKey.h"
#include "regkey/service/RegistryService.h"

namespace {

// A name that is empty once its leading backslashes are dropped names the key
// itself rather than a subkey of it.
bool NamesNoSubKey(LPCTSTR lpszName) {
  if (lpszName == nullptr) return true;
  while (*lpszName == '\\') ++lpszName;
  return *lpszName == '\0';
}

enum class Listing { values, subKeys };

// The most slots a listing makes room for before its first name: a count the
// service got wrong costs no more than this.
constexpr DWORD kMostSlotsAhead = 1u << 20;

// The array a listing fills: the names already there are overwritten in
// place, so that their storage and text buffers serve again, and whatever
// way the listing ends (an exception included) the array holds exactly the
// names read, in order.
class NameSlots {
 public:
  explicit NameSlots(CStringArray& names) : m_names(names) {}
  ~NameSlots() {
    if (m_nFilled < m_names.GetSize()) m_names.SetSize(m_nFilled);
  }
  NameSlots(const NameSlots&) = delete;
  NameSlots& operator=(const NameSlots&) = delete;

  // Room for the names the service counted.
  void Expect(DWORD dwCount) {
    const INT_PTR nAhead = dwCount < kMostSlotsAhead ? dwCount : kMostSlotsAhead;
    if (m_names.GetSize() < nAhead) m_names.SetSize(nAhead);
  }
  void Add(LPCTSTR pszName) {
    if (m_nFilled < m_names.GetSize())
      m_names.GetData()[m_nFilled] = pszName;
    else
      m_names.Add(pszName);
    ++m_nFilled;
  }

 private:
  CStringArray& m_names;
  INT_PTR m_nFilled = 0;
};

}  // namespace

// Shared by both listings: one information query for the count and the
// longest name, then one call per index until the service reports an end.
// Each call's code goes to lError as it comes, so that an exception raised
// midway leaves the last one; the final code is returned.
static LONG ListNames(regkey::RegistryService& service, HKEY hKey, Listing listing,
                      NameSlots& names, LONG& lError) {
  DWORD dwCount = 0;
  DWORD dwLongest = 0;
  if (listing == Listing::values)
    lError = service.RegQueryInfoKeyA(hKey, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                      &dwCount, &dwLongest, nullptr, nullptr, nullptr);
  else
    lError = service.RegQueryInfoKeyA(hKey, nullptr, nullptr, nullptr, &dwCount, &dwLongest,
                                      nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  if (lError != ERROR_SUCCESS) return lError;
  if (dwCount == 0 || dwLongest == 0) return lError;
  // Capped so that the capacity handed to the service matches the buffer.
  const DWORD dwCapacity = dwLongest < MAXDWORD - 2 ? dwLongest + 2 : MAXDWORD;
  regkey::detail::OwnedBuffer<char> buffer(
      static_cast<char*>(regkey::detail::AllocateOrThrow(dwCapacity)));
  char* pszName = buffer.get();
  names.Expect(dwCount);
  for (DWORD dwIndex = 0;; ++dwIndex) {
    DWORD cchName = dwCapacity;
    FILETIME ftLastWrite;
    if (listing == Listing::values)
      lError = service.RegEnumValueA(hKey, dwIndex, pszName, &cchName, nullptr, nullptr, nullptr,
                                     nullptr);
    else
      lError = service.RegEnumKeyExA(hKey, dwIndex, pszName, &cchName, nullptr, nullptr, nullptr,
                                     &ftLastWrite);
    if (lError != ERROR_SUCCESS) break;
    // The name ends where the service says, never beyond the buffer.
    pszName[cchName < dwCapacity ? cchName : dwCapacity - 1] = '\0';
    names.Add(pszName);
  }
  if (lError == ERROR_NO_MORE_ITEMS) lError = ERROR_SUCCESS;
  return lError;
}

bool qorCRegKey::EnumValueNames(CStringArray& names, bool bCloseAfter) {
  NameSlots slots(names);
  return CallOnOpenKey(bCloseAfter,
                       [&](regkey::RegistryService& service, HKEY hKey) {
                         return ListNames(service, hKey, Listing::values, slots, m_lError);
                       }) &&
         m_lError == ERROR_SUCCESS;
}

bool qorCRegKey::EnumSubKeyNames(CStringArray& names, bool bCloseAfter) {
  NameSlots slots(names);
  return CallOnOpenKey(bCloseAfter,
                       [&](regkey::RegistryService& service, HKEY hKey) {
                         return ListNames(service, hKey, Listing::subKeys, slots, m_lError);
                       }) &&
         m_lError == ERROR_SUCCESS;
}

bool qorCRegKey::DeleteKey() {
  DeleteAllSubKeys(true);
  HKEY hRoot = AcquireRoot();
  Close();
  if (hRoot == nullptr) return false;
  m_lError = regkey::RegistryService::Current().RegDeleteKeyA(hRoot, m_strSubKey);
  const bool bDeleted = m_lError == ERROR_SUCCESS;
  ReleaseRoot(hRoot);
  return bDeleted;
}

bool qorCRegKey::DeleteSubKey(LPCTSTR lpszName) {
  if (NamesNoSubKey(lpszName)) {
    m_lError = ERROR_INVALID_DATA;
    return false;
  }
  qorCRegKey child(*this, lpszName, KEY_ALL_ACCESS, 0);
  const bool bDeleted = child.DeleteKey();
  if (!bDeleted) m_lError = child.m_lError;
  return bDeleted;
}

bool qorCRegKey::DeleteAllValues(bool bCloseAfter) {
  if (!Open()) return m_lError == ERROR_FILE_NOT_FOUND;
  CStringArray names;
  if (!EnumValueNames(names, false)) return false;
  bool bAllDeleted = true;
  for (INT_PTR i = 0; i < names.GetSize(); ++i) {
    if (!DeleteValue(names[i], false)) bAllDeleted = false;
  }
  ApplyCloseAfter(bCloseAfter);
  return bAllDeleted;
}

bool qorCRegKey::DeleteAllSubKeys(bool bCloseAfter) {
  if (!Open()) return m_lError == ERROR_FILE_NOT_FOUND;
  qorCRegKey child(0);
  CStringArray names;
  if (!EnumSubKeyNames(names, false)) return false;
  bool bAllDeleted = true;
  for (INT_PTR i = 0; i < names.GetSize(); ++i) {
    // A listed name that names no subkey would make the child this key.
    const bool bDeleted = !NamesNoSubKey(names[i]) &&
                          child.SetSubKeyOf(*this, names[i], KEY_ALL_ACCESS, flagsNotGiven) &&
                          child.DeleteKey();
    if (!bDeleted) bAllDeleted = false;
  }
  ApplyCloseAfter(bCloseAfter);
  return bAllDeleted;
}
