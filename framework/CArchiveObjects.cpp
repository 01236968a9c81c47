// Objects and classes in an archive, with MFC's tags.
#include <memory>
#include <new>

#include "framework/CArchive.h"
#include "framework/CFile.h"
#include "framework/CObject.h"
#include "framework/archive_object_maps.h"
#include "framework/exceptions.h"

namespace {

constexpr WORD kNullTag = 0;
constexpr WORD kNewClassTag = 0xFFFF;
constexpr WORD kClassTag = 0x8000;
constexpr WORD kBigObjectTag = 0x7FFF;
constexpr DWORD kBigClassTag = 0x80000000u;
constexpr DWORD kMaxMapCount = 0x3FFFFFFEu;
constexpr WORD kNotSerializable = 0xFFFF;

// The maps grow through these, so that running out of memory raises
// CMemoryException as every other allocation of the framework does.
template <class Map>
void Remember(Map& stored, const void* p, DWORD index) {
  try {
    stored.emplace(p, index);
  } catch (const std::bad_alloc&) {
    AfxThrowMemoryException();
  }
}

template <class Vector>
void Remember(Vector& loaded, const typename Vector::value_type& entry) {
  try {
    loaded.push_back(entry);
  } catch (const std::bad_alloc&) {
    AfxThrowMemoryException();
  }
}

}  // namespace

void CArchive::Fail(int cause) const {
  AfxThrowArchiveException(cause, m_pFile != nullptr ? m_pFile->GetFilePath() : CString());
}

CArchive::ObjectMaps& CArchive::Maps() {
  if (m_pMaps == nullptr) {
    m_pMaps = new (std::nothrow) ObjectMaps;
    if (m_pMaps == nullptr) AfxThrowMemoryException();
  }
  return *m_pMaps;
}

void CArchive::WriteObject(const CObject* pOb) {
  CheckOpen(false);
  if (pOb == nullptr) {
    *this << kNullTag;
    return;
  }
  ObjectMaps& maps = Maps();
  const auto found = maps.stored.find(pOb);
  if (found != maps.stored.end()) {
    if (found->second < kBigObjectTag) {
      *this << static_cast<WORD>(found->second);
    } else {
      *this << kBigObjectTag << static_cast<unsigned>(found->second);
    }
    return;
  }
  WriteClass(pOb->GetRuntimeClass());
  if (maps.nStoreCount >= kMaxMapCount) Fail(CArchiveException::badIndex);
  Remember(maps.stored, pOb, maps.nStoreCount++);
  const_cast<CObject*>(pOb)->Serialize(*this);
}

void CArchive::WriteClass(const CRuntimeClass* pClassRef) {
  CheckOpen(false);
  if (pClassRef == nullptr || (pClassRef->m_wSchema & ~VERSIONABLE_SCHEMA) == kNotSerializable) {
    Fail(CArchiveException::badClass);
  }
  ObjectMaps& maps = Maps();
  const auto found = maps.stored.find(pClassRef);
  if (found != maps.stored.end()) {
    if (found->second < kBigObjectTag) {
      *this << static_cast<WORD>(kClassTag | found->second);
    } else {
      *this << kBigObjectTag << static_cast<unsigned>(kBigClassTag | found->second);
    }
    return;
  }
  if (maps.nStoreCount >= kMaxMapCount) Fail(CArchiveException::badIndex);
  *this << kNewClassTag;
  pClassRef->Store(*this);
  Remember(maps.stored, pClassRef, maps.nStoreCount++);
}

