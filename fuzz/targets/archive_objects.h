// An object graph in an archive, read and written through CArchive's object
// tags (`ar >> pObj`, `ar << pObj`): new-class records, class and object
// indexes, null, shared objects and cycles, and a versionable class whose
// older schema holds less.
#pragma once

#include <string>
#include <unordered_set>

#include "framework/afx.h"

namespace regkey::fuzz {

// Owns every object loaded while it loads, whether a link still reaches it
// or not (objects may be shared, form cycles, or be left behind by a load
// that failed midway).
class ObjectGraph : public CObject {
 public:
  ObjectGraph() = default;
  ~ObjectGraph() override;

  void Serialize(CArchive& ar) override;
  // The graph from its root in the order it is stored: each object by its
  // class and contents the first time, by its number afterwards.
  std::string Describe() const;

  CObject* root = nullptr;

 private:
  friend class FuzzItem;
  friend class FuzzPlain;
  static ObjectGraph* loading_;  // the graph whose objects are being created
  std::unordered_set<CObject*> owned_;
  int depth_ = 0;
};

}  // namespace regkey::fuzz
