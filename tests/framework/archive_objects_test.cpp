// Objects through archives: MFC's tag layout, written out by hand, and loading
// of bytes that do not fit it.
#include <afx.h>
#include <afxcoll.h>
#include <cstdint>
#include <cstring>
#include <random>
#include <set>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<BYTE>;

// The test classes' objects on the heap, so that a test can free what a load
// made however it ended.
std::set<void*>& HeapObjects() {
  static std::set<void*> live;
  return live;
}

class CTracked : public CObject {
  DECLARE_DYNAMIC(CTracked)
 public:
  static void* operator new(std::size_t n) {
    void* p = ::operator new(n);
    HeapObjects().insert(p);
    return p;
  }
  static void operator delete(void* p) {
    HeapObjects().erase(p);
    ::operator delete(p);
  }
};
IMPLEMENT_DYNAMIC(CTracked, CObject)

void FreeHeapObjects() {
  while (!HeapObjects().empty()) delete static_cast<CTracked*>(*HeapObjects().begin());
}

// A list node with a value, a name and a link that may point anywhere in the
// graph (itself included); it owns nothing.
class CNode : public CTracked {
  DECLARE_SERIAL(CNode)
 public:
  void Serialize(CArchive& ar) override {
    if (ar.IsStoring()) {
      ar << m_nValue << m_strName << m_pNext;
    } else {
      ar >> m_nValue >> m_strName >> m_pNext;
    }
  }
  int m_nValue = 0;
  CString m_strName;
  CObject* m_pNext = nullptr;
};
IMPLEMENT_SERIAL(CNode, CTracked, 1)

class CLeaf : public CNode {
  DECLARE_SERIAL(CLeaf)
};
IMPLEMENT_SERIAL(CLeaf, CNode, 2)

// Reads every older schema: schema 1 had no second field.
class CVersioned : public CTracked {
  DECLARE_SERIAL(CVersioned)
 public:
  void Serialize(CArchive& ar) override {
    if (ar.IsStoring()) {
      ar << m_a << m_b;
      return;
    }
    m_nLoadedSchema = ar.GetObjectSchema();
    m_nSecondAsk = ar.GetObjectSchema();
    ar >> m_a;
    if (m_nLoadedSchema >= 2) ar >> m_b;
  }
  WORD m_a = 0;
  WORD m_b = 0;
  UINT m_nLoadedSchema = 0;
  UINT m_nSecondAsk = 0;
};
IMPLEMENT_SERIAL(CVersioned, CTracked, VERSIONABLE_SCHEMA | 2)

// Serialize writes nothing: one tag per object.
class CEmpty : public CTracked {
  DECLARE_SERIAL(CEmpty)
};
IMPLEMENT_SERIAL(CEmpty, CTracked, 0)

class CEmptyToo : public CTracked {
  DECLARE_SERIAL(CEmptyToo)
};
IMPLEMENT_SERIAL(CEmptyToo, CTracked, 0)

class CNotSerial : public CObject {
  DECLARE_DYNCREATE(CNotSerial)
};
IMPLEMENT_DYNCREATE(CNotSerial, CObject)

void Append(Bytes& out, std::initializer_list<int> bytes) {
  for (int b : bytes) out.push_back(static_cast<BYTE>(b));
}

void AppendClass(Bytes& out, int schema, const char* name) {
  const int n = static_cast<int>(std::strlen(name));
  Append(out, {0xFF, 0xFF, schema & 0xFF, schema >> 8, n, 0});
  for (int i = 0; i < n; ++i) out.push_back(static_cast<BYTE>(name[i]));
}

Bytes Stored(CMemFile& file) {
  return Bytes(file.GetBufferAddress(), file.GetBufferAddress() + file.GetLength());
}

