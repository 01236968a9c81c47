#include "../CString.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>

#include "../exceptions.h"
#include "allocation.h"

namespace {

char s_empty[1] = {'\0'};

inline char ToLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
inline char ToUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

int CompareBytes(const char* a, std::size_t na, const char* b, std::size_t nb, bool noCase) {
  const std::size_t n = na < nb ? na : nb;
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char ca = static_cast<unsigned char>(noCase ? ToLower(a[i]) : a[i]);
    unsigned char cb = static_cast<unsigned char>(noCase ? ToLower(b[i]) : b[i]);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (na == nb) return 0;
  return na < nb ? -1 : 1;
}

inline std::size_t SafeLength(LPCTSTR lpsz) { return lpsz == nullptr ? 0 : std::strlen(lpsz); }

}  // namespace

int CString::CheckedLength(std::size_t n) {
  if (n > static_cast<std::size_t>(INT_MAX - 1)) AfxThrowMemoryException();
  return static_cast<int>(n);
}

CString::CString() noexcept : m_pchData(s_empty) {}

CString::CString(const CString& stringSrc) : m_pchData(s_empty) {
  Assign(stringSrc.m_pchData, stringSrc.m_nLength);
}

CString::CString(CString&& stringSrc) noexcept
    : m_pchData(stringSrc.m_pchData), m_nLength(stringSrc.m_nLength), m_nAlloc(stringSrc.m_nAlloc) {
  stringSrc.m_pchData = s_empty;
  stringSrc.m_nLength = 0;
  stringSrc.m_nAlloc = 0;
}

CString::CString(LPCTSTR lpsz) : m_pchData(s_empty) {
  Assign(lpsz, CheckedLength(SafeLength(lpsz)));
}

CString::CString(LPCTSTR lpch, int nLength) : m_pchData(s_empty) {
  if (lpch != nullptr && nLength > 0) Assign(lpch, nLength);
}

CString::CString(const unsigned char* lpsz) : CString(reinterpret_cast<LPCTSTR>(lpsz)) {}

CString::CString(char ch, int nRepeat) : m_pchData(s_empty) {
  if (nRepeat > 0) {
    Reserve(nRepeat, true);
    std::memset(m_pchData, static_cast<unsigned char>(ch), static_cast<std::size_t>(nRepeat));
    SetLength(nRepeat);
  }
}

CString::~CString() {
  if (m_pchData != s_empty) afx_detail::Free(m_pchData);
}

CString& CString::operator=(const CString& stringSrc) {
  Assign(stringSrc.m_pchData, stringSrc.m_nLength);
  return *this;
}

CString& CString::operator=(CString&& stringSrc) noexcept {
  if (this != &stringSrc) {
    std::swap(m_pchData, stringSrc.m_pchData);
    std::swap(m_nLength, stringSrc.m_nLength);
    std::swap(m_nAlloc, stringSrc.m_nAlloc);
  }
  return *this;
}

CString& CString::operator=(LPCTSTR lpsz) {
  Assign(lpsz, CheckedLength(SafeLength(lpsz)));
  return *this;
}

CString& CString::operator=(const unsigned char* lpsz) {
  return *this = reinterpret_cast<LPCTSTR>(lpsz);
}

CString& CString::operator=(char ch) {
  Assign(&ch, 1);
  return *this;
}

void CString::Empty() noexcept {
  if (m_pchData != s_empty) afx_detail::Free(m_pchData);
  m_pchData = s_empty;
  m_nLength = 0;
  m_nAlloc = 0;
}

// Makes room for nLength bytes and the terminating zero, keeping the content.
// Growth is geometric unless exact room is asked for.
void CString::Reserve(int nLength, bool exact) {
  if (nLength <= m_nAlloc) return;
  std::size_t want = static_cast<std::size_t>(nLength);
  if (!exact) {
    std::size_t grown = static_cast<std::size_t>(m_nAlloc) + static_cast<std::size_t>(m_nAlloc) / 2;
    if (grown > want) want = grown;
    if (want > static_cast<std::size_t>(INT_MAX - 1)) want = static_cast<std::size_t>(INT_MAX - 1);
    if (want < 15) want = 15;
  }
  char* p;
  if (m_pchData == s_empty) {
    p = static_cast<char*>(afx_detail::Allocate(want + 1));
    p[0] = '\0';
  } else {
    p = static_cast<char*>(afx_detail::Reallocate(m_pchData, want + 1));
  }
  m_pchData = p;
  m_nAlloc = static_cast<int>(want);
}

