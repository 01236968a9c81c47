// qorCRegKey: one key of the registry, on this machine or another. The object
// names the key (machine, predefined root, path), opens or creates it on
// demand, and leaves the Win32 code of every outcome in m_lError.
//
// Rules that every operation below follows:
//
// Results and m_lError. An operation returns its result and leaves a Win32
//   code in m_lError: the registry's result when it made a registry call (0 on
//   success, the service's code unchanged otherwise), or its own code when it
//   refused an argument or a state (13 ERROR_INVALID_DATA, 1010 ERROR_BADKEY,
//   234 ERROR_MORE_DATA, 1804 ERROR_INVALID_DATATYPE, 6 ERROR_INVALID_HANDLE,
//   1460 ERROR_TIMEOUT, 534 ERROR_ARITHMETIC_OVERFLOW). Nothing resets it by
//   itself: an operation that does neither leaves the previous code. An
//   operation that refuses an argument does so before it opens the key.
// Open on demand. Every value, listing, deletion and notification operation
//   calls the virtual Open first; Open creates a missing key unless
//   flagOpenExisting is set. Naming (SetKey, SetSubKeyOf, the constructors)
//   makes no registry call but closing a handle opened under the old name.
// Close-after. bCloseAfter asks for the key to be closed once the operation
//   has made its registry call, whether that call succeeded or not: the
//   operation calls Close when bCloseAfter is set and IsLocal holds. A remote
//   key ignores the flag and stays open until Close, a renaming, DeleteKey or
//   destruction. A path that ends before Open succeeded skips the rule.
// Exceptions. The class catches none and raises only CMemoryException (a
//   buffer it needs can't be allocated). CResourceException (WaitForChange's
//   event), CArchiveException and whatever a stored object's Serialize raises
//   pass through from the framework.
// Threads. The class takes no lock: one object is used by one thread at a
//   time; distinct objects may be used on distinct threads.
// Registry. Every call goes through regkey::RegistryService::Current(); a
//   handle is closed through the service that opened it.
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

