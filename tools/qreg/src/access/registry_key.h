// One registry key as the commands use it, over qorCRegKey. The key opens on
// demand, either by its name below a root (a root alone included) or by its
// name relative to an open parent, so that a walk down a tree opens each key
// once, in time that does not grow with its depth. Only what the class does
// not offer goes to the registry service directly: a value's type before
// reading it, values of 0 bytes, names that begin with a backslash, and the
// deletion of a tree.
#pragma once

#include <memory>
#include <string>
#include <vector>
#include <windows.h>

#include "framework/afxmt.h"
#include "tools/qreg/src/cli/key_path.h"
#include "tools/qreg/src/values/value.h"

namespace qreg {

// What a command does with a key: read it, change an existing one, or create
// it (and the keys on its way) when it is missing.
enum class Access { kRead, kWrite, kCreate };

// The registry view of every key opened afterwards: KEY_WOW64_32KEY or
// KEY_WOW64_64KEY (/reg:32, /reg:64), 0 for the default one. Only Windows
// has two views; elsewhere the one view serves both.
void SetRegistryView(REGSAM view);

class RegistryKey {
 public:
  RegistryKey(const KeyPath& path, Access access);
  // The subkey `name` of parent, opened through the parent's handle with the
  // parent's access; the parent must stay open until this key is.
  RegistryKey(RegistryKey& parent, const std::string& name);
  ~RegistryKey();
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  bool Open();
  LONG Error() const { return error_; }
  const KeyPath& Path() const { return path_; }
  std::string FullName() const { return path_.FullName(); }

  bool Read(const std::string& name, Value& value);
  bool Write(const Value& value);
  bool Remove(const std::string& name);
  bool RemoveAllValues();
  bool Values(std::vector<Value>& values);
  bool SubKeys(std::vector<std::string>& names);
  // The subkey `name` with its whole subtree; for an empty name, this key's
  // subkeys and values (the key itself stays).
  bool RemoveTree(const std::string& name);
  // Arms a notification of the next change to the key's subkeys or values
  // (with subtree, anywhere below it) on event.
  bool Arm(CEvent& event, bool subtree);

 private:
  class Key;
  bool Done(bool ok);

  KeyPath path_;
  Access access_;
  std::unique_ptr<Key> key_;
  LONG error_ = 0;
};

}  // namespace qreg
