#include "registry/store/postgres/pg_store.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <thread>
#include <windows.h>

#include "registry/store/postgres/pg_changes.h"
#include "registry/store/postgres/pg_schema.h"

namespace regkey::registry {

using pg::Link;
using pg::Params;
using pg::Result;

namespace {

// Writes that met another writer (a deadlock, a serialisation failure, a
// subtree that gained a key) are run again, this many times at most.
constexpr int kAttempts = 20;

bool Retryable(const std::string& sqlstate) { return sqlstate == "40001" || sqlstate == "40P01"; }

}  // namespace

long PgStore::Open(const std::string& uri, StoreAccess access, std::unique_ptr<PgStore>& store) {
  return Open(uri, access, pg::TimeoutFromEnvironment(), store);
}

long PgStore::Open(const std::string& uri, StoreAccess access, std::chrono::milliseconds timeout,
                   std::unique_ptr<PgStore>& store) {
  std::unique_ptr<PgStore> opened(new PgStore(uri, timeout, access == StoreAccess::kReadOnly));
  {
    std::lock_guard<std::mutex> lock(opened->mutex_);
    if (const long error = opened->Ready()) return error;
  }
  store = std::move(opened);
  return ERROR_SUCCESS;
}

PgStore::PgStore(const std::string& uri, std::chrono::milliseconds timeout, bool readOnly)
    : link_(uri, timeout, pg::kStatements, pg::kStatementCount),
      feed_(std::make_unique<pg::Feed>([this] { return Subscribe(); }, [this] { PollChanges(); })),
      readOnly_(readOnly) {}

PgStore::~PgStore() = default;

long PgStore::CodeFor(Link::Failure failure, bool mayCommit) const {
  switch (failure) {
    case Link::Failure::kNone:
      return ERROR_SUCCESS;
    case Link::Failure::kUnreachable:
      return ERROR_BAD_NETPATH;
    case Link::Failure::kLost:
      // A commit may have been made: the caller cannot be told it was not.
      return mayCommit ? RPC_S_CALL_FAILED : RPC_S_SERVER_UNAVAILABLE;
    case Link::Failure::kServer:
      break;
  }
  const std::string& state = link_.sqlstate();
  if (state == "42501" || state == "25006") return ERROR_ACCESS_DENIED;
  if (state == "23503") return ERROR_KEY_DELETED;
  if (state == "53100") return ERROR_DISK_FULL;
  if (state == "53200") return ERROR_OUTOFMEMORY;
  if (state == "54000") return ERROR_INVALID_PARAMETER;
  // Cancelled by the server's statement time-out.
  if (state == "57014") return RPC_S_CALL_FAILED;
  if (Retryable(state) || state == "55P03") return ERROR_BUSY;
  if (state == "42P01" || state == "42703") return ERROR_REGISTRY_CORRUPT;
  return ERROR_REGISTRY_IO_FAILED;
}

void PgStore::Settle(bool wasConnected) {
  link_.TakeNotifications([this](int, const char* payload) { feed_->Received(payload); });
  if (wasConnected && !link_.Connected()) {
    listening_ = false;
    inTransaction_ = false;
    feed_->Lost();
  }
}

long PgStore::Run(int which, const Params& params, Result& result, bool mayCommit) {
  const bool wasConnected = link_.Connected();
  const Link::Failure failure = link_.Run(which, params, result);
  retryable_ = failure == Link::Failure::kServer && Retryable(link_.sqlstate());
  const long error = CodeFor(failure, mayCommit);
  Settle(wasConnected);
  return error;
}

long PgStore::Ready() {
  if (!link_.Connected()) {
    listening_ = false;
    inTransaction_ = false;
    bool fresh = false;
    if (const Link::Failure failure = link_.Connect(fresh); failure != Link::Failure::kNone)
      return CodeFor(failure, false);
  }
  if (!schemaReady_) {
    if (const long error = EnsureSchema()) return error;
  }
  if (wantListen_ && !listening_) return Listen();
  return ERROR_SUCCESS;
}

long PgStore::EnsureSchema() {
  for (int attempt = 0; attempt < 2; ++attempt) {
    Result result;
    const bool wasConnected = link_.Connected();
    Link::Failure failure = link_.RunText(pg::kSchemaVersionQuery, result);
    Settle(wasConnected);
    if (failure == Link::Failure::kNone) {
      std::int64_t version = 0;
      const std::string text = result.Rows() == 1 ? result.Bytes(0, 0) : std::string();
      std::from_chars(text.data(), text.data() + text.size(), version);
      // A schema from a later version of this code: its rows may mean
      // what this one cannot tell.
      if (version < 1 || version > pg::kSchemaVersion) return ERROR_NOT_REGISTRY_FILE;
      schemaReady_ = true;
      return ERROR_SUCCESS;
    }
    if (failure != Link::Failure::kServer || link_.sqlstate() != "42P01" || attempt > 0)
      return CodeFor(failure, false);
    failure = link_.RunText(pg::CreateSchema().c_str(), result);
    if (failure == Link::Failure::kServer) {
      const long error = CodeFor(failure, false);
      link_.RunText("ROLLBACK", result);
      Settle(true);
      return error;
    }
    Settle(true);
    if (failure != Link::Failure::kNone) return CodeFor(failure, false);
  }
  return ERROR_REGISTRY_CORRUPT;
}

long PgStore::Listen() {
  Result result;
  const bool wasConnected = link_.Connected();
  const Link::Failure failure = link_.RunText(pg::kListen, result);
  Settle(wasConnected);
  if (failure != Link::Failure::kNone) return CodeFor(failure, false);
  // Changes numbered up to the counter read after LISTEN are all committed
  // already; every later one will be announced here.
  if (const long error = Run(pg::kCounter, Params(), result)) return error;
  if (result.Rows() != 1) return ERROR_REGISTRY_CORRUPT;
  listening_ = true;
  feed_->Listening(result.Int(0, 0));
  return ERROR_SUCCESS;
}

long PgStore::Subscribe() {
  std::lock_guard<std::mutex> lock(mutex_);
  wantListen_ = true;
  if (const long error = Ready()) return error;
  // What arrived already is numbered before the request is armed.
  link_.Poll();
  Settle(true);
  return listening_ ? ERROR_SUCCESS : RPC_S_SERVER_UNAVAILABLE;
}

void PgStore::PollChanges() {
  std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
  if (!lock.owns_lock() || !link_.Connected()) return;
  link_.Poll();
  Settle(true);
}

namespace {

// Twice the counter in the first column of a result's first row; odd when
// there is none that makes sense.
std::uint64_t VersionIn(const Result& result) {
  if (result.Rows() < 1 || result.Null(0, 0)) return 1;
  const std::int64_t counter = result.Int(0, 0);
  if (counter < 0 || counter > (std::int64_t{1} << 62)) return 1;
  return static_cast<std::uint64_t>(counter) * 2;
}

// The rows a read of the hive's found: none when its only row is the
// counter's own.
int Found(const Result& result) {
  return result.Rows() == 1 && result.Null(0, 1) ? 0 : result.Rows();
}

}  // namespace

std::uint64_t PgStore::Version() {
  std::lock_guard<std::mutex> lock(mutex_);
  // Without a connection nothing can be known; the read that follows
  // connects again.
  if (!link_.Connected()) return 1;
  Result result;
  if (Run(pg::kCounter, Params(), result) || result.Rows() != 1) return 1;
  return VersionIn(result);
}

// A read is run again once on a new connection when the old one turned
// out broken (a server restarted since the last call).
long PgStore::Read(int which, const Params& params, Result& result) {
  for (int attempt = 0;; ++attempt) {
    if (const long error = Ready()) return error;
    const auto started = std::chrono::steady_clock::now();
    const long error = Run(which, params, result);
    if (error != RPC_S_SERVER_UNAVAILABLE || attempt > 0 ||
        std::chrono::steady_clock::now() - started > std::chrono::milliseconds(500))
      return error;
  }
}

long PgStore::ReadSeen(int which, const Params& params, Result& result) {
  seen_ = 1;
  if (const long error = Read(which, params, result)) return error;
  seen_ = VersionIn(result);
  return ERROR_SUCCESS;
}

namespace {

// A key row of kReadKey or kFindKey (after the counter).
void KeyFromResult(const Result& result, KeyRow& row) {
  row.id = result.Int(0, 1);
  row.parent = result.Int(0, 2);
  row.name = result.Bytes(0, 3);
  row.path = result.Bytes(0, 4);
  row.mtime = result.Int(0, 5);
}

std::string LastLevelOf(const std::string& path) { return path.substr(path.rfind('\\') + 1); }

// Children from columns `first` on: id, name, path, time.
void ChildrenFromResult(const Result& result, int first, int count, std::vector<ChildRow>& rows) {
  rows.reserve(rows.size() + static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    ChildRow row;
    row.id = result.Int(i, first);
    row.name = result.Bytes(i, first + 1);
    row.fold = LastLevelOf(result.Bytes(i, first + 2));
    row.mtime = result.Int(i, first + 3);
    rows.push_back(std::move(row));
  }
}

// A value from columns `first` on: name, folded name, time, type, data.
ValueRow ValueFromResult(const Result& result, int row, int first) {
  ValueRow value;
  value.name = result.Bytes(row, first);
  value.fold = result.Bytes(row, first + 1);
  value.mtime = result.Int(row, first + 2);
  value.type = static_cast<std::uint32_t>(result.Int(row, first + 3));
  value.data = result.Bytes(row, first + 4);
  return value;
}

}  // namespace

long PgStore::ReadKey(KeyId id, KeyRow& row, bool& found) {
  std::lock_guard<std::mutex> lock(mutex_);
  Result result;
  if (const long error = ReadSeen(pg::kReadKey, Params().Int(id), result)) return error;
  found = Found(result) == 1;
  if (found) KeyFromResult(result, row);
  return ERROR_SUCCESS;
}

long PgStore::FindChild(KeyId parent, const std::string& path, KeyRow& row, bool& found) {
  std::lock_guard<std::mutex> lock(mutex_);
  Result result;
  if (const long error = ReadSeen(pg::kFindKey, Params().Int(parent).Bytes(path), result))
    return error;
  found = Found(result) == 1;
  if (found) KeyFromResult(result, row);
  return ERROR_SUCCESS;
}

long PgStore::ReadChildren(KeyId id, std::vector<ChildRow>& rows) {
  rows.clear();
  std::lock_guard<std::mutex> lock(mutex_);
  Result result;
  if (const long error = ReadSeen(pg::kReadChildren, Params().Int(id), result)) return error;
  ChildrenFromResult(result, 1, Found(result), rows);
  return ERROR_SUCCESS;
}

long PgStore::ReadValues(KeyId id, std::vector<ValueRow>& rows) {
  rows.clear();
  std::lock_guard<std::mutex> lock(mutex_);
  Result result;
  if (const long error = ReadSeen(pg::kReadValues, Params().Int(id), result)) return error;
  const int count = Found(result);
  rows.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) rows.push_back(ValueFromResult(result, i, 1));
  return ERROR_SUCCESS;
}

