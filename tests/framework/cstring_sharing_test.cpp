// CString as MFC lays it out: one pointer to the characters, copies that share
// them until one changes, and its text through "..." and printf.
#include <afx.h>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(CStringSharingTest, IsOnePointerToItsCharacters) {
  static_assert(sizeof(CString) == sizeof(char*));
  CString s("key");
  const char* const* raw = reinterpret_cast<const char* const*>(&s);
  EXPECT_EQ(*raw, s.GetString());
  EXPECT_EQ(s.GetString()[3], '\0');
}

TEST(CStringSharingTest, ThroughEllipsisGivesItsText) {
  const CString name("Software\\Vendor");
  const CString root("HKEY_CURRENT_USER");
  CString s;
  s.Format("key %s", name);
  EXPECT_EQ(s, "key Software\\Vendor");
  s.Format("%s\\%s (%d)", root, name, 3);
  EXPECT_EQ(s, "HKEY_CURRENT_USER\\Software\\Vendor (3)");
  s.AppendFormat("+%s", name.Left(8));  // a temporary
  EXPECT_EQ(s.Right(9), "+Software");
  s.Format("%s", s);  // its own text
  EXPECT_EQ(s.Left(4), "HKEY");

  char buffer[64];
  EXPECT_EQ(snprintf(buffer, sizeof buffer, "[%s]", name), 17);
  EXPECT_STREQ(buffer, "[Software\\Vendor]");
  EXPECT_EQ(sprintf(buffer, "%s=%d", root, 1), 19);
  EXPECT_STREQ(buffer, "HKEY_CURRENT_USER=1");
  EXPECT_EQ(_stprintf_s(buffer, _T("<%s>"), name), 17);
  EXPECT_STREQ(buffer, "<Software\\Vendor>");
  EXPECT_EQ(_sntprintf(buffer, sizeof buffer, _T("%s"), root), 17);
  EXPECT_STREQ(buffer, "HKEY_CURRENT_USER");
  EXPECT_EQ(_scprintf("%s", name), 15);

  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(fprintf(out, "%s|%s", root, name), 33);
  std::rewind(out);
  ASSERT_NE(std::fgets(buffer, sizeof buffer, out), nullptr);
  EXPECT_STREQ(buffer, "HKEY_CURRENT_USER|Software\\Vendor");
  std::fclose(out);
}

// Every change of a copy leaves the string it was copied from alone.
TEST(CStringSharingTest, CopiesShareUntilOneChanges) {
  const CString original("  Mixed Case\\Path  ");
  auto check = [&](const char* what, auto change) {
    CString copy = original;
    EXPECT_EQ(copy.GetString(), original.GetString()) << what;  // shared
    change(copy);
    EXPECT_EQ(original, "  Mixed Case\\Path  ") << what;
  };
  check("SetAt", [](CString& c) { c.SetAt(2, 'm'); });
  check("MakeUpper", [](CString& c) { c.MakeUpper(); });
  check("MakeLower", [](CString& c) { c.MakeLower(); });
  check("MakeReverse", [](CString& c) { c.MakeReverse(); });
  check("Trim", [](CString& c) { c.Trim(); });
  check("TrimLeft", [](CString& c) { c.TrimLeft(' '); });
  check("TrimRight", [](CString& c) { c.TrimRight(" h"); });
  check("Replace char", [](CString& c) { c.Replace('\\', '/'); });
  check("Replace text", [](CString& c) { c.Replace("Case", "Caps"); });
  check("Remove", [](CString& c) { c.Remove(' '); });
  check("Insert", [](CString& c) { c.Insert(0, "x"); });
  check("Delete", [](CString& c) { c.Delete(0, 3); });
  check("Append", [](CString& c) { c += "more"; });
  check("Assign", [](CString& c) { c = "other"; });
  check("Empty", [](CString& c) { c.Empty(); });
  check("Format", [](CString& c) { c.Format("%d", 1); });
  check("GetBuffer", [](CString& c) {
    c.GetBuffer(100)[0] = '#';
    c.ReleaseBuffer();
  });
  check("GetBufferSetLength", [](CString& c) { c.GetBufferSetLength(3)[0] = '#'; });
  check("ReleaseBuffer alone", [](CString& c) { c.ReleaseBuffer(2); });
  check("FreeExtra", [](CString& c) { c.FreeExtra(); });
  check("Move", [](CString& c) { CString taken = std::move(c); });
}

// While its buffer is out a string is its own: copies taken then do not see
// later writes through the buffer.
TEST(CStringSharingTest, AStringWithItsBufferOutIsNeverShared) {
  CString s("abc");
  char* p = s.GetBuffer(10);
  CString copy(s);
  CString assigned;
  assigned = s;
  p[0] = 'X';
  s.ReleaseBuffer();
  EXPECT_EQ(s, "Xbc");
  EXPECT_EQ(copy, "abc");
  EXPECT_EQ(assigned, "abc");
  CString after(s);  // released: shared again
  EXPECT_EQ(after.GetString(), s.GetString());

  char* locked = s.LockBuffer();
  CString whileLocked(s);
  EXPECT_NE(whileLocked.GetString(), locked);
  s.UnlockBuffer();
  CString unlocked(s);
  EXPECT_EQ(unlocked.GetString(), s.GetString());
}

TEST(CStringSharingTest, SharedTextSurvivesItsFirstOwner) {
  CString* first = new CString("value");
  CString second = *first;
  delete first;
  EXPECT_EQ(second, "value");
  CString third;
  third = second;
  second += "!";
  EXPECT_EQ(third, "value");
  EXPECT_EQ(second, "value!");
}

// Threads that copy, change and drop copies of one string; the thread
// sanitizer leg checks the counting.
TEST(CStringSharingTest, CopiesMayLiveInDifferentThreads) {
  const CString shared("shared between threads");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&shared, t] {
      for (int i = 0; i < 2000; ++i) {
        CString copy = shared;
        CString another(copy);
        if ((i + t) % 3 == 0) another.MakeUpper();
        if (copy.GetLength() != shared.GetLength()) std::abort();
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(shared, "shared between threads");
}

}  // namespace
