#include <afx.h>
#include <climits>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace {

TEST(CStringTest, NullAndEmpty) {
  CString fromNull(static_cast<LPCTSTR>(nullptr));
  EXPECT_TRUE(fromNull.IsEmpty());
  EXPECT_STREQ(fromNull, "");
  EXPECT_EQ(fromNull, "");
  CString s("abc");
  s = static_cast<LPCTSTR>(nullptr);
  EXPECT_TRUE(s.IsEmpty());
  EXPECT_NE(s.GetString(), nullptr);
  s = "x";
  s.Empty();
  EXPECT_EQ(s.GetLength(), 0);
  EXPECT_STREQ(s.GetString(), "");
}

TEST(CStringTest, EmbeddedZeroBytesAreKept) {
  const char bytes[] = {'a', '\0', 'b', '\0'};
  CString s(bytes, 4);
  EXPECT_EQ(s.GetLength(), 4);
  EXPECT_EQ(s.GetAt(1), '\0');
  EXPECT_EQ(s[2], 'b');
  CString copy = s;
  EXPECT_EQ(copy.GetLength(), 4);
  EXPECT_EQ(std::memcmp(copy.GetString(), bytes, 4), 0);
  EXPECT_EQ(copy, s);
  EXPECT_NE(s, CString("a"));  // counted comparison, not up to the first zero
  CString joined = s + s;
  EXPECT_EQ(joined.GetLength(), 8);
  EXPECT_EQ(joined.Mid(4, 3), CString(bytes, 3));
  CString formatted;
  formatted.Format("%c%c", 'x', 0);
  EXPECT_EQ(formatted.GetLength(), 2);
}

TEST(CStringTest, SelfAssignmentAndSelfConcatenation) {
  CString s("abcdefgh");
  const CString& same = s;
  s = same;
  EXPECT_EQ(s, "abcdefgh");
  s += s;
  EXPECT_EQ(s, "abcdefghabcdefgh");
  for (int i = 0; i < 6; ++i) s += s;  // grows past every earlier buffer
  EXPECT_EQ(s.GetLength(), 16 * 64);
  EXPECT_EQ(s.Right(8), "abcdefgh");
  s = s.GetString() + 3;  // a pointer into its own buffer
  EXPECT_EQ(s.GetLength(), 16 * 64 - 3);
  EXPECT_EQ(s.Left(5), "defgh");
  s += s.GetString() + s.GetLength() - 2;
  EXPECT_EQ(s.Right(4), "ghgh");
  s.Format("%s-%s", s.Left(2).GetString(), s.GetString() + s.GetLength() - 2);
  EXPECT_EQ(s, "de-gh");
}

TEST(CStringTest, FormatSizesItselfWithoutTruncating) {
  std::string big(100000, 'q');
  CString s;
  s.Format("<%s|%d>", big.c_str(), 42);
  EXPECT_EQ(s.GetLength(), 100000 + 5);
  EXPECT_EQ(s.Left(1), "<");
  EXPECT_EQ(s.Right(4), "|42>");
  s.Format("%s\\%s", "HKEY_CURRENT_USER", "Software\\x");
  EXPECT_EQ(s, "HKEY_CURRENT_USER\\Software\\x");
  s.AppendFormat("%05u", 7u);
  EXPECT_EQ(s.Right(5), "00007");
  s.Format("%s", "");
  EXPECT_TRUE(s.IsEmpty());
}

TEST(CStringTest, SubstringBoundsAreClamped) {
  const CString s("hello");
  EXPECT_EQ(s.Mid(-3), "hello");
  EXPECT_EQ(s.Mid(2), "llo");
  EXPECT_EQ(s.Mid(5), "");
  EXPECT_EQ(s.Mid(99), "");
  EXPECT_EQ(s.Mid(1, 2), "el");
  EXPECT_EQ(s.Mid(1, -1), "");
  EXPECT_EQ(s.Mid(3, INT_MAX), "lo");
  EXPECT_EQ(s.Mid(INT_MAX, INT_MAX), "");
  EXPECT_EQ(s.Left(-1), "");
  EXPECT_EQ(s.Left(0), "");
  EXPECT_EQ(s.Left(99), "hello");
  EXPECT_EQ(s.Right(-1), "");
  EXPECT_EQ(s.Right(2), "lo");
  EXPECT_EQ(s.Right(99), "hello");
}

