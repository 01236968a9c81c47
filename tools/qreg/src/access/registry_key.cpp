#include "access/registry_key.h"

#include <memory>

#include "console/console.h"
#include "regfile/reg_file.h"
#include "regkey/service/RegistryService.h"

namespace qreg {
namespace {

regkey::RegistryService& Service() { return regkey::RegistryService::Current(); }

LPCSTR NameArg(const std::string& name) { return name.empty() ? nullptr : name.c_str(); }

}  // namespace

RegistryKey::RegistryKey(const KeyPath& path, bool create)
    : path_(path), key_(create ? 0 : qorCRegKey::flagOpenExisting) {
  key_.SetKey(path.machine.empty() ? nullptr : path.machine.c_str(), path.root, path.path.c_str(),
              KEY_ALL_ACCESS);
}

bool RegistryKey::Done(bool ok) {
  error_ = ok ? 0 : (key_.m_lError != 0 ? key_.m_lError : ERROR_INVALID_DATA);
  return ok;
}

bool RegistryKey::Open() { return Done(key_.Open()); }

bool RegistryKey::Read(const std::string& name, Value& value) {
  if (!Open()) return false;
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD type = 0, size = 0;
    error_ = Service().RegQueryValueExA(key_.GetKeyHandle(), NameArg(name), nullptr, &type, nullptr,
                                        &size);
    if (error_ != 0) return false;
    value.name = name;
    value.type = type;
    if (size == 0 || name.starts_with('\\')) {
      value.data.assign(size, '\0');
      DWORD got = size;
      error_ = Service().RegQueryValueExA(key_.GetKeyHandle(), NameArg(name), nullptr, &type,
                                          reinterpret_cast<LPBYTE>(value.data.data()), &got);
      if (error_ == ERROR_MORE_DATA) continue;
      if (error_ != 0) return false;
      value.type = type;
      value.data.resize(got);
      return true;
    }
    DWORD got = 0;
    std::unique_ptr<BYTE, qorCRegKey::BufferDeleter> bytes(
        key_.QueryValueAlloc(NameArg(name), &got, type));
    if (bytes) {
      value.data.assign(reinterpret_cast<const char*>(bytes.get()), got);
      return true;
    }
    // The value changed between the type query and the read: read it again.
    if (key_.m_lError != ERROR_INVALID_DATATYPE && key_.m_lError != ERROR_MORE_DATA)
      return Done(false);
  }
  error_ = ERROR_MORE_DATA;
  return false;
}

bool RegistryKey::Write(const Value& value) {
  if (value.data.empty() || value.name.starts_with('\\')) {
    if (!Open()) return false;
    static const BYTE none = 0;
    const BYTE* data =
        value.data.empty() ? &none : reinterpret_cast<const BYTE*>(value.data.data());
    error_ = Service().RegSetValueExA(key_.GetKeyHandle(), NameArg(value.name), 0, value.type, data,
                                      static_cast<DWORD>(value.data.size()));
    return error_ == 0;
  }
  return Done(key_.SetValue(NameArg(value.name), reinterpret_cast<const BYTE*>(value.data.data()),
                            static_cast<DWORD>(value.data.size()), value.type));
}

bool RegistryKey::Remove(const std::string& name) {
  if (name.starts_with('\\')) {
    if (!Open()) return false;
    error_ = Service().RegDeleteValueA(key_.GetKeyHandle(), name.c_str());
    return error_ == 0;
  }
  return Done(key_.DeleteValue(NameArg(name)));
}

bool RegistryKey::RemoveAllValues() {
  std::vector<Value> values;
  if (!Values(values)) return false;
  bool ok = true;
  LONG first = 0;
  for (const Value& v : values)
    if (!Remove(v.name) && first == 0) {
      ok = false;
      first = error_;
    }
  error_ = first;
  return ok;
}

bool RegistryKey::Values(std::vector<Value>& values) {
  values.clear();
  CStringArray names;
  if (!Done(key_.EnumValueNames(names))) return false;
  bool unnamedListed = false;
  for (INT_PTR i = 0; i < names.GetSize(); ++i)
    if (names.GetAt(i).IsEmpty()) unnamedListed = true;
  // The key's unnamed value is not listed when it is the key's only value.
  if (!unnamedListed) {
    Value unnamed;
    if (Read("", unnamed))
      values.push_back(std::move(unnamed));
    else if (error_ != ERROR_FILE_NOT_FOUND)
      return false;
  }
  for (INT_PTR i = 0; i < names.GetSize(); ++i) {
    Value value;
    const CString& name = names.GetAt(i);
    if (!Read(std::string(name.GetString(), static_cast<size_t>(name.GetLength())), value)) {
      if (error_ == ERROR_FILE_NOT_FOUND) continue;  // deleted meanwhile
      return false;
    }
    values.push_back(std::move(value));
  }
  error_ = 0;
  return true;
}

bool RegistryKey::SubKeys(std::vector<std::string>& names) {
  names.clear();
  CStringArray list;
  if (!Done(key_.EnumSubKeyNames(list))) return false;
  for (INT_PTR i = 0; i < list.GetSize(); ++i)
    names.emplace_back(list.GetAt(i).GetString(), static_cast<size_t>(list.GetAt(i).GetLength()));
  return true;
}

// The registry's own tree deletion: one commit for the whole tree on the
// embedded registry.
bool RegistryKey::RemoveTree() {
  key_.Close();
  HKEY root = key_.AcquireRoot();
  if (root == nullptr) return Done(false);
  error_ = ::RegDeleteTreeA(root, key_.GetSubKey());
  key_.ReleaseRoot(root);
  return error_ == ERROR_SUCCESS;
}

bool RegistryKey::WaitForChange(DWORD timeout, bool subtree) {
  return Done(key_.WaitForChange(timeout, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                 subtree, false));
}

bool ReadTree(const KeyPath& top, bool subtree, std::vector<RegSection>& sections, LONG& error,
              std::string& failedKey, Progress* progress) {
  if (progress != nullptr) progress->Step();
  RegistryKey key(top, false);
  RegSection section;
  section.key = top;
  std::vector<Value> values;
  std::vector<std::string> children;
  if (!key.Values(values) || (subtree && !key.SubKeys(children))) {
    error = key.Error();
    failedKey = top.FullName();
    return false;
  }
  for (Value& v : values) section.entries.push_back({std::move(v), false, 0});
  sections.push_back(std::move(section));
  for (const std::string& child : children)
    if (!ReadTree(top.Child(child), true, sections, error, failedKey, progress)) return false;
  return true;
}

}  // namespace qreg