void CString::SetLength(int nLength) noexcept {
  m_nLength = nLength;
  if (m_pchData != s_empty) m_pchData[nLength] = '\0';
}

// lpch may point into this string's own buffer.
void CString::Assign(const char* lpch, int nLength) {
  if (nLength <= 0 || lpch == nullptr) {
    SetLength(0);
    return;
  }
  if (nLength <= m_nAlloc) {
    std::memmove(m_pchData, lpch, static_cast<std::size_t>(nLength));
    SetLength(nLength);
    return;
  }
  char* p = static_cast<char*>(afx_detail::Allocate(static_cast<std::size_t>(nLength) + 1));
  std::memcpy(p, lpch, static_cast<std::size_t>(nLength));
  p[nLength] = '\0';
  if (m_pchData != s_empty) afx_detail::Free(m_pchData);
  m_pchData = p;
  m_nLength = nLength;
  m_nAlloc = nLength;
}

char CString::GetAt(int nIndex) const {
  if (nIndex < 0 || nIndex > m_nLength) AfxThrowInvalidArgException();
  return m_pchData[nIndex];
}

void CString::SetAt(int nIndex, char ch) {
  if (nIndex < 0 || nIndex >= m_nLength) AfxThrowInvalidArgException();
  m_pchData[nIndex] = ch;
}

int CString::Compare(LPCTSTR lpsz) const noexcept {
  return CompareBytes(m_pchData, static_cast<std::size_t>(m_nLength), lpsz == nullptr ? "" : lpsz,
                      SafeLength(lpsz), false);
}

int CString::Compare(const CString& str) const noexcept {
  return CompareBytes(m_pchData, static_cast<std::size_t>(m_nLength), str.m_pchData,
                      static_cast<std::size_t>(str.m_nLength), false);
}

int CString::CompareNoCase(LPCTSTR lpsz) const noexcept {
  return CompareBytes(m_pchData, static_cast<std::size_t>(m_nLength), lpsz == nullptr ? "" : lpsz,
                      SafeLength(lpsz), true);
}

int CString::CompareNoCase(const CString& str) const noexcept {
  return CompareBytes(m_pchData, static_cast<std::size_t>(m_nLength), str.m_pchData,
                      static_cast<std::size_t>(str.m_nLength), true);
}

// lpch may point into this string's own buffer: it is copied before the old
// buffer is released.
void CString::Append(LPCTSTR lpch, int nLength) {
  if (lpch == nullptr || nLength <= 0) return;
  if (nLength > INT_MAX - 1 - m_nLength) AfxThrowMemoryException();
  const int total = m_nLength + nLength;
  if (total <= m_nAlloc) {
    std::memmove(m_pchData + m_nLength, lpch, static_cast<std::size_t>(nLength));
    SetLength(total);
    return;
  }
  std::size_t want = static_cast<std::size_t>(m_nAlloc) + static_cast<std::size_t>(m_nAlloc) / 2;
  if (want < static_cast<std::size_t>(total)) want = static_cast<std::size_t>(total);
  if (want > static_cast<std::size_t>(INT_MAX - 1)) want = static_cast<std::size_t>(INT_MAX - 1);
  if (want < 15) want = 15;
  char* p = static_cast<char*>(afx_detail::Allocate(want + 1));
  std::memcpy(p, m_pchData, static_cast<std::size_t>(m_nLength));
  std::memcpy(p + m_nLength, lpch, static_cast<std::size_t>(nLength));
  p[total] = '\0';
  if (m_pchData != s_empty) afx_detail::Free(m_pchData);
  m_pchData = p;
  m_nLength = total;
  m_nAlloc = static_cast<int>(want);
}

CString& CString::operator+=(const CString& str) {
  Append(str.m_pchData, str.m_nLength);
  return *this;
}

CString& CString::operator+=(LPCTSTR lpsz) {
  Append(lpsz, CheckedLength(SafeLength(lpsz)));
  return *this;
}

CString& CString::operator+=(char ch) {
  Append(&ch, 1);
  return *this;
}

CString CString::Mid(int nFirst) const { return Mid(nFirst, m_nLength); }

