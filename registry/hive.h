// One machine's registry: its store, an in-process cache of the keys and
// values read from it, and its armed notifications. All operations take key
// ids (the handles' keys) and return 0 or a Win32 code. Thread-safe.
//
// The cache is valid while the store's version is where it was when the
// cache was filled; a commit by anyone else empties it, a commit made here
// updates it in place. A store whose version is odd (it cannot tell) has
// nothing cached from one call to the next. For a store whose version costs
// a request (a server's), a call checks the cache through the version its
// own reads and writes report, and asks for the version only when it made
// none; a call that finds its cache was stale runs again on an empty one.
//
// Listing subkeys: index 0 reads them (checked as any call); later indices
// on the same handle are served from that reading, with no request, until
// this process creates or deletes a subkey of the key (then they are read
// again). What others commit meanwhile shows from the next index 0.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>
#include <windows.h>

#include "registry/notifications.h"
#include "registry/store/store.h"

namespace regkey::registry {

struct KeyInfo {
  DWORD subKeys = 0;
  DWORD maxSubKeyLength = 0;
  DWORD values = 0;
  DWORD maxValueNameLength = 0;
  DWORD maxValueSize = 0;
  std::int64_t lastWrite = 0;
};

class Hive {
 public:
  // Opens the store at `location` (see OpenStore).
  static long Open(const std::string& location, StoreAccess access, std::shared_ptr<Hive>& hive);

  // Resolves `subPath` below `base`; `path` gets the key's folded path.
  long OpenKey(KeyId base, std::string_view subPath, KeyId& key, std::string& path);
  // Creates the missing levels of `subPath`; ERROR_ACCESS_DENIED when one is
  // missing and `mayCreate` is false.
  long CreateKey(KeyId base, std::string_view subPath, bool mayCreate, KeyId& key,
                 std::string& path, bool& created);
  long DeleteKey(KeyId base, std::string_view subPath);
  // With `withKey`, deletes the key at `subPath` below `base` with its
  // whole subtree; without, everything below `base` and its values (the key
  // stays). One store transaction when the store can.
  long DeleteTree(KeyId base, std::string_view subPath, bool withKey);

  // This thread's writes join one store transaction until EndBatch, which
  // commits them all or (without `commit`, or after a failure that spoiled
  // the batch) none. Other threads' calls wait meanwhile.
  // ERROR_NOT_SUPPORTED when the store has no batches.
  long BeginBatch();
  long EndBatch(bool commit);
  // Returns when every change committed so far is on disk.
  long Flush();

  // Copies up to *size bytes of the value into `data` (may be null); sets
  // *size to the value's size. ERROR_MORE_DATA when `data` is too small.
  long QueryValue(KeyId key, std::string_view name, DWORD* type, BYTE* data, DWORD* size);
  long SetValue(KeyId key, std::string_view name, DWORD type, const BYTE* data, DWORD size);
  long DeleteValue(KeyId key, std::string_view name);
  long QueryInfo(KeyId key, KeyInfo& info);
  // The name at `index` into `name` (capacity in characters, terminator
  // included); `length` gets its length.
  // Indices past 0 come from what index 0 read through `handle` (see above).
  long EnumKey(std::uintptr_t handle, KeyId key, DWORD index, char* name, DWORD capacity,
               DWORD& length, std::int64_t* lastWrite);
  long EnumValue(KeyId key, DWORD index, char* name, DWORD capacity, DWORD& length, DWORD* type,
                 BYTE* data, DWORD* size);

  // Entries the cache may take in before it is emptied (tests make it small).
  void SetCacheLimit(std::size_t entries);

  long Notify(KeyId key, std::uintptr_t handle, bool subtree, DWORD filter,
              std::shared_ptr<platform::KernelEvent> event);
  void CancelNotify(std::uintptr_t handle) { notifications_.Cancel(handle); }
  // The handle was closed: its requests end, its listing is dropped.
  void Closed(std::uintptr_t handle);

 private:
  struct CachedKey {
    KeyRow row;
    bool exists = false;
    std::optional<std::vector<ValueRow>> values;  // in order of creation
    // Folded name -> position, for keys with more than a few values.
    std::unique_ptr<std::unordered_map<std::string, std::size_t>> valueIndex;
    // Sorted by folded name; shared with the listings that read it.
    std::shared_ptr<std::vector<ChildRow>> children;
    DWORD maxChildLength = 0;
    bool childTimesFinal = false;  // children's times include their values' times
  };

