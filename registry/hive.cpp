#include "registry/hive.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "registry/names.h"

namespace regkey::registry {
namespace {

// Entries (keys, paths, and the rows of listed children and values) the
// cache may hold before it is emptied: about 150 MB at most.
constexpr std::size_t kCacheLimit = 1u << 19;
// Values a key may have before its cached list gets an index by name.
constexpr std::size_t kUnindexedValues = 8;
// Children a new child's row may be inserted before in a cached list.
constexpr std::ptrdiff_t kMostChildrenMoved = 256;

}  // namespace

std::int64_t FileTimeNow() {
  const auto since1970 = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::nanoseconds>(since1970).count() / 100 +
         116444736000000000LL;
}

long Hive::Open(const std::string& location, StoreAccess access, std::shared_ptr<Hive>& hive) {
  std::unique_ptr<Store> store;
  if (const long error = OpenStore(location, access, store)) return error;
  try {
    hive.reset(new Hive(std::move(store)));
  } catch (const std::bad_alloc&) {
    return ERROR_OUTOFMEMORY;
  }
  return ERROR_SUCCESS;
}

// notifications_ is given the store's feed: store_ must be declared before it
// (members are initialised, and destroyed in reverse, in declaration order).
Hive::Hive(std::unique_ptr<Store> store)
    : store_(std::move(store)),
      notifications_(store_->Changes().Shared() ? &store_->Changes() : nullptr),
      cacheLimit_(kCacheLimit) {}

void Hive::SetCacheLimit(std::size_t entries) {
  std::unique_lock<std::mutex> lock = Enter();
  cacheLimit_ = entries;
}

std::unique_lock<std::mutex> Hive::Enter() {
  std::unique_lock<std::mutex> lock(mutex_);
  batchEnded_.wait(lock, [this] {
    return batchOwner_ == std::thread::id() || batchOwner_ == std::this_thread::get_id();
  });
  return lock;
}

void Hive::SyncLocked() {
  // Within a batch nobody else writes: the cache stays the batch's own.
  if (!InBatchLocked()) {
    const std::uint64_t now = store_->Version();
    if (now != stamp_ || now % 2 == 1) {
      ClearLocked();
      stamp_ = now;
      return;
    }
  }
  if (cached_ > cacheLimit_) TrimLocked();
}

void Hive::ClearLocked() {
  keys_.clear();
  paths_.clear();
  lastId_ = 0;
  last_ = nullptr;
  cached_ = 0;
}

// Keeps the key used last, so that a list longer than the limit is not read
// again at every call that walks it.
void Hive::TrimLocked() {
  if (last_ == nullptr) return ClearLocked();
  auto kept = keys_.extract(lastId_);
  const KeyId id = lastId_;
  ClearLocked();
  CachedKey& key = keys_.insert(std::move(kept)).position->second;
  lastId_ = id;
  last_ = &key;
  cached_ = 1 + (key.values ? key.values->size() : 0) + (key.children ? key.children->size() : 0);
}

long Hive::KeyLocked(KeyId id, CachedKey*& key) {
  if (last_ == nullptr || lastId_ != id) {
    auto it = keys_.find(id);
    if (it == keys_.end()) {
      CachedKey fresh;
      if (const long error = store_->ReadKey(id, fresh.row, fresh.exists)) return error;
      it = keys_.emplace(id, std::move(fresh)).first;
      ++cached_;
    }
    lastId_ = id;
    last_ = &it->second;
  }
  key = last_;
  return key->exists ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

long Hive::FindLocked(KeyId parent, const std::string& path, KeyId& id) {
  if (auto it = paths_.find(path); it != paths_.end()) {
    id = it->second;
    return ERROR_SUCCESS;
  }
  // A parent whose children are listed tells a missing child without the
  // store.
  if (auto it = keys_.find(parent); it != keys_.end() && it->second.children &&
                                    !FindChildRow(*it->second.children, LastLevel(path))) {
    id = 0;
    paths_.emplace(path, 0);
    ++cached_;
    return ERROR_SUCCESS;
  }
  CachedKey fresh;
  if (const long error = store_->FindChild(parent, path, fresh.row, fresh.exists)) return error;
  id = fresh.exists ? fresh.row.id : 0;
  paths_.emplace(path, id);
  if (id != 0) keys_.try_emplace(id, std::move(fresh));
  cached_ += 2;
  return ERROR_SUCCESS;
}

long Hive::ValuesLocked(CachedKey& key) {
  if (key.values) return ERROR_SUCCESS;
  std::vector<ValueRow> rows;
  if (const long error = store_->ReadValues(key.row.id, rows)) return error;
  cached_ += rows.size();
  key.values = std::move(rows);
  IndexValuesLocked(key);
  return ERROR_SUCCESS;
}

void Hive::IndexValuesLocked(CachedKey& key) {
  key.valueIndex.reset();
  if (!key.values || key.values->size() <= kUnindexedValues) return;
  key.valueIndex = std::make_unique<std::unordered_map<std::string, std::size_t>>();
  for (std::size_t i = 0; i < key.values->size(); ++i)
    key.valueIndex->emplace((*key.values)[i].fold, i);
}

std::size_t Hive::FindValueLocked(const CachedKey& key, const std::string& fold) {
  if (key.valueIndex) {
    const auto it = key.valueIndex->find(fold);
    return it != key.valueIndex->end() ? it->second : kNoValue;
  }
  for (std::size_t i = 0; i < key.values->size(); ++i)
    if ((*key.values)[i].fold == fold) return i;
  return kNoValue;
}

long Hive::ChildrenLocked(CachedKey& key) {
  if (key.children) return ERROR_SUCCESS;
  std::vector<ChildRow> rows;
  if (const long error = store_->ReadChildren(key.row.id, rows)) return error;
  key.maxChildLength = 0;
  for (const ChildRow& row : rows)
    key.maxChildLength = std::max(key.maxChildLength, static_cast<DWORD>(row.name.size()));
  cached_ += rows.size();
  key.children = std::move(rows);
  key.childTimesFinal = false;
  return ERROR_SUCCESS;
}

void Hive::AddChildLocked(CachedKey& parent, const KeyRow& row) {
  if (!parent.children) return;
  std::vector<ChildRow>& children = *parent.children;
  const std::string_view fold = LastLevel(row.path);
  const auto at = std::lower_bound(
      children.begin(), children.end(), fold,
      [](const ChildRow& child, std::string_view name) { return child.fold < name; });
  // Inserting before many others costs more than reading the list again.
  if (children.end() - at > kMostChildrenMoved) {
    parent.children.reset();
    return;
  }
  children.insert(at, ChildRow{row.id, row.name, std::string(fold), row.mtime});
  ++cached_;
  parent.maxChildLength = std::max(parent.maxChildLength, static_cast<DWORD>(row.name.size()));
}

void Hive::TouchLocked(CachedKey& key, std::int64_t now) {
  key.row.mtime = now;
  auto parent = keys_.find(key.row.parent);
  if (parent == keys_.end() || !parent->second.children) return;
  if (ChildRow* row = FindChildRow(*parent->second.children, LastLevel(key.row.path)))
    row->mtime = now;
}

bool Hive::CurrentLocked(const Written& written) const {
  return InBatchLocked() || (written.before == stamp_ && stamp_ % 2 == 0);
}

void Hive::FinishLocked(long error, const Written& written) {
  if (error || !CurrentLocked(written)) ClearLocked();
  // A batch's changes are published, and its version known, at its end.
  if (InBatchLocked()) return;
  stamp_ = written.after;
  notifications_.Raise(written.changes);
}

long Hive::OpenKey(KeyId base, std::string_view subPath, KeyId& key, std::string& path) {
  std::vector<std::string_view> levels;
  if (const long error = SplitPath(subPath, levels)) return error;
  std::unique_lock<std::mutex> lock = Enter();
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
  std::unique_lock<std::mutex> lock = Enter();
  SyncLocked();
  CachedKey* baseKey = nullptr;
  if (const long error = KeyLocked(base, baseKey)) return error;
  const std::string basePath = baseKey->row.path;
  if (const long error = CheckDepth(basePath, levels.size())) return error;
  std::vector<NewKey> newKeys;
  std::string prefix = basePath;
  for (std::string_view level : levels) {
    (prefix += '\\') += Fold(level);
    newKeys.push_back(NewKey{std::string(level), prefix});
  }
  for (bool trustCache = true;; trustCache = false) {
    // The levels the cache knows to exist are not looked for again: the
    // store starts below the deepest of them.
    std::size_t known = 0;
    KeyId from = base;
    while (trustCache && known < newKeys.size()) {
      const auto it = paths_.find(newKeys[known].path);
      if (it == paths_.end() || it->second == 0) break;
      from = it->second;
      ++known;
    }
    if (known == newKeys.size()) {
      // Made meanwhile by another thread.
      key = from;
      path = newKeys.back().path;
      return ERROR_SUCCESS;
    }
    const std::vector<NewKey> missing(newKeys.begin() + static_cast<std::ptrdiff_t>(known),
                                      newKeys.end());
    const std::int64_t now = FileTimeNow();
    std::vector<KeyRow> rows;
    std::size_t firstCreated = missing.size();
    Written written;
    long error = store_->CreateKey(from, known == 0 ? basePath : newKeys[known - 1].path, missing,
                                   now, rows, firstCreated, written);
    if (!error && rows.size() != missing.size()) error = ERROR_REGISTRY_CORRUPT;
    if (!error && CurrentLocked(written)) {
      for (std::size_t i = 0; i < rows.size(); ++i) {
        const KeyRow& row = rows[i];
        paths_[row.path] = row.id;
        cached_ += 2;
        CachedKey fresh;
        fresh.row = row;
        fresh.exists = true;
        if (i >= firstCreated) {
          fresh.values.emplace();
          fresh.children.emplace();
          keys_[row.id] = std::move(fresh);
          // Its parent gained a child.
          auto parent = keys_.find(row.parent);
          if (parent != keys_.end()) {
            AddChildLocked(parent->second, row);
            TouchLocked(parent->second, now);
          }
        } else {
          keys_.try_emplace(row.id, std::move(fresh));
        }
      }
    }
    FinishLocked(error, written);
    // A level the cache knew went meanwhile: once more from the base.
    if (error == ERROR_KEY_DELETED && known > 0) continue;
    if (error) return error;
    created = firstCreated < rows.size();
    key = rows.back().id;
    path = rows.back().path;
    return ERROR_SUCCESS;
  }
}

long Hive::DeleteKey(KeyId base, std::string_view subPath) {
  KeyId id = 0;
  std::string path;
  if (const long error = OpenKey(base, subPath, id, path)) return error;
  std::unique_lock<std::mutex> lock = Enter();
  SyncLocked();
  CachedKey* key = nullptr;
  if (const long error = KeyLocked(id, key)) {
    return error == ERROR_KEY_DELETED ? ERROR_FILE_NOT_FOUND : error;
  }
  const KeyId parentId = key->row.parent;
  const std::int64_t now = FileTimeNow();
  Written written;
  const long error = store_->DeleteKey(id, path, now, written);
  if (!error && CurrentLocked(written)) {
    if (auto it = keys_.find(id); it != keys_.end()) {
      it->second.exists = false;
      it->second.values.reset();
      it->second.valueIndex.reset();
      it->second.children.reset();
    }
    paths_[path] = 0;
    if (auto parent = keys_.find(parentId); parent != keys_.end()) {
      parent->second.children.reset();
      TouchLocked(parent->second, now);
    }
  }
  FinishLocked(error, written);
  return error;
}

long Hive::DeleteTree(KeyId base, std::string_view subPath, bool withKey) {
  KeyId id = base;
  std::string path;
  if (withKey) {
    if (const long error = OpenKey(base, subPath, id, path)) return error;
  }
  std::unique_lock<std::mutex> lock = Enter();
  SyncLocked();
  CachedKey* key = nullptr;
  if (const long error = KeyLocked(id, key)) {
    // A key found by its path that went meanwhile is not found; the handle's
    // own key, deleted, is ERROR_KEY_DELETED as for any call on it.
    return error == ERROR_KEY_DELETED && withKey ? ERROR_FILE_NOT_FOUND : error;
  }
  path = key->row.path;
  const std::int64_t now = FileTimeNow();
  Written written;
  long error = store_->DeleteTree(id, path, withKey, now, written);
  if (error == ERROR_NOT_SUPPORTED) return DeleteTreeKeyByKeyLocked(id, path, withKey, now);
  // Which keys went is the store's knowledge: the cache starts afresh.
  ClearLocked();
  FinishLocked(error, written);
  return error;
}

long Hive::DeleteTreeKeyByKeyLocked(KeyId id, const std::string& path, bool withKey,
                                    std::int64_t now) {
  std::vector<ChildRow> children;
  if (const long error = store_->ReadChildren(id, children)) return error;
  for (const ChildRow& child : children) {
    if (const long error = DeleteTreeKeyByKeyLocked(child.id, path + '\\' + child.fold, true, now))
      return error;
  }
  Written written;
  long error = ERROR_SUCCESS;
  if (withKey) {
    error = store_->DeleteKey(id, path, now, written);
    ClearLocked();
    FinishLocked(error, written);
    return error;
  }
  std::vector<ValueRow> values;
  if ((error = store_->ReadValues(id, values))) return error;
  for (const ValueRow& value : values) {
    error = store_->DeleteValue(id, path, value.fold, now, written);
    ClearLocked();
    FinishLocked(error, written);
    if (error && error != ERROR_FILE_NOT_FOUND) return error;
  }
  return ERROR_SUCCESS;
}

long Hive::BeginBatch() {
  std::unique_lock<std::mutex> lock = Enter();
  if (InBatchLocked()) return ERROR_INVALID_FUNCTION;
  std::uint64_t before = 1;
  if (const long error = store_->BeginBatch(before)) return error;
  // The store is this batch's alone from here: the cache holds what the
  // version said, and what the batch writes.
  if (before != stamp_ || before % 2 == 1) ClearLocked();
  stamp_ = before;
  batchOwner_ = std::this_thread::get_id();
  return ERROR_SUCCESS;
}

long Hive::EndBatch(bool commit) {
  std::unique_lock<std::mutex> lock = Enter();
  if (!InBatchLocked()) return ERROR_INVALID_FUNCTION;
  Written written;
  const long error = store_->EndBatch(commit, written);
  batchOwner_ = std::thread::id();
  if (!commit) ClearLocked();
  FinishLocked(error, written);
  lock.unlock();
  batchEnded_.notify_all();
  return error;
}

long Hive::Flush() {
  std::unique_lock<std::mutex> lock = Enter();
  return store_->Flush();
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
  std::unique_lock<std::mutex> lock = Enter();
  SyncLocked();
  CachedKey* key = nullptr;
  if (const long error = KeyLocked(id, key)) return error;
  if (const long error = ValuesLocked(*key)) return error;
  const std::size_t at = FindValueLocked(*key, Fold(name));
  if (at == kNoValue) return ERROR_FILE_NOT_FOUND;
  return CopyValue((*key->values)[at], type, data, size);
}

bool Hive::HoldsLocked(KeyId id, std::string_view name, DWORD type, const BYTE* data, DWORD size) {
  CachedKey* key = nullptr;
  if (KeyLocked(id, key) || ValuesLocked(*key)) return false;
  const std::size_t at = FindValueLocked(*key, Fold(name));
  if (at == kNoValue) return false;
  const ValueRow& value = (*key->values)[at];
  return value.type == type && value.data.size() == size &&
         (size == 0 || std::memcmp(value.data.data(), data, size) == 0);
}

long Hive::SetValue(KeyId id, std::string_view name, DWORD type, const BYTE* data, DWORD size) {
  std::unique_lock<std::mutex> lock = Enter();
  SyncLocked();
  // Rewriting what is there changes nothing: no write, no new time, nothing
  // to notify, as Windows does.
  if (HoldsLocked(id, name, type, data, size)) return ERROR_SUCCESS;
  CachedKey* key = nullptr;
  if (const long error = KeyLocked(id, key)) return error;
  const std::int64_t now = FileTimeNow();
  const std::string fold = Fold(name);
  Written written;
  const long error =
      store_->SetValue(id, key->row.path, std::string(name), fold, type, data, size, now, written);
  if (!error && CurrentLocked(written) && key->values) {
    const std::size_t at = FindValueLocked(*key, fold);
    ValueRow* value = nullptr;
    if (at != kNoValue) {
      value = &(*key->values)[at];
    } else {
      if (key->valueIndex) key->valueIndex->emplace(fold, key->values->size());
      value = &key->values->emplace_back();
      value->name = name;
      value->fold = fold;
      ++cached_;
      if (!key->valueIndex && key->values->size() > kUnindexedValues) IndexValuesLocked(*key);
    }
    value->type = type;
    value->data.assign(reinterpret_cast<const char*>(data), size);
    value->mtime = now;
  }
  if (!error && CurrentLocked(written)) TouchLocked(*key, now);
  FinishLocked(error, written);
  return error;
}

long Hive::DeleteValue(KeyId id, std::string_view name) {
  std::unique_lock<std::mutex> lock = Enter();
  SyncLocked();
  CachedKey* key = nullptr;
  if (const long error = KeyLocked(id, key)) return error;
  const std::string fold = Fold(name);
  const std::int64_t now = FileTimeNow();
  Written written;
  const long error = store_->DeleteValue(id, key->row.path, fold, now, written);
  if (!error && CurrentLocked(written)) {
    if (key->values) {
      // The last value comes off in place; any other empties the cached list
      // (renumbering it would make deleting all values quadratic).
      const std::size_t at = FindValueLocked(*key, fold);
      if (at != kNoValue && at + 1 == key->values->size()) {
        key->values->pop_back();
        if (key->valueIndex) key->valueIndex->erase(fold);
      } else {
        key->values.reset();
        key->valueIndex.reset();
      }
    }
    TouchLocked(*key, now);
  }
  FinishLocked(error, written);
  return error;
}

long Hive::QueryInfo(KeyId id, KeyInfo& info) {
  std::unique_lock<std::mutex> lock = Enter();
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
  std::unique_lock<std::mutex> lock = Enter();
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
  std::unique_lock<std::mutex> lock = Enter();
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
  std::unique_lock<std::mutex> lock = Enter();
  SyncLocked();
  CachedKey* key = nullptr;
  if (const long error = KeyLocked(id, key)) return error;
  Watch watch;
  watch.handle = handle;
  watch.path = key->row.path;
  watch.subtree = subtree;
  watch.filter = filter;
  watch.event = std::move(event);
  if (const long error = store_->Changes().Subscribe()) return error;
  watch.armedAt = store_->Changes().Committed();
  return notifications_.Arm(std::move(watch));
}

}  // namespace regkey::registry