CRuntimeClass* CArchive::ReadClass(const CRuntimeClass* pClassRefRequested, UINT* pSchema,
                                   DWORD* pObTag) {
  CheckOpen(true);
  WORD wTag;
  *this >> wTag;
  DWORD obTag;
  if (wTag == kBigObjectTag) {
    unsigned big;
    *this >> big;
    obTag = big;
  } else {
    obTag = (static_cast<DWORD>(wTag & kClassTag) << 16) | (wTag & ~kClassTag);
  }
  if ((obTag & kBigClassTag) == 0) {
    if (pObTag == nullptr) Fail(CArchiveException::badIndex);
    *pObTag = obTag;
    return nullptr;
  }
  ObjectMaps& maps = Maps();
  const CRuntimeClass* pClassRef;
  UINT nSchema;
  if (wTag == kNewClassTag) {
    pClassRef = CRuntimeClass::Load(*this, &nSchema);
    if (pClassRef == nullptr) Fail(CArchiveException::badClass);
    if ((pClassRef->m_wSchema & ~VERSIONABLE_SCHEMA) != nSchema &&
        (pClassRef->m_wSchema & VERSIONABLE_SCHEMA) == 0) {
      Fail(CArchiveException::badSchema);
    }
    if (maps.loaded.size() >= kMaxMapCount) Fail(CArchiveException::badIndex);
    Remember(maps.loaded, {pClassRef, nullptr, nSchema});
  } else {
    const DWORD index = obTag & ~kBigClassTag;
    if (index == 0 || index >= maps.loaded.size() || maps.loaded[index].pClass == nullptr) {
      Fail(CArchiveException::badIndex);
    }
    pClassRef = maps.loaded[index].pClass;
    nSchema = maps.loaded[index].nSchema;
  }
  if (pClassRefRequested != nullptr && !pClassRef->IsDerivedFrom(pClassRefRequested)) {
    Fail(CArchiveException::badClass);
  }
  if (pSchema != nullptr) *pSchema = nSchema;
  return const_cast<CRuntimeClass*>(pClassRef);
}

CObject* CArchive::ReadObject(const CRuntimeClass* pClassRefRequested) {
  UINT nSchema = 0;
  DWORD obTag = 0;
  CRuntimeClass* pClassRef = ReadClass(pClassRefRequested, &nSchema, &obTag);
  ObjectMaps& maps = Maps();
  if (pClassRef == nullptr) {
    if (obTag >= maps.loaded.size() || maps.loaded[obTag].pClass != nullptr) {
      Fail(CArchiveException::badIndex);
    }
    CObject* pOb = maps.loaded[obTag].pObject;
    if (pOb != nullptr && pClassRefRequested != nullptr && !pOb->IsKindOf(pClassRefRequested)) {
      Fail(CArchiveException::badClass);
    }
    return pOb;
  }
  if (maps.loaded.size() >= kMaxMapCount) Fail(CArchiveException::badIndex);
  std::unique_ptr<CObject> pOb(pClassRef->CreateObject());
  if (pOb == nullptr) AfxThrowMemoryException();
  // What the object's Serialize loads after it is forgotten again when it
  // raises: the object is deleted, and nothing may name it afterwards.
  const std::size_t mark = maps.loaded.size();
  Remember(maps.loaded, {nullptr, pOb.get(), 0});
  const UINT nSchemaSaved = m_nObjectSchema;
  m_nObjectSchema = nSchema;
  try {
    pOb->Serialize(*this);
  } catch (...) {
    m_nObjectSchema = nSchemaSaved;
    if (m_pMaps != nullptr && m_pMaps->loaded.size() > mark) m_pMaps->loaded.resize(mark);
    throw;
  }
  m_nObjectSchema = nSchemaSaved;
  return pOb.release();
}

void CArchive::SerializeClass(const CRuntimeClass* pClassRef) {
  if (IsStoring()) {
    WriteClass(pClassRef);
  } else {
    ReadClass(pClassRef);
  }
}

void CArchive::MapObject(const CObject* pOb) {
  ObjectMaps& maps = Maps();
  if (IsStoring()) {
    if (pOb == nullptr || maps.stored.count(pOb) != 0) return;
    if (maps.nStoreCount >= kMaxMapCount) Fail(CArchiveException::badIndex);
    Remember(maps.stored, pOb, maps.nStoreCount++);
  } else {
    if (maps.loaded.size() >= kMaxMapCount) Fail(CArchiveException::badIndex);
    Remember(maps.loaded, {nullptr, const_cast<CObject*>(pOb), 0});
  }
}

UINT CArchive::GetObjectSchema() {
  const UINT nResult = m_nObjectSchema;
  m_nObjectSchema = static_cast<UINT>(-1);
  return nResult;
}

void CArchive::SetStoreParams(UINT, UINT) {}

void CArchive::SetLoadParams(UINT) {}

CArchive& operator<<(CArchive& ar, const CObject* pOb) {
  ar.WriteObject(pOb);
  return ar;
}

CArchive& operator>>(CArchive& ar, CObject*& pOb) {
  pOb = ar.ReadObject(nullptr);
  return ar;
}

CArchive& operator>>(CArchive& ar, const CObject*& pOb) {
  pOb = ar.ReadObject(nullptr);
  return ar;
}
