// CStringArray: an ordered, growable list of CString. An index outside the
// array raises CInvalidArgException.
#pragma once

#include "framework/CObject.h"
#include "framework/CString.h"

class CStringArray : public CObject {
  DECLARE_SERIAL(CStringArray)
 public:
  CStringArray() = default;
  ~CStringArray() override;

  INT_PTR GetSize() const noexcept { return m_nSize; }
  INT_PTR GetCount() const noexcept { return m_nSize; }
  BOOL IsEmpty() const noexcept { return m_nSize == 0; }
  INT_PTR GetUpperBound() const noexcept { return m_nSize - 1; }
  void SetSize(INT_PTR nNewSize, INT_PTR nGrowBy = -1);

  void FreeExtra();
  void RemoveAll() noexcept;  // releases the storage too

  const CString& GetAt(INT_PTR nIndex) const;
  void SetAt(INT_PTR nIndex, LPCTSTR newElement);
  void SetAt(INT_PTR nIndex, const CString& newElement);
  CString& ElementAt(INT_PTR nIndex);
  const CString* GetData() const noexcept { return m_pData; }
  CString* GetData() noexcept { return m_pData; }

  void SetAtGrow(INT_PTR nIndex, LPCTSTR newElement);
  void SetAtGrow(INT_PTR nIndex, const CString& newElement);
  INT_PTR Add(LPCTSTR newElement);
  INT_PTR Add(const CString& newElement);
  INT_PTR Append(const CStringArray& src);
  void Copy(const CStringArray& src);

  const CString& operator[](INT_PTR nIndex) const { return GetAt(nIndex); }
  CString& operator[](INT_PTR nIndex) { return ElementAt(nIndex); }

  void InsertAt(INT_PTR nIndex, LPCTSTR newElement, INT_PTR nCount = 1);
  void InsertAt(INT_PTR nIndex, const CString& newElement, INT_PTR nCount = 1);
  void InsertAt(INT_PTR nStartIndex, const CStringArray* pNewArray);
  void RemoveAt(INT_PTR nIndex, INT_PTR nCount = 1);

  void Serialize(CArchive& ar) override;

 private:
  void Reserve(INT_PTR nCapacity);

  CString* m_pData = nullptr;
  INT_PTR m_nSize = 0;
  INT_PTR m_nMaxSize = 0;
  INT_PTR m_nGrowBy = 0;  // 0: grow geometrically
};
