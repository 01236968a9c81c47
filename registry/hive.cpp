#include "registry/hive.h"

#include "registry/names.h"
#include "registry/store_files.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace regkey::registry {
namespace {

// Entries the cache may hold before it is emptied.
constexpr std::size_t kCacheLimit = 1u << 20;

std::string ParentPath(const std::string& path) { return path.substr(0, path.rfind('\\')); }

}  // namespace

std::int64_t FileTimeNow() {
  const auto since1970 = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::nanoseconds>(since1970).count() / 100 +
         116444736000000000LL;
}

long Hive::Open(const std::string& path, std::shared_ptr<Hive>& hive) {
  // A file store is opened by its real path, after its files are checked.
  std::string file = path;
  if (path != ":memory:") {
    if (const long error = PrepareStoreFile(path, file)) return error;
  }
  std::unique_ptr<Store> store;
  if (const long error = Store::Open(file, store)) return error;
  const bool inMemory = store->InMemory();
  std::shared_ptr<Hive> opened;
  try {
    opened.reset(new Hive(std::move(store), inMemory ? std::string() : file));
  } catch (const std::bad_alloc&) {
    return ERROR_OUTOFMEMORY;
  }
  if (const long error = opened->counter_.error()) return error;
  hive = std::move(opened);
  return ERROR_SUCCESS;
}

Hive::Hive(std::unique_ptr<Store> store, const std::string& path)
    : store_(std::move(store)),
      counter_(path),
      log_(counter_.LogArea()),
      notifications_(counter_.LogArea() != nullptr ? &log_ : nullptr,
                     [this] { counter_.Refresh(); }) {}

void Hive::SyncLocked() {
  const std::uint64_t now = counter_.Load();
  if (now != stamp_ || now % 2 == 1 || keys_.size() + paths_.size() > kCacheLimit) {
    ClearLocked();
    stamp_ = now;
  }
}

void Hive::ClearLocked() {
  keys_.clear();
  paths_.clear();
}

