#include "framework/CMemFile.h"

#include <cstdint>
#include <cstring>

#include "framework/allocation.h"
#include "framework/exceptions.h"

IMPLEMENT_DYNAMIC(CMemFile, CFile)

CMemFile::CMemFile(UINT nGrowBytes) : m_nGrowBytes(nGrowBytes) {}

CMemFile::CMemFile(BYTE* lpBuffer, UINT nBufferSize, UINT nGrowBytes) : m_nGrowBytes(0) {
  Attach(lpBuffer, nBufferSize, nGrowBytes);
}

CMemFile::~CMemFile() {
  if (m_bAutoDelete) afx_detail::Free(m_lpBuffer);
}

void CMemFile::Attach(BYTE* lpBuffer, UINT nBufferSize, UINT nGrowBytes) {
  if (m_bAutoDelete) afx_detail::Free(m_lpBuffer);
  if (lpBuffer == nullptr) nBufferSize = 0;
  m_lpBuffer = lpBuffer;
  m_nBufferSize = nBufferSize;
  m_nGrowBytes = nGrowBytes;
  m_nPosition = 0;
  m_nFileSize = nGrowBytes == 0 ? nBufferSize : 0;
  m_bAutoDelete = FALSE;
}

BYTE* CMemFile::Detach() {
  BYTE* lpBuffer = m_lpBuffer;
  m_lpBuffer = nullptr;
  m_nBufferSize = 0;
  m_nFileSize = 0;
  m_nPosition = 0;
  m_bAutoDelete = TRUE;
  if (m_nGrowBytes == 0) m_nGrowBytes = 1024;
  return lpBuffer;
}

// Makes the buffer at least nNewLen bytes, in whole growth steps.
void CMemFile::GrowFile(std::size_t nNewLen) {
  if (nNewLen <= m_nBufferSize) return;
  if (m_nGrowBytes == 0) AfxThrowMemoryException();
  std::size_t size = m_nBufferSize;
  const std::size_t steps = (nNewLen - size + m_nGrowBytes - 1) / m_nGrowBytes;
  if (steps > (SIZE_MAX - size) / m_nGrowBytes) AfxThrowMemoryException();
  size += steps * m_nGrowBytes;
  BYTE* lpNew;
  if (m_bAutoDelete) {
    lpNew = static_cast<BYTE*>(afx_detail::Reallocate(m_lpBuffer, size));
  } else {
    lpNew = static_cast<BYTE*>(afx_detail::Allocate(size));
    if (m_nFileSize > 0) std::memcpy(lpNew, m_lpBuffer, m_nFileSize);
    m_bAutoDelete = TRUE;
  }
  m_lpBuffer = lpNew;
  m_nBufferSize = size;
}

ULONGLONG CMemFile::GetPosition() const { return m_nPosition; }

ULONGLONG CMemFile::Seek(LONGLONG lOff, UINT nFrom) {
  LONGLONG base;
  switch (nFrom) {
    case begin:
      base = 0;
      break;
    case current:
      base = static_cast<LONGLONG>(m_nPosition);
      break;
    case end:
      base = static_cast<LONGLONG>(m_nFileSize);
      break;
    default:
      AfxThrowFileException(CFileException::badSeek, -1, m_strFileName);
  }
  if ((lOff < 0 && base + lOff < 0) ||
      (lOff > 0 && static_cast<ULONGLONG>(lOff) > SIZE_MAX - static_cast<ULONGLONG>(base))) {
    AfxThrowFileException(CFileException::badSeek, -1, m_strFileName);
  }
  m_nPosition = static_cast<std::size_t>(base + lOff);
  return m_nPosition;
}

// New bytes read as zeros.
void CMemFile::SetLength(ULONGLONG dwNewLen) {
  if (dwNewLen > SIZE_MAX) AfxThrowMemoryException();
  const std::size_t n = static_cast<std::size_t>(dwNewLen);
  if (n > m_nBufferSize) GrowFile(n);
  if (n > m_nFileSize) std::memset(m_lpBuffer + m_nFileSize, 0, n - m_nFileSize);
  if (m_nPosition > n) m_nPosition = n;
  m_nFileSize = n;
}

ULONGLONG CMemFile::GetLength() const { return m_nFileSize; }

UINT CMemFile::Read(void* lpBuf, UINT nCount) {
  if (nCount == 0 || m_nPosition >= m_nFileSize) return 0;
  if (lpBuf == nullptr) AfxThrowInvalidArgException();
  std::size_t n = m_nFileSize - m_nPosition;
  if (n > nCount) n = nCount;
  std::memcpy(lpBuf, m_lpBuffer + m_nPosition, n);
  m_nPosition += n;
  return static_cast<UINT>(n);
}

// A write that starts past the end fills the gap with zeros.
void CMemFile::Write(const void* lpBuf, UINT nCount) {
  if (nCount == 0) return;
  if (lpBuf == nullptr) AfxThrowInvalidArgException();
  if (nCount > SIZE_MAX - m_nPosition) {
    AfxThrowFileException(CFileException::diskFull, -1, m_strFileName);
  }
  const std::size_t end = m_nPosition + nCount;
  if (end > m_nBufferSize) GrowFile(end);
  if (m_nPosition > m_nFileSize) {
    std::memset(m_lpBuffer + m_nFileSize, 0, m_nPosition - m_nFileSize);
  }
  std::memmove(m_lpBuffer + m_nPosition, lpBuf, nCount);
  m_nPosition = end;
  if (end > m_nFileSize) m_nFileSize = end;
}

void CMemFile::Flush() {}

void CMemFile::Close() {
  m_nPosition = 0;
  m_nFileSize = 0;
  if (m_bAutoDelete) afx_detail::Free(m_lpBuffer);
  m_lpBuffer = nullptr;
  m_nBufferSize = 0;
  m_bAutoDelete = TRUE;
}

void CMemFile::Abort() { Close(); }
