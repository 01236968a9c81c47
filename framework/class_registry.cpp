// The serialisable classes known by name, and the class record of archives.
#include <cstring>
#include <mutex>
#include <vector>

#include "framework/CArchive.h"
#include "framework/CObject.h"

namespace {

struct ClassList {
  std::mutex mutex;
  std::vector<CRuntimeClass*> classes;  // in the order they became known
};

// Made on first use, so that classes of any translation unit can register
// during static initialisation; never destroyed, so that they can also leave
// during static destruction.
ClassList& Classes() {
  static ClassList* list = new ClassList;
  return *list;
}

// Longest class name read from an archive; MFC's own limit is lower.
constexpr WORD kMaxClassName = 255;

}  // namespace

AFX_CLASSINIT::AFX_CLASSINIT(CRuntimeClass* pNewClass) : m_pClass(pNewClass) {
  ClassList& list = Classes();
  std::lock_guard<std::mutex> lock(list.mutex);
  list.classes.push_back(pNewClass);
}

AFX_CLASSINIT::~AFX_CLASSINIT() {
  ClassList& list = Classes();
  std::lock_guard<std::mutex> lock(list.mutex);
  for (auto it = list.classes.begin(); it != list.classes.end(); ++it) {
    if (*it == m_pClass) {
      list.classes.erase(it);
      break;
    }
  }
}

CRuntimeClass* CRuntimeClass::FromName(LPCSTR lpszClassName) {
  if (lpszClassName == nullptr) return nullptr;
  ClassList& list = Classes();
  std::lock_guard<std::mutex> lock(list.mutex);
  for (CRuntimeClass* c : list.classes) {
    if (std::strcmp(c->m_lpszClassName, lpszClassName) == 0) return c;
  }
  return nullptr;
}

void CRuntimeClass::Store(CArchive& ar) const {
  std::size_t n = std::strlen(m_lpszClassName);
  if (n > 0xFFFF) n = 0xFFFF;
  ar << static_cast<WORD>(m_wSchema) << static_cast<WORD>(n);
  ar.Write(m_lpszClassName, static_cast<UINT>(n));
}

CRuntimeClass* CRuntimeClass::Load(CArchive& ar, UINT* pwSchemaNum) {
  WORD wSchema;
  WORD nLength;
  ar >> wSchema >> nLength;
  if (pwSchemaNum != nullptr) *pwSchemaNum = wSchema;
  char name[kMaxClassName + 1];
  if (nLength > kMaxClassName || ar.Read(name, nLength) != nLength) return nullptr;
  name[nLength] = '\0';
  if (std::memchr(name, '\0', nLength) != nullptr) return nullptr;
  return FromName(name);
}
