// Objects stored in REG_BINARY values through an archive.
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "regkey/qorCRegKey.h"
#include "tests/regkey/support/recording_service.h"
#include "tests/support/archived_fields.h"
#include "tests/support/scratch_key.h"

namespace {

using regkey::test::Recorded;
using regkey::test::ScratchKey;

// One field of every archived type.
using Everything = regkey::test::ArchivedFields;

void Fill(Everything& e) {
  e.by = 0x12;
  e.w = 0x3456;
  e.dw = 0x789ABCDE;
  e.l = -2;
  e.i = 7;
  e.u = 0xFFFFFFF0u;
  e.s = -3;
  e.ch = 'z';
  e.b = true;
  e.f = 1.5f;
  e.d = -0.25;
  e.ll = -5;
  e.ull = 0x0102030405060708ull;
  e.str = "abc";
}

struct Raising : CObject {
  void Serialize(CArchive& ar) override {
    ar << DWORD{1};
    AfxThrowNotSupportedException();
  }
};
struct Nothing : CObject {
  int runs = 0;
  void Serialize(CArchive&) override { ++runs; }
};
struct OneByte : CObject {
  BYTE by = 0;
  int runs = 0;
  void Serialize(CArchive& ar) override {
    ++runs;
    if (ar.IsStoring())
      ar << by;
    else
      ar >> by;
  }
};

struct ObjectFixture : ::testing::Test {
  ScratchKey scratch{"objects"};
  qorCRegKey key;
  void SetUp() override {
    ASSERT_TRUE(key.SetKey(nullptr, scratch.root(), scratch.path().c_str(), 0));
  }
  std::vector<BYTE> Stored(LPCSTR name) {
    DWORD size = 0;
    const std::unique_ptr<BYTE, qorCRegKey::BufferDeleter> bytes(
        key.QueryValueAlloc(name, &size, REG_BINARY));
    return std::vector<BYTE>(bytes.get(), bytes.get() + (bytes ? size : 0));
  }
  // A call that failed with ERROR_INVALID_DATA before reaching the registry.
  void ExpectRefusedUnopened(bool succeeded, const Recorded& recorded) {
    EXPECT_FALSE(succeeded);
    EXPECT_EQ(key.m_lError, ERROR_INVALID_DATA);
    EXPECT_TRUE(recorded.service.calls.empty());
  }
};

TEST_F(ObjectFixture, RoundTripStoresExactlyTheStream) {
  Everything written;
  Fill(written);
  ASSERT_TRUE(key.WriteObject("obj", &written, true));
  EXPECT_FALSE(key.IsOpen());
  CMemFile file;
  {
    CArchive ar(&file, CArchive::store);
    written.Serialize(ar);
    ar.Close();
  }
  const std::vector<BYTE> stream(file.GetBufferAddress(),
                                 file.GetBufferAddress() + file.GetLength());
  EXPECT_EQ(Stored("obj"), stream);
  Everything read;
  ASSERT_TRUE(key.ReadObject("obj", &read, true));
  EXPECT_FALSE(key.IsOpen());
  EXPECT_EQ(read.by, written.by);
  EXPECT_EQ(read.w, written.w);
  EXPECT_EQ(read.dw, written.dw);
  EXPECT_EQ(read.l, written.l);
  EXPECT_EQ(read.i, written.i);
  EXPECT_EQ(read.u, written.u);
  EXPECT_EQ(read.s, written.s);
  EXPECT_EQ(read.ch, written.ch);
  EXPECT_EQ(read.b, written.b);
  EXPECT_EQ(read.f, written.f);
  EXPECT_EQ(read.d, written.d);
  EXPECT_EQ(read.ll, written.ll);
  EXPECT_EQ(read.ull, written.ull);
  EXPECT_STREQ(read.str, "abc");
}

TEST_F(ObjectFixture, WriteObjectStoresABinaryValueUnderTheName) {
  Recorded recorded;
  OneByte one;
  one.by = 7;
  ASSERT_TRUE(key.WriteObject("one", &one, true));
  ASSERT_EQ(recorded.service.Count("Set"), 1u);
  const regkey::test::Call set = recorded.service.Of("Set")[0];
  EXPECT_EQ(set.text, "one");
  EXPECT_EQ(set.number, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(set.count, 1u);
}

// The bytes as an MFC program lays them out: little-endian at natural widths,
// a one-byte length before a short string.
TEST_F(ObjectFixture, GoldenLayout) {
  Everything written;
  Fill(written);
  ASSERT_TRUE(key.WriteObject("obj", &written));
  const std::vector<BYTE> golden = {
      0x12,                                            // BYTE
      0x56, 0x34,                                      // WORD
      0xDE, 0xBC, 0x9A, 0x78,                          // DWORD
      0xFE, 0xFF, 0xFF, 0xFF,                          // LONG -2
      0x07, 0x00, 0x00, 0x00,                          // int 7
      0xF0, 0xFF, 0xFF, 0xFF,                          // unsigned
      0xFD, 0xFF,                                      // short -3
      'z',                                             // char
      0x01,                                            // bool
      0x00, 0x00, 0xC0, 0x3F,                          // float 1.5
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xD0, 0xBF,  // double -0.25
      0xFB, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // LONGLONG -5
      0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,  // ULONGLONG
      0x03, 'a',  'b',  'c',                           // CString
  };
  EXPECT_EQ(Stored("obj"), golden);
}

TEST_F(ObjectFixture, WriteObjectWhoseSerializeRaisesWritesNothing) {
  Recorded recorded;
  Raising raising;
  bool raised = false;
  try {
    key.WriteObject("obj", &raising);
  } catch (CNotSupportedException* e) {
    raised = true;
    e->Delete();
  }
  EXPECT_TRUE(raised);
  EXPECT_TRUE(recorded.service.calls.empty());  // nothing written, key not opened
}

TEST_F(ObjectFixture, WriteObjectOfAnEmptyStreamFailsWith13WithoutOpening) {
  Recorded recorded;
  Nothing nothing;
  ExpectRefusedUnopened(key.WriteObject("obj", &nothing, true), recorded);
  EXPECT_EQ(nothing.runs, 1);
}

TEST_F(ObjectFixture, WriteObjectUnderABackslashNameSerialisesThenRefuses) {
  Recorded recorded;
  OneByte one;
  ExpectRefusedUnopened(key.WriteObject("\\obj", &one), recorded);
  EXPECT_EQ(one.runs, 1);
}

TEST_F(ObjectFixture, ReadObjectUnderABackslashNameFailsBeforeReading) {
  Recorded recorded;
  OneByte one;
  ExpectRefusedUnopened(key.ReadObject("\\obj", &one), recorded);
  EXPECT_EQ(one.runs, 0);
}

TEST_F(ObjectFixture, NullObjectsAreRefusedWith13) {
  Recorded recorded;
  ExpectRefusedUnopened(key.WriteObject("obj", nullptr), recorded);
  key.m_lError = 0;
  ExpectRefusedUnopened(key.ReadObject("obj", nullptr), recorded);
}

TEST_F(ObjectFixture, ReadingPastTheEndRaisesAfterTheCloseAfterRule) {
  OneByte one;
  one.by = 9;
  ASSERT_TRUE(key.WriteObject("one", &one));
  Everything more;
  bool raised = false;
  try {
    key.ReadObject("one", &more, true);
  } catch (CArchiveException* e) {
    raised = e->m_cause == CArchiveException::endOfFile;
    e->Delete();
  }
  EXPECT_TRUE(raised);
  EXPECT_EQ(more.by, 9);       // as far as its Serialize got
  EXPECT_FALSE(key.IsOpen());  // the close-after rule came first
}

TEST_F(ObjectFixture, ReadObjectIgnoresBytesLeftUnread) {
  Everything all;
  Fill(all);
  ASSERT_TRUE(key.WriteObject("all", &all));
  OneByte fewer;
  key.m_lError = 5;
  EXPECT_TRUE(key.ReadObject("all", &fewer));
  EXPECT_EQ(fewer.by, 0x12);
  EXPECT_EQ(key.m_lError, 0);
}

TEST_F(ObjectFixture, ReadObjectOfAnotherTypeFailsWith1804AndLeavesTheObject) {
  const BYTE text[] = "text";
  ASSERT_TRUE(key.SetValue("text", text, sizeof text, REG_SZ));
  Nothing untouched;
  EXPECT_FALSE(key.ReadObject("text", &untouched, true));
  EXPECT_EQ(key.m_lError, ERROR_INVALID_DATATYPE);
  EXPECT_EQ(untouched.runs, 0);
  EXPECT_FALSE(key.IsOpen());
}

TEST_F(ObjectFixture, ReadObjectOfAMissingValueFailsWith2) {
  Nothing untouched;
  EXPECT_FALSE(key.ReadObject("missing", &untouched));
  EXPECT_EQ(key.m_lError, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(untouched.runs, 0);
}

}  // namespace
