// CArchive: a buffered binary stream over a CFile, laid out as MFC lays it
// out: fixed-size types little-endian at their natural width (int and LONG in
// 4 bytes, bool in 1), strings behind MFC's length prefix. A typed read past
// the end raises CArchiveException with the cause endOfFile.
//
// Objects (ar << pOb, ar >> pOb) go with MFC's tags, so that archives of MFC
// programs load and the reverse: each object and class gets the next index of
// one count that starts at 1 (0 is the null pointer). A WORD tag is 0 for
// null, 0xFFFF for a new class (then its schema, name length and name, then
// the object's data), 0x8000 | index for a class seen before (then the
// object's data), or the index of an object stored before; indexes from
// 0x7FFF on are written as the tag 0x7FFF and a DWORD (with 0x80000000 set for
// a class). Loading checks every tag and index and raises CArchiveException
// (badIndex, badClass, badSchema) on one that does not fit.
#pragma once

#include "framework/CString.h"
#include "framework/win32_types.h"

class CFile;
class CObject;
struct CRuntimeClass;

class CArchive {
 public:
  enum Mode { store = 0, load = 1, bNoFlushOnDelete = 2, bNoByteSwap = 4 };

  // lpBuf, when given, is a caller's buffer of nBufSize bytes that the archive
  // uses instead of allocating one.
  CArchive(CFile* pFile, UINT nMode, int nBufSize = 4096, void* lpBuf = nullptr);
  ~CArchive();
  CArchive(const CArchive&) = delete;
  CArchive& operator=(const CArchive&) = delete;

  BOOL IsLoading() const { return (m_nMode & load) != 0; }
  BOOL IsStoring() const { return (m_nMode & load) == 0; }
  BOOL IsBufferEmpty() const { return m_lpBufCur == m_lpBufMax; }
  CFile* GetFile() const { return m_pFile; }

  // Reads up to nMax bytes; fewer only at the end of the file.
  UINT Read(void* lpBuf, UINT nMax);
  void Write(const void* lpBuf, UINT nMax);
  // Store mode: every buffered byte into the file. Load mode: the file is put
  // back to the first unread byte.
  void Flush();
  // Flushes and detaches the file; the archive can no longer be used.
  void Close();
  // Detaches the file without writing what is buffered.
  void Abort();

  void WriteCount(DWORD_PTR dwCount);
  DWORD_PTR ReadCount();

  // An object by pointer: its class and data the first time, its index after.
  void WriteObject(const CObject* pOb);
  // The object that the next tag names, made by its class's creation function
  // the first time; it must be of pClassRefRequested (when given) or a class
  // derived from it. When its Serialize raises, the object is deleted.
  CObject* ReadObject(const CRuntimeClass* pClassRefRequested);
  void WriteClass(const CRuntimeClass* pClassRef);
  // The class that the next tag names. A tag that names an object instead
  // gives null and the object's index in *pObTag.
  CRuntimeClass* ReadClass(const CRuntimeClass* pClassRefRequested = nullptr,
                           UINT* pSchema = nullptr, DWORD* pObTag = nullptr);
  void SerializeClass(const CRuntimeClass* pClassRef);
  // Counts an object as stored (or loaded) without writing (reading) it, so
  // that later references to it are written as its index.
  void MapObject(const CObject* pOb);
  // In a Serialize that loads: the schema number that the archive holds for
  // the object; (UINT)-1 when asked a second time, or outside such a call.
  UINT GetObjectSchema();
  void SetObjectSchema(UINT nSchema) { m_nObjectSchema = nSchema; }
  // Tuning of MFC's maps; here the maps size themselves.
  void SetStoreParams(UINT nHashSize = 2053, UINT nBlockSize = 128);
  void SetLoadParams(UINT nGrowBy = 1024);

  CArchive& operator<<(BYTE by);
  CArchive& operator<<(WORD w);
  CArchive& operator<<(int i);
  CArchive& operator<<(unsigned u);
  CArchive& operator<<(short w);
  CArchive& operator<<(char ch);
  CArchive& operator<<(bool b);
  CArchive& operator<<(float f);
  CArchive& operator<<(double d);
  CArchive& operator<<(LONGLONG dwdw);
  CArchive& operator<<(ULONGLONG dwdw);

  CArchive& operator>>(BYTE& by);
  CArchive& operator>>(WORD& w);
  CArchive& operator>>(int& i);
  CArchive& operator>>(unsigned& u);
  CArchive& operator>>(short& w);
  CArchive& operator>>(char& ch);
  CArchive& operator>>(bool& b);
  CArchive& operator>>(float& f);
  CArchive& operator>>(double& d);
  CArchive& operator>>(LONGLONG& dwdw);
  CArchive& operator>>(ULONGLONG& dwdw);

#ifdef _WIN32
  // Elsewhere LONG is int and DWORD is unsigned, served above.
  CArchive& operator<<(LONG l);
  CArchive& operator<<(DWORD dw);
  CArchive& operator>>(LONG& l);
  CArchive& operator>>(DWORD& dw);
#endif

 private:
  void WriteLE(ULONGLONG value, UINT nBytes);
  ULONGLONG ReadLE(UINT nBytes);
  void CheckOpen(bool forLoading) const;
  void FillBuffer();
  void FlushBuffer();
  struct ObjectMaps;
  ObjectMaps& Maps();
  [[noreturn]] void Fail(int cause) const;

  CFile* m_pFile;
  UINT m_nMode;
  BOOL m_bUserBuf;
  UINT m_nBufSize;
  BYTE* m_lpBufStart;
  BYTE* m_lpBufCur;
  BYTE* m_lpBufMax;
  ObjectMaps* m_pMaps = nullptr;  // made at the first object
  UINT m_nObjectSchema = static_cast<UINT>(-1);
};

CArchive& operator<<(CArchive& ar, const CString& string);
CArchive& operator>>(CArchive& ar, CString& string);

CArchive& operator<<(CArchive& ar, const CObject* pOb);
CArchive& operator>>(CArchive& ar, CObject*& pOb);
CArchive& operator>>(CArchive& ar, const CObject*& pOb);
