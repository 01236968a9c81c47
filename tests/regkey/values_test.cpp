// Reading, writing and deleting values: results, codes and the close-after rule.
#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "regkey/qorCRegKey.h"
#include "tests/regkey/support/memory_limit.h"
#include "tests/regkey/support/recording_service.h"
#include "tests/support/scratch_key.h"

namespace {

using regkey::test::Recorded;
using regkey::test::ScratchKey;
using Buffer = std::unique_ptr<BYTE, qorCRegKey::BufferDeleter>;

constexpr BYTE kSentinel = 0xCC;

// A key object on a scratch key, with a few values stored directly.
struct ValueFixture : ::testing::Test {
  ScratchKey scratch{"values"};
  qorCRegKey key;
  // Pre-filled, so that bytes a call leaves alone show.
  BYTE buffer[16];
  void SetUp() override {
    std::memset(buffer, kSentinel, sizeof buffer);
    ASSERT_TRUE(key.SetKey(nullptr, scratch.root(), scratch.path().c_str(), 0));
  }
  void Store(LPCSTR name, DWORD type, const void* data, DWORD size) {
    HKEY raw = nullptr;
    ASSERT_EQ(RegCreateKeyExA(scratch.root(), scratch.path().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &raw, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(raw, name, 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
    RegCloseKey(raw);
  }
  bool BufferUntouched() const {
    for (const BYTE b : buffer)
      if (b != kSentinel) return false;
    return true;
  }
};

TEST_F(ValueFixture, QueryValueWithoutABufferReturnsMinusTheSizeWith234) {
  Store("bin", REG_BINARY, "12345", 5);
  Store("empty", REG_BINARY, "", 0);
  EXPECT_EQ(key.QueryValue("bin", nullptr, 0, REG_BINARY), -5);
  EXPECT_EQ(key.m_lError, ERROR_MORE_DATA);
  EXPECT_EQ(key.QueryValue("bin", nullptr, 100, REG_SZ), -5);  // no type check without a buffer
  EXPECT_EQ(key.m_lError, ERROR_MORE_DATA);
  EXPECT_EQ(key.QueryValue("empty", nullptr, 0, REG_BINARY), 0);
  EXPECT_EQ(key.m_lError, ERROR_MORE_DATA);
}

TEST_F(ValueFixture, QueryValueIntoATooSmallBufferReturnsMinusTheNeededSize) {
  Store("text", REG_SZ, "abc", 4);
  EXPECT_EQ(key.QueryValue("text", buffer, 2, REG_BINARY), -4);  // the type is not looked at
  EXPECT_EQ(key.m_lError, ERROR_MORE_DATA);
  EXPECT_EQ(buffer[2], kSentinel);  // nothing beyond the size given
}

TEST_F(ValueFixture, QueryValueIntoABufferReturnsTheSize) {
  Store("bin", REG_BINARY, "12345", 5);
  key.m_lError = 5;
  EXPECT_EQ(key.QueryValue("bin", buffer, sizeof buffer, REG_BINARY), 5);
  EXPECT_EQ(key.m_lError, 0);
  EXPECT_EQ(std::memcmp(buffer, "12345", 5), 0);
  EXPECT_EQ(buffer[5], kSentinel);
}

TEST_F(ValueFixture, QueryValueOfAnotherTypeReturns0With1804) {
  Store("text", REG_SZ, "abc", 4);
  EXPECT_EQ(key.QueryValue("text", buffer, sizeof buffer, REG_BINARY), 0);
  EXPECT_EQ(key.m_lError, ERROR_INVALID_DATATYPE);
  EXPECT_STREQ(reinterpret_cast<char*>(buffer), "abc");  // the bytes were read all the same
  EXPECT_EQ(key.QueryValue("text", buffer, sizeof buffer, REG_NONE), 0);
  EXPECT_EQ(key.m_lError, ERROR_INVALID_DATATYPE);  // no type matches every type
}

TEST_F(ValueFixture, QueryValueOfAnEmptyValueReturns0With0) {
  Store("empty", REG_BINARY, "", 0);
  key.m_lError = 5;
  EXPECT_EQ(key.QueryValue("empty", buffer, sizeof buffer, REG_BINARY), 0);
  EXPECT_EQ(key.m_lError, 0);
  EXPECT_TRUE(BufferUntouched());
}

TEST_F(ValueFixture, QueryValueOfAMissingValueReturns0With2AndCreatesTheKey) {
  EXPECT_EQ(key.QueryValue("missing", buffer, sizeof buffer, REG_BINARY), 0);
  EXPECT_EQ(key.m_lError, ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(key.WasCreated());
  EXPECT_TRUE(BufferUntouched());
}

TEST_F(ValueFixture, NamesBeginningWithABackslashAreRefusedBeforeOpening) {
  Recorded recorded;
  const BYTE data[] = {1, 2, 3};
  EXPECT_EQ(key.QueryValue("\\v", buffer, sizeof buffer, REG_BINARY), 0);
  EXPECT_EQ(key.m_lError, ERROR_INVALID_DATA);
  EXPECT_TRUE(BufferUntouched());
  key.m_lError = 0;
  EXPECT_FALSE(key.SetValue("\\v", data, 3, REG_BINARY));
  EXPECT_EQ(key.m_lError, ERROR_INVALID_DATA);
  key.m_lError = 0;
  EXPECT_FALSE(key.DeleteValue("\\v"));
  EXPECT_EQ(key.m_lError, ERROR_INVALID_DATA);
  EXPECT_TRUE(recorded.service.calls.empty());
  EXPECT_FALSE(key.IsOpen());
}

TEST_F(ValueFixture, SetValueRefusesNullDataAndSizeZeroBeforeOpening) {
  Recorded recorded;
  const BYTE data[] = {1};
  EXPECT_FALSE(key.SetValue("v", nullptr, 3, REG_BINARY));
  EXPECT_EQ(key.m_lError, ERROR_INVALID_DATA);
  key.m_lError = 0;
  EXPECT_FALSE(key.SetValue("v", data, 0, REG_BINARY));
  EXPECT_EQ(key.m_lError, ERROR_INVALID_DATA);
  EXPECT_TRUE(recorded.service.calls.empty());
}

TEST_F(ValueFixture, SetValueWritesTheExactCall) {
  Recorded recorded;
  const BYTE data[] = {1, 2, 3};
  key.m_lError = 5;
  ASSERT_TRUE(key.SetValue("v", data, 3, REG_DWORD_BIG_ENDIAN, true));
  EXPECT_EQ(key.m_lError, 0);
  ASSERT_EQ(recorded.service.Count("Set"), 1u);
  const regkey::test::Call set = recorded.service.Of("Set")[0];
  EXPECT_EQ(set.text, "v");
  EXPECT_EQ(set.number, static_cast<DWORD>(REG_DWORD_BIG_ENDIAN));
  EXPECT_EQ(set.count, 3u);
  EXPECT_TRUE(set.nullsAsGiven);
  EXPECT_EQ(key.QueryValue("v", buffer, sizeof buffer, REG_DWORD_BIG_ENDIAN, true), 3);
}

TEST_F(ValueFixture, ABackslashFurtherOnInANameIsKept) {
  const BYTE data[] = {1, 2, 3};
  ASSERT_TRUE(key.SetValue("a\\b", data, 3, REG_BINARY));
  EXPECT_EQ(key.QueryValue("a\\b", buffer, sizeof buffer, REG_BINARY), 3);
  EXPECT_TRUE(key.DeleteValue("a\\b"));
  EXPECT_EQ(key.m_lError, 0);
}

TEST_F(ValueFixture, ANullNameAddressesTheUnnamedValue) {
  Recorded recorded;
  const BYTE data[] = {1, 2};
  ASSERT_TRUE(key.SetValue(nullptr, data, 2, REG_BINARY));
  EXPECT_EQ(recorded.service.Of("Set").back().text, "(null)");
  EXPECT_EQ(key.QueryValue(nullptr, buffer, sizeof buffer, REG_BINARY), 2);
  EXPECT_EQ(key.QueryValue("", buffer, sizeof buffer, REG_BINARY), 2);  // the same value
  ASSERT_TRUE(key.DeleteValue(nullptr));
  EXPECT_EQ(recorded.service.Of("DeleteValue").back().text, "(null)");
  EXPECT_EQ(key.QueryValue(nullptr, buffer, sizeof buffer, REG_BINARY), 0);
  EXPECT_EQ(key.m_lError, ERROR_FILE_NOT_FOUND);
  key.Close();
}

TEST_F(ValueFixture, DeleteValueOfAMissingValueFailsWith2) {
  EXPECT_FALSE(key.DeleteValue("missing"));
  EXPECT_EQ(key.m_lError, ERROR_FILE_NOT_FOUND);
}

TEST_F(ValueFixture, CloseAfterClosesALocalKeyAfterAFailedCall) {
  EXPECT_EQ(key.QueryValue("missing", buffer, sizeof buffer, REG_BINARY, true), 0);
  EXPECT_EQ(key.m_lError, ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(key.IsOpen());
  EXPECT_FALSE(key.DeleteValue("missing", true));
  EXPECT_FALSE(key.IsOpen());
  Recorded recorded;
  recorded.service.setValue = [](HKEY, LPCSTR, DWORD, const BYTE*, DWORD) {
    return LONG{ERROR_WRITE_FAULT};
  };
  const BYTE data[] = {1};
  EXPECT_FALSE(key.SetValue("v", data, 1, REG_BINARY, true));
  EXPECT_EQ(key.m_lError, ERROR_WRITE_FAULT);
  EXPECT_FALSE(key.IsOpen());
  EXPECT_EQ(recorded.service.Lines(),
            (std::vector<std::string>{"Create " + scratch.path(), "Set v", "Close "}));
}

TEST_F(ValueFixture, WithoutCloseAfterTheKeyStaysOpen) {
  const BYTE data[] = {1};
  EXPECT_TRUE(key.SetValue("v", data, 1, REG_BINARY, false));
  EXPECT_TRUE(key.IsOpen());
  EXPECT_EQ(key.QueryValue("v", buffer, sizeof buffer, REG_BINARY), 1);
  EXPECT_TRUE(key.IsOpen());
  EXPECT_TRUE(key.SetValue("v", data, 1, REG_BINARY, true));
  EXPECT_FALSE(key.IsOpen());
}

TEST_F(ValueFixture, AFailedOpenSkipsTheCloseAfterRule) {
  qorCRegKey missing(qorCRegKey::flagOpenExisting);
  ASSERT_TRUE(missing.SetKey(nullptr, scratch.root(), (scratch / "none").c_str(), 0));
  Recorded recorded;
  EXPECT_EQ(missing.QueryValue("v", buffer, sizeof buffer, REG_BINARY, true), 0);
  EXPECT_EQ(missing.m_lError, ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(BufferUntouched());
  EXPECT_EQ(recorded.service.Lines(), (std::vector<std::string>{"Open " + (scratch / "none")}));
}

TEST_F(ValueFixture, CloseAfterLeavesRemoteKeysOpen) {
  char machine[64] = {};
  DWORD size = sizeof machine;
  ASSERT_TRUE(GetComputerNameA(machine, &size));
  ASSERT_TRUE(key.SetKey(machine, scratch.root(), scratch.path().c_str(), 0));
  EXPECT_EQ(key.QueryValue("missing", buffer, sizeof buffer, REG_BINARY, true), 0);
  EXPECT_EQ(key.m_lError, ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(key.IsOpen());
  EXPECT_EQ(key.QueryValueAlloc("missing", nullptr, REG_BINARY, true), nullptr);
  EXPECT_TRUE(key.IsOpen());
  EXPECT_FALSE(key.DeleteValue("missing", true));
  EXPECT_TRUE(key.IsOpen());
}

TEST_F(ValueFixture, QueryValueAllocReturnsTheBytesAndTwoZeroSpareBytes) {
  // Bytes of a string without its terminating zero (an ANSI REG_SZ would gain
  // one on Windows).
  Store("text", REG_BINARY, "abcd", 4);
  DWORD size = 99;
  key.m_lError = 5;
  Buffer bytes(key.QueryValueAlloc("text", &size, REG_BINARY, true));
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(key.m_lError, 0);
  EXPECT_EQ(std::memcmp(bytes.get(), "abcd", 4), 0);
  EXPECT_EQ(bytes.get()[4], 0);
  EXPECT_EQ(bytes.get()[5], 0);
  EXPECT_FALSE(key.IsOpen());
}

TEST_F(ValueFixture, QueryValueAllocOpensOnceAndReadsTheProbedSize) {
  Store("text", REG_BINARY, "abcd", 4);
  Recorded recorded;
  Buffer bytes(key.QueryValueAlloc("text", nullptr, REG_BINARY, true));  // no size wanted
  EXPECT_NE(bytes, nullptr);
  EXPECT_EQ(
      recorded.service.Lines(),
      (std::vector<std::string>{"Create " + scratch.path(), "Query text", "Query text", "Close "}));
  const std::vector<regkey::test::Call> queries = recorded.service.Of("Query");
  ASSERT_EQ(queries.size(), 2u);
  EXPECT_FALSE(queries[0].flag);  // the probe passes no buffer
  EXPECT_TRUE(queries[1].flag);
  EXPECT_EQ(queries[1].count, 4u);  // n, not n + 2
}

TEST_F(ValueFixture, QueryValueAllocFailuresLeaveTheSizeUntouched) {
  Store("text", REG_BINARY, "abcd", 4);
  Store("empty", REG_BINARY, "", 0);
  DWORD size = 99;
  EXPECT_EQ(key.QueryValueAlloc("empty", &size, REG_BINARY), nullptr);
  EXPECT_EQ(key.m_lError, ERROR_MORE_DATA);
  EXPECT_EQ(key.QueryValueAlloc("text", &size, REG_SZ), nullptr);
  EXPECT_EQ(key.m_lError, ERROR_INVALID_DATATYPE);
  EXPECT_EQ(key.QueryValueAlloc("missing", &size, REG_BINARY), nullptr);
  EXPECT_EQ(key.m_lError, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(size, 99u);
}

TEST_F(ValueFixture, QueryValueAllocAppliesCloseAfterAfterARefusedName) {
  ASSERT_TRUE(key.Open());
  DWORD size = 99;
  EXPECT_EQ(key.QueryValueAlloc("\\text", &size, REG_SZ, true), nullptr);
  EXPECT_EQ(key.m_lError, ERROR_INVALID_DATA);
  EXPECT_FALSE(key.IsOpen());
  EXPECT_EQ(size, 99u);
}

// Changes to the value between the probe and the read.
TEST_F(ValueFixture, QueryValueAllocMakesNoSecondAttempt) {
  Store("v", REG_BINARY, "1234", 4);
  struct Case {
    const char* what;
    LONG readResult;
    DWORD readCount;
    DWORD readType;
    LONG expected;
  };
  for (const Case& c :
       {Case{"grows", LONG{ERROR_MORE_DATA}, 9, REG_BINARY, LONG{ERROR_MORE_DATA}},
        Case{"shrinks", 0, 3, REG_BINARY, LONG{ERROR_INVALID_DATATYPE}},
        Case{"changes type", 0, 4, REG_SZ, LONG{ERROR_INVALID_DATATYPE}},
        Case{"vanishes", LONG{ERROR_FILE_NOT_FOUND}, 0, REG_NONE, LONG{ERROR_FILE_NOT_FOUND}}}) {
    SCOPED_TRACE(c.what);
    Recorded recorded;
    int queries = 0;
    recorded.service.query = [&](HKEY hKey, LPCSTR name, LPDWORD type, LPBYTE data,
                                 LPDWORD count) -> LONG {
      if (++queries == 1)
        return recorded.service.Next().RegQueryValueExA(hKey, name, nullptr, type, data, count);
      *type = c.readType;
      *count = c.readCount;
      if (c.readResult == 0) std::memset(data, 'x', c.readCount);
      return c.readResult;
    };
    DWORD size = 77;
    EXPECT_EQ(key.QueryValueAlloc("v", &size, REG_BINARY, true), nullptr);
    EXPECT_EQ(key.m_lError, c.expected);
    EXPECT_EQ(size, 77u);
    EXPECT_EQ(queries, 2);
    EXPECT_FALSE(key.IsOpen());
  }
}

TEST_F(ValueFixture, SizesBeyondTheSignedResult) {
  for (const DWORD reported : {DWORD{0x80000000u}, DWORD{0xFFFFFFFFu}}) {
    SCOPED_TRACE(reported);
    Recorded recorded;
    recorded.service.query = [&](HKEY, LPCSTR, LPDWORD type, LPBYTE, LPDWORD count) {
      *type = REG_BINARY;
      *count = reported;
      return LONG{ERROR_MORE_DATA};
    };
    EXPECT_EQ(key.QueryValue("v", nullptr, 0, REG_BINARY), 0);
    EXPECT_EQ(key.m_lError, ERROR_ARITHMETIC_OVERFLOW);
    DWORD size = 77;
    EXPECT_EQ(key.QueryValueAlloc("v", &size, REG_BINARY, true), nullptr);
    EXPECT_EQ(key.m_lError, ERROR_ARITHMETIC_OVERFLOW);
    EXPECT_EQ(size, 77u);
    EXPECT_EQ(recorded.service.Count("Query"), 2u);
  }
}

TEST_F(ValueFixture, BufferTooLargeToAllocate) {
  Recorded recorded;
  recorded.service.query = [](HKEY, LPCSTR, LPDWORD type, LPBYTE, LPDWORD count) {
    *type = REG_BINARY;
    *count = 0x7FFFFFFF;
    return LONG{0};
  };
  bool raised = false;
  DWORD size = 77;
  {
    regkey::test::LargeAllocationsFail limit;
    try {
      key.QueryValueAlloc("v", &size, REG_BINARY, true);
    } catch (CMemoryException* e) {
      raised = true;
      e->Delete();
    }
  }
  EXPECT_TRUE(raised);
  EXPECT_EQ(key.m_lError, ERROR_MORE_DATA);
  EXPECT_EQ(size, 77u);
  EXPECT_TRUE(key.IsOpen());  // the close-after rule is not applied on this path
  EXPECT_EQ(recorded.service.Count("Query"), 1u);
  key.Close();
}

}  // namespace
