#include "framework/CArchive.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <utility>

#include "framework/CFile.h"
#include "framework/allocation.h"
#include "framework/archive_object_maps.h"
#include "framework/exceptions.h"

#ifndef _WIN32
static_assert(sizeof(LONG) == 4 && sizeof(DWORD) == 4);
#endif

namespace {

constexpr UINT kMinBufSize = 16;  // room for the widest fixed-size type

CString FileNameOf(const CFile* pFile) {
  return pFile == nullptr ? CString() : pFile->GetFilePath();
}

}  // namespace

CArchive::CArchive(CFile* pFile, UINT nMode, int nBufSize, void* lpBuf)
    : m_pFile(pFile), m_nMode(nMode) {
  if (pFile == nullptr) AfxThrowInvalidArgException();
  m_bUserBuf = lpBuf != nullptr && nBufSize >= static_cast<int>(kMinBufSize);
  m_nBufSize = nBufSize < static_cast<int>(kMinBufSize) ? kMinBufSize : static_cast<UINT>(nBufSize);
  m_lpBufStart =
      m_bUserBuf ? static_cast<BYTE*>(lpBuf) : static_cast<BYTE*>(afx_detail::Allocate(m_nBufSize));
  m_lpBufCur = m_lpBufStart;
  m_lpBufMax = IsLoading() ? m_lpBufStart : m_lpBufStart + m_nBufSize;
}

CArchive::~CArchive() {
  if (m_pFile != nullptr && !(m_nMode & bNoFlushOnDelete)) {
    try {
      Close();
    } catch (CException* e) {
      e->Delete();  // a destructor cannot report it
    } catch (...) {
    }
  }
  Abort();
  if (!m_bUserBuf) afx_detail::Free(m_lpBufStart);
  delete m_pMaps;
}

void CArchive::CheckOpen(bool forLoading) const {
  if (m_pFile == nullptr) AfxThrowArchiveException(CArchiveException::genericException);
  if (forLoading && !IsLoading()) {
    AfxThrowArchiveException(CArchiveException::writeOnly, FileNameOf(m_pFile));
  }
  if (!forLoading && IsLoading()) {
    AfxThrowArchiveException(CArchiveException::readOnly, FileNameOf(m_pFile));
  }
}

void CArchive::FlushBuffer() {
  const UINT n = static_cast<UINT>(m_lpBufCur - m_lpBufStart);
  if (n > 0) {
    m_pFile->Write(m_lpBufStart, n);
    m_lpBufCur = m_lpBufStart;
  }
}

// Keeps the unread bytes and reads as many more as the buffer holds.
void CArchive::FillBuffer() {
  const std::size_t kept = static_cast<std::size_t>(m_lpBufMax - m_lpBufCur);
  if (kept > 0 && m_lpBufCur != m_lpBufStart) std::memmove(m_lpBufStart, m_lpBufCur, kept);
  m_lpBufCur = m_lpBufStart;
  m_lpBufMax = m_lpBufStart + kept;
  while (m_lpBufMax < m_lpBufStart + m_nBufSize) {
    const UINT got =
        m_pFile->Read(m_lpBufMax, static_cast<UINT>(m_lpBufStart + m_nBufSize - m_lpBufMax));
    if (got == 0) break;
    m_lpBufMax += got;
  }
}

UINT CArchive::Read(void* lpBuf, UINT nMax) {
  CheckOpen(true);
  if (nMax == 0) return 0;
  if (lpBuf == nullptr) AfxThrowInvalidArgException();
  BYTE* out = static_cast<BYTE*>(lpBuf);
  UINT done = 0;
  while (done < nMax) {
    UINT available = static_cast<UINT>(m_lpBufMax - m_lpBufCur);
    if (available == 0) {
      if (nMax - done >= m_nBufSize) {
        const UINT got = m_pFile->Read(out + done, nMax - done);  // large reads bypass the buffer
        if (got == 0) break;
        done += got;
        continue;
      }
      FillBuffer();
      available = static_cast<UINT>(m_lpBufMax - m_lpBufCur);
      if (available == 0) break;
    }
    const UINT n = available < nMax - done ? available : nMax - done;
    std::memcpy(out + done, m_lpBufCur, n);
    m_lpBufCur += n;
    done += n;
  }
  return done;
}