long PgStore::ReadContents(KeyId id, std::vector<ChildRow>& children,
                           std::vector<ValueRow>& values) {
  children.clear();
  values.clear();
  std::lock_guard<std::mutex> lock(mutex_);
  Result result;
  if (const long error = ReadSeen(pg::kReadContents, Params().Int(id), result)) return error;
  const int count = Found(result);
  int firstValue = 0;
  while (firstValue < count && result.Int(firstValue, 1) == 0) ++firstValue;
  ChildrenFromResult(result, 2, firstValue, children);
  values.reserve(static_cast<std::size_t>(count - firstValue));
  for (int i = firstValue; i < count; ++i) values.push_back(ValueFromResult(result, i, 3));
  return ERROR_SUCCESS;
}

long PgStore::AddValueTimes(KeyId id, std::vector<ChildRow>& children) {
  std::lock_guard<std::mutex> lock(mutex_);
  Result result;
  if (const long error = ReadSeen(pg::kValueTimes, Params().Int(id), result)) return error;
  const int count = Found(result);
  for (int i = 0; i < count; ++i) {
    const std::string fold = LastLevelOf(result.Bytes(i, 1));
    const std::int64_t mtime = result.Int(i, 2);
    if (ChildRow* child = FindChildRow(children, fold))
      child->mtime = std::max(child->mtime, mtime);
  }
  return ERROR_SUCCESS;
}