// The cause of the CArchiveException that loading bytes raises; -1 for none.
int LoadCause(const Bytes& bytes) {
  Bytes copy = bytes;
  CMemFile file(copy.data(), static_cast<UINT>(copy.size()));
  CArchive ar(&file, CArchive::load);
  int cause = -1;
  try {
    CObject* pOb;
    ar >> pOb;
  } catch (CArchiveException* e) {
    cause = e->m_cause;
    e->Delete();
  } catch (CException* e) {
    cause = -2;
    e->Delete();
  }
  FreeHeapObjects();
  return cause;
}

class ArchiveObjectsTest : public ::testing::Test {
 protected:
  void TearDown() override { FreeHeapObjects(); }
};

// A new class, an object of it, the same object again, a second object of the
// class seen before, a derived class, and null.
TEST_F(ArchiveObjectsTest, GoldenTagsOfAGraph) {
  CNode first;
  first.m_nValue = 7;
  first.m_strName = "a";
  first.m_pNext = &first;  // refers to itself
  CNode second;
  second.m_nValue = 8;
  second.m_pNext = &first;
  CLeaf leaf;
  leaf.m_nValue = -1;
  CMemFile file;
  {
    CArchive ar(&file, CArchive::store);
    ar << &first << &second << &leaf << static_cast<CObject*>(nullptr) << &second;
    ar.Close();
  }
  Bytes expected;
  AppendClass(expected, 1, "CNode");       // class index 1
  Append(expected, {7, 0, 0, 0, 1, 'a'});  // first, object index 2
  Append(expected, {0x02, 0x00});          // its link: object 2
  Append(expected, {0x01, 0x80});          // second: class 1, object index 3
  Append(expected, {8, 0, 0, 0, 0});
  Append(expected, {0x02, 0x00});     // its link: object 2
  AppendClass(expected, 2, "CLeaf");  // class index 4, leaf object index 5
  Append(expected, {0xFF, 0xFF, 0xFF, 0xFF, 0});
  Append(expected, {0x00, 0x00});  // its null link
  Append(expected, {0x00, 0x00});  // null
  Append(expected, {0x03, 0x00});  // second again
  EXPECT_EQ(Stored(file), expected);

  file.SeekToBegin();
  CArchive ar(&file, CArchive::load);
  CNode* pFirst = nullptr;
  CNode* pSecond = nullptr;
  CObject* pLeaf = nullptr;
  CObject* pNull = &first;
  CNode* pAgain = nullptr;
  ar >> pFirst >> pSecond >> pLeaf >> pNull >> pAgain;
  ASSERT_NE(pFirst, nullptr);
  EXPECT_EQ(pFirst->m_nValue, 7);
  EXPECT_EQ(pFirst->m_strName, "a");
  EXPECT_EQ(pFirst->m_pNext, pFirst);
  EXPECT_EQ(pSecond->m_pNext, pFirst);
  ASSERT_NE(pLeaf, nullptr);
  EXPECT_EQ(pLeaf->GetRuntimeClass(), RUNTIME_CLASS(CLeaf));
  EXPECT_EQ(static_cast<CLeaf*>(pLeaf)->m_nValue, -1);
  EXPECT_EQ(pNull, nullptr);
  EXPECT_EQ(pAgain, pSecond);
  EXPECT_EQ(HeapObjects().size(), 3u);
}

