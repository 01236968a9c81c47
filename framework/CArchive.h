// CArchive: a buffered binary stream over a CFile, laid out as MFC lays it
// out: fixed-size types little-endian at their natural width (int and LONG in
// 4 bytes, bool in 1), strings behind MFC's length prefix. A typed read past
// the end raises CArchiveException with the cause endOfFile.
#pragma once

#include "CString.h"
#include "win32_types.h"

class CFile;

class CArchive {
 public:
  enum Mode { store = 0, load = 1, bNoFlushOnDelete = 2, bNoByteSwap = 4 };

  // lpBuf, when given, is a caller's buffer of nBufSize bytes that the archive
  // uses instead of allocating one.
  CArchive(CFile* pFile, UINT nMode, int nBufSize = 4096, void* lpBuf = nullptr);
  ~CArchive();
  CArchive(const CArchive&) = delete;
  CArchive& operator=(const CArchive&) = delete;

  BOOL IsLoading() const { return (m_nMode & load) != 0; }
  BOOL IsStoring() const { return (m_nMode & load) == 0; }
  BOOL IsBufferEmpty() const { return m_lpBufCur == m_lpBufMax; }
  CFile* GetFile() const { return m_pFile; }

  // Reads up to nMax bytes; fewer only at the end of the file.
  UINT Read(void* lpBuf, UINT nMax);
  void Write(const void* lpBuf, UINT nMax);
  // Store mode: every buffered byte into the file. Load mode: the file is put
  // back to the first unread byte.
  void Flush();
  // Flushes and detaches the file; the archive can no longer be used.
  void Close();
  // Detaches the file without writing what is buffered.
  void Abort();

  void WriteCount(DWORD_PTR dwCount);
  DWORD_PTR ReadCount();

  CArchive& operator<<(BYTE by);
  CArchive& operator<<(WORD w);
  CArchive& operator<<(int i);
  CArchive& operator<<(unsigned u);
  CArchive& operator<<(short w);
  CArchive& operator<<(char ch);
  CArchive& operator<<(bool b);
  CArchive& operator<<(float f);
  CArchive& operator<<(double d);
  CArchive& operator<<(LONGLONG dwdw);
  CArchive& operator<<(ULONGLONG dwdw);

  CArchive& operator>>(BYTE& by);
  CArchive& operator>>(WORD& w);
  CArchive& operator>>(int& i);
  CArchive& operator>>(unsigned& u);
  CArchive& operator>>(short& w);
  CArchive& operator>>(char& ch);
  CArchive& operator>>(bool& b);
  CArchive& operator>>(float& f);
  CArchive& operator>>(double& d);
  CArchive& operator>>(LONGLONG& dwdw);
  CArchive& operator>>(ULONGLONG& dwdw);

#ifdef _WIN32
  // Elsewhere LONG is int and DWORD is unsigned, served above.
  CArchive& operator<<(LONG l);
  CArchive& operator<<(DWORD dw);
  CArchive& operator>>(LONG& l);
  CArchive& operator>>(DWORD& dw);
#endif

 private:
  void WriteLE(ULONGLONG value, UINT nBytes);
  ULONGLONG ReadLE(UINT nBytes);
  void CheckOpen(bool forLoading) const;
  void FillBuffer();
  void FlushBuffer();

  CFile* m_pFile;
  UINT m_nMode;
  BOOL m_bUserBuf;
  UINT m_nBufSize;
  BYTE* m_lpBufStart;
  BYTE* m_lpBufCur;
  BYTE* m_lpBufMax;
};

CArchive& operator<<(CArchive& ar, const CString& string);
CArchive& operator>>(CArchive& ar, CString& string);