// The statements of one write: a transaction of its own, or inside a batch
// a savepoint. Rolls back what it did not commit.
class PgStore::Transaction {
 public:
  explicit Transaction(PgStore& store) : store_(store) {}
  ~Transaction() {
    if (!open_ || !store_.link_.Connected()) return;
    Result result;
    if (store_.batch_) {
      store_.link_.RunText("ROLLBACK TO SAVEPOINT regkey_write; RELEASE SAVEPOINT regkey_write",
                           result);
    } else {
      store_.link_.RunText("ROLLBACK", result);
      store_.inTransaction_ = false;
    }
    store_.Settle(true);
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  long Begin() {
    Result result;
    const bool inBatch = store_.batch_ != nullptr;
    const Link::Failure failure =
        store_.link_.RunText(inBatch ? "SAVEPOINT regkey_write" : "BEGIN", result);
    store_.retryable_ = false;
    const long error = store_.CodeFor(failure, false);
    store_.Settle(true);
    open_ = !error;
    if (!inBatch) store_.inTransaction_ = !error;
    return error;
  }
  long Run(int which, const Params& params, Result& result) {
    return store_.Run(which, params, result);
  }
  long Run(int which, const Params& params) {
    Result result;
    return store_.Run(which, params, result);
  }
  long Commit() {
    Result result;
    const bool inBatch = store_.batch_ != nullptr;
    const Link::Failure failure =
        store_.link_.RunText(inBatch ? "RELEASE SAVEPOINT regkey_write" : "COMMIT", result);
    store_.retryable_ = failure == Link::Failure::kServer && Retryable(store_.link_.sqlstate());
    const long error = store_.CodeFor(failure, !inBatch);
    open_ = false;
    if (!inBatch) store_.inTransaction_ = false;
    store_.Settle(true);
    return error;
  }

 private:
  PgStore& store_;
  bool open_ = false;
};

template <typename Change>
long PgStore::Write(Written& written, Change change) {
  written = Written{};
  if (readOnly_) return ERROR_ACCESS_DENIED;
  std::lock_guard<std::mutex> lock(mutex_);
  if (batch_) {
    // A batch lost with its connection stays lost: nothing reconnects
    // under it.
    if (!inTransaction_) return RPC_S_SERVER_UNAVAILABLE;
    long error;
    try {
      error = change(written);
    } catch (const std::bad_alloc&) {
      error = ERROR_OUTOFMEMORY;
    }
    if (error) written = Written{};
    return error;
  }
  for (int attempt = 1;; ++attempt) {
    written = Written{};
    retryable_ = false;
    long error = Ready();
    if (!error) {
      try {
        error = change(written);
      } catch (const std::bad_alloc&) {
        error = ERROR_OUTOFMEMORY;
      }
    }
    if (!error || !retryable_ || attempt == kAttempts) {
      if (error) written = Written{};
      return error;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200 * attempt));
  }
}