// Indexes from 0x7FFF on: the tag 0x7FFF, then a DWORD with the class bit
// for a class.
TEST_F(ArchiveObjectsTest, GoldenBigTags) {
  const int n = 0x7FFE;  // objects of CEmpty: indexes 2 to 0x7FFF
  std::vector<CEmpty> empties(n);
  CEmptyToo other[2];
  CMemFile file;
  {
    CArchive ar(&file, CArchive::store);
    for (const CEmpty& e : empties) ar << &e;
    ar << &other[0] << &other[1] << &empties[n - 1] << &empties[n - 2];
    ar.Close();
  }
  Bytes expected;
  AppendClass(expected, 0, "CEmpty");
  for (int i = 1; i < n; ++i) Append(expected, {0x01, 0x80});
  AppendClass(expected, 0, "CEmptyToo");                   // class 0x8000, object 0x8001
  Append(expected, {0xFF, 0x7F, 0x00, 0x80, 0x00, 0x80});  // class 0x8000; object 0x8002
  Append(expected, {0xFF, 0x7F, 0xFF, 0x7F, 0x00, 0x00});  // object 0x7FFF
  Append(expected, {0xFE, 0x7F});                          // object 0x7FFE
  ASSERT_EQ(Stored(file), expected);

  file.SeekToBegin();
  CArchive ar(&file, CArchive::load);
  std::vector<CObject*> loaded(n + 4);
  for (CObject*& p : loaded) ar >> p;
  EXPECT_EQ(loaded[n]->GetRuntimeClass(), RUNTIME_CLASS(CEmptyToo));
  EXPECT_EQ(loaded[n + 1]->GetRuntimeClass(), RUNTIME_CLASS(CEmptyToo));
  EXPECT_NE(loaded[n], loaded[n + 1]);
  EXPECT_EQ(loaded[n + 2], loaded[n - 1]);
  EXPECT_EQ(loaded[n + 3], loaded[n - 2]);
}

TEST_F(ArchiveObjectsTest, VersionableSchemaLoadsOlderData) {
  Bytes bytes;
  AppendClass(bytes, 1, "CVersioned");
  Append(bytes, {0x34, 0x12});
  Append(bytes, {0x01, 0x80, 0x78, 0x56});  // a second one of schema 1
  CMemFile file(bytes.data(), static_cast<UINT>(bytes.size()));
  CArchive ar(&file, CArchive::load);
  CVersioned* p = nullptr;
  CVersioned* q = nullptr;
  EXPECT_EQ(ar.GetObjectSchema(), static_cast<UINT>(-1));  // outside a Serialize
  ar >> p >> q;
  EXPECT_EQ(p->m_nLoadedSchema, 1u);
  EXPECT_EQ(p->m_nSecondAsk, static_cast<UINT>(-1));
  EXPECT_EQ(p->m_a, 0x1234);
  EXPECT_EQ(p->m_b, 0);
  EXPECT_EQ(q->m_nLoadedSchema, 1u);  // the schema the archive gave the class
  EXPECT_EQ(q->m_a, 0x5678);
  delete p;
  delete q;

  CVersioned current;
  current.m_a = 1;
  current.m_b = 2;
  CMemFile out;
  {
    CArchive store(&out, CArchive::store);
    store << &current;
  }
  Bytes expected;
  AppendClass(expected, 2, "CVersioned");  // the schema without the versionable bit
  Append(expected, {1, 0, 2, 0});
  EXPECT_EQ(Stored(out), expected);
}

TEST_F(ArchiveObjectsTest, MappedObjectsAreWrittenAsTheirIndex) {
  CNode owner;
  CNode child;
  child.m_pNext = &owner;
  CMemFile file;
  {
    CArchive ar(&file, CArchive::store);
    ar.MapObject(&owner);  // index 1
    ar << &child;
  }
  Bytes expected;
  AppendClass(expected, 1, "CNode");
  Append(expected, {0, 0, 0, 0, 0, 0x01, 0x00});
  EXPECT_EQ(Stored(file), expected);

  file.SeekToBegin();
  CArchive ar(&file, CArchive::load);
  CNode loadedOwner;
  ar.MapObject(&loadedOwner);
  CNode* pChild = nullptr;
  ar >> pChild;
  EXPECT_EQ(pChild->m_pNext, &loadedOwner);
}

