#include "fuzz/targets/archive_objects.h"

#include <unordered_map>
#include <vector>

namespace regkey::fuzz {

ObjectGraph* ObjectGraph::loading_ = nullptr;

namespace {

constexpr int kMaxDepth = 32;
constexpr DWORD_PTR kMaxLinks = 64;

}  // namespace

// Schema 2 (versionable): a number, a name (from schema 2 on), links to any
// objects, and a link that must be another item.
class FuzzItem : public CObject {
  DECLARE_SERIAL(FuzzItem)
 public:
  FuzzItem() : graph_(ObjectGraph::loading_) {
    if (graph_ != nullptr) graph_->owned_.insert(this);
  }
  ~FuzzItem() override {
    if (graph_ != nullptr) graph_->owned_.erase(this);
  }
  void Serialize(CArchive& ar) override;
  void Forget() { graph_ = nullptr; }

  int number = 0;
  CString name;
  std::vector<CObject*> links;
  FuzzItem* next = nullptr;

 private:
  ObjectGraph* graph_;
};

// Schema 1, not versionable: a word.
class FuzzPlain : public CObject {
  DECLARE_SERIAL(FuzzPlain)
 public:
  FuzzPlain() : graph_(ObjectGraph::loading_) {
    if (graph_ != nullptr) graph_->owned_.insert(this);
  }
  ~FuzzPlain() override {
    if (graph_ != nullptr) graph_->owned_.erase(this);
  }
  void Serialize(CArchive& ar) override {
    if (ar.IsStoring())
      ar << word;
    else
      ar >> word;
  }
  void Forget() { graph_ = nullptr; }

  WORD word = 0;

 private:
  ObjectGraph* graph_;
};

IMPLEMENT_SERIAL(FuzzItem, CObject, VERSIONABLE_SCHEMA | 2)
IMPLEMENT_SERIAL(FuzzPlain, CObject, 1)

void FuzzItem::Serialize(CArchive& ar) {
  if (ar.IsStoring()) {
    ar << number << name;
    ar.WriteCount(links.size());
    for (const CObject* link : links) ar << link;
    ar << next;
    return;
  }
  const UINT schema = ar.GetObjectSchema();
  if (schema < 1 || schema > 2) AfxThrowArchiveException(CArchiveException::badSchema);
  ObjectGraph* graph = ObjectGraph::loading_;
  if (graph == nullptr || graph->depth_ >= kMaxDepth)
    AfxThrowArchiveException(CArchiveException::badSchema);
  struct Deeper {
    int& depth;
    explicit Deeper(int& d) : depth(++d) {}
    ~Deeper() { --depth; }
  } deeper(graph->depth_);
  ar >> number;
  if (schema >= 2) ar >> name;
  const DWORD_PTR count = ar.ReadCount();
  if (count > kMaxLinks) AfxThrowArchiveException(CArchiveException::badSchema);
  links.clear();
  for (DWORD_PTR n = 0; n < count; ++n) {
    CObject* link = nullptr;
    ar >> link;
    links.push_back(link);
  }
  ar >> next;
}

ObjectGraph::~ObjectGraph() {
  const std::unordered_set<CObject*> owned = std::move(owned_);
  for (CObject* object : owned) {
    if (auto* item = dynamic_cast<FuzzItem*>(object)) item->Forget();
    if (auto* plain = dynamic_cast<FuzzPlain*>(object)) plain->Forget();
    delete object;
  }
}

void ObjectGraph::Serialize(CArchive& ar) {
  if (ar.IsStoring()) {
    ar << root;
    return;
  }
  struct Loading {
    explicit Loading(ObjectGraph* graph) : saved(loading_) { loading_ = graph; }
    ~Loading() { loading_ = saved; }
    ObjectGraph* saved;
  } loading(this);
  ar >> root;
}

std::string ObjectGraph::Describe() const {
  std::unordered_map<const CObject*, int> numbers;
  std::string out;
  // Recursive: new objects nest at most kMaxDepth deep, and one seen before
  // is written as its number.
  auto describe = [&](auto& self, const CObject* object) -> void {
    if (object == nullptr) {
      out += "null";
      return;
    }
    if (const auto seen = numbers.find(object); seen != numbers.end()) {
      out += "@" + std::to_string(seen->second);
      return;
    }
    const int number = static_cast<int>(numbers.size()) + 1;
    numbers.emplace(object, number);
    out += "#" + std::to_string(number);
    if (const auto* plain = dynamic_cast<const FuzzPlain*>(object)) {
      out += " plain " + std::to_string(plain->word);
      return;
    }
    const auto* item = dynamic_cast<const FuzzItem*>(object);
    if (item == nullptr) {
      out += " ?";
      return;
    }
    out += " item " + std::to_string(item->number) + " '" +
           std::string(item->name.GetString(), static_cast<std::size_t>(item->name.GetLength())) +
           "' (";
    for (const CObject* link : item->links) {
      self(self, link);
      out += ", ";
    }
    out += ") next ";
    self(self, item->next);
  };
  describe(describe, root);
  return out;
}

}  // namespace regkey::fuzz