long Hive::KeyLocked(KeyId id, CachedKey*& key) {
  auto it = keys_.find(id);
  if (it == keys_.end()) {
    CachedKey fresh;
    if (const long error = store_->ReadKey(id, fresh.row, fresh.exists)) return error;
    it = keys_.emplace(id, std::move(fresh)).first;
  }
  key = &it->second;
  return key->exists ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

long Hive::FindLocked(KeyId parent, const std::string& path, KeyId& id) {
  if (auto it = paths_.find(path); it != paths_.end()) {
    id = it->second;
    return ERROR_SUCCESS;
  }
  CachedKey fresh;
  if (const long error = store_->FindChild(parent, path, fresh.row, fresh.exists)) return error;
  id = fresh.exists ? fresh.row.id : 0;
  paths_.emplace(path, id);
  if (id != 0) keys_.try_emplace(id, std::move(fresh));
  return ERROR_SUCCESS;
}

long Hive::ValuesLocked(CachedKey& key) {
  if (key.values) return ERROR_SUCCESS;
  std::vector<ValueRow> rows;
  if (const long error = store_->ReadValues(key.row.id, rows)) return error;
  key.valueIndex.clear();
  for (std::size_t i = 0; i < rows.size(); ++i) key.valueIndex.emplace(rows[i].fold, i);
  key.values = std::move(rows);
  return ERROR_SUCCESS;
}

long Hive::ChildrenLocked(CachedKey& key) {
  if (key.children) return ERROR_SUCCESS;
  std::vector<ChildRow> rows;
  if (const long error = store_->ReadChildren(key.row.id, rows)) return error;
  key.maxChildLength = 0;
  for (const ChildRow& row : rows)
    key.maxChildLength = std::max(key.maxChildLength, static_cast<DWORD>(row.name.size()));
  key.children = std::move(rows);
  key.childTimesFinal = false;
  return ERROR_SUCCESS;
}

void Hive::TouchLocked(CachedKey& key, std::int64_t now) {
  key.row.mtime = now;
  auto parent = keys_.find(key.row.parent);
  if (parent == keys_.end() || !parent->second.children) return;
  std::vector<ChildRow>& children = *parent->second.children;
  const std::string fold = key.row.path.substr(key.row.path.rfind('\\') + 1);
  auto it =
      std::lower_bound(children.begin(), children.end(), fold,
                       [](const ChildRow& row, const std::string& f) { return row.fold < f; });
  if (it != children.end() && it->fold == fold) it->mtime = now;
}

void Hive::LogLocked(const std::string& path, int kind) {
  ChangeRow change;
  change.path = path;
  change.kind = kind;
  pending_.push_back(std::move(change));
}

template <typename Change>
long Hive::WriteLocked(Change change) {
  SyncLocked();
  if (const long error = store_->Begin()) return error;
  const std::uint64_t before = counter_.Load();
  if (before != stamp_ || before % 2 == 1) ClearLocked();
  std::uint64_t begun = 0;
  if (const long error = counter_.BeginWrite(begun)) {
    // The commit could not be told to other processes.
    store_->Rollback();
    ClearLocked();
    return error;
  }
  pending_.clear();
  long error;
  try {
    error = change();
  } catch (const std::bad_alloc&) {
    error = ERROR_OUTOFMEMORY;
  }
  // Only a change that reached the commit has its log entries to take back.
  const bool logged = !error && !pending_.empty();
  const std::int64_t start = logged ? log_.Append(pending_) : 0;
  if (!error) error = store_->Commit();
  if (error) {
    if (logged) log_.Abandon(start);
    store_->Rollback();
    ClearLocked();
    pending_.clear();
  } else if (logged) {
    log_.Publish(pending_.back().seq);
  }
  // When another commit came in between, the cache may lack it: odd means
  // "refill at the next call".
  stamp_ = counter_.EndWrite(begun) ? begun + 1 : 1;
  notifications_.Raise(pending_);
  return error;
}

long Hive::OpenKey(KeyId base, std::string_view subPath, KeyId& key, std::string& path) {
  std::vector<std::string_view> levels;
  if (const long error = SplitPath(subPath, levels)) return error;
  std::lock_guard<std::mutex> lock(mutex_);
  SyncLocked();
  CachedKey* baseKey = nullptr;
  if (const long error = KeyLocked(base, baseKey)) return error;
  std::string full = baseKey->row.path;
  for (std::string_view level : levels) (full += '\\') += Fold(level);
  KeyId id = base;
  if (auto it = paths_.find(full); !levels.empty() && it != paths_.end()) {
    id = it->second;
  } else {
    // Level by level, each found below the one before.
    std::string prefix = baseKey->row.path;
    for (std::size_t i = 0; i < levels.size() && id != 0; ++i) {
      (prefix += '\\') += Fold(levels[i]);
      if (const long error = FindLocked(id, prefix, id)) return error;
    }
  }
  if (id == 0) return ERROR_FILE_NOT_FOUND;
  key = id;
  path = std::move(full);
  return ERROR_SUCCESS;
}

long Hive::CreateKey(KeyId base, std::string_view subPath, bool mayCreate, KeyId& key,
                     std::string& path, bool& created) {
  created = false;
  const long opened = OpenKey(base, subPath, key, path);
  if (opened != ERROR_FILE_NOT_FOUND) return opened;
  if (!mayCreate) return ERROR_ACCESS_DENIED;
  std::vector<std::string_view> levels;
  if (const long error = SplitPath(subPath, levels)) return error;
  std::lock_guard<std::mutex> lock(mutex_);
  return WriteLocked([&]() -> long {
    CachedKey* parent = nullptr;
    if (const long error = KeyLocked(base, parent)) return error;
    const std::int64_t now = FileTimeNow();
    KeyId parentId = base;
    std::string parentPath = parent->row.path;
    for (std::size_t i = 0; i < levels.size(); ++i) {
      std::string childPath = parentPath + '\\' + Fold(levels[i]);
      KeyId id = 0;
      if (const long error = FindLocked(parentId, childPath, id)) return error;
      if (id == 0) {
        bool parentExists = false;
        if (const long error = store_->TouchKey(parentId, now, parentExists)) return error;
        if (!parentExists) return ERROR_KEY_DELETED;
        const std::string name(levels[i]);
        if (const long error = store_->InsertKey(parentId, name, childPath, now, id)) return error;
        if (const long error = KeyLocked(parentId, parent)) return error;
        parent->children.reset();
        TouchLocked(*parent, now);
        CachedKey fresh;
        fresh.row = KeyRow{id, parentId, name, childPath, now};
        fresh.exists = true;
        fresh.values.emplace();
        fresh.children.emplace();
        keys_[id] = std::move(fresh);
        paths_[childPath] = id;
        LogLocked(parentPath, kChangeName);
        created = i + 1 == levels.size();
      }
      parentId = id;
      parentPath = std::move(childPath);
    }
    key = parentId;
    path = std::move(parentPath);
    return ERROR_SUCCESS;
  });
}

long Hive::DeleteKey(KeyId base, std::string_view subPath) {
  KeyId id = 0;
  std::string path;
  if (const long error = OpenKey(base, subPath, id, path)) return error;
  std::lock_guard<std::mutex> lock(mutex_);
  return WriteLocked([&]() -> long {
    CachedKey* key = nullptr;
    if (const long error = KeyLocked(id, key)) {
      return error == ERROR_KEY_DELETED ? ERROR_FILE_NOT_FOUND : error;
    }
    if (key->row.parent == 0) return ERROR_ACCESS_DENIED;
    bool hasChildren = false;
    if (const long error = store_->HasChildren(id, hasChildren)) return error;
    if (hasChildren) return ERROR_ACCESS_DENIED;
    const std::int64_t now = FileTimeNow();
    const KeyId parentId = key->row.parent;
    if (const long error = store_->DeleteKey(id)) return error;
    bool parentExists = false;
    if (const long error = store_->TouchKey(parentId, now, parentExists)) return error;
    key->exists = false;
    key->values.reset();
    key->children.reset();
    paths_[path] = 0;
    CachedKey* parent = nullptr;
    if (parentExists && KeyLocked(parentId, parent) == ERROR_SUCCESS) {
      parent->children.reset();
      TouchLocked(*parent, now);
    }
    LogLocked(ParentPath(path), kChangeName);
    LogLocked(path, kChangeDeleted);
    return ERROR_SUCCESS;
  });
}

namespace {

// Copies a value's type and bytes; ERROR_MORE_DATA (with the size needed)
// when `data` is smaller than the value.
long CopyValue(const ValueRow& value, DWORD* type, BYTE* data, DWORD* size) {
  const auto needed = static_cast<DWORD>(value.data.size());
  if (type != nullptr) *type = value.type;
  if (data != nullptr) {
    if (*size < needed) {
      *size = needed;
      return ERROR_MORE_DATA;
    }
    if (needed != 0) std::memcpy(data, value.data.data(), needed);
  }
  if (size != nullptr) *size = needed;
  return ERROR_SUCCESS;
}

}  // namespace

long Hive::QueryValue(KeyId id, std::string_view name, DWORD* type, BYTE* data, DWORD* size) {
  std::lock_guard<std::mutex> lock(mutex_);
  SyncLocked();
  CachedKey* key = nullptr;
  if (const long error = KeyLocked(id, key)) return error;
  if (const long error = ValuesLocked(*key)) return error;
  auto it = key->valueIndex.find(Fold(name));
  if (it == key->valueIndex.end()) return ERROR_FILE_NOT_FOUND;
  const ValueRow& value = (*key->values)[it->second];
  return CopyValue(value, type, data, size);
}

long Hive::SetValue(KeyId id, std::string_view name, DWORD type, const BYTE* data, DWORD size) {
  std::lock_guard<std::mutex> lock(mutex_);
  return WriteLocked([&]() -> long {
    CachedKey* key = nullptr;
    if (const long error = KeyLocked(id, key)) return error;
    const std::int64_t now = FileTimeNow();
    const std::string fold = Fold(name);
    // Overwriting a value known to exist updates its row alone.
    if (const long error = ValuesLocked(*key)) return error;
    bool done = false;
    if (key->valueIndex.count(fold) != 0) {
      if (const long error = store_->UpdateValue(id, fold, type, data, size, now, done))
        return error;
    }
    if (!done) {
      bool exists = false;
      if (const long error =
              store_->PutValue(id, std::string(name), fold, type, data, size, now, exists))
        return error;
      if (!exists) return ERROR_KEY_DELETED;
    }
    if (key->values) {
      const auto it = key->valueIndex.find(fold);
      ValueRow* value = nullptr;
      if (it != key->valueIndex.end()) {
        value = &(*key->values)[it->second];
      } else {
        key->valueIndex.emplace(fold, key->values->size());
        value = &key->values->emplace_back();
        value->name = name;
        value->fold = fold;
      }
      value->type = type;
      value->data.assign(reinterpret_cast<const char*>(data), size);
      value->mtime = now;
    }
    TouchLocked(*key, now);
    LogLocked(key->row.path, kChangeLastSet);
    return ERROR_SUCCESS;
  });
}

long Hive::DeleteValue(KeyId id, std::string_view name) {
  std::lock_guard<std::mutex> lock(mutex_);
  return WriteLocked([&]() -> long {
    CachedKey* key = nullptr;
    if (const long error = KeyLocked(id, key)) return error;
    const std::string fold = Fold(name);
    bool existed = false;
    if (const long error = store_->DeleteValue(id, fold, existed)) return error;
    if (!existed) return ERROR_FILE_NOT_FOUND;
    const std::int64_t now = FileTimeNow();
    bool exists = false;
    if (const long error = store_->TouchKey(id, now, exists)) return error;
    if (key->values) {
      // The last value comes off in place; any other empties the cached list
      // (renumbering it would make deleting all values quadratic).
      const auto it = key->valueIndex.find(fold);
      if (it != key->valueIndex.end() && it->second + 1 == key->values->size()) {
        key->values->pop_back();
        key->valueIndex.erase(it);
      } else {
        key->values.reset();
        key->valueIndex.clear();
      }
    }
    TouchLocked(*key, now);
    LogLocked(key->row.path, kChangeLastSet);
    return ERROR_SUCCESS;
  });
}

long Hive::QueryInfo(KeyId id, KeyInfo& info) {
  std::lock_guard<std::mutex> lock(mutex_);
  SyncLocked();
  CachedKey* key = nullptr;
  if (const long error = KeyLocked(id, key)) return error;
  if (const long error = ChildrenLocked(*key)) return error;
  if (const long error = ValuesLocked(*key)) return error;
  info = KeyInfo{};
  info.lastWrite = key->row.mtime;
  info.subKeys = static_cast<DWORD>(key->children->size());
  info.maxSubKeyLength = key->maxChildLength;
  info.values = static_cast<DWORD>(key->values->size());
  for (const ValueRow& value : *key->values) {
    info.maxValueNameLength =
        std::max(info.maxValueNameLength, static_cast<DWORD>(value.name.size()));
    info.maxValueSize = std::max(info.maxValueSize, static_cast<DWORD>(value.data.size()));
    info.lastWrite = std::max(info.lastWrite, value.mtime);
  }
  return ERROR_SUCCESS;
}

namespace {

// Copies a name with its terminator when it fits in `capacity` characters.
long CopyName(const std::string& source, char* name, DWORD capacity, DWORD& length) {
  if (source.size() >= capacity) return ERROR_MORE_DATA;
  std::memcpy(name, source.data(), source.size());
  name[source.size()] = '\0';
  length = static_cast<DWORD>(source.size());
  return ERROR_SUCCESS;
}

}  // namespace

long Hive::EnumKey(KeyId id, DWORD index, char* name, DWORD capacity, DWORD& length,
                   std::int64_t* lastWrite) {
  std::lock_guard<std::mutex> lock(mutex_);
  SyncLocked();
  CachedKey* key = nullptr;
  if (const long error = KeyLocked(id, key)) return error;
  if (const long error = ChildrenLocked(*key)) return error;
  if (index >= key->children->size()) return ERROR_NO_MORE_ITEMS;
  if (lastWrite != nullptr && !key->childTimesFinal) {
    if (const long error = store_->AddValueTimes(key->row.id, *key->children)) return error;
    key->childTimesFinal = true;
  }
  const ChildRow& child = (*key->children)[index];
  if (const long error = CopyName(child.name, name, capacity, length)) return error;
  if (lastWrite != nullptr) {
    *lastWrite = child.mtime;
  }
  return ERROR_SUCCESS;
}

long Hive::EnumValue(KeyId id, DWORD index, char* name, DWORD capacity, DWORD& length, DWORD* type,
                     BYTE* data, DWORD* size) {
  std::lock_guard<std::mutex> lock(mutex_);
  SyncLocked();
  CachedKey* key = nullptr;
  if (const long error = KeyLocked(id, key)) return error;
  if (const long error = ValuesLocked(*key)) return error;
  if (index >= key->values->size()) return ERROR_NO_MORE_ITEMS;
  const ValueRow& value = (*key->values)[index];
  if (const long error = CopyName(value.name, name, capacity, length)) return error;
  return CopyValue(value, type, data, size);
}

long Hive::Notify(KeyId id, std::uintptr_t handle, bool subtree, DWORD filter,
                  std::shared_ptr<platform::KernelEvent> event) {
  std::lock_guard<std::mutex> lock(mutex_);
  SyncLocked();
  CachedKey* key = nullptr;
  if (const long error = KeyLocked(id, key)) return error;
  Watch watch;
  watch.handle = handle;
  watch.path = key->row.path;
  watch.subtree = subtree;
  watch.filter = filter;
  watch.event = std::move(event);
  watch.armedAt = log_.Committed();
  return notifications_.Arm(std::move(watch));
}

}  // namespace regkey::registry