TEST_F(ArchiveObjectsTest, FrameworkCollectionsGoByPointerToo) {
  CStringArray names;
  names.Add("x");
  names.Add("yz");
  CMemFile file;
  {
    CArchive ar(&file, CArchive::store);
    ar << &names;
  }
  Bytes expected;
  AppendClass(expected, 0, "CStringArray");
  Append(expected, {2, 0, 1, 'x', 2, 'y', 'z'});
  EXPECT_EQ(Stored(file), expected);
  file.SeekToBegin();
  CArchive ar(&file, CArchive::load);
  CStringArray* back = nullptr;
  ar >> back;
  ASSERT_EQ(back->GetSize(), 2);
  EXPECT_EQ(back->GetAt(1), "yz");
  delete back;
}

TEST_F(ArchiveObjectsTest, ClassesThatCannotBeStoredAreRefused) {
  CNotSerial object;
  CMemFile file;
  CArchive ar(&file, CArchive::store);
  try {
    ar << &object;
    ADD_FAILURE();
  } catch (CArchiveException* e) {
    EXPECT_EQ(e->m_cause, CArchiveException::badClass);
    e->Delete();
  }
}

TEST_F(ArchiveObjectsTest, BadTagsAndIndexesRaise) {
  Bytes node;
  AppendClass(node, 1, "CNode");
  Append(node, {0, 0, 0, 0, 0});  // value and name; the link follows

  auto with = [&](std::initializer_list<int> tail) {
    Bytes b = node;
    Append(b, tail);
    return b;
  };
  Bytes unknown;
  AppendClass(unknown, 1, "CNoSuchClass");
  Bytes wrongSchema;
  AppendClass(wrongSchema, 2, "CNode");
  Bytes longName = {0xFF, 0xFF, 1, 0, 0x2C, 0x01};  // 300 bytes of name
  longName.insert(longName.end(), 300, 'A');
  Bytes zeroInName = {0xFF, 0xFF, 1, 0, 6, 0, 'C', 'N', 'o', 'd', 'e', 0};
  Bytes notSerial;
  AppendClass(notSerial, 0xFFFF, "CNotSerial");

  EXPECT_EQ(LoadCause({}), CArchiveException::endOfFile);
  EXPECT_EQ(LoadCause({0xFF, 0xFF, 1}), CArchiveException::endOfFile);
  EXPECT_EQ(LoadCause({0xFF, 0xFF, 1, 0, 5, 0, 'C', 'N'}), CArchiveException::badClass);
  EXPECT_EQ(LoadCause(unknown), CArchiveException::badClass);
  EXPECT_EQ(LoadCause(longName), CArchiveException::badClass);
  EXPECT_EQ(LoadCause(zeroInName), CArchiveException::badClass);
  EXPECT_EQ(LoadCause(notSerial), CArchiveException::badClass);
  EXPECT_EQ(LoadCause(wrongSchema), CArchiveException::badSchema);
  EXPECT_EQ(LoadCause({0x00, 0x80}), CArchiveException::badIndex);  // class index 0
  EXPECT_EQ(LoadCause({0x05, 0x80}), CArchiveException::badIndex);  // no such class
  EXPECT_EQ(LoadCause({0x01, 0x00}), CArchiveException::badIndex);  // no such object
  EXPECT_EQ(LoadCause({0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF}), CArchiveException::badIndex);
  EXPECT_EQ(LoadCause({0xFF, 0x7F, 0x00, 0x00, 0x00, 0x40}), CArchiveException::badIndex);
  EXPECT_EQ(LoadCause({0xFF, 0x7F, 0x01, 0x00}), CArchiveException::endOfFile);
  EXPECT_EQ(LoadCause(with({0x01, 0x00})), CArchiveException::badIndex);  // index 1 is a class
  EXPECT_EQ(LoadCause(with({0x02, 0x80})), CArchiveException::badIndex);  // index 2 is an object
  EXPECT_EQ(LoadCause(with({0x03, 0x00})), CArchiveException::badIndex);  // not loaded yet
  EXPECT_EQ(LoadCause(with({0x02, 0x00})), -1);                           // itself: fine
  EXPECT_EQ(LoadCause(with({0x00, 0x00})), -1);
}

