#include "tools/qreg/src/access/registry_key.h"

#include <memory>

#include "regkey/qorCRegKey.h"
#include "regkey/service/RegistryService.h"

namespace qreg {
namespace {

regkey::RegistryService& Service() { return regkey::RegistryService::Current(); }

LPCSTR NameArg(const std::string& name) { return name.empty() ? nullptr : name.c_str(); }

REGSAM view = 0;

REGSAM Rights(Access access) {
  return (access == Access::kRead ? KEY_READ : KEY_READ | KEY_WRITE | DELETE) | view;
}

}  // namespace

void SetRegistryView(REGSAM wanted) {
#ifdef _WIN32
  view = wanted;
#else
  (void)wanted;
#endif
}

// The class with an Open of its own: every operation of the class opens the
// key on demand through it. The key opens below its parent's handle when it
// has one, else below its root (or that root on another machine); the name
// the class keeps is always the full one.
class RegistryKey::Key final : public qorCRegKey {
 public:
  // parentError: why the parent could not be opened (0: no parent, or open).
  Key(const KeyPath& path, Access access, HKEY parent, LONG parentError, std::string relative)
      : qorCRegKey(access == Access::kCreate ? 0 : flagOpenExisting),
        parent_(parent),
        parentError_(parentError),
        relative_(std::move(relative)),
        create_(access == Access::kCreate) {
    m_hRoot = path.root;
    m_strMachine = path.machine.c_str();
    m_strSubKey = path.path.c_str();
    m_samDesired = Rights(access);
  }

  bool Open() override {
    if (m_hKey != nullptr) return true;
    if (parentError_ != ERROR_SUCCESS) {
      m_lError = parentError_;
      return false;
    }
    HKEY base = parent_, connection = nullptr;
    if (base == nullptr) {
      base = m_hRoot;
      if (!m_strMachine.IsEmpty()) {
        const std::string machine = "\\\\" + std::string(m_strMachine.GetString());
        m_lError = Service().RegConnectRegistryA(machine.c_str(), m_hRoot, &connection);
        if (m_lError != ERROR_SUCCESS) return false;
        base = connection;
      }
    }
    HKEY opened = nullptr;
    DWORD disposition = REG_OPENED_EXISTING_KEY;
    m_lError = OpenBelow(base, opened, disposition);
    if (connection != nullptr) Service().RegCloseKey(connection);
    if (m_lError != ERROR_SUCCESS) return false;
    m_hKey = opened;
    m_bCreated = disposition == REG_CREATED_NEW_KEY;
    return true;
  }

 private:
  // Opens (or creates) relative_ below base in steps of at most 32 levels
  // and 255 characters: Windows documents 32 levels as the most one call may
  // create, and Wine's ANSI functions take no longer names.
  LONG OpenBelow(HKEY base, HKEY& opened, DWORD& disposition) {
    std::string_view rest = relative_;
    if (rest.empty()) return Service().RegOpenKeyExA(base, nullptr, 0, m_samDesired, &opened);
    HKEY current = base;
    LONG error = ERROR_SUCCESS;
    while (!rest.empty() && error == ERROR_SUCCESS) {
      const std::string step(rest.substr(0, StepLength(rest)));
      rest.remove_prefix(step.size());
      while (rest.starts_with('\\')) rest.remove_prefix(1);
      HKEY next = nullptr;
      if (create_)
        error =
            Service().RegCreateKeyExA(current, step.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                      m_samDesired, nullptr, &next, &disposition);
      else
        error = Service().RegOpenKeyExA(current, step.c_str(), 0, m_samDesired, &next);
      if (current != base) Service().RegCloseKey(current);
      current = error == ERROR_SUCCESS ? next : base;
    }
    if (error == ERROR_SUCCESS) opened = current;
    return error;
  }

  // The length of the first step of path: whole levels, at most 32 of them
  // and 255 characters, but at least one level.
  static size_t StepLength(std::string_view path) {
    constexpr size_t kLevels = 32, kCharacters = 255;
    size_t end = 0;
    for (size_t levels = 0; levels < kLevels && end < path.size(); ++levels) {
      size_t next = path.find('\\', end == 0 ? 0 : end + 1);
      if (next == std::string_view::npos) next = path.size();
      if (levels > 0 && next > kCharacters) break;
      end = next;
    }
    return end;
  }

