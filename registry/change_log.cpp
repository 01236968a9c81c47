#include "registry/change_log.h"

#include "registry/random_word.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace regkey::registry {

struct ChangeLog::Header {
  std::int64_t appended;     // last number appended
  std::int64_t committed;    // last number published
  std::uint64_t generation;  // never 0 in a usable log
  unsigned char pad[40];
};

// Every field is read and written as an atomic word (relaxed, between the
// number's release and acquire), so a reader racing a writer is no data race.
struct ChangeLog::Slot {
  static constexpr std::size_t kWords = kPathBytes / 8;
  std::int64_t seq;  // the change's number; 0 while being written
  std::int32_t kind;
  std::uint32_t length;  // of the whole path; more than kPathBytes: truncated
  std::uint64_t path[kWords];
};

namespace {

template <typename T>
std::atomic_ref<T> Atomic(T& word) {
  return std::atomic_ref<T>(word);
}

std::uint64_t NewGeneration() {
  std::uint64_t generation = 0;
  while (generation == 0) generation = RandomWord();
  return generation;
}

// A writer's numbers: appended at or after committed, by at most a few
// writes that died before publishing, and far from overflow.
bool Consistent(std::int64_t appended, std::int64_t committed) {
  return committed >= 0 && appended >= committed && appended <= ChangeLog::kMaxSeq &&
         appended - committed <= ChangeLog::kMaxPending;
}

}  // namespace

std::size_t ChangeLog::AreaSize() {
  static_assert(sizeof(Slot) == 512 && sizeof(Header) == 64);
  return sizeof(Header) + kSlots * sizeof(Slot);
}

void ChangeLog::Initialise(void* area) {
  std::memset(area, 0, AreaSize());
  auto* header = static_cast<Header*>(area);
  Atomic(header->generation).store(NewGeneration(), std::memory_order_release);
}

bool ChangeLog::Plausible(const void* area) {
  Header& header = *static_cast<Header*>(const_cast<void*>(area));
  return Atomic(header.generation).load(std::memory_order_acquire) != 0 &&
         Consistent(Atomic(header.appended).load(std::memory_order_acquire),
                    Atomic(header.committed).load(std::memory_order_acquire));
}

void ChangeLog::Renew(void* area) {
  Atomic(static_cast<Header*>(area)->generation).store(NewGeneration(), std::memory_order_release);
}

ChangeLog::ChangeLog(void* area) {
  if (area == nullptr) {
    own_.reset(new unsigned char[AreaSize()]());
    area = own_.get();
    static_cast<Header*>(area)->generation = 1;
  }
  header_ = static_cast<Header*>(area);
  slots_ = reinterpret_cast<Slot*>(static_cast<unsigned char*>(area) + sizeof(Header));
}

std::int64_t ChangeLog::Append(std::vector<ChangeRow>& changes) {
  std::int64_t start = Atomic(header_->appended).load(std::memory_order_acquire);
  const std::int64_t committed = Atomic(header_->committed).load(std::memory_order_acquire);
  std::uint64_t generation = Atomic(header_->generation).load(std::memory_order_acquire);
  if (!Consistent(start, committed) || generation == 0 ||
      static_cast<std::int64_t>(changes.size()) > kMaxPending) {
    // Damaged numbers: start again from 0 under a new generation, so that
    // readers holding the old numbers wake every request.
    start = 0;
    Atomic(header_->committed).store(0, std::memory_order_release);
    generation = NewGeneration();
    Atomic(header_->generation).store(generation, std::memory_order_release);
  }
  std::int64_t seq = start;
  for (ChangeRow& change : changes) {
    change.seq = ++seq;
    change.generation = generation;
    Slot& slot = slots_[static_cast<std::size_t>(seq - 1) % kSlots];
    Atomic(slot.seq).store(0, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    Atomic(slot.kind).store(change.kind, std::memory_order_relaxed);
    Atomic(slot.length)
        .store(static_cast<std::uint32_t>(std::min<std::size_t>(change.path.size(), UINT32_MAX)),
               std::memory_order_relaxed);
    std::uint64_t words[Slot::kWords] = {};
    std::memcpy(words, change.path.data(), std::min(change.path.size(), kPathBytes));
    const std::size_t used = (std::min(change.path.size(), kPathBytes) + 7) / 8;
    for (std::size_t i = 0; i < used; ++i)
      Atomic(slot.path[i]).store(words[i], std::memory_order_relaxed);
    Atomic(slot.seq).store(seq, std::memory_order_release);
  }
  Atomic(header_->appended).store(seq, std::memory_order_release);
  return start;
}

void ChangeLog::Abandon(std::int64_t start) {
  Atomic(header_->appended).store(start, std::memory_order_release);
}

void ChangeLog::Publish(std::int64_t last) {
  auto committed = Atomic(header_->committed);
  std::int64_t now = committed.load(std::memory_order_relaxed);
  while (now < last && !committed.compare_exchange_weak(now, last, std::memory_order_release)) {
  }
}

LogPosition ChangeLog::Committed() const {
  LogPosition position;
  position.generation = Atomic(header_->generation).load(std::memory_order_acquire);
  position.seq = Atomic(header_->committed).load(std::memory_order_acquire);
  if (position.seq < 0 || position.seq > kMaxSeq) position.generation = 0;
  return position;
}

bool ChangeLog::ReadSince(LogPosition& seen, std::vector<ChangeRow>& changes) const {
  changes.clear();
  const LogPosition last = Committed();
  if (last.generation == 0 || last.generation != seen.generation || last.seq < seen.seq ||
      seen.seq < 0) {
    // A new or damaged log, or one that went back (restored in place).
    seen = last;
    return false;
  }
  if (last.seq == seen.seq) return true;
  if (last.seq - seen.seq > static_cast<std::int64_t>(kSlots)) {
    seen = last;
    return false;
  }
  for (std::int64_t seq = seen.seq + 1; seq <= last.seq; ++seq) {
    Slot& slot = slots_[static_cast<std::size_t>(seq - 1) % kSlots];
    if (Atomic(slot.seq).load(std::memory_order_acquire) != seq) {
      seen = last;
      return false;
    }
    ChangeRow change;
    change.generation = last.generation;
    change.seq = seq;
    change.kind = Atomic(slot.kind).load(std::memory_order_relaxed);
    const std::uint32_t length = Atomic(slot.length).load(std::memory_order_relaxed);
    change.truncated = length > kPathBytes;
    const std::size_t kept = std::min<std::size_t>(length, kPathBytes);
    std::uint64_t words[Slot::kWords];
    for (std::size_t i = 0; i < (kept + 7) / 8; ++i)
      words[i] = Atomic(slot.path[i]).load(std::memory_order_relaxed);
    change.path.assign(reinterpret_cast<const char*>(words), kept);
    std::atomic_thread_fence(std::memory_order_acquire);
    if (Atomic(slot.seq).load(std::memory_order_relaxed) != seq) {
      seen = last;
      return false;
    }
    changes.push_back(std::move(change));
  }
  // Rebuilt while being read: the slots may belong to either generation.
  if (Atomic(header_->generation).load(std::memory_order_acquire) != last.generation) {
    seen = LogPosition{};
    return false;
  }
  seen = last;
  return true;
}

}  // namespace regkey::registry
