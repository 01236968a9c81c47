// Objects stored in REG_BINARY values: exactly the bytes that the object's
// Serialize writes through an archive over a memory file.
#include "regkey/KeyMemory.h"
#include "regkey/qorCRegKey.h"

bool qorCRegKey::WriteObject(LPCTSTR lpszValueName, CObject* pObject, bool bCloseAfter) {
  if (pObject == nullptr) {
    m_lError = ERROR_INVALID_DATA;
    return false;
  }
  CMemFile file(1024);
  file.SetFilePath(GetFullName());
  CArchive archive(&file, CArchive::store, 4096, nullptr);
  pObject->Serialize(archive);
  archive.Close();
  const ULONGLONG nLength = file.GetLength();
  // A stream longer than a value can hold would be cut short.
  if (nLength > MAXDWORD) {
    m_lError = ERROR_ARITHMETIC_OVERFLOW;
    return false;
  }
  return SetValue(lpszValueName, file.GetBufferAddress(), static_cast<DWORD>(nLength), REG_BINARY,
                  bCloseAfter);
}

bool qorCRegKey::ReadObject(LPCTSTR lpszValueName, CObject* pObject, bool bCloseAfter) {
  if (pObject == nullptr) {
    m_lError = ERROR_INVALID_DATA;
    return false;
  }
  DWORD dwSize = 0;
  regkey::detail::OwnedBuffer<BYTE> bytes(
      QueryValueAlloc(lpszValueName, &dwSize, REG_BINARY, bCloseAfter));
  if (!bytes) return false;
  // Destroyed in reverse: the archive, the memory file, then the bytes.
  CMemFile file;
  file.SetFilePath(GetFullName());
  file.Attach(bytes.get(), dwSize, 0);
  CArchive archive(&file, CArchive::load, 4096, nullptr);
  pObject->Serialize(archive);
  archive.Close();
  return true;
}