TEST(CStringTest, IndexOutsideTheStringRaises) {
  CString s("ab");
  EXPECT_EQ(s.GetAt(2), '\0');  // the terminating zero
  for (int bad : {-1, 3, INT_MAX}) {
    try {
      (void)s.GetAt(bad);
      ADD_FAILURE() << bad;
    } catch (CException* e) {
      EXPECT_TRUE(e->IsKindOf(RUNTIME_CLASS(CInvalidArgException)));
      e->Delete();
    }
  }
  try {
    s.SetAt(2, 'x');
    ADD_FAILURE();
  } catch (CInvalidArgException* e) {
    e->Delete();
  }
  s.SetAt(1, 'z');
  EXPECT_EQ(s, "az");
}

TEST(CStringTest, Comparisons) {
  CString a("abc");
  EXPECT_EQ(a.Compare("abc"), 0);
  EXPECT_LT(a.Compare("abd"), 0);
  EXPECT_GT(a.Compare("ab"), 0);
  EXPECT_LT(a.Compare("abcd"), 0);
  EXPECT_GT(a.Compare(static_cast<LPCTSTR>(nullptr)), 0);
  EXPECT_EQ(a.CompareNoCase("ABC"), 0);
  EXPECT_LT(CString("_").CompareNoCase("A"), 0);  // letters compare as lower case
  EXPECT_GT(CString("\xE9").Compare("z"), 0);     // bytes compare unsigned
  EXPECT_TRUE("abc" == a);
  EXPECT_TRUE(a != "ABC");
  EXPECT_TRUE(a < CString("b"));
  EXPECT_TRUE(a >= "abc");
}

TEST(CStringTest, BufferAccess) {
  CString s("ab");
  char* p = s.GetBuffer(10);
  std::strcpy(p, "0123456789");
  s.ReleaseBuffer();
  EXPECT_EQ(s, "0123456789");
  p = s.GetBuffer(4);
  p[2] = '\0';
  s.ReleaseBuffer();
  EXPECT_EQ(s, "01");
  p = s.GetBufferSetLength(5);
  EXPECT_EQ(s.GetLength(), 5);
  std::memcpy(p, "x\0yz", 5);
  s.ReleaseBuffer(5);
  EXPECT_EQ(s.GetLength(), 5);
  EXPECT_EQ(s.GetAt(2), 'y');
  s.ReleaseBuffer(1000);  // clamped to the buffer
  EXPECT_LE(s.GetLength(), s.GetAllocLength());
  CString empty;
  empty.GetBuffer(0)[0] = '\0';
  empty.ReleaseBuffer();
  EXPECT_TRUE(empty.IsEmpty());
}

TEST(CStringTest, EditingOperations) {
  CString s("\\\\a\\b\\ ");
  s.TrimRight();
  s.TrimLeft('\\');
  EXPECT_EQ(s, "a\\b\\");
  EXPECT_EQ(s.Find('\\'), 1);
  EXPECT_EQ(s.ReverseFind('\\'), 3);
  EXPECT_EQ(s.Find("b\\"), 2);
  EXPECT_EQ(s.Find("zz"), -1);
  EXPECT_EQ(s.Find('a', 99), -1);
  EXPECT_EQ(s.Replace("\\", "//"), 2);
  EXPECT_EQ(s, "a//b//");
  EXPECT_EQ(s.Delete(1, 2), 4);
  EXPECT_EQ(s.Insert(99, "!"), 5);
  EXPECT_EQ(s, "ab//!");
  EXPECT_EQ(s.MakeUpper(), "AB//!");
  EXPECT_EQ(s.Remove('/'), 2);
  EXPECT_EQ(s, "AB!");
}

TEST(CStringTest, LengthOverflowRaisesMemoryException) {
  CString s("x");
  try {
    s.GetBuffer(INT_MAX);
    ADD_FAILURE();
  } catch (CMemoryException* e) {
    e->Delete();
  }
  EXPECT_EQ(s, "x");  // unchanged after the failure
}

}  // namespace
