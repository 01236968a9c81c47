#include "registry/hive.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "registry/names.h"

namespace regkey::registry {
namespace {

// Entries the cache may hold before it is emptied.
constexpr std::size_t kCacheLimit = 1u << 19;
// Values a key may have before its cached list gets an index by name.
constexpr std::size_t kUnindexedValues = 8;

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
      remoteVersion_(store_->VersionIsRemote()),
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

template <typename Call>
long Hive::ServeLocked(Call call) {
  for (bool again = false;; again = true) {
    SyncLocked(again);
    const long error = call();
    if (again || ConfirmedLocked(error)) return error;
  }
}

void Hive::SyncLocked(bool again) {
  stale_ = false;
  wrote_ = false;
  newest_ = 1;
  // Within a batch nobody else writes: the cache stays the batch's own. An
  // empty cache is current whatever the version.
  verified_ = InBatchLocked() || again;
  if (verified_) return;
  if (cached_ > cacheLimit_) ClearLocked();
  // Checked by the call's own requests, or at its end.
  if (remoteVersion_) return;
  const std::uint64_t now = store_->Version();
  if (now != stamp_ || now % 2 == 1) {
    ClearLocked();
    stamp_ = now;
  }
  verified_ = true;
}

void Hive::SeenLocked(std::uint64_t version) {
  if (version % 2 == 0) newest_ = std::max(newest_, version);
  if (verified_) return;
  // Nobody committed between the cache's fill and this read.
  if (version == stamp_ && stamp_ % 2 == 0)
    verified_ = true;
  else
    stale_ = true;
}

namespace {

// Outcomes a stale cache may have decided; any other failure came from the
// store itself (a lost server, a full disk) and stands.
bool MayComeFromTheCache(long error) {
  switch (error) {
    case ERROR_SUCCESS:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_KEY_DELETED:
    case ERROR_ACCESS_DENIED:
    case ERROR_MORE_DATA:
    case ERROR_NO_MORE_ITEMS:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool Hive::ConfirmedLocked(long error) {
  // A committed write was checked by the store itself, and its version
  // told the cache whether anyone else had committed (CurrentLocked).
  if (verified_ || wrote_ || !MayComeFromTheCache(error)) return true;
  if (!stale_) {
    SeenLocked(store_->Version());
    if (verified_) return true;
  }
  ClearLocked();
  stamp_ = newest_;
  return false;
}

void Hive::ClearLocked() {
  keys_.clear();
  paths_.clear();
  cached_ = 0;
}

long Hive::KeyLocked(KeyId id, CachedKey*& key) {
  auto it = keys_.find(id);
  if (it == keys_.end()) {
    CachedKey fresh;
    if (const long error = store_->ReadKey(id, fresh.row, fresh.exists)) return error;
    SeenLocked(store_->Seen());
    it = keys_.emplace(id, std::move(fresh)).first;
    ++cached_;
  }
  key = &it->second;
  return key->exists ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

long Hive::FindLocked(KeyId parent, const std::string& path, KeyId& id) {
  if (auto it = paths_.find(path); it != paths_.end()) {
    id = it->second;
    return ERROR_SUCCESS;
  }
  // A parent whose children are cached knows. A child's time there may
  // include its values' times: the key's last write time is the latest of
  // all of them anyway.
  if (auto it = keys_.find(parent); it != keys_.end() && it->second.children) {
    const ChildRow* child = FindChildRow(*it->second.children, LastLevel(path));
    id = child != nullptr ? child->id : 0;
    paths_.emplace(path, id);
    cached_ += 2;
    if (child != nullptr) {
      CachedKey fresh;
      fresh.row = KeyRow{child->id, parent, child->name, path, child->mtime};
      fresh.exists = true;
      keys_.try_emplace(id, std::move(fresh));
    }
    return ERROR_SUCCESS;
  }
  CachedKey fresh;
  if (const long error = store_->FindChild(parent, path, fresh.row, fresh.exists)) return error;
  SeenLocked(store_->Seen());
  id = fresh.exists ? fresh.row.id : 0;
  paths_.emplace(path, id);
  cached_ += 2;
  if (id != 0) keys_.try_emplace(id, std::move(fresh));
  return ERROR_SUCCESS;
}

namespace {

DWORD LongestName(const std::vector<ChildRow>& rows) {
  DWORD longest = 0;
  for (const ChildRow& row : rows) longest = std::max(longest, static_cast<DWORD>(row.name.size()));
  return longest;
}

}  // namespace

long Hive::ValuesLocked(CachedKey& key) {
  if (key.values) return ERROR_SUCCESS;
  std::vector<ValueRow> rows;
  if (const long error = store_->ReadValues(key.row.id, rows)) return error;
  SeenLocked(store_->Seen());
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
  auto rows = std::make_shared<std::vector<ChildRow>>();
  if (const long error = store_->ReadChildren(key.row.id, *rows)) return error;
  SeenLocked(store_->Seen());
  key.maxChildLength = LongestName(*rows);
  cached_ += rows->size();
  key.children = std::move(rows);
  key.childTimesFinal = false;
  return ERROR_SUCCESS;
}

void Hive::ForgetChildrenLocked(CachedKey& key) {
  if (!key.children) return;
  for (const ChildRow& child : *key.children) {
    std::string path = key.row.path + '\\' + child.fold;
    CachedKey fresh;
    fresh.row = KeyRow{child.id, key.row.id, child.name, path, child.mtime};
    fresh.exists = true;
    keys_.try_emplace(child.id, std::move(fresh));
    paths_.emplace(std::move(path), child.id);
    cached_ += 2;
  }
  key.children.reset();
}

void Hive::DropListingsLocked(KeyId key) {
  for (auto it = listings_.begin(); it != listings_.end();) {
    if (key == 0 || it->second.key == key)
      it = listings_.erase(it);
    else
      ++it;
  }
}

void Hive::Closed(std::uintptr_t handle) {
  notifications_.Cancel(handle);
  // Not through Enter(): a close need not wait for another thread's batch.
  std::unique_lock<std::mutex> lock(mutex_);
  listings_.erase(handle);
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
  if (!error) wrote_ = true;
  // A batch's changes are published, and its version known, at its end.
  if (InBatchLocked()) return;
  stamp_ = written.after;
  notifications_.Raise(written.changes);
}

long Hive::OpenLocked(KeyId base, const std::vector<std::string_view>& levels, KeyId& key,
                      std::string& path) {
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

long Hive::OpenKey(KeyId base, std::string_view subPath, KeyId& key, std::string& path) {
  std::vector<std::string_view> levels;
  if (const long error = SplitPath(subPath, levels)) return error;
  std::unique_lock<std::mutex> lock = Enter();
  return ServeLocked([&] { return OpenLocked(base, levels, key, path); });
}

long Hive::CreateKey(KeyId base, std::string_view subPath, bool mayCreate, KeyId& key,
                     std::string& path, bool& created) {
  std::vector<std::string_view> levels;
  if (const long error = SplitPath(subPath, levels)) return error;
  std::unique_lock<std::mutex> lock = Enter();
  return ServeLocked([&]() -> long {
    created = false;
    const long opened = OpenLocked(base, levels, key, path);
    if (opened != ERROR_FILE_NOT_FOUND) return opened;
    if (!mayCreate) return ERROR_ACCESS_DENIED;
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
    const std::int64_t now = FileTimeNow();
    std::vector<KeyRow> rows;
    std::size_t firstCreated = newKeys.size();
    Written written;
    long error = store_->CreateKey(base, basePath, newKeys, now, rows, firstCreated, written);
    if (!error && rows.size() != newKeys.size()) error = ERROR_REGISTRY_CORRUPT;
    if (!error && firstCreated < rows.size()) DropListingsLocked(rows[firstCreated].parent);
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
          fresh.children = std::make_shared<std::vector<ChildRow>>();
          keys_[row.id] = std::move(fresh);
          // Its parent gained a child.
          auto parent = keys_.find(row.parent);
          if (parent != keys_.end()) {
            ForgetChildrenLocked(parent->second);
            TouchLocked(parent->second, now);
          }
        } else {
          keys_.try_emplace(row.id, std::move(fresh));
        }
      }
    }
    FinishLocked(error, written);
    if (error) return error;
    created = firstCreated < rows.size();
    key = rows.back().id;
    path = rows.back().path;
    return ERROR_SUCCESS;
  });
}

long Hive::DeleteKey(KeyId base, std::string_view subPath) {
  std::vector<std::string_view> levels;
  if (const long error = SplitPath(subPath, levels)) return error;
  std::unique_lock<std::mutex> lock = Enter();
  return ServeLocked([&]() -> long {
    KeyId id = 0;
    std::string path;
    if (const long error = OpenLocked(base, levels, id, path)) return error;
    CachedKey* key = nullptr;
    if (const long error = KeyLocked(id, key)) {
      return error == ERROR_KEY_DELETED ? ERROR_FILE_NOT_FOUND : error;
    }
    const KeyId parentId = key->row.parent;
    const std::int64_t now = FileTimeNow();
    Written written;
    const long error = store_->DeleteKey(id, path, now, written);
    if (!error) {
      DropListingsLocked(id);
      DropListingsLocked(parentId);
    }
    if (!error && CurrentLocked(written)) {
      if (auto it = keys_.find(id); it != keys_.end()) {
        it->second.exists = false;
        it->second.values.reset();
        it->second.valueIndex.reset();
        it->second.children.reset();
      }
      paths_[path] = 0;
      if (auto parent = keys_.find(parentId); parent != keys_.end()) {
        ForgetChildrenLocked(parent->second);
        TouchLocked(parent->second, now);
      }
    }
    FinishLocked(error, written);
    return error;
  });
}

long Hive::DeleteTree(KeyId base, std::string_view subPath, bool withKey) {
  std::vector<std::string_view> levels;
  if (withKey) {
    if (const long error = SplitPath(subPath, levels)) return error;
  }
  std::unique_lock<std::mutex> lock = Enter();
  return ServeLocked([&]() -> long {
    KeyId id = base;
    std::string path;
    if (withKey) {
      if (const long error = OpenLocked(base, levels, id, path)) return error;
    }
    CachedKey* key = nullptr;
    if (const long error = KeyLocked(id, key)) {
      // A key found by its path that went meanwhile is not found; the
      // handle's own key, deleted, is ERROR_KEY_DELETED as for any call on it.
      return error == ERROR_KEY_DELETED && withKey ? ERROR_FILE_NOT_FOUND : error;
    }
    path = key->row.path;
    const std::int64_t now = FileTimeNow();
    DropListingsLocked(0);
    Written written;
    long error = store_->DeleteTree(id, path, withKey, now, written);
    if (error == ERROR_NOT_SUPPORTED) return DeleteTreeKeyByKeyLocked(id, path, withKey, now);
    // Which keys went is the store's knowledge: the cache starts afresh.
    ClearLocked();
    FinishLocked(error, written);
    return error;
  });
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
  if (!commit) {
    ClearLocked();
    DropListingsLocked(0);
  }
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
  const DWORD capacity = size != nullptr ? *size : 0;
  return ServeLocked([&]() -> long {
    // A call run again starts from the caller's buffer size.
    if (size != nullptr) *size = capacity;
    CachedKey* key = nullptr;
    if (const long error = KeyLocked(id, key)) return error;
    if (const long error = ValuesLocked(*key)) return error;
    const std::size_t at = FindValueLocked(*key, Fold(name));
    if (at == kNoValue) return ERROR_FILE_NOT_FOUND;
    return CopyValue((*key->values)[at], type, data, size);
  });
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
  return ServeLocked([&]() -> long {
    // Rewriting what is there changes nothing: no write, no new time,
    // nothing to notify, as Windows does. A cache not known current cannot
    // tell: the store then finds it out itself.
    if (verified_ && HoldsLocked(id, name, type, data, size)) return ERROR_SUCCESS;
    CachedKey* key = nullptr;
    if (const long error = KeyLocked(id, key)) return error;
    const std::int64_t now = FileTimeNow();
    const std::string fold = Fold(name);
    Written written;
    const long error = store_->SetValue(id, key->row.path, std::string(name), fold, type, data,
                                        size, now, written);
    const bool changed = !error && !written.changes.empty() && CurrentLocked(written);
    if (changed && key->values) {
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
    if (changed) TouchLocked(*key, now);
    FinishLocked(error, written);
    return error;
  });
}

long Hive::DeleteValue(KeyId id, std::string_view name) {
  std::unique_lock<std::mutex> lock = Enter();
  return ServeLocked([&]() -> long {
    CachedKey* key = nullptr;
    if (const long error = KeyLocked(id, key)) return error;
    const std::string fold = Fold(name);
    const std::int64_t now = FileTimeNow();
    Written written;
    const long error = store_->DeleteValue(id, key->row.path, fold, now, written);
    if (!error && CurrentLocked(written)) {
      if (key->values) {
        // The last value comes off in place; any other empties the cached
        // list (renumbering it would make deleting all values quadratic).
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
  });
}

long Hive::QueryInfo(KeyId id, KeyInfo& info) {
  std::unique_lock<std::mutex> lock = Enter();
  return ServeLocked([&]() -> long {
    CachedKey* key = nullptr;
    if (const long error = KeyLocked(id, key)) return error;
    if (!key->children && !key->values) {
      // Both in one read.
      auto children = std::make_shared<std::vector<ChildRow>>();
      std::vector<ValueRow> values;
      if (const long error = store_->ReadContents(key->row.id, *children, values)) return error;
      SeenLocked(store_->Seen());
      key->maxChildLength = LongestName(*children);
      key->children = std::move(children);
      key->childTimesFinal = false;
      cached_ += key->children->size() + values.size();
      key->values = std::move(values);
      IndexValuesLocked(*key);
    }
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
  });
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

// The child at `index`, its name copied and its time given.
long CopyChild(const std::vector<ChildRow>& children, DWORD index, char* name, DWORD capacity,
               DWORD& length, std::int64_t* lastWrite) {
  if (index >= children.size()) return ERROR_NO_MORE_ITEMS;
  const ChildRow& child = children[index];
  if (const long error = CopyName(child.name, name, capacity, length)) return error;
  if (lastWrite != nullptr) *lastWrite = child.mtime;
  return ERROR_SUCCESS;
}

}  // namespace

long Hive::EnumKey(std::uintptr_t handle, KeyId id, DWORD index, char* name, DWORD capacity,
                   DWORD& length, std::int64_t* lastWrite) {
  std::unique_lock<std::mutex> lock = Enter();
  if (auto it = listings_.find(handle);
      index > 0 && it != listings_.end() && it->second.key == id) {
    Listing& listing = it->second;
    if (lastWrite != nullptr && !listing.timesFinal) {
      // Times asked for only now: added to a copy, the reading stays.
      auto children = std::make_shared<std::vector<ChildRow>>(*listing.children);
      if (const long error = store_->AddValueTimes(id, *children)) return error;
      listing.children = std::move(children);
      listing.timesFinal = true;
    }
    const long error = CopyChild(*listing.children, index, name, capacity, length, lastWrite);
    if (error == ERROR_NO_MORE_ITEMS) listings_.erase(it);
    return error;
  }
  // Read now, from the cache or the store, for this index and the next ones.
  Listing listing;
  const long error = ServeLocked([&]() -> long {
    listing = Listing{};
    CachedKey* key = nullptr;
    if (const long error = KeyLocked(id, key)) return error;
    if (const long error = ChildrenLocked(*key)) return error;
    if (lastWrite != nullptr && !key->childTimesFinal && index < key->children->size()) {
      if (const long error = store_->AddValueTimes(key->row.id, *key->children)) return error;
      SeenLocked(store_->Seen());
      key->childTimesFinal = true;
    }
    listing = Listing{id, key->children, key->childTimesFinal};
    return CopyChild(*key->children, index, name, capacity, length, lastWrite);
  });
  if (error == ERROR_SUCCESS || error == ERROR_MORE_DATA)
    listings_[handle] = std::move(listing);
  else
    listings_.erase(handle);
  return error;
}

long Hive::EnumValue(KeyId id, DWORD index, char* name, DWORD capacity, DWORD& length, DWORD* type,
                     BYTE* data, DWORD* size) {
  std::unique_lock<std::mutex> lock = Enter();
  const DWORD dataCapacity = size != nullptr ? *size : 0;
  return ServeLocked([&]() -> long {
    if (size != nullptr) *size = dataCapacity;
    CachedKey* key = nullptr;
    if (const long error = KeyLocked(id, key)) return error;
    if (const long error = ValuesLocked(*key)) return error;
    if (index >= key->values->size()) return ERROR_NO_MORE_ITEMS;
    const ValueRow& value = (*key->values)[index];
    if (const long error = CopyName(value.name, name, capacity, length)) return error;
    return CopyValue(value, type, data, size);
  });
}

long Hive::Notify(KeyId id, std::uintptr_t handle, bool subtree, DWORD filter,
                  std::shared_ptr<platform::KernelEvent> event) {
  std::unique_lock<std::mutex> lock = Enter();
  std::string path;
  const long error = ServeLocked([&]() -> long {
    CachedKey* key = nullptr;
    if (const long error = KeyLocked(id, key)) return error;
    path = key->row.path;
    return ERROR_SUCCESS;
  });
  if (error) return error;
  Watch watch;
  watch.handle = handle;
  watch.path = std::move(path);
  watch.subtree = subtree;
  watch.filter = filter;
  watch.event = std::move(event);
  if (const long error = store_->Changes().Subscribe()) return error;
  watch.armedAt = store_->Changes().Committed();
  return notifications_.Arm(std::move(watch));
}

}  // namespace regkey::registry
