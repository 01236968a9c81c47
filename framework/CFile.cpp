#include "framework/CFile.h"

#include "framework/exceptions.h"

IMPLEMENT_DYNAMIC(CFile, CObject)

ULONGLONG CFile::GetPosition() const { AfxThrowNotSupportedException(); }
ULONGLONG CFile::Seek(LONGLONG, UINT) { AfxThrowNotSupportedException(); }
void CFile::SetLength(ULONGLONG) { AfxThrowNotSupportedException(); }
ULONGLONG CFile::GetLength() const { AfxThrowNotSupportedException(); }
UINT CFile::Read(void*, UINT) { AfxThrowNotSupportedException(); }
void CFile::Write(const void*, UINT) { AfxThrowNotSupportedException(); }
void CFile::Flush() {}
void CFile::Close() {}
void CFile::Abort() {}

void CFile::SetFilePath(LPCTSTR lpszNewName) { m_strFileName = lpszNewName; }

CString CFile::GetFilePath() const { return m_strFileName; }

CString CFile::GetFileName() const {
  const int slash = m_strFileName.ReverseFind('\\');
  const int other = m_strFileName.ReverseFind('/');
  const int at = slash > other ? slash : other;
  return m_strFileName.Mid(at + 1);
}
