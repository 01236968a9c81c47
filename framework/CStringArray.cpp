#include "framework/CStringArray.h"

#include <cstdint>
#include <new>
#include <utility>

#include "framework/CArchive.h"
#include "framework/allocation.h"
#include "framework/exceptions.h"

IMPLEMENT_SERIAL(CStringArray, CObject, 0)

// Elements live in raw storage: [0, m_nSize) are constructed strings.
CStringArray::~CStringArray() { RemoveAll(); }

void CStringArray::Reserve(INT_PTR nCapacity) {
  if (nCapacity <= m_nMaxSize) return;
  if (static_cast<std::size_t>(nCapacity) > SIZE_MAX / sizeof(CString)) AfxThrowMemoryException();
  INT_PTR grown = m_nGrowBy > 0 ? m_nMaxSize + m_nGrowBy : m_nMaxSize + m_nMaxSize / 2;
  if (grown < 4) grown = 4;
  if (grown < nCapacity || static_cast<std::size_t>(grown) > SIZE_MAX / sizeof(CString)) {
    grown = nCapacity;
  }
  CString* p = static_cast<CString*>(
      afx_detail::Allocate(static_cast<std::size_t>(grown) * sizeof(CString)));
  for (INT_PTR i = 0; i < m_nSize; ++i) {
    new (p + i) CString(std::move(m_pData[i]));  // moves cannot throw
    m_pData[i].~CString();
  }
  afx_detail::Free(m_pData);
  m_pData = p;
  m_nMaxSize = grown;
}

void CStringArray::SetSize(INT_PTR nNewSize, INT_PTR nGrowBy) {
  if (nNewSize < 0) AfxThrowInvalidArgException();
  if (nGrowBy >= 0) m_nGrowBy = nGrowBy;
  if (nNewSize == 0) {
    RemoveAll();
    return;
  }
  Reserve(nNewSize);
  while (m_nSize < nNewSize) new (m_pData + m_nSize++) CString();
  while (m_nSize > nNewSize) m_pData[--m_nSize].~CString();
}

void CStringArray::FreeExtra() {
  if (m_nSize == m_nMaxSize) return;
  if (m_nSize == 0) {
    RemoveAll();
    return;
  }
  CString* p = static_cast<CString*>(
      afx_detail::Allocate(static_cast<std::size_t>(m_nSize) * sizeof(CString)));
  for (INT_PTR i = 0; i < m_nSize; ++i) {
    new (p + i) CString(std::move(m_pData[i]));
    m_pData[i].~CString();
  }
  afx_detail::Free(m_pData);
  m_pData = p;
  m_nMaxSize = m_nSize;
}

void CStringArray::RemoveAll() noexcept {
  while (m_nSize > 0) m_pData[--m_nSize].~CString();
  afx_detail::Free(m_pData);
  m_pData = nullptr;
  m_nMaxSize = 0;
}

const CString& CStringArray::GetAt(INT_PTR nIndex) const {
  if (nIndex < 0 || nIndex >= m_nSize) AfxThrowInvalidArgException();
  return m_pData[nIndex];
}

CString& CStringArray::ElementAt(INT_PTR nIndex) {
  if (nIndex < 0 || nIndex >= m_nSize) AfxThrowInvalidArgException();
  return m_pData[nIndex];
}

void CStringArray::SetAt(INT_PTR nIndex, LPCTSTR newElement) { ElementAt(nIndex) = newElement; }

void CStringArray::SetAt(INT_PTR nIndex, const CString& newElement) {
  ElementAt(nIndex) = newElement;
}

void CStringArray::SetAtGrow(INT_PTR nIndex, LPCTSTR newElement) {
  SetAtGrow(nIndex, CString(newElement));
}

void CStringArray::SetAtGrow(INT_PTR nIndex, const CString& newElement) {
  if (nIndex < 0) AfxThrowInvalidArgException();
  CString copy(newElement);  // newElement may be one of the elements
  if (nIndex >= m_nSize) SetSize(nIndex + 1);
  m_pData[nIndex] = std::move(copy);
}

