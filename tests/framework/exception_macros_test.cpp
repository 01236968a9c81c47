// TRY/CATCH/END_CATCH over the framework's pointer exceptions: the caught
// exception is deleted when its handler ends, unless THROW_LAST passes it on.
#include <afx.h>
#include <atomic>
#include <thread>

#include <gtest/gtest.h>

namespace {

std::atomic<int> g_nLive{0};

class CCountedException : public CException {
 public:
  explicit CCountedException(int code) : m_nCode(code) { ++g_nLive; }
  ~CCountedException() override { --g_nLive; }
  int m_nCode;
};

class CFirstKind : public CCountedException {
 public:
  using CCountedException::CCountedException;
};

class CSecondKind : public CCountedException {
 public:
  using CCountedException::CCountedException;
};

template <class T>
void Raise(T* e) {
  THROW(e);
}

class ExceptionMacrosTest : public ::testing::Test {
 protected:
  void SetUp() override { g_nLive = 0; }
  void TearDown() override { EXPECT_EQ(g_nLive, 0); }
};

TEST_F(ExceptionMacrosTest, CaughtExceptionIsDeletedAtTheEnd) {
  int seen = 0;
  TRY {
    Raise(new CFirstKind(1));
    ADD_FAILURE();
  }
  CATCH(CFirstKind, e) {
    seen = e->m_nCode;
    EXPECT_EQ(g_nLive, 1);
  }
  END_CATCH
  EXPECT_EQ(seen, 1);
  EXPECT_EQ(g_nLive, 0);
}

TEST_F(ExceptionMacrosTest, TheFirstMatchingHandlerRuns) {
  const char* ran = "";
  TRY { Raise(new CSecondKind(2)); }
  CATCH(CFirstKind, e) { ran = "first"; }
  AND_CATCH(CSecondKind, e) { ran = "second"; }
  AND_CATCH(CException, e) { ran = "any"; }
  END_CATCH
  EXPECT_STREQ(ran, "second");

  TRY { AfxThrowInvalidArgException(); }
  CATCH(CMemoryException, e) { ran = "memory"; }
  AND_CATCH_ALL(e) { ran = e->IsKindOf(RUNTIME_CLASS(CInvalidArgException)) ? "all" : "?"; }
  END_CATCH_ALL
  EXPECT_STREQ(ran, "all");
}

TEST_F(ExceptionMacrosTest, ThrowLastPassesTheSameObjectOnOnce) {
  CException* inner = nullptr;
  CException* outer = nullptr;
  TRY {
    TRY { Raise(new CFirstKind(3)); }
    CATCH(CFirstKind, e) {
      inner = e;
      TRY { EXPECT_EQ(g_nLive, 1); }  // a TRY inside the handler that catches nothing
      END_TRY
      THROW_LAST();
    }
    END_CATCH
    ADD_FAILURE();
  }
  CATCH_ALL(e) {
    outer = e;
    EXPECT_EQ(g_nLive, 1);  // not deleted by the inner block
  }
  END_CATCH_ALL
  EXPECT_EQ(inner, outer);
  EXPECT_EQ(g_nLive, 0);
}

TEST_F(ExceptionMacrosTest, AHandlerThatThrowsDeletesWhatItCaught) {
  int code = 0;
  TRY{TRY{Raise(new CFirstKind(4));
}
CATCH(CFirstKind, e) { Raise(new CSecondKind(e->m_nCode + 1)); }
END_CATCH
}
CATCH(CSecondKind, e) {
  code = e->m_nCode;
  EXPECT_EQ(g_nLive, 1);  // the first is gone
}
END_CATCH
EXPECT_EQ(code, 5);
}

TEST_F(ExceptionMacrosTest, UnmatchedExceptionsPassThroughUntouched) {
  CCountedException* escaped = nullptr;
  try {
    TRY { Raise(new CSecondKind(6)); }
    CATCH(CFirstKind, e) { ADD_FAILURE(); }
    END_CATCH
  } catch (CCountedException* e) {
    escaped = e;
  }
  ASSERT_NE(escaped, nullptr);
  EXPECT_EQ(g_nLive, 1);
  escaped->Delete();
}

TEST_F(ExceptionMacrosTest, EndTryDeletesAndPreallocatedOnesSurvive) {
  TRY { Raise(new CFirstKind(7)); }
  END_TRY
  EXPECT_EQ(g_nLive, 0);
  static CMemoryException preallocated(FALSE);  // as the framework keeps for no memory
  for (int i = 0; i < 2; ++i) {
    TRY { THROW(&preallocated); }
    CATCH(CMemoryException, e) { EXPECT_EQ(e, &preallocated); }
    END_CATCH
  }
  char message[64];
  EXPECT_TRUE(preallocated.GetErrorMessage(message, sizeof message));  // still there
}

// Each thread has its own chain of TRY blocks.
TEST_F(ExceptionMacrosTest, ThreadsKeepTheirOwnBlocks) {
  int results[2] = {0, 0};
  auto work = [&results](int slot) {
    for (int i = 0; i < 500; ++i) {
      TRY{TRY{Raise(new CFirstKind(slot));
    }
    CATCH(CFirstKind, e) { THROW_LAST(); }
    END_CATCH
  } CATCH(CFirstKind, e) {
    results[slot] += e->m_nCode + 1;
  }
  END_CATCH
}
}
;
std::thread a(work, 0);
std::thread b(work, 1);
a.join();
b.join();
EXPECT_EQ(results[0], 500);
EXPECT_EQ(results[1], 1000);
}

}  // namespace
