// Reading, writing and deleting values: results, codes and the close-after rule.
#include <gtest/gtest.h>

#include <cstring>

#include "regkey/qorCRegKey.h"
#include "support/memory_limit.h"
#include "support/recording_service.h"
#include "support/scratch_key.h"

namespace {

using regkey::test::Recorded;
using regkey::test::ScratchKey;

// A key object on a scratch key, with a few values stored directly.
struct ValueFixture : ::testing::Test {
  ScratchKey scratch{"values"};
  qorCRegKey key;
  void SetUp() override {
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
};

TEST_F(ValueFixture, QueryValueSignsAndCodes) {
  Store("bin", REG_BINARY, "12345", 5);
  Store("empty", REG_BINARY, "", 0);
  Store("text", REG_SZ, "abc", 4);
  BYTE buffer[16] = {};
  EXPECT_EQ(key.QueryValue("bin", nullptr, 0, REG_BINARY), -5);
  EXPECT_EQ(key.m_lError, ERROR_MORE_DATA);
  EXPECT_EQ(key.QueryValue("bin", nullptr, 100, REG_SZ), -5);  // no type check without a buffer
  EXPECT_EQ(key.m_lError, ERROR_MORE_DATA);
  EXPECT_EQ(key.QueryValue("empty", nullptr, 0, REG_BINARY), 0);
  EXPECT_EQ(key.m_lError, ERROR_MORE_DATA);
  EXPECT_EQ(key.QueryValue("text", buffer, 2, REG_BINARY), -4);  // too small, type ignored
  EXPECT_EQ(key.m_lError, ERROR_MORE_DATA);
  EXPECT_EQ(key.QueryValue("bin", buffer, sizeof buffer, REG_BINARY), 5);
  EXPECT_EQ(key.m_lError, 0);
  EXPECT_EQ(std::memcmp(buffer, "12345", 5), 0);
  EXPECT_EQ(key.QueryValue("text", buffer, sizeof buffer, REG_BINARY), 0);
  EXPECT_EQ(key.m_lError, ERROR_INVALID_DATATYPE);
  EXPECT_STREQ(reinterpret_cast<char*>(buffer), "abc");  // the bytes were read all the same
  EXPECT_EQ(key.QueryValue("empty", buffer, sizeof buffer, REG_BINARY), 0);
  EXPECT_EQ(key.m_lError, 0);
  EXPECT_EQ(key.QueryValue("missing", buffer, sizeof buffer, REG_BINARY), 0);
  EXPECT_EQ(key.m_lError, ERROR_FILE_NOT_FOUND);
}

TEST_F(ValueFixture, NamesWithBackslashesAndTheUnnamedValue) {
  Recorded recorded;
  BYTE buffer[8] = {};
  const BYTE data[] = {1, 2, 3};
  EXPECT_EQ(key.QueryValue("\\v", buffer, sizeof buffer, REG_BINARY), 0);
  EXPECT_EQ(key.m_lError, ERROR_INVALID_DATA);
  EXPECT_FALSE(key.SetValue("\\v", data, 3, REG_BINARY));
  EXPECT_EQ(key.m_lError, ERROR_INVALID_DATA);
  EXPECT_FALSE(key.DeleteValue("\\v"));
  EXPECT_EQ(key.m_lError, ERROR_INVALID_DATA);
  EXPECT_FALSE(key.SetValue("v", nullptr, 3, REG_BINARY));
  EXPECT_EQ(key.m_lError, ERROR_INVALID_DATA);
  EXPECT_FALSE(key.SetValue("v", data, 0, REG_BINARY));
  EXPECT_EQ(key.m_lError, ERROR_INVALID_DATA);
  EXPECT_TRUE(recorded.service.calls.empty());
  EXPECT_FALSE(key.IsOpen());

  ASSERT_TRUE(key.SetValue("a\\b", data, 3, REG_BINARY));
  EXPECT_EQ(key.QueryValue("a\\b", buffer, sizeof buffer, REG_BINARY), 3);
  ASSERT_TRUE(key.SetValue(nullptr, data, 2, REG_BINARY));
  EXPECT_EQ(recorded.service.Of("Set").back().text, "(null)");
  EXPECT_EQ(key.QueryValue(nullptr, buffer, sizeof buffer, REG_BINARY), 2);
  EXPECT_EQ(key.QueryValue("", buffer, sizeof buffer, REG_BINARY), 2);  // the same value
  ASSERT_TRUE(key.DeleteValue(nullptr));
  EXPECT_EQ(key.QueryValue(nullptr, buffer, sizeof buffer, REG_BINARY), 0);
  EXPECT_EQ(key.m_lError, ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(key.DeleteValue("a\\b"));
  EXPECT_FALSE(key.DeleteValue("a\\b"));
  EXPECT_EQ(key.m_lError, ERROR_FILE_NOT_FOUND);
}

TEST_F(ValueFixture, CloseAfterClosesLocalKeysAfterFailuresToo) {
  BYTE buffer[8];
  const BYTE data[] = {1};
  EXPECT_EQ(key.QueryValue("missing", buffer, sizeof buffer, REG_BINARY, true), 0);
  EXPECT_EQ(key.m_lError, ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(key.IsOpen());
  EXPECT_TRUE(key.WasCreated());  // the read created the key
  EXPECT_FALSE(key.DeleteValue("missing", true));
  EXPECT_FALSE(key.IsOpen());
  EXPECT_TRUE(key.SetValue("v", data, 1, REG_BINARY, false));
  EXPECT_TRUE(key.IsOpen());
  EXPECT_TRUE(key.SetValue("v", data, 1, REG_BINARY, true));
  EXPECT_FALSE(key.IsOpen());
  {
    Recorded recorded;
    recorded.service.setValue = [](HKEY, LPCSTR, DWORD, const BYTE*, DWORD) {
      return LONG{ERROR_WRITE_FAULT};
    };
    EXPECT_FALSE(key.SetValue("v", data, 1, REG_BINARY, true));
    EXPECT_EQ(key.m_lError, ERROR_WRITE_FAULT);
    EXPECT_FALSE(key.IsOpen());
    EXPECT_EQ(recorded.service.Count("Close"), 1u);
  }
  // A failed Open ends the operation before the rule.
  qorCRegKey missing(qorCRegKey::flagOpenExisting);
  ASSERT_TRUE(missing.SetKey(nullptr, scratch.root(), (scratch / "none").c_str(), 0));
  Recorded recorded;
  EXPECT_EQ(missing.QueryValue("v", buffer, sizeof buffer, REG_BINARY, true), 0);
  EXPECT_EQ(missing.m_lError, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(recorded.service.Count("Query"), 0u);
  EXPECT_EQ(recorded.service.Count("Close"), 0u);
}

TEST_F(ValueFixture, RemoteKeysStayOpen) {
  char machine[64] = {};
  DWORD size = sizeof machine;
  ASSERT_TRUE(GetComputerNameA(machine, &size));
  ASSERT_TRUE(key.SetKey(machine, scratch.root(), scratch.path().c_str(), 0));
  BYTE buffer[4];
  EXPECT_EQ(key.QueryValue("missing", buffer, sizeof buffer, REG_BINARY, true), 0);
  EXPECT_EQ(key.m_lError, ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(key.IsOpen());
  EXPECT_EQ(key.QueryValueAlloc("missing", nullptr, REG_BINARY, true), nullptr);
  EXPECT_TRUE(key.IsOpen());
}

TEST_F(ValueFixture, QueryValueAllocReadsAndTerminates) {
  // Bytes of a string without its terminating zero (an ANSI REG_SZ would gain
  // one on Windows).
  Store("text", REG_BINARY, "abcd", 4);
  Store("empty", REG_BINARY, "", 0);
  Recorded recorded;
  DWORD size = 99;
  BYTE* bytes = key.QueryValueAlloc("text", &size, REG_BINARY, true);
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(key.m_lError, 0);
  EXPECT_STREQ(reinterpret_cast<char*>(bytes), "abcd");
  EXPECT_EQ(bytes[5], 0);
  ::operator delete(bytes);
  EXPECT_FALSE(key.IsOpen());
  // The probe keeps the key open for the read; the key is opened once.
  EXPECT_EQ(recorded.service.Count("Create"), 1u);
  ASSERT_EQ(recorded.service.Count("Query"), 2u);
  EXPECT_FALSE(recorded.service.Of("Query")[0].flag);
  EXPECT_EQ(recorded.service.Of("Query")[1].count, 4u);                    // n, not n + 2
  BYTE* unsized = key.QueryValueAlloc("text", nullptr, REG_BINARY, true);  // no size wanted
  EXPECT_NE(unsized, nullptr);
  ::operator delete(unsized);

  size = 99;
  EXPECT_EQ(key.QueryValueAlloc("empty", &size, REG_BINARY), nullptr);
  EXPECT_EQ(key.m_lError, ERROR_MORE_DATA);
  EXPECT_EQ(key.QueryValueAlloc("text", &size, REG_SZ), nullptr);
  EXPECT_EQ(key.m_lError, ERROR_INVALID_DATATYPE);
  EXPECT_EQ(key.QueryValueAlloc("missing", &size, REG_BINARY), nullptr);
  EXPECT_EQ(key.m_lError, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(size, 99u);
  // A failed probe is followed by the close-after rule, even a refused name.
  ASSERT_TRUE(key.Open());
  EXPECT_EQ(key.QueryValueAlloc("\\text", &size, REG_SZ, true), nullptr);
  EXPECT_EQ(key.m_lError, ERROR_INVALID_DATA);
  EXPECT_FALSE(key.IsOpen());
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
    EXPECT_EQ(key.QueryValueAlloc("v", &size, REG_BINARY, true), nullptr) << c.what;
    EXPECT_EQ(key.m_lError, c.expected) << c.what;
    EXPECT_EQ(size, 77u) << c.what;
    EXPECT_EQ(queries, 2) << c.what;
    EXPECT_FALSE(key.IsOpen()) << c.what;
  }
}

TEST_F(ValueFixture, SizesBeyondTheSignedResult) {
  for (const DWORD reported : {DWORD{0x80000000u}, DWORD{0xFFFFFFFFu}}) {
    Recorded recorded;
    recorded.service.query = [&](HKEY, LPCSTR, LPDWORD type, LPBYTE, LPDWORD count) {
      *type = REG_BINARY;
      *count = reported;
      return LONG{ERROR_MORE_DATA};
    };
    EXPECT_EQ(key.QueryValue("v", nullptr, 0, REG_BINARY), 0);
    EXPECT_EQ(key.m_lError, ERROR_ARITHMETIC_OVERFLOW);
    EXPECT_EQ(key.QueryValueAlloc("v", nullptr, REG_BINARY, true), nullptr);
    EXPECT_EQ(key.m_lError, ERROR_ARITHMETIC_OVERFLOW);
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
  {
    regkey::test::LargeAllocationsFail limit;
    try {
      key.QueryValueAlloc("v", nullptr, REG_BINARY, true);
    } catch (CMemoryException* e) {
      raised = true;
      e->Delete();
    }
  }
  EXPECT_TRUE(raised);
  EXPECT_EQ(key.m_lError, ERROR_MORE_DATA);
  EXPECT_TRUE(key.IsOpen());  // the close-after rule is not applied on this path
  EXPECT_EQ(recorded.service.Count("Query"), 1u);
}

}  // namespace
