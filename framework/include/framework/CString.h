// CString: a counted byte string. It may hold zero bytes; it always keeps a
// terminating zero after its last byte, so that it can be passed as a C string.
//
// Laid out as MFC lays it out: the object is one pointer to the characters,
// and the reference count, length and allocated length sit in a CStringData
// just before them. Copies share the characters until one of them changes
// (the count is atomic, so copies may live in different threads); a string
// whose buffer is out (GetBuffer until ReleaseBuffer) is never shared.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>

#include "framework/string_varargs.h"
#include "framework/win32_types.h"

#if defined(__MINGW32__) && defined(__MINGW_PRINTF_FORMAT)
#define AFX_PRINTF_FORMAT(fmt, args) __attribute__((format(__MINGW_PRINTF_FORMAT, fmt, args)))
#elif defined(__MINGW32__)
#define AFX_PRINTF_FORMAT(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#elif defined(__GNUC__)
#define AFX_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define AFX_PRINTF_FORMAT(fmt, args)
#endif

struct CStringData {
  LONG nRefs;        // sharers, changed atomically; -1 while a buffer is out
  int nDataLength;   // bytes before the terminating zero
  int nAllocLength;  // bytes usable before the terminating zero
  char* data() noexcept { return reinterpret_cast<char*>(this + 1); }
};

class CString {
 public:
  CString() noexcept;
  CString(const CString& stringSrc);
  CString(CString&& stringSrc) noexcept;
  CString(LPCTSTR lpsz);  // null gives the empty string
  CString(LPCTSTR lpch, int nLength);
  CString(const unsigned char* lpsz);
  explicit CString(char ch, int nRepeat = 1);
  ~CString();

  CString& operator=(const CString& stringSrc);
  CString& operator=(CString&& stringSrc) noexcept;
  CString& operator=(LPCTSTR lpsz);
  CString& operator=(const unsigned char* lpsz);
  CString& operator=(char ch);

  int GetLength() const noexcept { return GetData()->nDataLength; }
  BOOL IsEmpty() const noexcept { return GetData()->nDataLength == 0; }
  void Empty() noexcept;
  operator LPCTSTR() const noexcept { return m_pchData; }
  LPCTSTR GetString() const noexcept { return m_pchData; }

  // Index 0 to GetLength() - 1; GetAt(GetLength()) is the terminating zero.
  // Any other index raises CInvalidArgException.
  char GetAt(int nIndex) const;
  char operator[](int nIndex) const { return GetAt(nIndex); }
  void SetAt(int nIndex, char ch);

  int Compare(LPCTSTR lpsz) const noexcept;
  int Compare(const CString& str) const noexcept;
  int CompareNoCase(LPCTSTR lpsz) const noexcept;
  int CompareNoCase(const CString& str) const noexcept;

  CString& operator+=(const CString& str);
  CString& operator+=(LPCTSTR lpsz);
  CString& operator+=(char ch);
  void Append(LPCTSTR lpch, int nLength);
  void AppendChar(char ch) { *this += ch; }

  CString Mid(int nFirst) const;
  CString Mid(int nFirst, int nCount) const;
  CString Left(int nCount) const;
  CString Right(int nCount) const;

  int Find(char ch, int nStart = 0) const noexcept;
  int Find(LPCTSTR lpszSub, int nStart = 0) const noexcept;
  int ReverseFind(char ch) const noexcept;
  int FindOneOf(LPCTSTR lpszCharSet) const noexcept;

  CString& MakeUpper();
  CString& MakeLower();
  CString& MakeReverse();
  CString& Trim();
  CString& Trim(char chTarget);
  CString& Trim(LPCTSTR lpszTargets);
  CString& TrimLeft();
  CString& TrimLeft(char chTarget);
  CString& TrimLeft(LPCTSTR lpszTargets);
  CString& TrimRight();
  CString& TrimRight(char chTarget);
  CString& TrimRight(LPCTSTR lpszTargets);
  int Replace(char chOld, char chNew);
  int Replace(LPCTSTR lpszOld, LPCTSTR lpszNew);
  int Remove(char chRemove);
  int Insert(int nIndex, char ch);
  int Insert(int nIndex, LPCTSTR psz);
  int Delete(int nIndex, int nCount = 1);

