#include <afx.h>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<BYTE>;

Bytes Contents(CMemFile& file) {
  const BYTE* p = file.GetBufferAddress();
  return Bytes(p, p + file.GetLength());
}

void Append(Bytes& out, std::initializer_list<int> bytes) {
  for (int b : bytes) out.push_back(static_cast<BYTE>(b));
}

void AppendString(Bytes& out, std::size_t n, char fill) {
  out.insert(out.end(), n, static_cast<BYTE>(fill));
}

// Every archived type, in the layout MFC documents, written out by hand.
TEST(CArchiveTest, GoldenLayout) {
  CMemFile file;
  {
    CArchive ar(&file, CArchive::store);
    ar << static_cast<BYTE>(0xAB) << static_cast<WORD>(0x1234) << static_cast<DWORD>(0x89ABCDEF)
       << static_cast<LONG>(-2) << -3 << 5u << static_cast<short>(-4) << 'z' << true << false
       << 1.5f << -2.0 << static_cast<LONGLONG>(-5) << static_cast<ULONGLONG>(0x0102030405060708);
    ar << CString() << CString('a', 254) << CString('b', 255) << CString('c', 0xFFFD)
       << CString('d', 0xFFFE);
    ar.Close();
  }
  Bytes expected;
  Append(expected, {0xAB, 0x34, 0x12, 0xEF, 0xCD, 0xAB, 0x89, 0xFE, 0xFF, 0xFF, 0xFF});
  Append(expected, {0xFD, 0xFF, 0xFF, 0xFF, 0x05, 0x00, 0x00, 0x00, 0xFC, 0xFF, 'z', 1, 0});
  Append(expected, {0x00, 0x00, 0xC0, 0x3F});                          // 1.5f
  Append(expected, {0, 0, 0, 0, 0, 0, 0x00, 0xC0});                    // -2.0
  Append(expected, {0xFB, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});  // -5
  Append(expected, {8, 7, 6, 5, 4, 3, 2, 1});
  Append(expected, {0x00});
  Append(expected, {0xFE});
  AppendString(expected, 254, 'a');
  Append(expected, {0xFF, 0xFF, 0x00});
  AppendString(expected, 255, 'b');
  Append(expected, {0xFF, 0xFD, 0xFF});
  AppendString(expected, 0xFFFD, 'c');
  Append(expected, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00});
  AppendString(expected, 0xFFFE, 'd');
  ASSERT_EQ(Contents(file), expected);

  file.SeekToBegin();
  CArchive ar(&file, CArchive::load);
  BYTE by;
  WORD w;
  DWORD dw;
  LONG l;
  int i;
  unsigned u;
  short s;
  char ch;
  bool t, f;
  float fl;
  double d;
  LONGLONG ll;
  ULONGLONG ull;
  CString s0, s254, s255, s65533, s65534;
  ar >> by >> w >> dw >> l >> i >> u >> s >> ch >> t >> f >> fl >> d >> ll >> ull;
  ar >> s0 >> s254 >> s255 >> s65533 >> s65534;
  EXPECT_EQ(by, 0xAB);
  EXPECT_EQ(w, 0x1234);
  EXPECT_EQ(dw, 0x89ABCDEFu);
  EXPECT_EQ(l, -2);
  EXPECT_EQ(i, -3);
  EXPECT_EQ(u, 5u);
  EXPECT_EQ(s, -4);
  EXPECT_EQ(ch, 'z');
  EXPECT_TRUE(t);
  EXPECT_FALSE(f);
  EXPECT_EQ(fl, 1.5f);
  EXPECT_EQ(d, -2.0);
  EXPECT_EQ(ll, -5);
  EXPECT_EQ(ull, 0x0102030405060708u);
  EXPECT_TRUE(s0.IsEmpty());
  EXPECT_EQ(s254, CString('a', 254));
  EXPECT_EQ(s255, CString('b', 255));
  EXPECT_EQ(s65533, CString('c', 0xFFFD));
  EXPECT_EQ(s65534, CString('d', 0xFFFE));
  BYTE extra;
  EXPECT_EQ(ar.Read(&extra, 1), 0u);
}

