// The maps through which an archive writes each object and class once and
// refers to it by index afterwards.
#pragma once

#include <unordered_map>
#include <vector>

#include "framework/CArchive.h"

struct CArchive::ObjectMaps {
  // What an index of a loading archive names: a class (with the schema the
  // archive holds for it) or an object (null for index 0).
  struct Loaded {
    const CRuntimeClass* pClass;
    CObject* pObject;
    UINT nSchema;
  };

  // Storing: the index of each object and class written so far.
  std::unordered_map<const void*, DWORD> stored;
  DWORD nStoreCount = 1;
  // Loading: entry i is what index i names.
  std::vector<Loaded> loaded{Loaded{nullptr, nullptr, 0}};
};
