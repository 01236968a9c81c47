// CDumpContext: the text sink of CObject::Dump. Writes to a CFile when it has
// one and discards its input otherwise.
#pragma once

#include "framework/win32_types.h"

class CFile;
class CObject;

class CDumpContext {
 public:
  explicit CDumpContext(CFile* pFile = nullptr);
  CDumpContext(const CDumpContext&) = delete;
  CDumpContext& operator=(const CDumpContext&) = delete;

  int GetDepth() const;
  void SetDepth(int nNewDepth);
  void Flush();

  CDumpContext& operator<<(LPCTSTR lpsz);
  CDumpContext& operator<<(const void* lp);
  CDumpContext& operator<<(const CObject* pOb);
  CDumpContext& operator<<(const CObject& ob);
  CDumpContext& operator<<(BYTE by);
  CDumpContext& operator<<(WORD w);
  CDumpContext& operator<<(int n);
  CDumpContext& operator<<(unsigned u);
  CDumpContext& operator<<(LONGLONG n);
  CDumpContext& operator<<(ULONGLONG n);
  CDumpContext& operator<<(double d);
#ifdef _WIN32
  CDumpContext& operator<<(LONG l);
  CDumpContext& operator<<(DWORD dw);
#endif

 private:
  void Output(const char* text, UINT length);

  CFile* m_pFile;
  int m_nDepth = 0;
};
