// Walks over a key and the keys below it: pre-order, subkeys in the order the
// registry lists them, each opened through its open parent. The walk keeps
// its own stack, so neither its time per key nor the call stack grows with
// the depth of the tree.
#pragma once

#include <string>
#include <vector>
#include <windows.h>

#include "tools/qreg/src/access/registry_key.h"
#include "tools/qreg/src/regfile/reg_file.h"

namespace qreg {

// What stopped a walk: "Cannot <action> <key>: <message of error>".
struct WalkFailure {
  std::string action;
  std::string key;
  LONG error = 0;

  // Records key's last failure; returns false, for "return failure.Set(...)".
  bool Set(const char* what, const RegistryKey& on);
  int Report() const;  // the message on standard error; the exit code
};

class TreeVisitor {
 public:
  virtual ~TreeVisitor() = default;
  // Before the key's subkeys; false (with failure set) stops the walk.
  virtual bool Enter(RegistryKey& key, WalkFailure& failure) = 0;
  // After the subkey `name` of parent and all below it were walked and
  // closed; false (with failure set) stops the walk.
  virtual bool Leave(RegistryKey& /*parent*/, const std::string& /*name*/,
                     WalkFailure& /*failure*/) {
    return true;
  }
};

// The key at top and, with subtree, every key below it. A subkey deleted
// while the walk runs is passed over.
bool WalkTree(const KeyPath& top, Access access, bool subtree, TreeVisitor& visitor,
              WalkFailure& failure);

class Progress;

// The key and, with subtree, every key below it with their values, in
// pre-order.
bool ReadTree(const KeyPath& top, bool subtree, std::vector<RegSection>& sections,
              WalkFailure& failure, Progress* progress = nullptr);

// Deletes the key and its whole subtree through its parent, in one commit on
// the embedded registry; a root keeps itself and loses its subkeys and values.
bool DeleteTree(const KeyPath& top, WalkFailure& failure);

}  // namespace qreg
