// The diagnostic macros as a debug build compiles them.
#undef NDEBUG
#ifndef _DEBUG
#define _DEBUG
#endif
#include <afx.h>

#include <gtest/gtest.h>

static_assert(AFX_DIAGNOSTICS_ENABLED == 1);

namespace {

int g_nCalls = 0;
int Count(int result) {
  ++g_nCalls;
  return result;
}

class CChecked : public CObject {
 public:
  void AssertValid() const override { ++m_nChecks; }
  mutable int m_nChecks = 0;
};

TEST(DiagnosticsDebugTest, TraceWritesToStandardError) {
  const CString name("Software\\Vendor");
  testing::internal::CaptureStderr();
  TRACE("opened %s (%d)\n", name, 5);
  TRACE(_T("plain %u\n"), 7u);
  TRACE0("zero\n");
  TRACE1("one %d\n", 1);
  TRACE2("two %d %s\n", 2, "b");
  TRACE3("three %d %d %d\n", 1, 2, 3);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "opened Software\\Vendor (5)\nplain 7\nzero\none 1\ntwo 2 b\nthree 1 2 3\n");
}

TEST(DiagnosticsDebugTest, ChecksEvaluateOnce) {
  g_nCalls = 0;
  ASSERT(Count(1) == 1);
  VERIFY(Count(2) == 2);
  EXPECT_EQ(g_nCalls, 2);
  CChecked object;
  ASSERT_VALID(&object);
  EXPECT_EQ(object.m_nChecks, 1);
  ASSERT_KINDOF(CObject, &object);
  int* p = DEBUG_NEW int(3);
  EXPECT_EQ(*p, 3);
  delete p;
}

TEST(DiagnosticsDebugDeathTest, FailedChecksAbortWithFileAndLine) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Patterns in the syntax that both GoogleTest's POSIX and Windows builds read.
  EXPECT_DEATH(ASSERT(Count(1) == 2),
               "diagnostics_debug_test\\.cpp\\(.*\\): ASSERT\\(Count\\(1\\) == 2\\) failed");
  EXPECT_DEATH(VERIFY(Count(0)), "ASSERT\\(Count\\(0\\)\\) failed");
  EXPECT_DEATH(ASSERT_VALID(static_cast<CObject*>(nullptr)), "not null");
}

}  // namespace
