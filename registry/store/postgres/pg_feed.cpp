#include "registry/store/postgres/pg_feed.h"

#include <algorithm>
#include <cstring>

#include "registry/store/postgres/pg_changes.h"

namespace regkey::registry::pg {

Feed::Feed(std::function<long()> subscribe, std::function<void()> poll)
    : subscribe_(std::move(subscribe)), poll_(std::move(poll)) {}

std::int64_t Feed::Committed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return local_;
}

bool Feed::ReadSince(std::int64_t& seen, std::vector<ChangeRow>& changes) const {
  changes.clear();
  if (poll_) poll_();
  std::lock_guard<std::mutex> lock(mutex_);
  if (seen < lossMark_ || seen < dropped_ || seen > local_) {
    seen = local_;
    return false;
  }
  auto it =
      std::upper_bound(rows_.begin(), rows_.end(), seen,
                       [](std::int64_t number, const ChangeRow& row) { return number < row.seq; });
  changes.assign(it, rows_.end());
  seen = local_;
  return true;
}

void Feed::LossLocked() {
  // A number of its own, so that a reader that has been told moves past it.
  lossMark_ = ++local_;
}

void Feed::AppendLocked(ChangeRow row) {
  row.seq = ++local_;
  rows_.push_back(std::move(row));
  while (rows_.size() > kKept) {
    dropped_ = rows_.front().seq;
    rows_.pop_front();
  }
}

void Feed::Listening(std::int64_t counter) {
  std::lock_guard<std::mutex> lock(mutex_);
  listening_ = true;
  lastServer_ = counter;
  own_.clear();
}

void Feed::Received(const char* payload) {
  Decoded decoded;
  const bool sound = DecodeChanges(std::string_view(payload, std::strlen(payload)), decoded);
  std::lock_guard<std::mutex> lock(mutex_);
  if (!listening_) return;
  if (!sound) {
    LossLocked();
    return;
  }
  const std::int64_t last = decoded.first + decoded.count - 1;
  // Announced before listening began (or twice): committed before anything
  // armed since.
  if (last <= lastServer_) return;
  if (decoded.first != lastServer_ + 1) LossLocked();
  lastServer_ = last;
  // This process's own commits were numbered when they were made.
  own_.erase(own_.begin(), own_.lower_bound(decoded.first));
  if (auto it = own_.find(decoded.first); it != own_.end() && it->second == last) {
    own_.erase(it);
    return;
  }
  for (ChangeRow& row : decoded.rows) AppendLocked(std::move(row));
}

void Feed::Own(std::int64_t first, std::vector<ChangeRow>& changes) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (ChangeRow& change : changes) {
    AppendLocked(change);
    change.seq = local_;
  }
  if (listening_ && !changes.empty() && first > lastServer_)
    own_[first] = first + static_cast<std::int64_t>(changes.size()) - 1;
}

void Feed::Lost() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!listening_) return;
  listening_ = false;
  own_.clear();
  LossLocked();
}

}  // namespace regkey::registry::pg
