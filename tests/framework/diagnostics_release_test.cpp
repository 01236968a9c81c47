// The diagnostic macros as a release build compiles them: nothing is
// evaluated but VERIFY's expression.
#undef _DEBUG
#ifndef NDEBUG
#define NDEBUG
#endif
#include <afx.h>

#include <gtest/gtest.h>

static_assert(AFX_DIAGNOSTICS_ENABLED == 0);

namespace {

int g_nCalls = 0;
int Count(int result) {
  ++g_nCalls;
  return result;
}

TEST(DiagnosticsReleaseTest, OnlyVerifyEvaluates) {
  g_nCalls = 0;
  const CString name("x");
  testing::internal::CaptureStderr();
  TRACE("%s %d\n", name, Count(1));
  TRACE0("zero\n");
  ASSERT(Count(0) == 1);
  ASSERT_VALID(static_cast<CObject*>(nullptr));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(g_nCalls, 0);
  VERIFY(Count(0));  // a failed VERIFY does nothing more here
  EXPECT_EQ(g_nCalls, 1);
}

}  // namespace
