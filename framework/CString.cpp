#include "framework/CString.h"

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <utility>

#include "framework/allocation.h"
#include "framework/exceptions.h"

namespace {

// The empty string: every CString that holds nothing points at its zero. It is
// never counted, written or freed.
struct NilString {
  CStringData header;
  char zero;
};
constinit NilString s_nil = {{1, 0, 0}, '\0'};
static_assert(sizeof(CStringData) == 12 && alignof(CStringData) == alignof(LONG));

inline CStringData* Nil() noexcept { return &s_nil.header; }
inline char* NilChars() noexcept { return s_nil.header.data(); }

inline std::atomic_ref<LONG> Refs(CStringData* pData) noexcept {
  return std::atomic_ref<LONG>(pData->nRefs);
}

// A block for nAlloc bytes and the terminating zero, counted once, empty.
CStringData* NewData(int nAlloc) {
  auto* pData = static_cast<CStringData*>(
      afx_detail::Allocate(sizeof(CStringData) + static_cast<std::size_t>(nAlloc) + 1));
  pData->nRefs = 1;
  pData->nDataLength = 0;
  pData->nAllocLength = nAlloc;
  pData->data()[0] = '\0';
  return pData;
}

// Drops one sharer; the last one frees the block. A locked block has one.
void Release(CStringData* pData) noexcept {
  if (pData == Nil()) return;
  const LONG refs = Refs(pData).load(std::memory_order_acquire);
  if (refs == 1 || refs == -1 || Refs(pData).fetch_sub(1, std::memory_order_acq_rel) == 1) {
    afx_detail::Free(pData);
  }
}

// Room for at least nNeeded bytes, grown geometrically from nCurrent.
int Grown(int nCurrent, int nNeeded) {
  std::size_t want = static_cast<std::size_t>(nCurrent) + static_cast<std::size_t>(nCurrent) / 2;
  if (want < static_cast<std::size_t>(nNeeded)) want = static_cast<std::size_t>(nNeeded);
  if (want > static_cast<std::size_t>(INT_MAX - 1)) want = static_cast<std::size_t>(INT_MAX - 1);
  if (want < 15) want = 15;
  return static_cast<int>(want);
}

inline char ToLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
inline char ToUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

int CompareBytes(const char* a, std::size_t na, const char* b, std::size_t nb, bool noCase) {
  const std::size_t n = na < nb ? na : nb;
  if (!noCase) {
    const int c = std::memcmp(a, b, n);
    if (c != 0) return c < 0 ? -1 : 1;
  } else {
    for (std::size_t i = 0; i < n; ++i) {
      unsigned char ca = static_cast<unsigned char>(ToLower(a[i]));
      unsigned char cb = static_cast<unsigned char>(ToLower(b[i]));
      if (ca != cb) return ca < cb ? -1 : 1;
    }
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

bool CString::IsShared() const noexcept {
  CStringData* pData = GetData();
  return pData != Nil() && Refs(pData).load(std::memory_order_acquire) > 1;
}

bool CString::IsLocked() const noexcept {
  CStringData* pData = GetData();
  return pData != Nil() && Refs(pData).load(std::memory_order_relaxed) == -1;
}

// Takes pData (counted once, holding this string's text) in place of the
// current block; a lock moves with the text.
void CString::Adopt(CStringData* pData) noexcept {
  CStringData* old = GetData();
  if (old != Nil() && Refs(old).load(std::memory_order_relaxed) == -1) pData->nRefs = -1;
  Release(old);
  m_pchData = pData->data();
}

// Makes the block this string's own, with room for nMinAlloc bytes (growth is
// geometric unless exact room is asked for), keeping the content.
void CString::PrepareWrite(int nMinAlloc, bool exact) {
  CStringData* pData = GetData();
  const bool own = pData != Nil() && !IsShared();
  if (own && nMinAlloc <= pData->nAllocLength) return;
  const int length = pData->nDataLength;
  int want = nMinAlloc < length ? length : nMinAlloc;
  if (!exact) want = Grown(pData->nAllocLength, want);
  if (own) {
    pData = static_cast<CStringData*>(
        afx_detail::Reallocate(pData, sizeof(CStringData) + static_cast<std::size_t>(want) + 1));
    pData->nAllocLength = want;
    m_pchData = pData->data();
    return;
  }
  CStringData* copy = NewData(want);
  std::memcpy(copy->data(), m_pchData, static_cast<std::size_t>(length) + 1);
  copy->nDataLength = length;
  Adopt(copy);
}

CString::CString() noexcept : m_pchData(NilChars()) {}

CString::CString(const CString& stringSrc) : m_pchData(NilChars()) {
  CStringData* pData = stringSrc.GetData();
  if (pData == Nil()) return;
  if (stringSrc.IsLocked()) {
    Assign(stringSrc.m_pchData, pData->nDataLength);
    return;
  }
  Refs(pData).fetch_add(1, std::memory_order_relaxed);
  m_pchData = stringSrc.m_pchData;
}

CString::CString(CString&& stringSrc) noexcept : m_pchData(stringSrc.m_pchData) {
  stringSrc.m_pchData = NilChars();
}

CString::CString(LPCTSTR lpsz) : m_pchData(NilChars()) {
  Assign(lpsz, CheckedLength(SafeLength(lpsz)));
}

CString::CString(LPCTSTR lpch, int nLength) : m_pchData(NilChars()) {
  if (lpch != nullptr && nLength > 0) Assign(lpch, nLength);
}

CString::CString(const unsigned char* lpsz) : CString(reinterpret_cast<LPCTSTR>(lpsz)) {}

CString::CString(char ch, int nRepeat) : m_pchData(NilChars()) {
  if (nRepeat > 0) {
    CStringData* pData = NewData(nRepeat);
    std::memset(pData->data(), static_cast<unsigned char>(ch), static_cast<std::size_t>(nRepeat));
    m_pchData = pData->data();
    SetLength(nRepeat);
  }
}

CString::~CString() { Release(GetData()); }

CString& CString::operator=(const CString& stringSrc) {
  if (stringSrc.m_pchData == m_pchData) return *this;
  CStringData* pData = stringSrc.GetData();
  if (pData == Nil() || IsLocked() || stringSrc.IsLocked()) {
    Assign(stringSrc.m_pchData, pData->nDataLength);
    return *this;
  }
  Refs(pData).fetch_add(1, std::memory_order_relaxed);
  Release(GetData());
  m_pchData = stringSrc.m_pchData;
  return *this;
}

CString& CString::operator=(CString&& stringSrc) noexcept {
  std::swap(m_pchData, stringSrc.m_pchData);
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
  Release(GetData());
  m_pchData = NilChars();
}

void CString::SetLength(int nLength) noexcept {
  CStringData* pData = GetData();
  if (pData == Nil()) return;
  pData->nDataLength = nLength;
  m_pchData[nLength] = '\0';
}

// lpch may point into this string's own buffer.
void CString::Assign(const char* lpch, int nLength) {
  CStringData* pData = GetData();
  const bool own = pData != Nil() && !IsShared();
  if (nLength <= 0 || lpch == nullptr) {
    if (own) {
      SetLength(0);
    } else {
      Empty();
    }
    return;
  }
  if (own && nLength <= pData->nAllocLength) {
    std::memmove(m_pchData, lpch, static_cast<std::size_t>(nLength));
    SetLength(nLength);
    return;
  }
  CStringData* fresh = NewData(nLength);
  std::memcpy(fresh->data(), lpch, static_cast<std::size_t>(nLength));
  fresh->data()[nLength] = '\0';
  fresh->nDataLength = nLength;
  Adopt(fresh);
}

char CString::GetAt(int nIndex) const {
  if (nIndex < 0 || nIndex > GetLength()) AfxThrowInvalidArgException();
  return m_pchData[nIndex];
}

void CString::SetAt(int nIndex, char ch) {
  if (nIndex < 0 || nIndex >= GetLength()) AfxThrowInvalidArgException();
  PrepareWrite(GetLength(), true);
  m_pchData[nIndex] = ch;
}

int CString::Compare(LPCTSTR lpsz) const noexcept {
  return CompareBytes(m_pchData, static_cast<std::size_t>(GetLength()), lpsz == nullptr ? "" : lpsz,
                      SafeLength(lpsz), false);
}

int CString::Compare(const CString& str) const noexcept {
  if (str.m_pchData == m_pchData) return 0;
  return CompareBytes(m_pchData, static_cast<std::size_t>(GetLength()), str.m_pchData,
                      static_cast<std::size_t>(str.GetLength()), false);
}

int CString::CompareNoCase(LPCTSTR lpsz) const noexcept {
  return CompareBytes(m_pchData, static_cast<std::size_t>(GetLength()), lpsz == nullptr ? "" : lpsz,
                      SafeLength(lpsz), true);
}

int CString::CompareNoCase(const CString& str) const noexcept {
  return CompareBytes(m_pchData, static_cast<std::size_t>(GetLength()), str.m_pchData,
                      static_cast<std::size_t>(str.GetLength()), true);
}

// lpch may point into this string's own buffer: then the text moves to a new
// block, copied before the old one is released.
void CString::Append(LPCTSTR lpch, int nLength) {
  if (lpch == nullptr || nLength <= 0) return;
  const int length = GetLength();
  if (nLength > INT_MAX - 1 - length) AfxThrowMemoryException();
  const int total = length + nLength;
  CStringData* pData = GetData();
  // The empty string has no room, so this also tells that pData is not it.
  if (nLength <= pData->nAllocLength - length && Refs(pData).load(std::memory_order_acquire) <= 1) {
    std::memmove(m_pchData + length, lpch, static_cast<std::size_t>(nLength));
    pData->nDataLength = total;
    m_pchData[total] = '\0';
    return;
  }
  const bool own = pData != Nil() && !IsShared();
  const std::less<const char*> before;
  const bool inside = pData != Nil() && !before(lpch, m_pchData) &&
                      before(lpch, m_pchData + pData->nAllocLength + 1);
  if (own && !inside) {
    PrepareWrite(total, false);
    std::memcpy(m_pchData + length, lpch, static_cast<std::size_t>(nLength));
    SetLength(total);
    return;
  }
  CStringData* fresh = NewData(Grown(pData->nAllocLength, total));
  std::memcpy(fresh->data(), m_pchData, static_cast<std::size_t>(length));
  std::memcpy(fresh->data() + length, lpch, static_cast<std::size_t>(nLength));
  fresh->data()[total] = '\0';
  fresh->nDataLength = total;
  Adopt(fresh);
}

CString& CString::operator+=(const CString& str) {
  if (IsEmpty() && !IsLocked()) return *this = str;
  Append(str.m_pchData, str.GetLength());
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

CString CString::Mid(int nFirst) const { return Mid(nFirst, GetLength()); }

CString CString::Mid(int nFirst, int nCount) const {
  const int length = GetLength();
  if (nFirst < 0) nFirst = 0;
  if (nCount < 0) nCount = 0;
  if (nFirst > length) nFirst = length;
  if (nCount > length - nFirst) nCount = length - nFirst;
  if (nFirst == 0 && nCount == length) return *this;
  return CString(m_pchData + nFirst, nCount);
}

CString CString::Left(int nCount) const { return Mid(0, nCount); }

CString CString::Right(int nCount) const {
  const int length = GetLength();
  if (nCount < 0) nCount = 0;
  if (nCount > length) nCount = length;
  return Mid(length - nCount, nCount);
}

int CString::Find(char ch, int nStart) const noexcept {
  const int length = GetLength();
  if (nStart < 0) nStart = 0;
  if (nStart >= length) return -1;
  const void* p = std::memchr(m_pchData + nStart, static_cast<unsigned char>(ch),
                              static_cast<std::size_t>(length - nStart));
  return p == nullptr ? -1 : static_cast<int>(static_cast<const char*>(p) - m_pchData);
}

int CString::Find(LPCTSTR lpszSub, int nStart) const noexcept {
  const int length = GetLength();
  const std::size_t n = SafeLength(lpszSub);
  if (nStart < 0) nStart = 0;
  if (nStart > length || n > static_cast<std::size_t>(length - nStart)) return -1;
  if (n == 0) return nStart;
  for (int i = nStart; static_cast<std::size_t>(length - i) >= n; ++i) {
    const void* p = std::memchr(m_pchData + i, static_cast<unsigned char>(lpszSub[0]),
                                static_cast<std::size_t>(length - i) - n + 1);
    if (p == nullptr) return -1;
    i = static_cast<int>(static_cast<const char*>(p) - m_pchData);
    if (std::memcmp(m_pchData + i, lpszSub, n) == 0) return i;
  }
  return -1;
}

int CString::ReverseFind(char ch) const noexcept {
  for (int i = GetLength() - 1; i >= 0; --i) {
    if (m_pchData[i] == ch) return i;
  }
  return -1;
}

int CString::FindOneOf(LPCTSTR lpszCharSet) const noexcept {
  if (lpszCharSet == nullptr) return -1;
  const int length = GetLength();
  for (int i = 0; i < length; ++i) {
    if (m_pchData[i] != '\0' && std::strchr(lpszCharSet, m_pchData[i]) != nullptr) return i;
  }
  return -1;
}

CString& CString::MakeUpper() {
  const int length = GetLength();
  int i = 0;
  while (i < length && ToUpper(m_pchData[i]) == m_pchData[i]) ++i;
  if (i == length) return *this;
  PrepareWrite(length, true);
  for (; i < length; ++i) m_pchData[i] = ToUpper(m_pchData[i]);
  return *this;
}

CString& CString::MakeLower() {
  const int length = GetLength();
  int i = 0;
  while (i < length && ToLower(m_pchData[i]) == m_pchData[i]) ++i;
  if (i == length) return *this;
  PrepareWrite(length, true);
  for (; i < length; ++i) m_pchData[i] = ToLower(m_pchData[i]);
  return *this;
}

CString& CString::MakeReverse() {
  const int length = GetLength();
  if (length < 2) return *this;
  PrepareWrite(length, true);
  for (int i = 0, j = length - 1; i < j; ++i, --j) std::swap(m_pchData[i], m_pchData[j]);
  return *this;
}

namespace {

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

// The trimming operations work through one predicate over the bytes.
#define AFX_TRIM_LEFT(pred)                                                       \
  const int length = GetLength();                                                 \
  int n = 0;                                                                      \
  while (n < length && (pred)) ++n;                                               \
  if (n > 0) {                                                                    \
    PrepareWrite(length, true);                                                   \
    std::memmove(m_pchData, m_pchData + n, static_cast<std::size_t>(length - n)); \
    SetLength(length - n);                                                        \
  }                                                                               \
  return *this
#define AFX_TRIM_RIGHT(pred)      \
  const int length = GetLength(); \
  int n = length;                 \
  while (n > 0 && (pred)) --n;    \
  if (n < length) {               \
    PrepareWrite(length, true);   \
    SetLength(n);                 \
  }                               \
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

int CString::Replace(char chOld, char chNew) {
  const int first = Find(chOld);
  if (first < 0) return 0;
  const int length = GetLength();
  if (chOld != chNew) PrepareWrite(length, true);
  int count = 0;
  for (int i = first; i < length; ++i) {
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
  const int length = GetLength();
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
    result.Append(m_pchData + from, length - from);
    *this = std::move(result);
  }
  return count;
}

int CString::Remove(char chRemove) {
  const int first = Find(chRemove);
  if (first < 0) return 0;
  const int length = GetLength();
  PrepareWrite(length, true);
  int out = first;
  for (int i = first; i < length; ++i) {
    if (m_pchData[i] != chRemove) m_pchData[out++] = m_pchData[i];
  }
  SetLength(out);
  return length - out;
}

int CString::Insert(int nIndex, char ch) { return Insert(nIndex, CString(ch, 1)); }

int CString::Insert(int nIndex, LPCTSTR psz) {
  const int length = GetLength();
  if (nIndex < 0) nIndex = 0;
  if (nIndex > length) nIndex = length;
  CString result(m_pchData, nIndex);
  result += psz;
  result.Append(m_pchData + nIndex, length - nIndex);
  *this = std::move(result);
  return GetLength();
}

int CString::Delete(int nIndex, int nCount) {
  const int length = GetLength();
  if (nIndex < 0) nIndex = 0;
  if (nCount <= 0 || nIndex >= length) return length;
  if (nCount > length - nIndex) nCount = length - nIndex;
  PrepareWrite(length, true);
  std::memmove(m_pchData + nIndex, m_pchData + nIndex + nCount,
               static_cast<std::size_t>(length - nIndex - nCount));
  SetLength(length - nCount);
  return GetLength();
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

// Formatted into a separate buffer (the arguments may point into this string):
// a short text on the stack, a longer one in a block of its exact size.
void CString::AppendFormatV(LPCTSTR lpszFormat, va_list argList) {
  if (lpszFormat == nullptr) AfxThrowInvalidArgException();
  char local[256];
  va_list probe;
  va_copy(probe, argList);
  const int needed = std::vsnprintf(local, sizeof local, lpszFormat, probe);
  va_end(probe);
  if (needed < 0) AfxThrowInvalidArgException();
  if (needed == 0) return;
  if (needed > INT_MAX - 1 - GetLength()) AfxThrowMemoryException();
  if (static_cast<std::size_t>(needed) < sizeof local) {
    Append(local, needed);
    return;
  }
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
  PrepareWrite(nMinBufLength, true);
  Refs(GetData()).store(-1, std::memory_order_relaxed);
  return m_pchData;
}

LPTSTR CString::GetBufferSetLength(int nNewLength) {
  if (nNewLength < 0) AfxThrowInvalidArgException();
  GetBuffer(nNewLength);
  const int length = GetLength();
  if (nNewLength > length) {
    std::memset(m_pchData + length, 0, static_cast<std::size_t>(nNewLength - length));
  }
  SetLength(nNewLength);
  return m_pchData;
}

void CString::ReleaseBuffer(int nNewLength) {
  CStringData* pData = GetData();
  if (pData == Nil()) return;
  if (IsShared()) {
    // No buffer was handed out: the text is shared and stays as it is.
    PrepareWrite(GetLength(), true);
    pData = GetData();
  }
  UnlockBuffer();
  const int nAlloc = pData->nAllocLength;
  if (nNewLength < 0) {
    const void* zero = std::memchr(m_pchData, 0, static_cast<std::size_t>(nAlloc));
    nNewLength =
        zero == nullptr ? nAlloc : static_cast<int>(static_cast<const char*>(zero) - m_pchData);
  }
  if (nNewLength > nAlloc) nNewLength = nAlloc;
  SetLength(nNewLength);
}

LPTSTR CString::LockBuffer() { return GetBuffer(0); }

void CString::UnlockBuffer() noexcept {
  if (IsLocked()) Refs(GetData()).store(1, std::memory_order_relaxed);
}

void CString::FreeExtra() {
  CStringData* pData = GetData();
  if (pData == Nil() || IsShared() || pData->nDataLength == pData->nAllocLength) return;
  if (pData->nDataLength == 0 && !IsLocked()) {
    Empty();
    return;
  }
  const int length = pData->nDataLength;
  pData = static_cast<CStringData*>(
      afx_detail::Reallocate(pData, sizeof(CStringData) + static_cast<std::size_t>(length) + 1));
  pData->nAllocLength = length;
  m_pchData = pData->data();
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
