#include "framework/exception_macros.h"

namespace {

// The innermost TRY block of each thread.
thread_local AFX_EXCEPTION_LINK* t_pInnermost = nullptr;

}  // namespace

AFX_EXCEPTION_LINK::AFX_EXCEPTION_LINK() noexcept : m_pLinkPrev(t_pInnermost) {
  t_pInnermost = this;
}

AFX_EXCEPTION_LINK::~AFX_EXCEPTION_LINK() {
  t_pInnermost = m_pLinkPrev;
  if (m_pException != nullptr) m_pException->Delete();
}

// The handler that rethrows is the innermost one holding an exception: TRY
// blocks inside the handler that caught nothing hold none.
void AfxThrowLastCleanup() noexcept {
  for (AFX_EXCEPTION_LINK* p = t_pInnermost; p != nullptr; p = p->m_pLinkPrev) {
    if (p->m_pException != nullptr) {
      p->m_pException = nullptr;
      return;
    }
  }
}