TEST(CArchiveTest, TypedReadPastTheEndRaisesEndOfFile) {
  BYTE three[] = {1, 2, 3};
  CMemFile file(three, sizeof three);
  file.SetFilePath("HKEY_CURRENT_USER\\k");
  CArchive ar(&file, CArchive::load);
  WORD w;
  ar >> w;
  try {
    DWORD dw;
    ar >> dw;
    ADD_FAILURE();
  } catch (CArchiveException* e) {
    EXPECT_EQ(e->m_cause, CArchiveException::endOfFile);
    EXPECT_EQ(e->m_strFileName, "HKEY_CURRENT_USER\\k");
    char message[128];
    EXPECT_TRUE(e->GetErrorMessage(message, sizeof message));
    e->Delete();
  }
  BYTE rest[4];
  EXPECT_EQ(ar.Read(rest, 4), 1u);  // plain reads give a short count
  EXPECT_EQ(rest[0], 3);
}

TEST(CArchiveTest, CorruptStringLengthRaisesWithoutHugeAllocation) {
  BYTE bytes[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 'a', 'b'};  // claims 2^31-1 bytes
  CMemFile file(bytes, sizeof bytes);
  CArchive ar(&file, CArchive::load);
  CString s("kept");
  try {
    ar >> s;
    ADD_FAILURE();
  } catch (CArchiveException* e) {
    EXPECT_TRUE(e->m_cause == CArchiveException::endOfFile ||
                e->m_cause == CArchiveException::badIndex);
    e->Delete();
  }
  EXPECT_EQ(s, "kept");
}

TEST(CArchiveTest, WideStringsLoadAsBytes) {
  BYTE bytes[] = {0xFF, 0xFE, 0xFF, 0x02, 'h', 0, 0xE9, 0};
  CMemFile file(bytes, sizeof bytes);
  CArchive ar(&file, CArchive::load);
  CString s;
  ar >> s;
  EXPECT_EQ(s, "h?");
}

TEST(CArchiveTest, BlocksLargerThanTheBufferAndCloseFlushes) {
  std::string big(10000, 'x');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
  CMemFile file;
  CArchive store(&file, CArchive::store, 128);
  store << 7;
  store.Write(big.data(), static_cast<UINT>(big.size()));
  store << static_cast<BYTE>(9);
  EXPECT_LT(file.GetLength(), 4u + big.size() + 1);  // the last byte is still buffered
  store.Close();
  ASSERT_EQ(file.GetLength(), 4u + big.size() + 1);
  EXPECT_EQ(store.GetFile(), nullptr);

  file.SeekToBegin();
  CArchive load(&file, CArchive::load, 128);
  int seven;
  load >> seven;
  std::string back(big.size(), '\0');
  EXPECT_EQ(load.Read(back.data(), static_cast<UINT>(back.size())), back.size());
  EXPECT_EQ(back, big);
  BYTE nine;
  load >> nine;
  EXPECT_EQ(seven, 7);
  EXPECT_EQ(nine, 9);
}

TEST(CArchiveTest, WrongDirectionIsRefused) {
  CMemFile file;
  CArchive ar(&file, CArchive::store);
  EXPECT_TRUE(ar.IsStoring());
  EXPECT_FALSE(ar.IsLoading());
  int i;
  try {
    ar >> i;
    ADD_FAILURE();
  } catch (CArchiveException* e) {
    EXPECT_EQ(e->m_cause, CArchiveException::writeOnly);
    e->Delete();
  }
}

TEST(CArchiveTest, DestructionFlushesAStoringArchive) {
  CMemFile file;
  {
    CArchive ar(&file, CArchive::store);
    ar << CString("abc");
  }
  EXPECT_EQ(file.GetLength(), 4u);
}

}  // namespace