  // printf-style formatting; the result is as long as it needs to be. A
  // CString argument gives its text, as in MFC.
  void Format(LPCTSTR lpszFormat, ...) AFX_PRINTF_FORMAT(2, 3);
  void FormatV(LPCTSTR lpszFormat, va_list argList) AFX_PRINTF_FORMAT(2, 0);
  void AppendFormat(LPCTSTR lpszFormat, ...) AFX_PRINTF_FORMAT(2, 3);
  void AppendFormatV(LPCTSTR lpszFormat, va_list argList) AFX_PRINTF_FORMAT(2, 0);
  template <class... Args, afx_detail::IfAnyCString<Args...> = 0>
  void Format(LPCTSTR lpszFormat, const Args&... args) {
    Format(lpszFormat, afx_detail::VarArg(args)...);
  }
  template <class... Args, afx_detail::IfAnyCString<Args...> = 0>
  void AppendFormat(LPCTSTR lpszFormat, const Args&... args) {
    AppendFormat(lpszFormat, afx_detail::VarArg(args)...);
  }

  // Direct access: the buffer holds at least nMinBufLength bytes and a zero
  // after them. ReleaseBuffer(-1) takes the length up to the first zero byte.
  LPTSTR GetBuffer();
  LPTSTR GetBuffer(int nMinBufLength);
  LPTSTR GetBufferSetLength(int nNewLength);
  void ReleaseBuffer(int nNewLength = -1);
  void FreeExtra();
  int GetAllocLength() const noexcept { return GetData()->nAllocLength; }
  // The buffer, unshared until UnlockBuffer (ReleaseBuffer unlocks too).
  LPTSTR LockBuffer();
  void UnlockBuffer() noexcept;

 private:
  CStringData* GetData() const noexcept { return reinterpret_cast<CStringData*>(m_pchData) - 1; }
  bool IsShared() const noexcept;
  bool IsLocked() const noexcept;
  void PrepareWrite(int nMinAlloc, bool exact);
  void Adopt(CStringData* pData) noexcept;
  void Assign(const char* lpch, int nLength);
  void SetLength(int nLength) noexcept;
  static int CheckedLength(std::size_t n);

  char* m_pchData;  // never null; the shared empty string's while nothing is allocated
};

static_assert(sizeof(CString) == sizeof(char*), "a CString is one pointer, as in MFC");

CString operator+(const CString& a, const CString& b);
CString operator+(const CString& a, LPCTSTR b);
CString operator+(LPCTSTR a, const CString& b);
CString operator+(const CString& a, char b);
CString operator+(char a, const CString& b);

bool operator==(const CString& a, const CString& b) noexcept;
bool operator==(const CString& a, LPCTSTR b) noexcept;
bool operator==(LPCTSTR a, const CString& b) noexcept;
bool operator!=(const CString& a, const CString& b) noexcept;
bool operator!=(const CString& a, LPCTSTR b) noexcept;
bool operator!=(LPCTSTR a, const CString& b) noexcept;
bool operator<(const CString& a, const CString& b) noexcept;
bool operator<(const CString& a, LPCTSTR b) noexcept;
bool operator<(LPCTSTR a, const CString& b) noexcept;
bool operator>(const CString& a, const CString& b) noexcept;
bool operator>(const CString& a, LPCTSTR b) noexcept;
bool operator>(LPCTSTR a, const CString& b) noexcept;
bool operator<=(const CString& a, const CString& b) noexcept;
bool operator<=(const CString& a, LPCTSTR b) noexcept;
bool operator<=(LPCTSTR a, const CString& b) noexcept;
bool operator>=(const CString& a, const CString& b) noexcept;
bool operator>=(const CString& a, LPCTSTR b) noexcept;
bool operator>=(LPCTSTR a, const CString& b) noexcept;