  // The subkeys a handle's listing reads its indices past 0 from.
  struct Listing {
    KeyId key = 0;
    std::shared_ptr<const std::vector<ChildRow>> children;
    bool timesFinal = false;
  };

  explicit Hive(std::unique_ptr<Store> store);

  // The hive's lock, once no other thread's batch is in progress.
  std::unique_lock<std::mutex> Enter();
  bool InBatchLocked() const { return batchOwner_ == std::this_thread::get_id(); }
  // Deletes the subtree with one store write per key and value.
  long DeleteTreeKeyByKeyLocked(KeyId id, const std::string& path, bool withKey, std::int64_t now);

  // Runs `call` (under the lock) as one registry call: the cache checked at
  // its start or through its requests, and the call run once more on an
  // empty cache when it turns out to have been served from a stale one.
  template <typename Call>
  long ServeLocked(Call call);
  void SyncLocked(bool again);
  // Takes in the store version a read saw.
  void SeenLocked(std::uint64_t version);
  // Whether what the call gave (`error`) stands; false when the cache it
  // used was stale (the cache is then emptied).
  bool ConfirmedLocked(long error);
  void ClearLocked();
  // Resolves `levels` below `base`.
  long OpenLocked(KeyId base, const std::vector<std::string_view>& levels, KeyId& key,
                  std::string& path);
  // Drops the cached children of `key`, keeping what they tell of each
  // child for finding it by path.
  void ForgetChildrenLocked(CachedKey& key);
  // Drops the listings of `key` (0: all), as this process changed its subkeys.
  void DropListingsLocked(KeyId key);
  long KeyLocked(KeyId id, CachedKey*& key);
  // The child of `parent` at `path` (its folded path); 0 for none.
  long FindLocked(KeyId parent, const std::string& path, KeyId& id);
  long ValuesLocked(CachedKey& key);
  void IndexValuesLocked(CachedKey& key);
  // The position of the value `fold` among the key's loaded values.
  static constexpr std::size_t kNoValue = static_cast<std::size_t>(-1);
  static std::size_t FindValueLocked(const CachedKey& key, const std::string& fold);
  long ChildrenLocked(CachedKey& key);
  // Whether the value is there with this type and data.
  bool HoldsLocked(KeyId id, std::string_view name, DWORD type, const BYTE* data, DWORD size);
  void TouchLocked(CachedKey& key, std::int64_t now);
  // Whether the cache may take in a write's effects: nobody else committed
  // between the cache's fill and the write.
  bool CurrentLocked(const Written& written) const;
  // After a write (its cache updates made): moves the cache to the write's
  // version and raises the notifications its changes match.
  void FinishLocked(long error, const Written& written);

  std::mutex mutex_;
  std::condition_variable batchEnded_;
  std::thread::id batchOwner_;  // the thread whose batch is in progress
  // In this order: notifications_ is built from, and its watcher stopped
  // before, store_'s change feed.
  std::unique_ptr<Store> store_;
  Notifications notifications_;
  std::uint64_t stamp_ = 1;  // store version the cache belongs to (odd: none)
  std::unordered_map<KeyId, CachedKey> keys_;
  std::unordered_map<std::string, KeyId> paths_;          // folded path -> id, 0 for none
  std::unordered_map<std::uintptr_t, Listing> listings_;  // by handle
  // The call in progress: whether its cache is known current, whether it
  // was seen stale, the latest version its requests saw, whether it wrote.
  bool verified_ = true;
  bool stale_ = false;
  std::uint64_t newest_ = 1;
  bool wrote_ = false;
  const bool remoteVersion_;  // the store's version costs a request
  // Keys, paths and the rows of listed children and values taken in since
  // the cache was emptied; past the limit it is emptied again.
  std::size_t cached_ = 0;
  std::size_t cacheLimit_;
};

// Now as a FILETIME count (100 ns since 1601).
std::int64_t FileTimeNow();
// A FILETIME count split into its two halves.
inline FILETIME ToFileTime(std::int64_t count) {
  return {static_cast<DWORD>(count), static_cast<DWORD>(static_cast<std::uint64_t>(count) >> 32)};
}

}  // namespace regkey::registry
