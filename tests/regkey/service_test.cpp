// Scoped replacement of the registry service: nesting, restoring, forwarding.
#include <gtest/gtest.h>

#include "regkey/qorCRegKey.h"
#include "regkey/service/ForwardingRegistryService.h"
#include "tests/regkey/support/recording_service.h"
#include "tests/support/scratch_key.h"

namespace {

using regkey::ForwardingRegistryService;
using regkey::RegistryService;
using regkey::ScopedRegistryService;
using regkey::test::Recorded;
using regkey::test::ScratchKey;

TEST(ServiceScope, ScopesNestAndEachRestoresTheServiceItReplaced) {
  ASSERT_EQ(&RegistryService::Current(), &RegistryService::Default());
  ForwardingRegistryService outer;
  {
    ScopedRegistryService outerScope(outer);
    EXPECT_EQ(&RegistryService::Current(), &outer);
    ForwardingRegistryService inner(static_cast<RegistryService&>(outer));
    EXPECT_EQ(&inner.Next(), &outer);
    {
      ScopedRegistryService innerScope(inner);
      EXPECT_EQ(&RegistryService::Current(), &inner);
    }
    EXPECT_EQ(&RegistryService::Current(), &outer);
  }
  EXPECT_EQ(&RegistryService::Current(), &RegistryService::Default());
}

// Every call of a key reaches the innermost service; a key opened under the
// outer one closes there, while the inner one is in place and after it went.
TEST(ServiceScope, KeysUseTheInnermostServiceAndCloseWhereTheyOpened) {
  ScratchKey scratch("service-nesting");
  Recorded outer;
  qorCRegKey early;
  ASSERT_TRUE(early.SetKey(nullptr, scratch.root(), scratch.path().c_str(), 0));
  ASSERT_TRUE(early.Open());
  qorCRegKey closedInside;
  ASSERT_TRUE(closedInside.SetKey(nullptr, scratch.root(), scratch.path().c_str(), 0));
  ASSERT_TRUE(closedInside.Open());
  const HKEY closedHandle = closedInside.GetKeyHandle();
  {
    Recorded inner;
    closedInside.Close();
    EXPECT_EQ(inner.service.Count("Close"), 0u);
    ASSERT_EQ(outer.service.Count("Close"), 1u);
    EXPECT_EQ(outer.service.Of("Close")[0].key, closedHandle);
    EXPECT_EQ(outer.service.Of("Close")[0].result, 0);
    qorCRegKey late;
    ASSERT_TRUE(late.SetKey(nullptr, scratch.root(), scratch.path().c_str(), 0));
    const BYTE data[] = {1, 2, 3};
    ASSERT_TRUE(late.SetValue("v", data, sizeof data, REG_BINARY, true));
    EXPECT_EQ(inner.service.Count("Create"), 1u);
    EXPECT_EQ(inner.service.Count("Set"), 1u);
    EXPECT_EQ(inner.service.Count("Close"), 1u);
    ASSERT_TRUE(early.DeleteValue("v"));
    EXPECT_EQ(inner.service.Count("DeleteValue"), 1u);
    EXPECT_EQ(outer.service.Count("Set") + outer.service.Count("DeleteValue"), 0u);
  }
  const HKEY handle = early.GetKeyHandle();
  early.Close();
  ASSERT_EQ(outer.service.Count("Close"), 2u);
  EXPECT_EQ(outer.service.Of("Close")[1].key, handle);
  EXPECT_EQ(outer.service.Of("Close")[1].result, 0);
}

}  // namespace
