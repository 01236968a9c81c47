#include "framework/CDumpContext.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "framework/CFile.h"
#include "framework/CObject.h"

CDumpContext::CDumpContext(CFile* pFile) : m_pFile(pFile) {}

int CDumpContext::GetDepth() const { return m_nDepth; }

void CDumpContext::SetDepth(int nNewDepth) { m_nDepth = nNewDepth; }

void CDumpContext::Flush() {
  if (m_pFile != nullptr) m_pFile->Flush();
}

void CDumpContext::Output(const char* text, UINT length) {
  if (m_pFile != nullptr && length > 0) m_pFile->Write(text, length);
}

CDumpContext& CDumpContext::operator<<(LPCTSTR lpsz) {
  if (lpsz == nullptr) lpsz = "(NULL)";
  Output(lpsz, static_cast<UINT>(std::strlen(lpsz)));
  return *this;
}

namespace {

template <class... Args>
void Print(CDumpContext& dc, const char* format, Args... args) {
  char text[64];
  std::snprintf(text, sizeof text, format, args...);
  dc << static_cast<LPCTSTR>(text);
}

}  // namespace

CDumpContext& CDumpContext::operator<<(const void* lp) {
  Print(*this, "$%p", lp);
  return *this;
}

CDumpContext& CDumpContext::operator<<(const CObject* pOb) {
  if (pOb == nullptr) return *this << "NULL";
  pOb->Dump(*this);
  return *this;
}

CDumpContext& CDumpContext::operator<<(const CObject& ob) { return *this << &ob; }

CDumpContext& CDumpContext::operator<<(BYTE by) { return *this << static_cast<unsigned>(by); }

CDumpContext& CDumpContext::operator<<(WORD w) { return *this << static_cast<unsigned>(w); }

CDumpContext& CDumpContext::operator<<(int n) {
  Print(*this, "%d", n);
  return *this;
}

CDumpContext& CDumpContext::operator<<(unsigned u) {
  Print(*this, "%u", u);
  return *this;
}

CDumpContext& CDumpContext::operator<<(LONGLONG n) {
  Print(*this, "%" PRId64, static_cast<std::int64_t>(n));
  return *this;
}

CDumpContext& CDumpContext::operator<<(ULONGLONG n) {
  Print(*this, "%" PRIu64, static_cast<std::uint64_t>(n));
  return *this;
}

CDumpContext& CDumpContext::operator<<(double d) {
  Print(*this, "%g", d);
  return *this;
}

#ifdef _WIN32
CDumpContext& CDumpContext::operator<<(LONG l) { return *this << static_cast<int>(l); }
CDumpContext& CDumpContext::operator<<(DWORD dw) { return *this << static_cast<unsigned>(dw); }
#endif
