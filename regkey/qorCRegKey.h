// qorCRegKey: one key of the registry, on this machine or another. The object
// names the key (machine, predefined root, path), opens or creates it on
// demand, and leaves the Win32 code of every outcome in m_lError.
//
// Default arguments chosen here:
//   flags      0xFFFF  "not given": the constructor keeps 0, SetSubKeyOf and the
//                      subkey constructor take the parent's flags
//   access     0       "not given": the mask the object (or the parent) has
//   bCloseAfter false  the key stays open for the next call
//   dwFilter   REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET
//   bWatchSubtree true
//   dwTimeout  INFINITE
#pragma once

#include <windows.h>

#include "framework/afx.h"
#include "framework/afxcoll.h"
#include "framework/afxmt.h"

class qorCRegKey : public CObject {
  DECLARE_DYNAMIC(qorCRegKey)

 public:
  // Bit 0 of the open flags: open an existing key only, never create it.
  static constexpr WORD flagOpenExisting = 0x0001;
  // The "not given" values of flags and access arguments.
  static constexpr WORD flagsNotGiven = 0xFFFF;
  static constexpr REGSAM accessNotGiven = 0;
  static constexpr DWORD filterDefault = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;

  // An entry of the root-key name table; the table ends with {nullptr, 0}.
  struct RootKeyName {
    LPCTSTR lpszName;
    HKEY hKey;
  };
  static const RootKeyName rootKeyNames[8];

  explicit qorCRegKey(WORD nFlags = flagsNotGiven);
  qorCRegKey(const qorCRegKey& parent, LPCTSTR lpszName, REGSAM samDesired = accessNotGiven,
             WORD nFlags = flagsNotGiven);
  ~qorCRegKey() override;

  qorCRegKey(const qorCRegKey&) = delete;
  qorCRegKey& operator=(const qorCRegKey&) = delete;

  // Naming.
  bool SetKey(LPCTSTR lpszMachine, HKEY hRoot, LPCTSTR lpszSubKey,
              REGSAM samDesired = accessNotGiven);
  bool SetSubKeyOf(const qorCRegKey& parent, LPCTSTR lpszName, REGSAM samDesired = accessNotGiven,
                   WORD nFlags = flagsNotGiven);
  CString GetFullName() const;

  // Values.
  LONG QueryValue(LPCTSTR lpszValueName, LPBYTE lpBuffer, DWORD dwSize, DWORD dwType,
                  bool bCloseAfter = false);
  LPBYTE QueryValueAlloc(LPCTSTR lpszValueName, DWORD* pdwSize, DWORD dwType,
                         bool bCloseAfter = false);
  bool SetValue(LPCTSTR lpszValueName, const BYTE* lpData, DWORD dwSize, DWORD dwType,
                bool bCloseAfter = false);
  bool DeleteValue(LPCTSTR lpszValueName, bool bCloseAfter = false);

  // Listings.
  bool EnumValueNames(CStringArray& names, bool bCloseAfter = false);
  bool EnumSubKeyNames(CStringArray& names, bool bCloseAfter = false);

  // The virtual operations, in slot order after CObject's.
  virtual bool Open();
  virtual void Close();
  virtual bool IsOpen() const;
  virtual bool ReadObject(LPCTSTR lpszValueName, CObject* pObject, bool bCloseAfter = false);
  virtual bool WriteObject(LPCTSTR lpszValueName, CObject* pObject, bool bCloseAfter = false);
  virtual bool DeleteKey();
  virtual bool DeleteSubKey(LPCTSTR lpszName);
  virtual bool DeleteAllValues(bool bCloseAfter = false);
  virtual bool DeleteAllSubKeys(bool bCloseAfter = false);
  virtual bool NotifyChange(CEvent& event, DWORD dwFilter = filterDefault,
                            bool bWatchSubtree = true, bool bCloseAfter = false);
  virtual bool WaitForChange(DWORD dwTimeout = INFINITE, DWORD dwFilter = filterDefault,
                             bool bWatchSubtree = true, bool bCloseAfter = false);
  virtual HKEY AcquireRoot();
  virtual void ReleaseRoot(HKEY hRoot);
  virtual bool IsLocal() const;

  // Read access to the name and state.
  HKEY GetKeyHandle() const { return m_hKey; }
  HKEY GetRootKey() const { return m_hRoot; }
  const CString& GetSubKey() const { return m_strSubKey; }
  const CString& GetMachine() const { return m_strMachine; }
  REGSAM GetAccess() const { return m_samDesired; }
  WORD GetFlags() const { return m_nFlags; }
  bool WasCreated() const { return m_bCreated; }
  // Named: a non-empty path and a non-zero root.
  bool IsNamed() const { return !m_strSubKey.IsEmpty() && m_hRoot != nullptr; }

 protected:
  // The close-after rule: close a local key when the caller asked for it.
  void ApplyCloseAfter(bool bCloseAfter);

  HKEY m_hKey;
  HKEY m_hRoot;
  CString m_strSubKey;
  CString m_strMachine;
  REGSAM m_samDesired;
  WORD m_nFlags;

 public:
  LONG m_lError;

 protected:
  bool m_bCreated;
};
