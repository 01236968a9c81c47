#include "framework/exceptions.h"

#include <cstdio>
#include <cstring>
#include <new>

IMPLEMENT_DYNAMIC(CException, CObject)
IMPLEMENT_DYNAMIC(CSimpleException, CException)
IMPLEMENT_DYNAMIC(CMemoryException, CSimpleException)
IMPLEMENT_DYNAMIC(CResourceException, CSimpleException)
IMPLEMENT_DYNAMIC(CNotSupportedException, CSimpleException)
IMPLEMENT_DYNAMIC(CInvalidArgException, CSimpleException)
IMPLEMENT_DYNAMIC(CFileException, CException)
IMPLEMENT_DYNAMIC(CArchiveException, CException)

void CException::Delete() {
  if (m_bAutoDelete > 0) delete this;
}

BOOL CException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, PUINT pnHelpContext) const {
  if (pnHelpContext != nullptr) *pnHelpContext = 0;
  if (lpszError != nullptr && nMaxError > 0) *lpszError = '\0';
  return FALSE;
}

BOOL CException::CopyMessage(LPCTSTR lpszMessage, LPTSTR lpszError, UINT nMaxError,
                             PUINT pnHelpContext) {
  if (pnHelpContext != nullptr) *pnHelpContext = 0;
  if (lpszError == nullptr || nMaxError == 0) return FALSE;
  std::size_t n = std::strlen(lpszMessage);
  if (n >= nMaxError) n = nMaxError - 1;
  std::memcpy(lpszError, lpszMessage, n);
  lpszError[n] = '\0';
  return TRUE;
}

BOOL CMemoryException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError,
                                       PUINT pnHelpContext) const {
  return CopyMessage("Out of memory.", lpszError, nMaxError, pnHelpContext);
}

BOOL CResourceException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError,
                                         PUINT pnHelpContext) const {
  return CopyMessage("A system resource could not be obtained.", lpszError, nMaxError,
                     pnHelpContext);
}

BOOL CNotSupportedException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError,
                                             PUINT pnHelpContext) const {
  return CopyMessage("The operation is not supported.", lpszError, nMaxError, pnHelpContext);
}

BOOL CInvalidArgException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError,
                                           PUINT pnHelpContext) const {
  return CopyMessage("An invalid argument was encountered.", lpszError, nMaxError, pnHelpContext);
}

namespace {

// Appends the file name, when there is one, to a message.
BOOL CopyMessageWithName(const char* text, const CString& name, LPTSTR lpszError, UINT nMaxError,
                         PUINT pnHelpContext, BOOL (*copy)(LPCTSTR, LPTSTR, UINT, PUINT)) {
  CString message(text);
  if (!name.IsEmpty()) {
    message += " (";
    message += name;
    message += ")";
  }
  message += ".";
  return copy(message, lpszError, nMaxError, pnHelpContext);
}

const char* FileCauseText(int cause) {
  switch (cause) {
    case CFileException::none:
      return "No error occurred";
    case CFileException::fileNotFound:
      return "The file could not be found";
    case CFileException::badPath:
      return "All or part of the path is invalid";
    case CFileException::tooManyOpenFiles:
      return "Too many files are open";
    case CFileException::accessDenied:
      return "Access to the file was denied";
    case CFileException::invalidFile:
      return "The file handle is invalid";
    case CFileException::removeCurrentDir:
      return "The current directory cannot be removed";
    case CFileException::directoryFull:
      return "The directory is full";
    case CFileException::badSeek:
      return "The file pointer could not be set";
    case CFileException::hardIO:
      return "A hardware error occurred";
    case CFileException::sharingViolation:
      return "A sharing violation occurred";
    case CFileException::lockViolation:
      return "A locked region could not be accessed";
    case CFileException::diskFull:
      return "The disk is full";
    case CFileException::endOfFile:
      return "The end of the file was reached";
    default:
      return "An unspecified file error occurred";
  }
}

const char* ArchiveCauseText(int cause) {
  switch (cause) {
    case CArchiveException::none:
      return "No error occurred";
    case CArchiveException::readOnly:
      return "An archive opened for loading was written to";
    case CArchiveException::endOfFile:
      return "The end of the archive was reached";
    case CArchiveException::writeOnly:
      return "An archive opened for storing was read from";
    case CArchiveException::badIndex:
      return "The archive has an invalid format";
    case CArchiveException::badClass:
      return "An object of the wrong type was read";
    case CArchiveException::badSchema:
      return "An object of an unknown version was read";
    default:
      return "An unspecified archive error occurred";
  }
}

}  // namespace

CFileException::CFileException(int cause, LONG lOsError, LPCTSTR lpszArchiveName)
    : m_cause(cause), m_lOsError(lOsError), m_strFileName(lpszArchiveName) {}

BOOL CFileException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, PUINT pnHelpContext) const {
  return CopyMessageWithName(FileCauseText(m_cause), m_strFileName, lpszError, nMaxError,
                             pnHelpContext, &CopyMessage);
}

int CFileException::OsErrorToException(LONG lOsError) {
  switch (lOsError) {
    case NO_ERROR:
      return none;
    case ERROR_FILE_NOT_FOUND:
      return fileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_NAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return badPath;
    case ERROR_ACCESS_DENIED:
      return accessDenied;
    case ERROR_INVALID_HANDLE:
      return invalidFile;
    case ERROR_WRITE_FAULT:
    case ERROR_READ_FAULT:
      return hardIO;
    case ERROR_LOCK_VIOLATION:
      return lockViolation;
    case ERROR_DISK_FULL:
      return diskFull;
    default:
      return genericException;
  }
}

void CFileException::ThrowOsError(LONG lOsError, LPCTSTR lpszFileName) {
  AfxThrowFileException(OsErrorToException(lOsError), lOsError, lpszFileName);
}

CArchiveException::CArchiveException(int cause, LPCTSTR lpszArchiveName)
    : m_cause(cause), m_strFileName(lpszArchiveName) {}

BOOL CArchiveException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError,
                                        PUINT pnHelpContext) const {
  return CopyMessageWithName(ArchiveCauseText(m_cause), m_strFileName, lpszError, nMaxError,
                             pnHelpContext, &CopyMessage);
}

namespace {

// Throws a new exception of type E, or the preallocated one when even that
// small allocation fails.
template <class E>
[[noreturn]] void ThrowSimple(E& preallocated) {
  E* e = new (std::nothrow) E;
  throw e != nullptr ? e : &preallocated;
}

}  // namespace

void AfxThrowMemoryException() {
  static CMemoryException preallocated(FALSE);
  ThrowSimple(preallocated);
}

void AfxThrowResourceException() {
  static CResourceException preallocated(FALSE);
  ThrowSimple(preallocated);
}

void AfxThrowNotSupportedException() {
  static CNotSupportedException preallocated(FALSE);
  ThrowSimple(preallocated);
}

void AfxThrowInvalidArgException() {
  static CInvalidArgException preallocated(FALSE);
  ThrowSimple(preallocated);
}

void AfxThrowFileException(int cause, LONG lOsError, LPCTSTR lpszFileName) {
  CFileException* e;
  try {
    e = new CFileException(cause, lOsError, lpszFileName);
  } catch (const std::bad_alloc&) {
    AfxThrowMemoryException();
  }
  throw e;
}

void AfxThrowArchiveException(int cause, LPCTSTR lpszArchiveName) {
  CArchiveException* e;
  try {
    e = new CArchiveException(cause, lpszArchiveName);
  } catch (const std::bad_alloc&) {
    AfxThrowMemoryException();
  }
  throw e;
}
