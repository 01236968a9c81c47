// CObject, the root of the framework's classes, with its runtime-class record
// and the macros that declare and implement it in a user's class.
#pragma once

#include "framework/win32_types.h"

// Set in a class's schema (IMPLEMENT_SERIAL's third argument) when its
// Serialize reads older schemas itself, through CArchive::GetObjectSchema.
#define VERSIONABLE_SCHEMA (0x80000000u)

class CObject;
class CArchive;
class CDumpContext;

// What the framework knows of a class at run time.
struct CRuntimeClass {
  LPCSTR m_lpszClassName;
  int m_nObjectSize;
  UINT m_wSchema;                   // 0xFFFF: not serialisable
  CObject* (*m_pfnCreateObject)();  // null: cannot be created by the framework
  CRuntimeClass* m_pBaseClass;

  // A new object of the class, or null when the class has no creation function
  // or the creation failed.
  CObject* CreateObject();
  BOOL IsDerivedFrom(const CRuntimeClass* pBaseClass) const;

  // A serialisable class (IMPLEMENT_SERIAL) by its name; null when none.
  static CRuntimeClass* FromName(LPCSTR lpszClassName);
  // The class record of an archive: schema number, name length, name.
  void Store(CArchive& ar) const;
  // Reads a class record; null when its class is not known here.
  static CRuntimeClass* Load(CArchive& ar, UINT* pwSchemaNum);
};

// Makes a class known by name while the program (or library) that holds it is
// loaded: IMPLEMENT_SERIAL makes one for each serialisable class.
struct AFX_CLASSINIT {
  explicit AFX_CLASSINIT(CRuntimeClass* pNewClass);
  ~AFX_CLASSINIT();
  AFX_CLASSINIT(const AFX_CLASSINIT&) = delete;
  AFX_CLASSINIT& operator=(const AFX_CLASSINIT&) = delete;

  CRuntimeClass* m_pClass;
};

class CObject {
 public:
  virtual CRuntimeClass* GetRuntimeClass() const;
  virtual ~CObject() = 0;
  virtual void Serialize(CArchive& ar);
  virtual void AssertValid() const;
  virtual void Dump(CDumpContext& dc) const;

  BOOL IsSerializable() const;
  BOOL IsKindOf(const CRuntimeClass* pClass) const;

  static const CRuntimeClass classCObject;

 protected:
  CObject() = default;

 public:
  CObject(const CObject&) = delete;
  CObject& operator=(const CObject&) = delete;
};

#define RUNTIME_CLASS(class_name) (const_cast<CRuntimeClass*>(&class_name::class##class_name))

// GetRuntimeClass is declared without "override", as MFC code declares its
// own overrides; Clang is told not to ask for it in either style of class.
#if defined(__clang__)
#define AFX_OVERRIDE_OPTIONAL_BEGIN \
  _Pragma("clang diagnostic push")  \
      _Pragma("clang diagnostic ignored \"-Winconsistent-missing-override\"")
#define AFX_OVERRIDE_OPTIONAL_END _Pragma("clang diagnostic pop")
#else
#define AFX_OVERRIDE_OPTIONAL_BEGIN
#define AFX_OVERRIDE_OPTIONAL_END
#endif

#define DECLARE_DYNAMIC(class_name)               \
 public:                                          \
  static const CRuntimeClass class##class_name;   \
  AFX_OVERRIDE_OPTIONAL_BEGIN                     \
  virtual CRuntimeClass* GetRuntimeClass() const; \
  AFX_OVERRIDE_OPTIONAL_END

#define DECLARE_DYNCREATE(class_name) \
  DECLARE_DYNAMIC(class_name)         \
  static CObject* CreateObject();

#define DECLARE_SERIAL(class_name) \
  DECLARE_DYNCREATE(class_name)    \
  friend CArchive& operator>>(CArchive& ar, class_name*& pOb);

#define IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, wSchema, pfnNew) \
  const CRuntimeClass class_name::class##class_name = {                      \
      #class_name, static_cast<int>(sizeof(class_name)), wSchema, pfnNew,    \
      RUNTIME_CLASS(base_class_name)};                                       \
  CRuntimeClass* class_name::GetRuntimeClass() const { return RUNTIME_CLASS(class_name); }

#define IMPLEMENT_DYNAMIC(class_name, base_class_name) \
  IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, 0xFFFF, nullptr)

#define IMPLEMENT_DYNCREATE(class_name, base_class_name)         \
  CObject* class_name::CreateObject() { return new class_name; } \
  IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, 0xFFFF, class_name::CreateObject)

// Where it is used, CArchive must be declared in full (<afx.h>).
#define IMPLEMENT_SERIAL(class_name, base_class_name, wSchema)                           \
  CObject* class_name::CreateObject() { return new class_name; }                         \
  IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, wSchema, class_name::CreateObject) \
  static const AFX_CLASSINIT _init_##class_name(RUNTIME_CLASS(class_name));              \
  [[maybe_unused]] CArchive& operator>>(CArchive& ar, class_name*& pOb) {                \
    pOb = static_cast<class_name*>(ar.ReadObject(RUNTIME_CLASS(class_name)));            \
    return ar;                                                                           \
  }