void CArchive::Write(const void* lpBuf, UINT nMax) {
  CheckOpen(false);
  if (nMax == 0) return;
  if (lpBuf == nullptr) AfxThrowInvalidArgException();
  const UINT room = static_cast<UINT>(m_lpBufMax - m_lpBufCur);
  if (nMax <= room) {
    std::memcpy(m_lpBufCur, lpBuf, nMax);
    m_lpBufCur += nMax;
    return;
  }
  FlushBuffer();
  if (nMax >= m_nBufSize) {
    m_pFile->Write(lpBuf, nMax);
  } else {
    std::memcpy(m_lpBufCur, lpBuf, nMax);
    m_lpBufCur += nMax;
  }
}

void CArchive::Flush() {
  if (m_pFile == nullptr) return;
  if (IsLoading()) {
    const LONGLONG unread = m_lpBufMax - m_lpBufCur;
    if (unread > 0) m_pFile->Seek(-unread, CFile::current);
    m_lpBufCur = m_lpBufMax = m_lpBufStart;
  } else {
    FlushBuffer();
    m_pFile->Flush();
  }
}

void CArchive::Close() {
  if (m_pFile == nullptr) return;
  Flush();
  m_pFile = nullptr;
}

void CArchive::Abort() { m_pFile = nullptr; }

void CArchive::WriteLE(ULONGLONG value, UINT nBytes) {
  CheckOpen(false);
  if (static_cast<UINT>(m_lpBufMax - m_lpBufCur) < nBytes) FlushBuffer();
  for (UINT i = 0; i < nBytes; ++i) *m_lpBufCur++ = static_cast<BYTE>(value >> (8 * i));
}

ULONGLONG CArchive::ReadLE(UINT nBytes) {
  CheckOpen(true);
  if (static_cast<UINT>(m_lpBufMax - m_lpBufCur) < nBytes) {
    FillBuffer();
    if (static_cast<UINT>(m_lpBufMax - m_lpBufCur) < nBytes) {
      AfxThrowArchiveException(CArchiveException::endOfFile, FileNameOf(m_pFile));
    }
  }
  ULONGLONG value = 0;
  for (UINT i = 0; i < nBytes; ++i) value |= static_cast<ULONGLONG>(*m_lpBufCur++) << (8 * i);
  return value;
}

void CArchive::WriteCount(DWORD_PTR dwCount) {
  if (dwCount < 0xFFFF) {
    WriteLE(dwCount, 2);
  } else {
    WriteLE(0xFFFF, 2);
    WriteLE(static_cast<DWORD>(dwCount), 4);
  }
}

DWORD_PTR CArchive::ReadCount() {
  const WORD w = static_cast<WORD>(ReadLE(2));
  if (w != 0xFFFF) return w;
  return static_cast<DWORD_PTR>(ReadLE(4));
}

// Bit patterns of the floating types, independent of host layout.
namespace {
template <class To, class From>
To BitCast(From from) {
  static_assert(sizeof(To) == sizeof(From));
  To to;
  std::memcpy(&to, &from, sizeof to);
  return to;
}
}  // namespace

CArchive& CArchive::operator<<(BYTE by) { return WriteLE(by, 1), *this; }
CArchive& CArchive::operator<<(WORD w) { return WriteLE(w, 2), *this; }
CArchive& CArchive::operator<<(int i) { return WriteLE(static_cast<std::uint32_t>(i), 4), *this; }
CArchive& CArchive::operator<<(unsigned u) { return WriteLE(u, 4), *this; }
CArchive& CArchive::operator<<(short w) { return WriteLE(static_cast<WORD>(w), 2), *this; }
CArchive& CArchive::operator<<(char ch) { return WriteLE(static_cast<BYTE>(ch), 1), *this; }
CArchive& CArchive::operator<<(bool b) { return WriteLE(b ? 1 : 0, 1), *this; }
CArchive& CArchive::operator<<(float f) { return WriteLE(BitCast<std::uint32_t>(f), 4), *this; }
CArchive& CArchive::operator<<(double d) { return WriteLE(BitCast<std::uint64_t>(d), 8), *this; }
CArchive& CArchive::operator<<(LONGLONG dwdw) {
  return WriteLE(static_cast<ULONGLONG>(dwdw), 8), *this;
}
CArchive& CArchive::operator<<(ULONGLONG dwdw) { return WriteLE(dwdw, 8), *this; }

