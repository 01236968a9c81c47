// MFC's diagnostic macros. In a debug build (_DEBUG defined, or NDEBUG not
// defined) TRACE writes its printf-style text to standard error, ASSERT and
// ASSERT_VALID report a failed check with its file and line and abort the
// program, and VERIFY checks its expression. In a release build TRACE, ASSERT
// and ASSERT_VALID evaluate nothing; VERIFY still evaluates its expression.
// DEBUG_NEW is plain new, so that "#define new DEBUG_NEW" works unchanged.
#pragma once

#include "framework/CString.h"
#include "framework/win32_types.h"

class CObject;

// Writes the formatted text to standard error (and, on Windows, to the
// debugger), in one piece. A CString argument gives its text.
void AfxTrace(LPCTSTR lpszFormat, ...) AFX_PRINTF_FORMAT(1, 2);
template <class... Args, afx_detail::IfAnyCString<Args...> = 0>
void AfxTrace(LPCTSTR lpszFormat, const Args&... args) {
  AfxTrace(lpszFormat, afx_detail::VarArg(args)...);
}

// Reports a failed check at lpszFileName(nLine) on standard error and aborts.
[[noreturn]] BOOL AfxAssertFailedLine(LPCSTR lpszFileName, int nLine);
// Checks that pOb is not null and runs its AssertValid.
void AfxAssertValidObject(const CObject* pOb, LPCSTR lpszFileName, int nLine);

namespace afx_detail {
[[noreturn]] void AssertFailed(LPCSTR lpszFileName, int nLine, LPCSTR lpszExpression);
}

#if defined(_DEBUG) || !defined(NDEBUG)
#define AFX_DIAGNOSTICS_ENABLED 1
#define TRACE(...) AfxTrace(__VA_ARGS__)
#define ASSERT(f) ((f) ? static_cast<void>(0) : afx_detail::AssertFailed(__FILE__, __LINE__, #f))
#define VERIFY(f) ASSERT(f)
#define ASSERT_VALID(pOb) AfxAssertValidObject(pOb, __FILE__, __LINE__)
#define DEBUG_ONLY(f) (f)
#else
#define AFX_DIAGNOSTICS_ENABLED 0
// The arguments are type-checked and count as used, but are not evaluated.
#define TRACE(...) (false ? AfxTrace(__VA_ARGS__) : static_cast<void>(0))
#define ASSERT(f) static_cast<void>(sizeof(!(f)))
#define VERIFY(f) static_cast<void>(f)
#define ASSERT_VALID(pOb) static_cast<void>(sizeof(pOb))
#define DEBUG_ONLY(f) static_cast<void>(0)
#endif

#define ASSERT_KINDOF(class_name, object) ASSERT((object)->IsKindOf(RUNTIME_CLASS(class_name)))
#define TRACE0(sz) TRACE("%s", sz)
#define TRACE1(sz, p1) TRACE(sz, p1)
#define TRACE2(sz, p1, p2) TRACE(sz, p1, p2)
#define TRACE3(sz, p1, p2, p3) TRACE(sz, p1, p2, p3)
#define DEBUG_NEW new
// Marks a parameter as used: in every build, or in release builds only.
#define UNUSED_ALWAYS(x) static_cast<void>(x)
#if AFX_DIAGNOSTICS_ENABLED
#define UNUSED(x)
#else
#define UNUSED(x) static_cast<void>(x)
#endif