CString CString::Mid(int nFirst, int nCount) const {
  if (nFirst < 0) nFirst = 0;
  if (nCount < 0) nCount = 0;
  if (nFirst > m_nLength) nFirst = m_nLength;
  if (nCount > m_nLength - nFirst) nCount = m_nLength - nFirst;
  return CString(m_pchData + nFirst, nCount);
}

CString CString::Left(int nCount) const { return Mid(0, nCount); }

CString CString::Right(int nCount) const {
  if (nCount < 0) nCount = 0;
  if (nCount > m_nLength) nCount = m_nLength;
  return CString(m_pchData + (m_nLength - nCount), nCount);
}

int CString::Find(char ch, int nStart) const noexcept {
  if (nStart < 0) nStart = 0;
  if (nStart >= m_nLength) return -1;
  const void* p = std::memchr(m_pchData + nStart, static_cast<unsigned char>(ch),
                              static_cast<std::size_t>(m_nLength - nStart));
  return p == nullptr ? -1 : static_cast<int>(static_cast<const char*>(p) - m_pchData);
}

int CString::Find(LPCTSTR lpszSub, int nStart) const noexcept {
  const std::size_t n = SafeLength(lpszSub);
  if (nStart < 0) nStart = 0;
  if (nStart > m_nLength || n > static_cast<std::size_t>(m_nLength - nStart)) return -1;
  for (int i = nStart; static_cast<std::size_t>(m_nLength - i) >= n; ++i) {
    if (std::memcmp(m_pchData + i, lpszSub, n) == 0) return i;
  }
  return -1;
}

int CString::ReverseFind(char ch) const noexcept {
  for (int i = m_nLength - 1; i >= 0; --i) {
    if (m_pchData[i] == ch) return i;
  }
  return -1;
}

int CString::FindOneOf(LPCTSTR lpszCharSet) const noexcept {
  if (lpszCharSet == nullptr) return -1;
  for (int i = 0; i < m_nLength; ++i) {
    if (m_pchData[i] != '\0' && std::strchr(lpszCharSet, m_pchData[i]) != nullptr) return i;
  }
  return -1;
}

CString& CString::MakeUpper() noexcept {
  for (int i = 0; i < m_nLength; ++i) m_pchData[i] = ToUpper(m_pchData[i]);
  return *this;
}

CString& CString::MakeLower() noexcept {
  for (int i = 0; i < m_nLength; ++i) m_pchData[i] = ToLower(m_pchData[i]);
  return *this;
}

CString& CString::MakeReverse() noexcept {
  for (int i = 0, j = m_nLength - 1; i < j; ++i, --j) std::swap(m_pchData[i], m_pchData[j]);
  return *this;
}

