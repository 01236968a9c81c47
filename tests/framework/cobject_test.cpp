#include <afx.h>
#include <cstring>

#include <gtest/gtest.h>

namespace {

class Shape : public CObject {
  DECLARE_DYNAMIC(Shape)
 public:
  int sides = 0;
};

class Square : public Shape {
  DECLARE_DYNCREATE(Square)
 public:
  Square() { sides = 4; }
};

class Note : public CObject {
  DECLARE_SERIAL(Note)
 public:
  int version = 0;
};

IMPLEMENT_DYNAMIC(Shape, CObject)
IMPLEMENT_DYNCREATE(Square, Shape)
IMPLEMENT_SERIAL(Note, CObject, 3)

TEST(CObjectTest, RuntimeClassRecordsFollowTheMacros) {
  const CRuntimeClass* shape = RUNTIME_CLASS(Shape);
  EXPECT_STREQ(shape->m_lpszClassName, "Shape");
  EXPECT_EQ(shape->m_nObjectSize, static_cast<int>(sizeof(Shape)));
  EXPECT_EQ(shape->m_wSchema, 0xFFFFu);
  EXPECT_EQ(shape->m_pfnCreateObject, nullptr);
  EXPECT_EQ(shape->m_pBaseClass, RUNTIME_CLASS(CObject));

  const CRuntimeClass* square = RUNTIME_CLASS(Square);
  EXPECT_EQ(square->m_wSchema, 0xFFFFu);
  EXPECT_NE(square->m_pfnCreateObject, nullptr);
  EXPECT_EQ(square->m_pBaseClass, RUNTIME_CLASS(Shape));

  EXPECT_EQ(RUNTIME_CLASS(Note)->m_wSchema, 3u);
  EXPECT_EQ(RUNTIME_CLASS(CObject)->m_pBaseClass, nullptr);
  EXPECT_STREQ(RUNTIME_CLASS(CObject)->m_lpszClassName, "CObject");
}

TEST(CObjectTest, KindsAndCreation) {
  Square square;
  const CObject& asObject = square;
  EXPECT_EQ(asObject.GetRuntimeClass(), RUNTIME_CLASS(Square));
  EXPECT_TRUE(asObject.IsKindOf(RUNTIME_CLASS(Square)));
  EXPECT_TRUE(asObject.IsKindOf(RUNTIME_CLASS(Shape)));
  EXPECT_TRUE(asObject.IsKindOf(RUNTIME_CLASS(CObject)));
  EXPECT_FALSE(asObject.IsKindOf(RUNTIME_CLASS(Note)));
  EXPECT_FALSE(asObject.IsSerializable());

  Note note;
  EXPECT_TRUE(note.IsSerializable());
  EXPECT_FALSE(note.IsKindOf(RUNTIME_CLASS(Shape)));

  EXPECT_EQ(RUNTIME_CLASS(Shape)->CreateObject(), nullptr);
  CObject* made = RUNTIME_CLASS(Square)->CreateObject();
  ASSERT_NE(made, nullptr);
  EXPECT_TRUE(made->IsKindOf(RUNTIME_CLASS(Square)));
  EXPECT_EQ(static_cast<Square*>(made)->sides, 4);
  delete made;

  EXPECT_TRUE(RUNTIME_CLASS(Square)->IsDerivedFrom(RUNTIME_CLASS(Shape)));
  EXPECT_FALSE(RUNTIME_CLASS(Shape)->IsDerivedFrom(RUNTIME_CLASS(Square)));
}

// The base operations do nothing and a dump context without a file discards.
TEST(CObjectTest, BaseOperationsAreHarmless) {
  Note note;
  CDumpContext dc;
  note.AssertValid();
  note.Dump(dc);
  dc << "text" << 5 << &note << static_cast<const CObject*>(nullptr);
  CObject* asObject = &note;
  asObject->Dump(dc);
  SUCCEED();
}

}  // namespace
