#include "framework/diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "framework/CObject.h"
#include "framework/exceptions.h"

namespace {

void Emit(const CString& text) {
  std::fwrite(text.GetString(), 1, static_cast<std::size_t>(text.GetLength()), stderr);
  std::fflush(stderr);
#ifdef _WIN32
  OutputDebugStringA(text);
#endif
}

}  // namespace

void AfxTrace(LPCTSTR lpszFormat, ...) {
  if (lpszFormat == nullptr) return;
  va_list args;
  va_start(args, lpszFormat);
  CString text;
  try {
    text.FormatV(lpszFormat, args);
  } catch (CException* e) {
    e->Delete();  // a trace never fails its caller
    text = lpszFormat;
  }
  va_end(args);
  Emit(text);
}

namespace afx_detail {

void AssertFailed(LPCSTR lpszFileName, int nLine, LPCSTR lpszExpression) {
  std::fprintf(stderr, "%s(%d): ASSERT(%s) failed\n", lpszFileName != nullptr ? lpszFileName : "?",
               nLine, lpszExpression != nullptr ? lpszExpression : "");
  std::fflush(stderr);
  std::abort();
}

}  // namespace afx_detail

BOOL AfxAssertFailedLine(LPCSTR lpszFileName, int nLine) {
  afx_detail::AssertFailed(lpszFileName, nLine, "");
}

void AfxAssertValidObject(const CObject* pOb, LPCSTR lpszFileName, int nLine) {
  if (pOb == nullptr) afx_detail::AssertFailed(lpszFileName, nLine, "object is not null");
  pOb->AssertValid();
}
