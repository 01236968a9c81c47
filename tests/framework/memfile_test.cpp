#include <afx.h>
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(CMemFileTest, GrowsInStepsAndReadsBack) {
  CMemFile file(1024);
  EXPECT_EQ(file.GetLength(), 0u);
  EXPECT_EQ(file.GetBufferAddress(), nullptr);
  std::vector<BYTE> data(3000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<BYTE>(i * 7);
  file.Write(data.data(), 1000);
  file.Write(data.data() + 1000, 2000);
  EXPECT_EQ(file.GetLength(), 3000u);
  EXPECT_EQ(file.GetPosition(), 3000u);
  EXPECT_EQ(std::memcmp(file.GetBufferAddress(), data.data(), 3000), 0);

  EXPECT_EQ(file.Seek(-10, CFile::end), 2990u);
  BYTE tail[20];
  EXPECT_EQ(file.Read(tail, 20), 10u);  // short count at the end
  EXPECT_EQ(file.Read(tail, 20), 0u);
  EXPECT_EQ(std::memcmp(tail, data.data() + 2990, 10), 0);

  try {
    file.Seek(-1, CFile::begin);
    ADD_FAILURE();
  } catch (CFileException* e) {
    EXPECT_EQ(e->m_cause, CFileException::badSeek);
    e->Delete();
  }
  EXPECT_EQ(file.GetPosition(), 3000u);
}

TEST(CMemFileTest, GapsAndNewLengthReadAsZeros) {
  CMemFile file(16);
  file.Seek(5, CFile::begin);
  file.Write("x", 1);
  ASSERT_EQ(file.GetLength(), 6u);
  const BYTE expected[] = {0, 0, 0, 0, 0, 'x', 0, 0};
  file.SetLength(8);
  EXPECT_EQ(std::memcmp(file.GetBufferAddress(), expected, 8), 0);
  file.SetLength(2);
  EXPECT_EQ(file.GetPosition(), 2u);
}

TEST(CMemFileTest, AttachedBufferIsFixedAndNotOwned) {
  BYTE buffer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  {
    CMemFile file;
    file.SetFilePath("HKEY_CURRENT_USER\\Software\\x");
    file.Attach(buffer, sizeof buffer);
    EXPECT_EQ(file.GetLength(), 8u);
    EXPECT_EQ(file.GetPosition(), 0u);
    EXPECT_EQ(file.GetBufferAddress(), buffer);
    EXPECT_EQ(file.GetFilePath(), "HKEY_CURRENT_USER\\Software\\x");
    file.Seek(6, CFile::begin);
    file.Write("ab", 2);  // up to the end is fine
    EXPECT_EQ(buffer[7], 'b');
    try {
      file.Write("c", 1);
      ADD_FAILURE();
    } catch (CMemoryException* e) {
      e->Delete();
    }
    EXPECT_EQ(file.GetLength(), 8u);
  }  // the file leaves the caller's buffer alone (ASan checks no free)
  EXPECT_EQ(buffer[0], 1);

  // An attached buffer that must grow is copied, never reallocated.
  CMemFile growing;
  growing.Attach(buffer, sizeof buffer, 64);
  EXPECT_EQ(growing.GetLength(), 0u);
  growing.Write("0123456789", 10);
  EXPECT_NE(growing.GetBufferAddress(), buffer);
  BYTE* owned = growing.Detach();
  EXPECT_EQ(std::memcmp(owned, "0123456789", 10), 0);
  std::free(owned);
  EXPECT_EQ(growing.GetLength(), 0u);
}

TEST(CMemFileTest, AllocationFailureRaisesMemoryException) {
  CMemFile file;
  file.Write("abc", 3);
  try {
    file.SetLength(static_cast<ULONGLONG>(1) << 62);
    ADD_FAILURE();
  } catch (CMemoryException* e) {
    e->Delete();
  }
  EXPECT_EQ(file.GetLength(), 3u);
  EXPECT_EQ(std::memcmp(file.GetBufferAddress(), "abc", 3), 0);
}

}  // namespace
