// The PostgreSQL store: one machine's registry in a PostgreSQL database,
// shared by every client of the server (see registry/README.md for the
// schema and the notification protocol).
//
// One connection per store, used under one lock. Every write is one
// transaction that ends by moving the server's change counter on by the
// number of its changes and announcing them with NOTIFY; the counter is a
// single row, so writers commit in counter order and the counter read by
// Version() changes with every commit. Reads are single statements, each
// seeing everything committed before it began, and each gives the counter
// of its snapshot too (Seen()), so that the hive needs no separate request
// to know its cache current.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "registry/store/postgres/pg_feed.h"
#include "registry/store/postgres/pg_link.h"
#include "registry/store/store.h"

namespace regkey::registry {

class PgStore final : public Store {
 public:
  // Connects to the database `uri` names and creates the schema there when
  // it has none. ERROR_BAD_NETPATH when the server cannot be reached.
  static long Open(const std::string& uri, StoreAccess access, std::unique_ptr<PgStore>& store);
  static long Open(const std::string& uri, StoreAccess access, std::chrono::milliseconds timeout,
                   std::unique_ptr<PgStore>& store);
  ~PgStore() override;
  PgStore(const PgStore&) = delete;
  PgStore& operator=(const PgStore&) = delete;

  // Twice the server's change counter; odd when it cannot be read.
  std::uint64_t Version() override;
  ChangeFeed& Changes() override { return *feed_; }
  bool VersionIsRemote() const override { return true; }
  std::uint64_t Seen() const override { return seen_; }

  long ReadKey(KeyId id, KeyRow& row, bool& found) override;
  long FindChild(KeyId parent, const std::string& path, KeyRow& row, bool& found) override;
  long ReadChildren(KeyId id, std::vector<ChildRow>& rows) override;
  long ReadValues(KeyId id, std::vector<ValueRow>& rows) override;
  long AddValueTimes(KeyId id, std::vector<ChildRow>& children) override;
  long ReadContents(KeyId id, std::vector<ChildRow>& children,
                    std::vector<ValueRow>& values) override;

  long CreateKey(KeyId base, const std::string& basePath, const std::vector<NewKey>& levels,
                 std::int64_t mtime, std::vector<KeyRow>& rows, std::size_t& firstCreated,
                 Written& written) override;
  long SetValue(KeyId key, const std::string& path, const std::string& name,
                const std::string& fold, std::uint32_t type, const void* data, std::size_t size,
                std::int64_t mtime, Written& written) override;
  long DeleteValue(KeyId key, const std::string& path, const std::string& fold, std::int64_t mtime,
                   Written& written) override;
  long DeleteKey(KeyId id, const std::string& path, std::int64_t mtime, Written& written) override;
  long DeleteTree(KeyId id, const std::string& path, bool withKey, std::int64_t mtime,
                  Written& written) override;

  // A batch is one transaction that holds the change counter from its
  // start; each write in it is a savepoint.
  long BeginBatch(std::uint64_t& before) override;
  long EndBatch(bool commit, Written& written) override;

 private:
  PgStore(const std::string& uri, std::chrono::milliseconds timeout, bool readOnly);
  class Transaction;

  long Ready();
  long Listen();
  long Subscribe();
  void PollChanges();
  // Hands what the server sent to the feed, and tells it of a lost connection.
  void Settle(bool wasConnected);
  long Run(int which, const pg::Params& params, pg::Result& result, bool mayCommit = false);
  long Read(int which, const pg::Params& params, pg::Result& result);
  // A read of the hive's: its counter goes to seen_.
  long ReadSeen(int which, const pg::Params& params, pg::Result& result);
  long EnsureSchema();
  long CodeFor(pg::Link::Failure failure, bool mayCommit) const;
  template <typename Change>
  long Write(Written& written, Change change);
  // Moves the counter on by the changes' number and announces them.
  long Publish(Written& written);
  // Gives the committed changes their feed numbers.
  void Announce(Written& written);

  // The batch in progress: its version before, and its writes' changes
  // with the counter number of each write's first change.
  struct Batch {
    std::uint64_t before = 1;
    std::uint64_t after = 1;
    std::vector<std::pair<std::int64_t, std::vector<ChangeRow>>> writes;
  };

  std::mutex mutex_;
  pg::Link link_;
  std::unique_ptr<pg::Feed> feed_;
  bool readOnly_ = false;
  bool schemaReady_ = false;
  bool wantListen_ = false;
  bool listening_ = false;
  bool inTransaction_ = false;
  bool retryable_ = false;  // the last failure may pass when the write is run again
  std::uint64_t seen_ = 1;  // twice the counter the last read saw; odd: none
  std::unique_ptr<Batch> batch_;
};

}  // namespace regkey::registry
