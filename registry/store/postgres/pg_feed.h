// The PostgreSQL store's change feed: the changes every commit announces
// with NOTIFY (see pg_changes.h), numbered here in the order this process
// learns of them. Numbers are local: a request armed at number N wakes for
// whatever is learnt after N, so a change committed before it was armed but
// learnt after wakes it too (a wake too many, never one too few).
//
// The server's numbers tell when announcements were missed: one that does
// not follow the last one (a lost connection, a foreign sender) counts as a
// loss, and every watcher reading across it is told so.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "registry/store/change_feed.h"

namespace regkey::registry::pg {

class Feed final : public ChangeFeed {
 public:
  // `subscribe` makes the store listen; `poll` reads what the server sent
  // meanwhile, without waiting.
  Feed(std::function<long()> subscribe, std::function<void()> poll);

  bool Shared() const override { return true; }
  long Subscribe() override { return subscribe_(); }
  std::int64_t Committed() const override;
  bool ReadSince(std::int64_t& seen, std::vector<ChangeRow>& changes) const override;

  // The store's side. Listening from server number `counter` on: what the
  // server numbered up to there was committed before.
  void Listening(std::int64_t counter);
  void Received(const char* payload);
  // This process committed `changes`, server numbers from `first` on; they
  // get their local numbers here.
  void Own(std::int64_t first, std::vector<ChangeRow>& changes);
  // The connection broke: whatever was announced meanwhile is lost.
  void Lost();

  static constexpr std::size_t kKept = 4096;

 private:
  void LossLocked();
  void AppendLocked(ChangeRow row);

  std::function<long()> subscribe_;
  std::function<void()> poll_;
  mutable std::mutex mutex_;
  std::deque<ChangeRow> rows_;
  std::int64_t local_ = 0;     // last local number given
  std::int64_t lossMark_ = 0;  // a reader before this number missed changes
  std::int64_t dropped_ = 0;   // last number no longer kept
  bool listening_ = false;
  std::int64_t lastServer_ = 0;               // last server number learnt
  std::map<std::int64_t, std::int64_t> own_;  // own commits still to be announced: first -> last
};

}  // namespace regkey::registry::pg