  HKEY parent_;
  LONG parentError_;
  std::string relative_;
  bool create_;
};

RegistryKey::RegistryKey(const KeyPath& path, Access access)
    : path_(path),
      access_(access),
      key_(std::make_unique<Key>(path, access, nullptr, 0, path.path)) {}

RegistryKey::RegistryKey(RegistryKey& parent, const std::string& name)
    : path_(parent.path_.Child(name)), access_(parent.access_) {
  const LONG parentError = parent.Open() ? 0 : parent.Error();
  key_ = std::make_unique<Key>(path_, access_, parent.key_->GetKeyHandle(), parentError, name);
}

RegistryKey::~RegistryKey() = default;

bool RegistryKey::Done(bool ok) {
  error_ = ok ? 0 : (key_->m_lError != 0 ? key_->m_lError : ERROR_INVALID_DATA);
  return ok;
}

bool RegistryKey::Open() { return Done(key_->Open()); }

bool RegistryKey::Read(const std::string& name, Value& value) {
  if (!Open()) return false;
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD type = 0, size = 0;
    error_ = Service().RegQueryValueExA(key_->GetKeyHandle(), NameArg(name), nullptr, &type,
                                        nullptr, &size);
    if (error_ != 0) return false;
    value.name = name;
    value.type = type;
    if (size == 0 || name.starts_with('\\')) {
      value.data.assign(size, '\0');
      DWORD got = size;
      error_ = Service().RegQueryValueExA(key_->GetKeyHandle(), NameArg(name), nullptr, &type,
                                          reinterpret_cast<LPBYTE>(value.data.data()), &got);
      if (error_ == ERROR_MORE_DATA) continue;
      if (error_ != 0) return false;
      value.type = type;
      value.data.resize(got);
      return true;
    }
    DWORD got = 0;
    std::unique_ptr<BYTE, qorCRegKey::BufferDeleter> bytes(
        key_->QueryValueAlloc(NameArg(name), &got, type));
    if (bytes) {
      value.data.assign(reinterpret_cast<const char*>(bytes.get()), got);
      return true;
    }
    // The value changed between the type query and the read: read it again.
    if (key_->m_lError != ERROR_INVALID_DATATYPE && key_->m_lError != ERROR_MORE_DATA)
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
    error_ = Service().RegSetValueExA(key_->GetKeyHandle(), NameArg(value.name), 0, value.type,
                                      data, static_cast<DWORD>(value.data.size()));
    return error_ == 0;
  }
  return Done(key_->SetValue(NameArg(value.name), reinterpret_cast<const BYTE*>(value.data.data()),
                             static_cast<DWORD>(value.data.size()), value.type));
}

bool RegistryKey::Remove(const std::string& name) {
  if (name.starts_with('\\')) {
    if (!Open()) return false;
    error_ = Service().RegDeleteValueA(key_->GetKeyHandle(), name.c_str());
    return error_ == 0;
  }
  return Done(key_->DeleteValue(NameArg(name)));
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
  if (!Done(key_->EnumValueNames(names))) return false;
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
  if (!Done(key_->EnumSubKeyNames(list))) return false;
  for (INT_PTR i = 0; i < list.GetSize(); ++i)
    names.emplace_back(list.GetAt(i).GetString(), static_cast<size_t>(list.GetAt(i).GetLength()));
  return true;
}

// The registry's own tree deletion: one commit for the whole tree on the
// embedded registry.
bool RegistryKey::RemoveTree(const std::string& name) {
  if (!Open()) return false;
  error_ = ::RegDeleteTreeA(key_->GetKeyHandle(), NameArg(name));
  return error_ == ERROR_SUCCESS;
}

bool RegistryKey::Arm(CEvent& event, bool subtree) {
  const DWORD filter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;
  if (path_.machine.empty()) return Done(key_->NotifyChange(event, filter, subtree, false));
  // The class refuses to arm a remote key it holds open (it would have to
  // connect again); the open handle serves as well.
  if (!Open()) return false;
  error_ = Service().RegNotifyChangeKeyValue(key_->GetKeyHandle(), subtree ? TRUE : FALSE, filter,
                                             event.m_hObject, TRUE);
  return error_ == ERROR_SUCCESS;
}

}  // namespace qreg