INT_PTR CStringArray::Add(LPCTSTR newElement) { return Add(CString(newElement)); }

INT_PTR CStringArray::Add(const CString& newElement) {
  CString copy(newElement);  // newElement may be one of the elements
  Reserve(m_nSize + 1);
  new (m_pData + m_nSize) CString(std::move(copy));
  return m_nSize++;
}

INT_PTR CStringArray::Append(const CStringArray& src) {
  const INT_PTR old = m_nSize;
  if (this == &src) {
    CStringArray copy;
    copy.Copy(src);
    return Append(copy);
  }
  Reserve(m_nSize + src.m_nSize);
  for (INT_PTR i = 0; i < src.m_nSize; ++i) new (m_pData + m_nSize++) CString(src.m_pData[i]);
  return old;
}

void CStringArray::Copy(const CStringArray& src) {
  if (this == &src) return;
  CStringArray copy;
  copy.Append(src);
  RemoveAll();
  std::swap(m_pData, copy.m_pData);
  std::swap(m_nSize, copy.m_nSize);
  std::swap(m_nMaxSize, copy.m_nMaxSize);
}

void CStringArray::InsertAt(INT_PTR nIndex, LPCTSTR newElement, INT_PTR nCount) {
  InsertAt(nIndex, CString(newElement), nCount);
}

// An index past the end grows the array with empty strings first, as MFC does.
void CStringArray::InsertAt(INT_PTR nIndex, const CString& newElement, INT_PTR nCount) {
  if (nIndex < 0 || nCount < 0) AfxThrowInvalidArgException();
  if (nCount == 0) return;
  CString copy(newElement);
  if (nIndex >= m_nSize) {
    SetSize(nIndex + nCount);
  } else {
    if (nCount > PTRDIFF_MAX - m_nSize) AfxThrowMemoryException();
    Reserve(m_nSize + nCount);
    for (INT_PTR i = m_nSize - 1; i >= nIndex; --i) {
      new (m_pData + i + nCount) CString(std::move(m_pData[i]));
      m_pData[i].~CString();
    }
    for (INT_PTR i = 0; i < nCount; ++i) new (m_pData + nIndex + i) CString();
    m_nSize += nCount;
  }
  for (INT_PTR i = 0; i < nCount; ++i) m_pData[nIndex + i] = copy;
}

void CStringArray::InsertAt(INT_PTR nStartIndex, const CStringArray* pNewArray) {
  if (pNewArray == nullptr || nStartIndex < 0) AfxThrowInvalidArgException();
  CStringArray copy;
  copy.Copy(*pNewArray);
  if (copy.m_nSize == 0) return;
  InsertAt(nStartIndex, copy.m_pData[0], copy.m_nSize);
  for (INT_PTR i = 1; i < copy.m_nSize; ++i) m_pData[nStartIndex + i] = copy.m_pData[i];
}

void CStringArray::RemoveAt(INT_PTR nIndex, INT_PTR nCount) {
  if (nIndex < 0 || nCount < 0 || nIndex > m_nSize || nCount > m_nSize - nIndex) {
    AfxThrowInvalidArgException();
  }
  for (INT_PTR i = nIndex; i + nCount < m_nSize; ++i) {
    m_pData[i] = std::move(m_pData[i + nCount]);
  }
  for (INT_PTR i = 0; i < nCount; ++i) m_pData[--m_nSize].~CString();
}

void CStringArray::Serialize(CArchive& ar) {
  if (ar.IsStoring()) {
    ar.WriteCount(static_cast<DWORD_PTR>(m_nSize));
    for (INT_PTR i = 0; i < m_nSize; ++i) ar << m_pData[i];
  } else {
    CStringArray loaded;
    const DWORD_PTR n = ar.ReadCount();
    for (DWORD_PTR i = 0; i < n; ++i) {
      CString s;
      ar >> s;
      loaded.Add(s);
    }
    Copy(loaded);
  }
}