long PgStore::Publish(Written& written) {
  if (written.changes.empty()) return ERROR_SUCCESS;
  const auto count = static_cast<std::int64_t>(written.changes.size());
  Result result;
  if (const long error =
          Run(pg::kPublish, Params().Int(count).Text(pg::EncodeChanges(written.changes)), result))
    return error;
  if (result.Rows() != 1) return ERROR_REGISTRY_CORRUPT;
  const std::int64_t last = result.Int(0, 0);
  written.before = static_cast<std::uint64_t>(last - count) * 2;
  written.after = static_cast<std::uint64_t>(last) * 2;
  return ERROR_SUCCESS;
}

void PgStore::Announce(Written& written) {
  if (written.changes.empty()) return;
  const auto count = static_cast<std::int64_t>(written.changes.size());
  const std::int64_t first = static_cast<std::int64_t>(written.after / 2) - count + 1;
  if (batch_) {
    // Announced when the batch commits.
    batch_->after = written.after;
    batch_->writes.emplace_back(first, written.changes);
    return;
  }
  feed_->Own(first, written.changes);
}

long PgStore::CreateKey(KeyId base, const std::string& basePath, const std::vector<NewKey>& levels,
                        std::int64_t mtime, std::vector<KeyRow>& rows, std::size_t& firstCreated,
                        Written& written) {
  return Write(written, [&](Written& out) -> long {
    rows.clear();
    firstCreated = levels.size();
    Transaction transaction(*this);
    if (const long error = transaction.Begin()) return error;
    KeyId parent = base;
    for (std::size_t i = 0; i < levels.size(); ++i) {
      KeyRow row{0, parent, levels[i].name, levels[i].path, mtime};
      Result result;
      bool found = false;
      // Below a level created here, every level is new.
      if (firstCreated == levels.size()) {
        if (const long error =
                transaction.Run(pg::kFindKey, Params().Int(parent).Bytes(levels[i].path), result))
          return error;
        found = Found(result) == 1;
        if (found) KeyFromResult(result, row);
      }
      if (!found) {
        // A concurrent creator's key, once it commits, is found instead.
        if (const long error = transaction.Run(
                pg::kInsertKey, Params().Int(parent).Bytes(row.name).Bytes(row.path).Int(mtime),
                result))
          return error;
        if (result.Rows() == 1) {
          row.id = result.Int(0, 0);
          if (firstCreated == levels.size()) {
            firstCreated = i;
            if (const long error = transaction.Run(pg::kTouchKey, Params().Int(parent).Int(mtime)))
              return error;
          }
          out.changes.push_back(MakeChange(i == 0 ? basePath : rows.back().path, kChangeName));
        } else {
          if (const long error =
                  transaction.Run(pg::kFindKey, Params().Int(parent).Bytes(levels[i].path), result))
            return error;
          if (Found(result) != 1) {
            // Created and deleted again meanwhile: this write starts over.
            retryable_ = true;
            return ERROR_BUSY;
          }
          KeyFromResult(result, row);
        }
      }
      parent = row.id;
      rows.push_back(std::move(row));
    }
    if (const long error = Publish(out)) return error;
    if (const long error = transaction.Commit()) return error;
    Announce(out);
    return ERROR_SUCCESS;
  });
}

