#include "fuzz/model/registry_model.h"

#include <algorithm>

namespace regkey::fuzz {
namespace {

constexpr std::size_t kMaxKeyName = 255;
constexpr std::size_t kMaxValueName = 16383;
constexpr DWORD kMaxValueSize = 16u << 20;
constexpr std::size_t kMaxDepth = 512;  // levels below a root

std::size_t Depth(const ModelKey& key) {
  std::size_t depth = 0;
  for (const ModelKey* k = key.parent; k != nullptr; k = k->parent) ++depth;
  return depth;
}

}  // namespace

ModelValue* ModelKey::FindValue(std::string_view name) {
  const std::string fold = RegistryModel::Fold(name);
  for (ModelValue& value : values)
    if (RegistryModel::Fold(value.name) == fold) return &value;
  return nullptr;
}

std::string RegistryModel::Fold(std::string_view name) {
  std::string out(name);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

RegistryModel::RegistryModel(int roots, int events) {
  for (int i = 0; i < roots; ++i) roots_.push_back(std::make_shared<ModelKey>());
  events_.resize(static_cast<std::size_t>(events));
  for (int i = 0; i < events; ++i) events_[static_cast<std::size_t>(i)].manual = i % 2 == 0;
}

// Generic rights map onto the key rights they stand for.
REGSAM RegistryModel::Rights(REGSAM access) {
  REGSAM rights = access;
  if (access & GENERIC_READ) rights |= KEY_READ;
  if (access & GENERIC_WRITE) rights |= KEY_WRITE;
  if (access & GENERIC_EXECUTE) rights |= KEY_EXECUTE;
  if (access & (GENERIC_ALL | MAXIMUM_ALLOWED)) rights |= KEY_ALL_ACCESS;
  return rights;
}

int RegistryModel::AddHandle(std::shared_ptr<ModelKey> key, REGSAM access) {
  handles_.push_back(Handle{std::move(key), Rights(access), true});
  return static_cast<int>(handles_.size()) - 1;
}

int RegistryModel::Connect(int root) { return AddHandle(roots_[root], KEY_ALL_ACCESS); }

LONG RegistryModel::Resolve(int handle, REGSAM rights, Handle*& out) {
  if (handle < 0 || !handles_[handle].open) return ERROR_INVALID_HANDLE;
  out = &handles_[handle];
  return (out->access & rights) == rights ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

// A relative path may not start with a backslash; empty levels (doubled or
// trailing backslashes) are skipped; a level has at most 255 characters.
LONG RegistryModel::Split(const char* path, std::vector<std::string>& levels) {
  levels.clear();
  if (path == nullptr) return ERROR_SUCCESS;
  const std::string_view text(path);
  if (!text.empty() && text.front() == '\\') return ERROR_BAD_PATHNAME;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find('\\', start), text.size());
    const std::string_view level = text.substr(start, end - start);
    if (level.size() > kMaxKeyName) return ERROR_INVALID_PARAMETER;
    if (!level.empty()) levels.emplace_back(level);
    start = end + 1;
  }
  return ERROR_SUCCESS;
}

std::shared_ptr<ModelKey> RegistryModel::Walk(std::shared_ptr<ModelKey> key,
                                              const std::vector<std::string>& levels,
                                              std::size_t& found) {
  for (found = 0; found < levels.size(); ++found) {
    auto it = key->children.find(Fold(levels[found]));
    if (it == key->children.end()) break;
    key = it->second;
  }
  return key;
}

LONG RegistryModel::Locate(int handle, const char* path, Located& at) {
  if (const LONG code = Resolve(handle, 0, at.base)) return code;
  if (const LONG code = Split(path, at.levels)) return code;
  if (at.base->key->deleted) return ERROR_KEY_DELETED;
  at.key = Walk(at.base->key, at.levels, at.found);
  return ERROR_SUCCESS;
}

ModelOpen RegistryModel::Create(int handle, const char* path, REGSAM access) {
  ModelOpen result;
  Located at;
  if ((result.code = Locate(handle, path, at))) return result;
  Handle* base = at.base;
  const std::vector<std::string>& levels = at.levels;
  std::size_t found = at.found;
  std::shared_ptr<ModelKey> key = std::move(at.key);
  const bool mayCreate = (base->access & KEY_CREATE_SUB_KEY) != 0;
  if (found < levels.size() && !mayCreate) return result.code = ERROR_ACCESS_DENIED, result;
  if (found < levels.size() && Depth(*base->key) + levels.size() > kMaxDepth)
    return result.code = ERROR_FILENAME_EXCED_RANGE, result;
  result.disposition = found < levels.size() ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  for (; found < levels.size(); ++found) {
    auto child = std::make_shared<ModelKey>();
    child->name = levels[found];
    child->parent = key.get();
    key->children[Fold(levels[found])] = child;
    Changed(key.get(), kName);
    key = std::move(child);
  }
  result.handle = AddHandle(std::move(key), access);
  return result;
}

ModelOpen RegistryModel::Open(int handle, const char* path, REGSAM access) {
  ModelOpen result;
  Located at;
  if ((result.code = Locate(handle, path, at))) return result;
  if (at.found < at.levels.size()) return result.code = ERROR_FILE_NOT_FOUND, result;
  result.handle = AddHandle(std::move(at.key), access);
  return result;
}

// Closing a handle ends the requests armed on it and signals their events.
LONG RegistryModel::Close(int handle) {
  if (handle == kPerformanceData) return ERROR_SUCCESS;
  if (handle < 0 || !handles_[handle].open) return ERROR_INVALID_HANDLE;
  handles_[handle].open = false;
  handles_[handle].key.reset();
  std::erase_if(watches_, [&](const Watch& watch) {
    if (watch.handle != handle) return false;
    Signal(watch.event, watch.generation);
    return true;
  });
  return ERROR_SUCCESS;
}

LONG RegistryModel::SetValue(int handle, const char* name, DWORD type, const char* data,
                             DWORD size) {
  Handle* h = nullptr;
  if (const LONG code = Resolve(handle, KEY_SET_VALUE, h)) return code;
  if (data == nullptr && size != 0) return ERROR_NOACCESS;
  const std::string_view valueName = name != nullptr ? name : "";
  if (valueName.size() > kMaxValueName || size > kMaxValueSize) return ERROR_INVALID_PARAMETER;
  if (h->key->deleted) return ERROR_KEY_DELETED;
  ModelValue* value = h->key->FindValue(valueName);
  const std::string bytes(data != nullptr ? data : "", size);
  // Setting what a value holds changes nothing: no time moves, nothing signals.
  if (value != nullptr && value->type == type && value->data == bytes) return ERROR_SUCCESS;
  if (value == nullptr)
    value = &h->key->values.emplace_back(ModelValue{std::string(valueName), REG_NONE, {}});
  value->type = type;
  value->data = bytes;
  Changed(h->key.get(), kLastSet);
  return ERROR_SUCCESS;
}

ModelData RegistryModel::CopyValue(const ModelValue& value, bool dataBuffer, Buffer size) {
  ModelData result;
  result.type = value.type;
  result.size = static_cast<DWORD>(value.data.size());
  if (dataBuffer && *size < result.size) return result.code = ERROR_MORE_DATA, result;
  if (dataBuffer) result.data = value.data;
  return result;
}

ModelData RegistryModel::QueryValue(int handle, const char* name, bool dataBuffer, Buffer size,
                                    bool reserved) {
  ModelData result;
  if (reserved || (dataBuffer && !size)) return result.code = ERROR_INVALID_PARAMETER, result;
  Handle* h = nullptr;
  if ((result.code = Resolve(handle, KEY_QUERY_VALUE, h))) return result;
  if (h->key->deleted) return result.code = ERROR_KEY_DELETED, result;
  const ModelValue* value = h->key->FindValue(name != nullptr ? name : "");
  if (value == nullptr) return result.code = ERROR_FILE_NOT_FOUND, result;
  return CopyValue(*value, dataBuffer, size);
}

LONG RegistryModel::DeleteValue(int handle, const char* name) {
  Handle* h = nullptr;
  if (const LONG code = Resolve(handle, KEY_SET_VALUE, h)) return code;
  if (h->key->deleted) return ERROR_KEY_DELETED;
  const ModelValue* value = h->key->FindValue(name != nullptr ? name : "");
  if (value == nullptr) return ERROR_FILE_NOT_FOUND;
  h->key->values.erase(h->key->values.begin() + (value - h->key->values.data()));
  Changed(h->key.get(), kLastSet);
  return ERROR_SUCCESS;
}

ModelInfo RegistryModel::QueryInfo(int handle) {
  ModelInfo info;
  Handle* h = nullptr;
  if ((info.code = Resolve(handle, KEY_QUERY_VALUE, h))) return info;
  if (h->key->deleted) return info.code = ERROR_KEY_DELETED, info;
  const ModelKey& key = *h->key;
  info.subKeys = static_cast<DWORD>(key.children.size());
  for (const auto& [fold, child] : key.children)
    info.maxSubKeyLength = std::max(info.maxSubKeyLength, static_cast<DWORD>(child->name.size()));
  info.values = static_cast<DWORD>(key.values.size());
  for (const ModelValue& value : key.values) {
    info.maxValueNameLength =
        std::max(info.maxValueNameLength, static_cast<DWORD>(value.name.size()));
    info.maxValueSize = std::max(info.maxValueSize, static_cast<DWORD>(value.data.size()));
  }
  return info;
}

ModelData RegistryModel::EnumKey(int handle, DWORD index, Buffer nameCapacity) {
  ModelData result;
  if (!nameCapacity) return result.code = ERROR_INVALID_PARAMETER, result;
  Handle* h = nullptr;
  if ((result.code = Resolve(handle, KEY_ENUMERATE_SUB_KEYS, h))) return result;
  if (h->key->deleted) return result.code = ERROR_KEY_DELETED, result;
  if (index >= h->key->children.size()) return result.code = ERROR_NO_MORE_ITEMS, result;
  auto it = h->key->children.begin();
  std::advance(it, index);
  if (it->second->name.size() >= *nameCapacity) return result.code = ERROR_MORE_DATA, result;
  result.name = it->second->name;
  return result;
}

ModelData RegistryModel::EnumValue(int handle, DWORD index, Buffer nameCapacity, bool dataBuffer,
                                   Buffer size) {
  ModelData result;
  if (!nameCapacity || (dataBuffer && !size)) return result.code = ERROR_INVALID_PARAMETER, result;
  Handle* h = nullptr;
  if ((result.code = Resolve(handle, KEY_QUERY_VALUE, h))) return result;
  if (h->key->deleted) return result.code = ERROR_KEY_DELETED, result;
  if (index >= h->key->values.size()) return result.code = ERROR_NO_MORE_ITEMS, result;
  const ModelValue& value = h->key->values[index];
  if (value.name.size() >= *nameCapacity) return result.code = ERROR_MORE_DATA, result;
  result = CopyValue(value, dataBuffer, size);
  result.name = value.name;
  return result;
}

// A key with subkeys is not deleted; nor is a root.
LONG RegistryModel::DeleteKey(int handle, const char* path) {
  if (path == nullptr) return ERROR_INVALID_PARAMETER;
  Located at;
  if (const LONG code = Locate(handle, path, at)) return code;
  if (at.found < at.levels.size()) return ERROR_FILE_NOT_FOUND;
  const std::shared_ptr<ModelKey>& key = at.key;
  if (key->parent == nullptr || !key->children.empty()) return ERROR_ACCESS_DENIED;
  ModelKey* parent = key->parent;
  parent->children.erase(Fold(key->name));
  key->deleted = true;
  Changed(parent, kName);
  Changed(key.get(), kDeleted);
  return ERROR_SUCCESS;
}

LONG RegistryModel::DeleteTree(int handle, const char* path) {
  Handle* base = nullptr;
  if (path == nullptr) {
    if (const LONG code = Resolve(handle, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, base))
      return code;
    ModelKey& key = *base->key;
    if (key.deleted) return ERROR_KEY_DELETED;
    // Deleting values takes the right to set them.
    if (!key.values.empty() && (base->access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
    const bool hadChildren = !key.children.empty(), hadValues = !key.values.empty();
    for (auto& [fold, child] : key.children) Deleted(*child);
    key.children.clear();
    key.values.clear();
    if (hadChildren) Changed(&key, kName);
    if (hadValues) Changed(&key, kLastSet);
    return ERROR_SUCCESS;
  }
  Located at;
  if (const LONG code = Locate(handle, path, at)) return code;
  if (at.found < at.levels.size()) return ERROR_FILE_NOT_FOUND;
  const std::shared_ptr<ModelKey>& key = at.key;
  if (key->parent == nullptr) return ERROR_ACCESS_DENIED;
  ModelKey* parent = key->parent;
  parent->children.erase(Fold(key->name));
  Deleted(*key);
  Changed(parent, kName);
  return ERROR_SUCCESS;
}

// A deleted key's requests signal, whatever they watch.
void RegistryModel::Deleted(ModelKey& key) {
  for (auto& [fold, child] : key.children) Deleted(*child);
  key.deleted = true;
  Changed(&key, kDeleted);
}

LONG RegistryModel::Notify(int handle, bool subtree, DWORD filter, int event) {
  const DWORD f = filter & ~static_cast<DWORD>(REG_NOTIFY_THREAD_AGNOSTIC);
  if (f == 0 || (f & ~static_cast<DWORD>(REG_LEGAL_CHANGE_FILTER)) != 0)
    return ERROR_INVALID_PARAMETER;
  if (event == kNullHandle) return ERROR_INVALID_PARAMETER;
  Handle* h = nullptr;
  if (const LONG code = Resolve(handle, KEY_NOTIFY, h)) return code;
  if (event < 0) return ERROR_INVALID_HANDLE;
  if (h->key->deleted) return ERROR_KEY_DELETED;
  watches_.push_back(Watch{handle, h->key.get(), subtree, f, event,
                           events_[static_cast<std::size_t>(event)].generation});
  return ERROR_SUCCESS;
}

// A request signals at the first change it matches and ends: a change of its
// kind on its key (or, watching the subtree, below it), or its key's deletion.
void RegistryModel::Changed(ModelKey* key, Change change) {
  std::erase_if(watches_, [&](const Watch& watch) {
    bool match;
    if (change == kDeleted) {
      match = watch.key == key;
    } else {
      match = false;
      if (watch.filter & static_cast<DWORD>(change)) {
        for (const ModelKey* k = key; k != nullptr && !match;
             k = watch.subtree ? k->parent : nullptr)
          match = k == watch.key;
      }
    }
    if (match) Signal(watch.event, watch.generation);
    return match;
  });
}

void RegistryModel::Signal(int event, int generation) {
  Event& e = events_[static_cast<std::size_t>(event)];
  if (e.generation == generation) e.signalled = true;
}

bool RegistryModel::Waited(int event) {
  Event& e = events_[static_cast<std::size_t>(event)];
  const bool signalled = e.signalled;
  if (!e.manual) e.signalled = false;
  return signalled;
}

void RegistryModel::ReplaceEvent(int event) {
  Event& e = events_[static_cast<std::size_t>(event)];
  e.signalled = false;
  ++e.generation;
}

}  // namespace regkey::fuzz