// ar >> pTyped accepts the class and classes derived from it only.
TEST_F(ArchiveObjectsTest, TypedLoadChecksTheClass) {
  Bytes bytes;
  AppendClass(bytes, 0, "CEmpty");
  Append(bytes, {0x02, 0x00});
  {
    CMemFile file(bytes.data(), static_cast<UINT>(bytes.size()));
    CArchive ar(&file, CArchive::load);
    CNode* pNode = nullptr;
    try {
      ar >> pNode;
      ADD_FAILURE();
    } catch (CArchiveException* e) {
      EXPECT_EQ(e->m_cause, CArchiveException::badClass);
      e->Delete();
    }
    EXPECT_EQ(pNode, nullptr);
  }
  Bytes leaf;
  AppendClass(leaf, 2, "CLeaf");
  Append(leaf, {0, 0, 0, 0, 0, 0x00, 0x00});
  CMemFile file(leaf.data(), static_cast<UINT>(leaf.size()));
  CArchive ar(&file, CArchive::load);
  CNode* pNode = nullptr;
  ar >> pNode;  // a CLeaf is a CNode
  EXPECT_EQ(pNode->GetRuntimeClass(), RUNTIME_CLASS(CLeaf));
}

// An object whose Serialize raises is deleted, and nothing can name it later.
TEST_F(ArchiveObjectsTest, FailedLoadDeletesTheObject) {
  Bytes bytes;
  AppendClass(bytes, 1, "CNode");
  Append(bytes, {1, 0, 0, 0, 0});
  AppendClass(bytes, 1, "CNodeMissing");  // the link's class is unknown
  CMemFile file(bytes.data(), static_cast<UINT>(bytes.size()));
  CArchive ar(&file, CArchive::load);
  CObject* pOb = nullptr;
  try {
    ar >> pOb;
    ADD_FAILURE();
  } catch (CArchiveException* e) {
    EXPECT_EQ(e->m_cause, CArchiveException::badClass);
    e->Delete();
  }
  EXPECT_EQ(pOb, nullptr);
  EXPECT_TRUE(HeapObjects().empty());
  EXPECT_EQ(ar.GetObjectSchema(), static_cast<UINT>(-1));
}

// Damaged copies of a valid graph load or raise a framework exception; never
// anything worse (the sanitizer legs watch memory).
TEST_F(ArchiveObjectsTest, DamagedStreamsNeverCrash) {
  CNode a;
  CNode b;
  CLeaf c;
  a.m_strName = "first";
  a.m_pNext = &b;
  b.m_pNext = &c;
  c.m_pNext = &a;
  CVersioned v;
  CMemFile file;
  {
    CArchive ar(&file, CArchive::store);
    ar << &a << &v << &c << &b;
  }
  const Bytes good = Stored(file);
  std::mt19937 random(12);
  int raised = 0;
  for (int round = 0; round < 3000; ++round) {
    Bytes bad = good;
    const int edits = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < edits; ++i) {
      const std::size_t at = random() % bad.size();
      switch (random() % 3) {
        case 0:
          bad[at] = static_cast<BYTE>(random());
          break;
        case 1:
          bad.resize(at);
          break;
        default:
          bad.insert(bad.begin() + static_cast<std::ptrdiff_t>(at), static_cast<BYTE>(random()));
      }
      if (bad.empty()) break;
    }
    CMemFile in(bad.data(), static_cast<UINT>(bad.size()));
    CArchive ar(&in, CArchive::load);
    try {
      for (int i = 0; i < 4; ++i) {
        CObject* p = nullptr;
        ar >> p;
      }
    } catch (CException* e) {
      ++raised;
      e->Delete();
    }
    FreeHeapObjects();
  }
  EXPECT_GT(raised, 0);
}

}  // namespace