long PgStore::SetValue(KeyId key, const std::string& path, const std::string& name,
                       const std::string& fold, std::uint32_t type, const void* data,
                       std::size_t size, std::int64_t mtime, Written& written) {
  return Write(written, [&](Written& out) -> long {
    out.changes.push_back(MakeChange(path, kChangeLastSet));
    std::optional<Transaction> savepoint;
    if (batch_) {
      savepoint.emplace(*this);
      if (const long error = savepoint->Begin()) return error;
    }
    Params params;
    params.Int(key).Bytes(fold).Bytes(name).Int(type);
    params.Bytes(std::string_view(static_cast<const char*>(data), data != nullptr ? size : 0));
    params.Int(mtime).Text(pg::EncodeChanges(out.changes));
    Result result;
    if (const long error = Run(pg::kSetValue, params, result, !batch_)) return error;
    if (result.Rows() != 1 || VersionIn(result) % 2 == 1) return ERROR_REGISTRY_CORRUPT;
    out.after = VersionIn(result);
    if (result.Int(0, 1) == 1) {
      out.before = out.after - 2;
    } else {
      // The value held this already: nothing changed, nothing to announce.
      out.before = out.after;
      out.changes.clear();
    }
    if (savepoint) {
      if (const long error = savepoint->Commit()) return error;
    }
    Announce(out);
    return ERROR_SUCCESS;
  });
}