CArchive& CArchive::operator>>(BYTE& by) { return by = static_cast<BYTE>(ReadLE(1)), *this; }
CArchive& CArchive::operator>>(WORD& w) { return w = static_cast<WORD>(ReadLE(2)), *this; }
CArchive& CArchive::operator>>(int& i) {
  return i = static_cast<int>(static_cast<std::uint32_t>(ReadLE(4))), *this;
}
CArchive& CArchive::operator>>(unsigned& u) { return u = static_cast<unsigned>(ReadLE(4)), *this; }
CArchive& CArchive::operator>>(short& w) {
  return w = static_cast<short>(static_cast<WORD>(ReadLE(2))), *this;
}
CArchive& CArchive::operator>>(char& ch) {
  return ch = static_cast<char>(static_cast<BYTE>(ReadLE(1))), *this;
}
CArchive& CArchive::operator>>(bool& b) { return b = ReadLE(1) != 0, *this; }
CArchive& CArchive::operator>>(float& f) {
  return f = BitCast<float>(static_cast<std::uint32_t>(ReadLE(4))), *this;
}
CArchive& CArchive::operator>>(double& d) {
  return d = BitCast<double>(static_cast<std::uint64_t>(ReadLE(8))), *this;
}
CArchive& CArchive::operator>>(LONGLONG& dwdw) {
  return dwdw = static_cast<LONGLONG>(ReadLE(8)), *this;
}
CArchive& CArchive::operator>>(ULONGLONG& dwdw) { return dwdw = ReadLE(8), *this; }

#ifdef _WIN32
CArchive& CArchive::operator<<(LONG l) { return WriteLE(static_cast<DWORD>(l), 4), *this; }
CArchive& CArchive::operator<<(DWORD dw) { return WriteLE(dw, 4), *this; }
CArchive& CArchive::operator>>(LONG& l) {
  return l = static_cast<LONG>(static_cast<DWORD>(ReadLE(4))), *this;
}
CArchive& CArchive::operator>>(DWORD& dw) { return dw = static_cast<DWORD>(ReadLE(4)), *this; }
#endif

// Length prefix: one byte below 0xFF; 0xFF and a WORD below 0xFFFE; 0xFF,
// 0xFFFF and a DWORD beyond. 0xFF, 0xFFFE marks a string of UTF-16 units.
CArchive& operator<<(CArchive& ar, const CString& string) {
  const UINT n = static_cast<UINT>(string.GetLength());
  if (n < 0xFF) {
    ar << static_cast<BYTE>(n);
  } else if (n < 0xFFFE) {
    ar << static_cast<BYTE>(0xFF) << static_cast<WORD>(n);
  } else {
    ar << static_cast<BYTE>(0xFF) << static_cast<WORD>(0xFFFF) << static_cast<unsigned>(n);
  }
  ar.Write(string.GetString(), n);
  return ar;
}

namespace {

// The length behind a prefix; wide is set when the 0xFFFE marker comes first.
ULONGLONG ReadStringLength(CArchive& ar, bool& wide) {
  wide = false;
  BYTE b;
  ar >> b;
  if (b < 0xFF) return b;
  WORD w;
  ar >> w;
  if (w == 0xFFFE) {
    wide = true;
    ar >> b;
    if (b < 0xFF) return b;
    ar >> w;
  }
  if (w < 0xFFFF) return w;
  unsigned dw;
  ar >> dw;
  if (dw < 0xFFFFFFFFu) return dw;
  ULONGLONG qw;
  ar >> qw;
  return qw;
}

}  // namespace

// The string is read in growing pieces, so a corrupt length cannot make a large
// allocation before its bytes are there. UTF-16 units outside ASCII become '?'.
CArchive& operator>>(CArchive& ar, CString& string) {
  bool wide = false;
  const ULONGLONG length = ReadStringLength(ar, wide);
  if (length > static_cast<ULONGLONG>(INT_MAX - 1)) {
    AfxThrowArchiveException(CArchiveException::badIndex,
                             ar.GetFile() != nullptr ? ar.GetFile()->GetFilePath() : CString());
  }
  const int total = static_cast<int>(length);
  CString result;
  int have = 0;
  while (have < total) {
    int piece = have < 65536 ? 65536 : have;
    if (piece > total - have) piece = total - have;
    char* p = result.GetBufferSetLength(have + piece) + have;
    UINT got;
    if (!wide) {
      got = ar.Read(p, static_cast<UINT>(piece));
    } else {
      got = 0;
      for (; got < static_cast<UINT>(piece); ++got) {
        BYTE unit[2];
        if (ar.Read(unit, 2) != 2) break;
        const unsigned code = unit[0] | (static_cast<unsigned>(unit[1]) << 8);
        p[got] = code < 0x80 ? static_cast<char>(code) : '?';
      }
    }
    if (got != static_cast<UINT>(piece)) {
      AfxThrowArchiveException(CArchiveException::endOfFile,
                               ar.GetFile() != nullptr ? ar.GetFile()->GetFilePath() : CString());
    }
    have += piece;
  }
  result.ReleaseBuffer(total);
  string = std::move(result);
  return ar;
}
