#include <afxcoll.h>
#include <cstring>

#include <gtest/gtest.h>

namespace {

CString Joined(const CStringArray& a) {
  CString s;
  for (INT_PTR i = 0; i < a.GetSize(); ++i) s += (i ? "," : "") + a[i];
  return s;
}

TEST(CStringArrayTest, AddInsertRemove) {
  CStringArray a;
  EXPECT_TRUE(a.IsEmpty());
  EXPECT_EQ(a.GetUpperBound(), -1);
  EXPECT_EQ(a.Add("b"), 0);
  EXPECT_EQ(a.Add(CString("d")), 1);
  a.InsertAt(0, "a");
  a.InsertAt(2, "c");
  a.InsertAt(4, "e", 2);
  EXPECT_EQ(Joined(a), "a,b,c,d,e,e");
  a.RemoveAt(4);
  a.RemoveAt(0, 2);
  EXPECT_EQ(Joined(a), "c,d,e");
  a.SetAt(1, "D");
  a.ElementAt(2) += "!";
  a[0] = "C";
  EXPECT_EQ(Joined(a), "C,D,e!");
  EXPECT_EQ(a.GetCount(), 3);
  EXPECT_EQ(a.GetUpperBound(), 2);
  a.InsertAt(5, "x");  // past the end: the gap is filled with empty strings
  EXPECT_EQ(Joined(a), "C,D,e!,,,x");
}

TEST(CStringArrayTest, ManyElementsSurviveGrowth) {
  CStringArray a;
  for (int i = 0; i < 5000; ++i) {
    CString s;
    s.Format("name%d", i);
    a.Add(s);
  }
  a.Add(a[0]);  // an element of the array itself, while it grows
  ASSERT_EQ(a.GetSize(), 5001);
  EXPECT_EQ(a[4999], "name4999");
  EXPECT_EQ(a[5000], "name0");
  a.RemoveAll();
  EXPECT_TRUE(a.IsEmpty());
  EXPECT_EQ(a.GetData(), nullptr);  // storage released
}

TEST(CStringArrayTest, SizeCopyAndAppend) {
  CStringArray a;
  a.SetSize(3);
  EXPECT_TRUE(a[2].IsEmpty());
  a[1] = "one";
  a.SetSize(2);
  CStringArray b;
  b.Copy(a);
  b.Append(b);
  EXPECT_EQ(Joined(b), ",one,,one");
  b.Copy(b);
  EXPECT_EQ(b.GetSize(), 4);
  a.Append(b);
  EXPECT_EQ(a.GetSize(), 6);
  a.InsertAt(1, &b);
  EXPECT_EQ(Joined(a), ",,one,,one,one,,one,,one");
}

TEST(CStringArrayTest, BadIndexRaises) {
  CStringArray a;
  a.Add("x");
  for (INT_PTR bad : {INT_PTR{-1}, INT_PTR{1}}) {
    try {
      (void)a.GetAt(bad);
      ADD_FAILURE();
    } catch (CInvalidArgException* e) {
      e->Delete();
    }
  }
  try {
    a.RemoveAt(0, 2);
    ADD_FAILURE();
  } catch (CInvalidArgException* e) {
    e->Delete();
  }
  EXPECT_EQ(a.GetSize(), 1);
}

TEST(CStringArrayTest, SerializesAsACountAndStrings) {
  CStringArray a;
  a.Add("ab");
  a.Add("");
  CMemFile file;
  {
    CArchive ar(&file, CArchive::store);
    a.Serialize(ar);
  }
  const BYTE expected[] = {2, 0, 2, 'a', 'b', 0};
  ASSERT_EQ(file.GetLength(), sizeof expected);
  EXPECT_EQ(std::memcmp(file.GetBufferAddress(), expected, sizeof expected), 0);
  file.SeekToBegin();
  CStringArray b;
  b.Add("old");
  CArchive ar(&file, CArchive::load);
  b.Serialize(ar);
  EXPECT_EQ(Joined(b), "ab,");
}

}  // namespace
