#include "tools/qreg/src/access/tree_walk.h"

#include <memory>
#include <utility>

#include "tools/qreg/src/console/console.h"

namespace qreg {

bool WalkFailure::Set(const char* what, const RegistryKey& on) {
  action = what;
  key = on.FullName();
  error = on.Error();
  return false;
}

int WalkFailure::Report() const { return Fail("Cannot " + action + " " + key, error); }

namespace {

struct Frame {
  std::unique_ptr<RegistryKey> key;
  std::vector<std::string> children;
  size_t next = 0;
};

// Enters the key and lists its subkeys into a new frame on the stack.
bool Push(std::vector<Frame>& stack, std::unique_ptr<RegistryKey> key, bool subtree,
          TreeVisitor& visitor, WalkFailure& failure) {
  if (!visitor.Enter(*key, failure)) return false;
  Frame frame;
  if (subtree && !key->SubKeys(frame.children)) return failure.Set("read", *key);
  frame.key = std::move(key);
  stack.push_back(std::move(frame));
  return true;
}

}  // namespace

bool WalkTree(const KeyPath& top, Access access, bool subtree, TreeVisitor& visitor,
              WalkFailure& failure) {
  auto first = std::make_unique<RegistryKey>(top, access);
  if (!first->Open()) return failure.Set("open", *first);
  std::vector<Frame> stack;
  if (!Push(stack, std::move(first), subtree, visitor, failure)) return false;
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next == frame.children.size()) {
      stack.pop_back();  // closes the key
      if (stack.empty()) break;
      Frame& parent = stack.back();
      if (!visitor.Leave(*parent.key, parent.children[parent.next - 1], failure)) return false;
      continue;
    }
    const std::string& name = frame.children[frame.next++];
    if (name.empty()) continue;  // would name the parent itself
    auto child = std::make_unique<RegistryKey>(*frame.key, name);
    if (!child->Open()) {
      if (child->Error() == ERROR_FILE_NOT_FOUND) continue;  // deleted meanwhile
      return failure.Set("open", *child);
    }
    if (!Push(stack, std::move(child), true, visitor, failure)) return false;
  }
  return true;
}

namespace {

class TreeReader final : public TreeVisitor {
 public:
  TreeReader(std::vector<RegSection>& sections, Progress* progress)
      : sections_(sections), progress_(progress) {}

  bool Enter(RegistryKey& key, WalkFailure& failure) override {
    if (progress_ != nullptr) progress_->Step();
    std::vector<Value> values;
    if (!key.Values(values)) {
      if (key.Error() == ERROR_KEY_DELETED) return true;
      return failure.Set("read", key);
    }
    RegSection section;
    section.key = key.Path();
    for (Value& v : values) section.entries.push_back({std::move(v), false, 0});
    sections_.push_back(std::move(section));
    return true;
  }

 private:
  std::vector<RegSection>& sections_;
  Progress* progress_;
};

}  // namespace

bool ReadTree(const KeyPath& top, bool subtree, std::vector<RegSection>& sections,
              WalkFailure& failure, Progress* progress) {
  TreeReader reader(sections, progress);
  return WalkTree(top, Access::kRead, subtree, reader, failure);
}

bool DeleteTree(const KeyPath& top, WalkFailure& failure) {
  KeyPath parent = top;
  std::string name;
  if (const size_t end = top.path.rfind('\\'); end != std::string::npos) {
    parent.path = top.path.substr(0, end);
    name = top.path.substr(end + 1);
  } else {
    parent.path.clear();
    name = top.path;
  }
  RegistryKey key(parent, Access::kWrite);
  if (key.RemoveTree(name)) return true;
  failure.action = "delete";
  failure.key = top.FullName();
  failure.error = key.Error();
  return false;
}

}  // namespace qreg
