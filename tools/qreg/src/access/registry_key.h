// One registry key as the commands use it, over qorCRegKey. Only what the
// class does not offer goes to the registry service directly: a value's type
// before reading it, values of 0 bytes, and names that begin with a backslash.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "cli/key_path.h"
#include "regkey/qorCRegKey.h"
#include "values/value.h"

namespace qreg {

class RegistryKey {
 public:
  // create: open creates a missing key; otherwise a missing key fails with 2.
  RegistryKey(const KeyPath& path, bool create);

  bool Open();
  LONG Error() const { return error_; }
  std::string FullName() const { return path_.FullName(); }

  bool Read(const std::string& name, Value& value);
  bool Write(const Value& value);
  bool Remove(const std::string& name);
  bool RemoveAllValues();
  bool Values(std::vector<Value>& values);
  bool SubKeys(std::vector<std::string>& names);
  // The key with its whole subtree.
  bool RemoveTree();
  bool WaitForChange(DWORD timeout, bool subtree);

 private:
  bool Done(bool ok);

  KeyPath path_;
  qorCRegKey key_;
  LONG error_ = 0;
};

class Progress;

// The key and, with subtree, every key below it, in pre-order.
bool ReadTree(const KeyPath& top, bool subtree, std::vector<struct RegSection>& sections,
              LONG& error, std::string& failedKey, Progress* progress = nullptr);

}  // namespace qreg