namespace {

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

// The trimming operations work through one predicate over the bytes.
#define AFX_TRIM_LEFT(pred)                                                          \
  int n = 0;                                                                         \
  while (n < m_nLength && (pred)) ++n;                                               \
  if (n > 0) {                                                                       \
    std::memmove(m_pchData, m_pchData + n, static_cast<std::size_t>(m_nLength - n)); \
    SetLength(m_nLength - n);                                                        \
  }                                                                                  \
  return *this
#define AFX_TRIM_RIGHT(pred)   \
  int n = m_nLength;           \
  while (n > 0 && (pred)) --n; \
  SetLength(n);                \
  return *this

CString& CString::TrimLeft() { AFX_TRIM_LEFT(IsSpace(m_pchData[n])); }
CString& CString::TrimLeft(char chTarget) { AFX_TRIM_LEFT(m_pchData[n] == chTarget); }
CString& CString::TrimLeft(LPCTSTR lpszTargets) {
  if (lpszTargets == nullptr) return *this;
  AFX_TRIM_LEFT(m_pchData[n] != '\0' && std::strchr(lpszTargets, m_pchData[n]) != nullptr);
}
CString& CString::TrimRight() { AFX_TRIM_RIGHT(IsSpace(m_pchData[n - 1])); }
CString& CString::TrimRight(char chTarget) { AFX_TRIM_RIGHT(m_pchData[n - 1] == chTarget); }
CString& CString::TrimRight(LPCTSTR lpszTargets) {
  if (lpszTargets == nullptr) return *this;
  AFX_TRIM_RIGHT(m_pchData[n - 1] != '\0' && std::strchr(lpszTargets, m_pchData[n - 1]) != nullptr);
}

#undef AFX_TRIM_LEFT
#undef AFX_TRIM_RIGHT

CString& CString::Trim() { return TrimRight().TrimLeft(); }
CString& CString::Trim(char chTarget) { return TrimRight(chTarget).TrimLeft(chTarget); }
CString& CString::Trim(LPCTSTR lpszTargets) { return TrimRight(lpszTargets).TrimLeft(lpszTargets); }

int CString::Replace(char chOld, char chNew) noexcept {
  int count = 0;
  for (int i = 0; i < m_nLength; ++i) {
    if (m_pchData[i] == chOld) {
      m_pchData[i] = chNew;
      ++count;
    }
  }
  return count;
}

int CString::Replace(LPCTSTR lpszOld, LPCTSTR lpszNew) {
  const int nOld = CheckedLength(SafeLength(lpszOld));
  if (nOld == 0) return 0;
  const int nNew = CheckedLength(SafeLength(lpszNew));
  CString result;
  int count = 0;
  int from = 0;
  for (int at = Find(lpszOld, 0); at >= 0; at = Find(lpszOld, from)) {
    result.Append(m_pchData + from, at - from);
    result.Append(lpszNew, nNew);
    from = at + nOld;
    ++count;
  }
  if (count > 0) {
    result.Append(m_pchData + from, m_nLength - from);
    *this = std::move(result);
  }
  return count;
}

int CString::Remove(char chRemove) noexcept {
  int out = 0;
  for (int i = 0; i < m_nLength; ++i) {
    if (m_pchData[i] != chRemove) m_pchData[out++] = m_pchData[i];
  }
  const int removed = m_nLength - out;
  SetLength(out);
  return removed;
}

int CString::Insert(int nIndex, char ch) { return Insert(nIndex, CString(ch, 1)); }

int CString::Insert(int nIndex, LPCTSTR psz) {
  if (nIndex < 0) nIndex = 0;
  if (nIndex > m_nLength) nIndex = m_nLength;
  CString result(m_pchData, nIndex);
  result += psz;
  result.Append(m_pchData + nIndex, m_nLength - nIndex);
  *this = std::move(result);
  return m_nLength;
}

int CString::Delete(int nIndex, int nCount) {
  if (nIndex < 0) nIndex = 0;
  if (nCount <= 0 || nIndex >= m_nLength) return m_nLength;
  if (nCount > m_nLength - nIndex) nCount = m_nLength - nIndex;
  std::memmove(m_pchData + nIndex, m_pchData + nIndex + nCount,
               static_cast<std::size_t>(m_nLength - nIndex - nCount));
  SetLength(m_nLength - nCount);
  return m_nLength;
}

void CString::Format(LPCTSTR lpszFormat, ...) {
  va_list args;
  va_start(args, lpszFormat);
  try {
    FormatV(lpszFormat, args);
  } catch (...) {
    va_end(args);
    throw;
  }
  va_end(args);
}

void CString::FormatV(LPCTSTR lpszFormat, va_list argList) {
  // Formatted into a fresh string first: the arguments may point into this one.
  CString result;
  result.AppendFormatV(lpszFormat, argList);
  *this = std::move(result);
}

void CString::AppendFormat(LPCTSTR lpszFormat, ...) {
  va_list args;
  va_start(args, lpszFormat);
  try {
    AppendFormatV(lpszFormat, args);
  } catch (...) {
    va_end(args);
    throw;
  }
  va_end(args);
}

void CString::AppendFormatV(LPCTSTR lpszFormat, va_list argList) {
  if (lpszFormat == nullptr) AfxThrowInvalidArgException();
  va_list probe;
  va_copy(probe, argList);
  const int needed = std::vsnprintf(nullptr, 0, lpszFormat, probe);
  va_end(probe);
  if (needed < 0) AfxThrowInvalidArgException();
  if (needed == 0) return;
  if (needed > INT_MAX - 1 - m_nLength) AfxThrowMemoryException();
  // Formatted into a separate buffer: the arguments may point into this string.
  char* p = static_cast<char*>(afx_detail::Allocate(static_cast<std::size_t>(needed) + 1));
  va_list args;
  va_copy(args, argList);
  std::vsnprintf(p, static_cast<std::size_t>(needed) + 1, lpszFormat, args);
  va_end(args);
  try {
    Append(p, needed);
  } catch (...) {
    afx_detail::Free(p);
    throw;
  }
  afx_detail::Free(p);
}

LPTSTR CString::GetBuffer() { return GetBuffer(0); }

LPTSTR CString::GetBuffer(int nMinBufLength) {
  if (nMinBufLength < 0) AfxThrowInvalidArgException();
  if (nMinBufLength > INT_MAX - 1) AfxThrowMemoryException();
  if (m_pchData == s_empty || nMinBufLength > m_nAlloc) {
    Reserve(nMinBufLength < m_nLength ? m_nLength : nMinBufLength, true);
    if (m_pchData == s_empty) Reserve(1, true);
  }
  return m_pchData;
}

LPTSTR CString::GetBufferSetLength(int nNewLength) {
  if (nNewLength < 0) AfxThrowInvalidArgException();
  GetBuffer(nNewLength);
  if (nNewLength > m_nLength) {
    std::memset(m_pchData + m_nLength, 0, static_cast<std::size_t>(nNewLength - m_nLength));
  }
  SetLength(nNewLength);
  return m_pchData;
}

void CString::ReleaseBuffer(int nNewLength) {
  if (m_pchData == s_empty) return;
  if (nNewLength < 0) {
    const void* zero = std::memchr(m_pchData, 0, static_cast<std::size_t>(m_nAlloc));
    nNewLength =
        zero == nullptr ? m_nAlloc : static_cast<int>(static_cast<const char*>(zero) - m_pchData);
  }
  if (nNewLength > m_nAlloc) nNewLength = m_nAlloc;
  SetLength(nNewLength);
}

void CString::FreeExtra() {
  if (m_pchData == s_empty || m_nLength == m_nAlloc) return;
  if (m_nLength == 0) {
    Empty();
    return;
  }
  m_pchData = static_cast<char*>(
      afx_detail::Reallocate(m_pchData, static_cast<std::size_t>(m_nLength) + 1));
  m_nAlloc = m_nLength;
}

CString operator+(const CString& a, const CString& b) {
  CString r(a);
  r += b;
  return r;
}
CString operator+(const CString& a, LPCTSTR b) {
  CString r(a);
  r += b;
  return r;
}
CString operator+(LPCTSTR a, const CString& b) {
  CString r(a);
  r += b;
  return r;
}
CString operator+(const CString& a, char b) {
  CString r(a);
  r += b;
  return r;
}
CString operator+(char a, const CString& b) {
  CString r(a, 1);
  r += b;
  return r;
}

bool operator==(const CString& a, const CString& b) noexcept { return a.Compare(b) == 0; }
bool operator==(const CString& a, LPCTSTR b) noexcept { return a.Compare(b) == 0; }
bool operator==(LPCTSTR a, const CString& b) noexcept { return b.Compare(a) == 0; }
bool operator!=(const CString& a, const CString& b) noexcept { return a.Compare(b) != 0; }
bool operator!=(const CString& a, LPCTSTR b) noexcept { return a.Compare(b) != 0; }
bool operator!=(LPCTSTR a, const CString& b) noexcept { return b.Compare(a) != 0; }
bool operator<(const CString& a, const CString& b) noexcept { return a.Compare(b) < 0; }
bool operator<(const CString& a, LPCTSTR b) noexcept { return a.Compare(b) < 0; }
bool operator<(LPCTSTR a, const CString& b) noexcept { return b.Compare(a) > 0; }
bool operator>(const CString& a, const CString& b) noexcept { return a.Compare(b) > 0; }
bool operator>(const CString& a, LPCTSTR b) noexcept { return a.Compare(b) > 0; }
bool operator>(LPCTSTR a, const CString& b) noexcept { return b.Compare(a) < 0; }
bool operator<=(const CString& a, const CString& b) noexcept { return a.Compare(b) <= 0; }
bool operator<=(const CString& a, LPCTSTR b) noexcept { return a.Compare(b) <= 0; }
bool operator<=(LPCTSTR a, const CString& b) noexcept { return b.Compare(a) >= 0; }
bool operator>=(const CString& a, const CString& b) noexcept { return a.Compare(b) >= 0; }
bool operator>=(const CString& a, LPCTSTR b) noexcept { return a.Compare(b) >= 0; }
bool operator>=(LPCTSTR a, const CString& b) noexcept { return b.Compare(a) <= 0; }
