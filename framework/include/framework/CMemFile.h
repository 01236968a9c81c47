// CMemFile: a file in memory. It either owns a buffer that grows in steps of
// its growth size, or works over a caller's buffer attached to it.
#pragma once

#include <cstddef>

#include "framework/CFile.h"

class CMemFile : public CFile {
  DECLARE_DYNAMIC(CMemFile)
 public:
  explicit CMemFile(UINT nGrowBytes = 1024);
  CMemFile(BYTE* lpBuffer, UINT nBufferSize, UINT nGrowBytes = 0);
  ~CMemFile() override;

  // With nGrowBytes 0 the file is fixed: its length is nBufferSize and a write
  // past the end raises CMemoryException. Otherwise it starts empty and, when
  // it must grow, moves into a buffer of its own (the caller's is left alone).
  // The caller's buffer is never freed by the file.
  void Attach(BYTE* lpBuffer, UINT nBufferSize, UINT nGrowBytes = 0);
  // Gives the buffer to the caller (who frees an owned one with free()) and
  // leaves the file empty.
  BYTE* Detach();

  // The buffer's address, which stays the file's.
  BYTE* GetBufferAddress() const noexcept { return m_lpBuffer; }

  ULONGLONG GetPosition() const override;
  ULONGLONG Seek(LONGLONG lOff, UINT nFrom) override;
  void SetLength(ULONGLONG dwNewLen) override;
  ULONGLONG GetLength() const override;
  UINT Read(void* lpBuf, UINT nCount) override;
  void Write(const void* lpBuf, UINT nCount) override;
  void Flush() override;
  void Close() override;
  void Abort() override;

 protected:
  void GrowFile(std::size_t nNewLen);

  std::size_t m_nGrowBytes;
  std::size_t m_nPosition = 0;
  std::size_t m_nBufferSize = 0;
  std::size_t m_nFileSize = 0;
  BYTE* m_lpBuffer = nullptr;
  BOOL m_bAutoDelete = TRUE;  // the file owns m_lpBuffer
};