namespace regkey {
class RegistryService;
}

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

  // Releases a buffer that QueryValueAlloc returned (null is fine):
  //   std::unique_ptr<BYTE, qorCRegKey::BufferDeleter> bytes(key.QueryValueAlloc(...));
  // or qorCRegKey::BufferDeleter()(p). Neither delete[] nor free may be used.
  struct BufferDeleter {
    void operator()(void* pBuffer) const noexcept { ::operator delete(pBuffer); }
  };

  // Not named, not open; m_nFlags = nFlags unless 0xFFFF.
  explicit qorCRegKey(WORD nFlags = flagsNotGiven);
  // Named as SetSubKeyOf(parent, lpszName, samDesired, 0xFFFF) names it: a named
  // parent's flags replace nFlags. m_lError: 0, or 1010 when the parent is not
  // named (the object is then not named and keeps nFlags).
  qorCRegKey(const qorCRegKey& parent, LPCTSTR lpszName, REGSAM samDesired = accessNotGiven,
             WORD nFlags = flagsNotGiven);
  // Closes the key with this class's own Close, never an override.
  ~qorCRegKey() override;

  // A key object owns its handle: neither copied nor assigned.
  qorCRegKey(const qorCRegKey&) = delete;
  qorCRegKey& operator=(const qorCRegKey&) = delete;

  // --- Naming ---

  // Names machine\root\path (machine null or empty: this machine; a name that
  // designates this machine still counts as remote). False with 13 for a path
  // that is null, empty or begins with a backslash: nothing else changes, an
  // open handle stays open. Otherwise closes the key (virtual Close), stores
  // the name as given (root 0 leaves the object not named), keeps the access
  // mask when samDesired is 0, and returns true with 0.
  bool SetKey(LPCTSTR lpszMachine, HKEY hRoot, LPCTSTR lpszSubKey,
              REGSAM samDesired = accessNotGiven);
  // Names the parent's path, a backslash and lpszName with its leading
  // backslashes dropped (null, empty or only backslashes: the parent's own
  // key), on the parent's machine and root. Access 0 and flags 0xFFFF take the
  // parent's. The parent may be this object. False with 1010, nothing else
  // changed, when the parent is not named; otherwise SetKey's result.
  bool SetSubKeyOf(const qorCRegKey& parent, LPCTSTR lpszName, REGSAM samDesired = accessNotGiven,
                   WORD nFlags = flagsNotGiven);
  // "ROOT\path" or "\\machine\ROOT\path"; empty when not named or when the root
  // is not in rootKeyNames. No registry call; m_lError untouched.
  CString GetFullName() const;

  // --- Values (the key opened on demand; close-after applied after the call) ---

  // Reads a value into lpBuffer (may be null). Returns:
  //   the value's size, m_lError 0: read into the buffer, stored type == dwType;
  //   minus the size needed, m_lError 234: no buffer given (the value's size,
  //     0 for an empty value) or the buffer too small; the type is not looked at;
  //   0 on every failure: 13 for a name beginning with a backslash, 1804 for a
  //     value read but of another type (the buffer holds its bytes), 534 for a
  //     size the signed result can't carry, else Open's or the service's code.
  // An empty value read into a buffer also returns 0: tell it by m_lError 0.
  LONG QueryValue(LPCTSTR lpszValueName, LPBYTE lpBuffer, DWORD dwSize, DWORD dwType,
                  bool bCloseAfter = false);
  // Reads a value of type dwType into a new buffer: the value's size + 2 bytes
  // from the global operator new, the two spare bytes zeroed (a string stored
  // without its terminator reads as one). The caller owns it and releases it
  // with BufferDeleter (::operator delete). *pdwSize (may be null) gets the
  // size on success only; m_lError is 0 then. Null on failure with QueryValue's
  // code: 234 for an empty value, 1804 for another type or a value that shrank
  // between the size probe and the read; no second attempt. Opens the key once;
  // close-after is applied also after a refused name. CMemoryException when the
  // buffer can't be allocated (m_lError 234, key left open).
  LPBYTE QueryValueAlloc(LPCTSTR lpszValueName, DWORD* pdwSize, DWORD dwType,
                         bool bCloseAfter = false);
  // Writes dwSize bytes as type dwType. True when the service returned 0. False
  // with 13, key not opened, for null data, size 0 or a name beginning with a
  // backslash; else with Open's or the service's code.
  bool SetValue(LPCTSTR lpszValueName, const BYTE* lpData, DWORD dwSize, DWORD dwType,
                bool bCloseAfter = false);
  // Deletes a value (null: the unnamed value). True when the service returned
  // 0; false with 13 for a name beginning with a backslash, else with Open's or
  // the service's code (2 for a missing value).
  bool DeleteValue(LPCTSTR lpszValueName, bool bCloseAfter = false);

  // --- Listings (the key opened on demand; close-after applied once listed) ---

  // Empty names first, then append every name in the service's order. True,
  // m_lError 0, when the whole list was read. False with Open's code (array
  // empty) or the service's code (the names read so far stay). The unnamed
  // value lists as "" beside named values, and as nothing when it is alone.
  // CMemoryException when the name buffer can't be allocated.
  bool EnumValueNames(CStringArray& names, bool bCloseAfter = false);
  bool EnumSubKeyNames(CStringArray& names, bool bCloseAfter = false);

  // --- The virtual operations, in slot order after CObject's five ---
  // The order is fixed: derived classes and programs built against this header
  // call through these slots. The class's own operations call one another
  // through them too, so an override of Open, Close, IsLocal, AcquireRoot,
  // ReleaseRoot, DeleteAllSubKeys or NotifyChange changes every operation built
  // on it.

  // True at once, m_lError and m_bCreated untouched, while open. False with 13
  // when not named, with AcquireRoot's code when the root can't be had. Else
  // opens (flagOpenExisting) or creates the key below AcquireRoot's root,
  // releases that root (ReleaseRoot), and stores the service's code: on failure
  // m_hKey stays null; on success m_bCreated tells whether the key was made.
  // A failure is not remembered: the next call tries the registry again.
  virtual bool Open();
  // Closes the handle, if any, through the service that opened it; m_lError
  // untouched.
  virtual void Close();
  virtual bool IsOpen() const;
  // Loads pObject from a REG_BINARY value (QueryValueAlloc's codes; 13 for a
  // null object). True once Serialize has returned; bytes it leaves unread are
  // ignored; reading past the end raises CArchiveException. Close-after is
  // applied before the object is touched.
  virtual bool ReadObject(LPCTSTR lpszValueName, CObject* pObject, bool bCloseAfter = false);
  // Stores the exact byte stream that pObject->Serialize writes as a REG_BINARY
  // value: SetValue's result. The object is serialised before the key is
  // opened; a stream of 0 bytes or a name beginning with a backslash fails with
  // 13 (key not opened), a null object with 13, a stream over 4 GiB with 534.
  // A Serialize that raises leaves the registry untouched.
  virtual bool WriteObject(LPCTSTR lpszValueName, CObject* pObject, bool bCloseAfter = false);
  // Deletes the key with its whole subtree, depth first, by its full path below
  // AcquireRoot's root; continues after a subkey that can't be deleted. True
  // when the key itself was deleted; m_lError is the delete call's code (or
  // what the earlier steps left when no root can be had). The key is closed
  // afterwards and keeps its name.
  virtual bool DeleteKey();
  // Deletes lpszName (leading backslashes dropped; may hold several levels)
  // with its subtree through a temporary key. False with 13 for a name that
  // names no subkey, else with the temporary key's code. A success leaves
  // m_lError as it was. This key's own handle is not touched.
  virtual bool DeleteSubKey(LPCTSTR lpszName);
  // Deletes every value (the unnamed one too when listed beside named values);
  // a failure doesn't stop the others. True when all went, or when the key
  // does not exist (m_lError 2). False: the listing failed (its code, the key
  // left open), or a value failed (m_lError: the last DeleteValue's code).
  virtual bool DeleteAllValues(bool bCloseAfter = false);
  // Deletes every subkey with its subtree; a failure doesn't stop the others.
  // True when all went, or when the key does not exist (m_lError 2). False with
  // the listing's code (key left open), or with 0 when a subkey failed: the
  // temporary keys' codes are not copied.
  virtual bool DeleteAllSubKeys(bool bCloseAfter = false);
  // Arms a change notification on event's handle; the service signals it
  // later. True when the service accepted. False with 6, the service not
  // called and the key left open, while the key is open on a remote machine; a
  // remote key not yet open is opened and armed.
  virtual bool NotifyChange(CEvent& event, DWORD dwFilter = filterDefault,
                            bool bWatchSubtree = true, bool bCloseAfter = false);
  // Arms NotifyChange (virtual, close-after false) on a private event and
  // waits up to dwTimeout ms. True, m_lError 0, when a change came in time;
  // false with 1460 on a time-out or a failed wait, or at once with
  // NotifyChange's code. Close-after is applied after the wait. Raises
  // CResourceException when the event can't be made.
  virtual bool WaitForChange(DWORD dwTimeout = INFINITE, DWORD dwFilter = filterDefault,
                             bool bWatchSubtree = true, bool bCloseAfter = false);
  // The root to open against: null when not named (m_lError untouched);
  // m_hRoot itself for a local key (no call); for a remote key a fresh
  // connection to the machine's root (m_lError: its code), owned by the caller
  // and given back through ReleaseRoot.
  virtual HKEY AcquireRoot();
  // Closes a root from AcquireRoot unless it is null or m_hRoot; m_lError
  // untouched.
  virtual void ReleaseRoot(HKEY hRoot);
  // True when no machine is named.
  virtual bool IsLocal() const;

  // --- Read access to the name and state (no registry call) ---
  HKEY GetKeyHandle() const { return m_hKey; }
  HKEY GetRootKey() const { return m_hRoot; }
  const CString& GetSubKey() const { return m_strSubKey; }
  const CString& GetMachine() const { return m_strMachine; }
  REGSAM GetAccess() const { return m_samDesired; }
  WORD GetFlags() const { return m_nFlags; }
  // The last Open that reached the registry and succeeded created the key.
  bool WasCreated() const { return m_bCreated; }
  // Named: a non-empty path and a non-zero root; only a named key opens.
  bool IsNamed() const { return !m_strSubKey.IsEmpty() && m_hRoot != nullptr; }

 protected:
  // The close-after rule: close a local key when the caller asked for it.
  void ApplyCloseAfter(bool bCloseAfter);

  // The fields in their fixed order: derived classes and programs built
  // against this header rely on their offsets.
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

 private:
  // Opens the key on demand, stores the result of one service call made on
  // m_hKey in m_lError, and applies the close-after rule. False, with no call
  // made, when Open failed. Defined in KeyCall.h.
  template <typename ServiceCall>
  bool CallOnOpenKey(bool bCloseAfter, ServiceCall call);

  // The service m_hKey was opened through, so that the handle goes back to it
  // even after another service was put in place. Added after the fixed fields.
  regkey::RegistryService* m_pService;
};
