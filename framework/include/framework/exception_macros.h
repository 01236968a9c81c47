// MFC's exception macros over the framework's pointer exceptions:
//
//   TRY { ... }
//   CATCH(CFileException, e) { ... }
//   AND_CATCH(CException, e) { ... THROW_LAST(); }
//   END_CATCH
//
// The caught exception is deleted (CException::Delete) when its handler ends,
// unless the handler passes it on with THROW_LAST(); a handler that throws
// another exception deletes the caught one too. Do not delete it yourself, and
// pass it on with THROW_LAST(), not THROW(e).
#pragma once

#include "framework/exceptions.h"

// One per TRY block: owns the exception its handler caught.
struct AFX_EXCEPTION_LINK {
  AFX_EXCEPTION_LINK() noexcept;
  ~AFX_EXCEPTION_LINK();
  AFX_EXCEPTION_LINK(const AFX_EXCEPTION_LINK&) = delete;
  AFX_EXCEPTION_LINK& operator=(const AFX_EXCEPTION_LINK&) = delete;

  AFX_EXCEPTION_LINK* m_pLinkPrev;  // the enclosing TRY block's, in this thread
  CException* m_pException = nullptr;
};

// The innermost TRY block of this thread gives up its caught exception, which
// THROW_LAST throws again.
void AfxThrowLastCleanup() noexcept;

#define TRY                               \
  {                                       \
    AFX_EXCEPTION_LINK _afxExceptionLink; \
    try {
#define CATCH(class_name, e) \
  }                          \
  catch (class_name * e) {   \
    _afxExceptionLink.m_pException = e;
#define AND_CATCH(class_name, e) CATCH(class_name, e)
#define END_CATCH \
  }               \
  }
#define CATCH_ALL(e) CATCH(CException, e)
#define AND_CATCH_ALL(e) CATCH(CException, e)
#define END_CATCH_ALL END_CATCH
// Ends a TRY block without handlers of its own: a framework exception is
// deleted there.
#define END_TRY                         \
  }                                     \
  catch (CException * e) {              \
    _afxExceptionLink.m_pException = e; \
  }                                     \
  }

#define THROW(e) throw e
#define THROW_LAST() (AfxThrowLastCleanup(), throw)
#define DELETE_EXCEPTION(e) \
  do {                      \
    if (e) (e)->Delete();   \
  } while (0)