long PgStore::DeleteValue(KeyId key, const std::string& path, const std::string& fold,
                          std::int64_t mtime, Written& written) {
  return Write(written, [&](Written& out) -> long {
    Transaction transaction(*this);
    if (const long error = transaction.Begin()) return error;
    // The key first (its row locked), then its value.
    Result touched;
    if (const long error = transaction.Run(pg::kTouchKey, Params().Int(key).Int(mtime), touched))
      return error;
    if (touched.Affected() == 0) return ERROR_KEY_DELETED;
    Result deleted;
    if (const long error =
            transaction.Run(pg::kDeleteValue, Params().Int(key).Bytes(fold), deleted))
      return error;
    if (deleted.Affected() == 0) return ERROR_FILE_NOT_FOUND;
    out.changes.push_back(MakeChange(path, kChangeLastSet));
    if (const long error = Publish(out)) return error;
    if (const long error = transaction.Commit()) return error;
    Announce(out);
    return ERROR_SUCCESS;
  });
}

long PgStore::DeleteKey(KeyId id, const std::string& path, std::int64_t mtime, Written& written) {
  return Write(written, [&](Written& out) -> long {
    out.changes.push_back(MakeChange(path.substr(0, path.rfind('\\')), kChangeName));
    out.changes.push_back(MakeChange(path, kChangeDeleted));
    std::optional<Transaction> savepoint;
    if (batch_) {
      savepoint.emplace(*this);
      if (const long error = savepoint->Begin()) return error;
    }
    Result result;
    const long error =
        Run(pg::kDeleteLeaf, Params().Int(id).Int(mtime).Text(pg::EncodeChanges(out.changes)),
            result, !batch_);
    // A subkey came in meanwhile.
    if (error == ERROR_KEY_DELETED) return ERROR_ACCESS_DENIED;
    if (error) return error;
    if (result.Rows() != 1) {
      // Nothing deleted: say why.
      Result key;
      if (const long why = Run(pg::kReadKey, Params().Int(id), key)) return why;
      return Found(key) == 1 ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
    }
    out.after = static_cast<std::uint64_t>(result.Int(0, 0)) * 2;
    out.before = out.after - 4;
    if (savepoint) {
      if (const long error = savepoint->Commit()) return error;
    }
    Announce(out);
    return ERROR_SUCCESS;
  });
}

long PgStore::DeleteTree(KeyId id, const std::string& path, bool withKey, std::int64_t mtime,
                         Written& written) {
  return Write(written, [&](Written& out) -> long {
    Transaction transaction(*this);
    if (const long error = transaction.Begin()) return error;
    Result locked;
    if (const long error = transaction.Run(pg::kLockKey, Params().Int(id), locked)) return error;
    if (locked.Rows() != 1) return ERROR_FILE_NOT_FOUND;
    const KeyId parent = locked.Int(0, 0);
    if (withKey && parent == 0) return ERROR_ACCESS_DENIED;
    Result children;
    if (!withKey) {
      if (const long error = transaction.Run(pg::kReadChildren, Params().Int(id), children))
        return error;
    }
    // A key created below meanwhile makes the deletion fail at its end: it
    // is run again, and takes that key too.
    if (const long error = transaction.Run(pg::kDeleteBelow, Params().Int(id))) {
      if (error == ERROR_KEY_DELETED) retryable_ = true;
      return error == ERROR_KEY_DELETED ? ERROR_BUSY : error;
    }
    Result values;
    if (const long error = transaction.Run(pg::kDeleteKeyValues, Params().Int(id), values))
      return error;
    if (withKey) {
      if (const long error = transaction.Run(pg::kDeleteKey, Params().Int(id))) {
        if (error == ERROR_KEY_DELETED) retryable_ = true;
        return error == ERROR_KEY_DELETED ? ERROR_BUSY : error;
      }
      if (const long error = transaction.Run(pg::kTouchKey, Params().Int(parent).Int(mtime)))
        return error;
      out.changes.push_back(MakeChange(path.substr(0, path.rfind('\\')), kChangeName));
      out.changes.push_back(MakeChange(path, kChangeTreeDeleted));
    } else {
      const int childCount = Found(children);
      if (childCount == 0 && values.Affected() == 0) return ERROR_SUCCESS;
      if (const long error = transaction.Run(pg::kTouchKey, Params().Int(id).Int(mtime)))
        return error;
      if (childCount != 0) out.changes.push_back(MakeChange(path, kChangeName));
      if (values.Affected() != 0) out.changes.push_back(MakeChange(path, kChangeLastSet));
      for (int i = 0; i < childCount; ++i) {
        const std::string child = children.Bytes(i, 3);
        out.changes.push_back(MakeChange(child, kChangeTreeDeleted));
      }
    }
    if (const long error = Publish(out)) return error;
    if (const long error = transaction.Commit()) return error;
    Announce(out);
    return ERROR_SUCCESS;
  });
}

long PgStore::BeginBatch(std::uint64_t& before) {
  if (readOnly_) return ERROR_ACCESS_DENIED;
  std::lock_guard<std::mutex> lock(mutex_);
  if (batch_) return ERROR_INVALID_FUNCTION;
  if (const long error = Ready()) return error;
  Result result;
  const Link::Failure failure = link_.RunText("BEGIN", result);
  Settle(true);
  if (failure != Link::Failure::kNone) return CodeFor(failure, false);
  inTransaction_ = true;
  long error = Run(pg::kLockCounter, Params(), result);
  if (!error && result.Rows() != 1) error = ERROR_REGISTRY_CORRUPT;
  if (error) {
    if (link_.Connected()) link_.RunText("ROLLBACK", result);
    inTransaction_ = false;
    Settle(true);
    return error;
  }
  auto batch = std::make_unique<Batch>();
  batch->before = batch->after = static_cast<std::uint64_t>(result.Int(0, 0)) * 2;
  before = batch->before;
  batch_ = std::move(batch);
  return ERROR_SUCCESS;
}

long PgStore::EndBatch(bool commit, Written& written) {
  written = Written{};
  std::lock_guard<std::mutex> lock(mutex_);
  if (!batch_) return ERROR_INVALID_FUNCTION;
  std::unique_ptr<Batch> batch = std::move(batch_);
  written.before = batch->before;
  Result result;
  // A batch lost with its connection was rolled back by the server.
  if (!inTransaction_) return commit ? RPC_S_SERVER_UNAVAILABLE : ERROR_SUCCESS;
  const Link::Failure failure = link_.RunText(commit ? "COMMIT" : "ROLLBACK", result);
  const long error = CodeFor(failure, commit);
  inTransaction_ = false;
  Settle(true);
  if (error) return commit ? error : ERROR_SUCCESS;
  if (!commit) {
    written.after = batch->before;
    return ERROR_SUCCESS;
  }
  written.after = batch->after;
  for (auto& [first, changes] : batch->writes) {
    feed_->Own(first, changes);
    written.changes.insert(written.changes.end(), changes.begin(), changes.end());
  }
  return ERROR_SUCCESS;
}

}  // namespace regkey::registry
