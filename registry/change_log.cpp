#include "registry/change_log.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <span>

namespace regkey::registry {

struct ChangeLog::Header {
  std::int64_t appended;   // last number appended
  std::int64_t committed;  // last number published
  std::uint64_t live;      // kLive in a log
  unsigned char pad[40];
};

// Every field is read and written as an atomic word, so a reader racing a
// writer is no data race. A slot is a sequence lock without fences: the writer
// zeroes the number, stores the fields with release (none is seen before the
// zero) and the number last; the reader loads the number and the fields with
// acquire, then the number again: a slot rewritten meanwhile shows another.
struct ChangeLog::Slot {
  static constexpr std::size_t kWords = kPathBytes / 8;
  std::int64_t seq;  // the change's number; 0 while being written
  std::int32_t kind;
  std::uint32_t length;  // of the whole path; more than kPathBytes: truncated
  std::uint64_t path[kWords];
};

namespace {

constexpr std::uint64_t kLive = 0x676f6c2079656b72;  // "rkey log"

template <typename T>
std::atomic_ref<T> Atomic(T& word) {
  return std::atomic_ref<T>(word);
}

// A writer's numbers: appended at or after committed (by the changes of
// writers that died before publishing), and far from overflow.
bool Consistent(std::int64_t appended, std::int64_t committed) {
  return committed >= 0 && appended >= committed && appended <= ChangeLog::kMaxSeq;
}

}  // namespace

std::size_t ChangeLog::AreaSize() {
  static_assert(sizeof(Slot) == 512 && sizeof(Header) == 64);
  return sizeof(Header) + kSlots * sizeof(Slot);
}

// Word by word: a watcher of this process may be reading a log rebuilt in
// place; it sees no log until the end, then an empty one.
void ChangeLog::Initialise(void* area) {
  Header& header = *static_cast<Header*>(area);
  Atomic(header.live).store(0, std::memory_order_release);
  Atomic(header.appended).store(0, std::memory_order_relaxed);
  Atomic(header.committed).store(0, std::memory_order_relaxed);
  std::memset(header.pad, 0, sizeof header.pad);  // never read
  auto* slots = reinterpret_cast<Slot*>(static_cast<unsigned char*>(area) + sizeof(Header));
  for (Slot& slot : std::span(slots, kSlots)) {
    Atomic(slot.seq).store(0, std::memory_order_relaxed);
    Atomic(slot.kind).store(0, std::memory_order_relaxed);
    Atomic(slot.length).store(0, std::memory_order_relaxed);
    for (std::uint64_t& word : slot.path) Atomic(word).store(0, std::memory_order_relaxed);
  }
  Atomic(header.live).store(kLive, std::memory_order_release);
}

bool ChangeLog::Plausible(const void* area) {
  Header& header = *static_cast<Header*>(const_cast<void*>(area));
  return Atomic(header.live).load(std::memory_order_acquire) == kLive &&
         Consistent(Atomic(header.appended).load(std::memory_order_acquire),
                    Atomic(header.committed).load(std::memory_order_acquire));
}

void ChangeLog::Skip(void* area) {
  Header& header = *static_cast<Header*>(area);
  const std::int64_t appended = Atomic(header.appended).load(std::memory_order_acquire);
  const std::int64_t committed = Atomic(header.committed).load(std::memory_order_acquire);
  constexpr auto kJump = static_cast<std::int64_t>(kSlots) + 1;
  // Numbers that cannot move on start again from 0: readers see them go back.
  const std::int64_t next =
      Consistent(appended, committed) && appended <= kMaxSeq - kJump ? appended + kJump : 0;
  Atomic(header.appended).store(next, std::memory_order_release);
  Atomic(header.committed).store(next, std::memory_order_release);
}

ChangeLog::ChangeLog(void* area, Hold hold) : hold_(std::move(hold)) {
  if (area == nullptr) {
    // Zeroed pages straight from the system: most of a private ring is never
    // touched.
    own_.reset(static_cast<unsigned char*>(std::calloc(AreaSize(), 1)));
    if (!own_) throw std::bad_alloc();
    area = own_.get();
    static_cast<Header*>(area)->live = kLive;
  }
  header_ = static_cast<Header*>(area);
  slots_ = reinterpret_cast<Slot*>(static_cast<unsigned char*>(area) + sizeof(Header));
}

std::int64_t ChangeLog::Append(std::vector<ChangeRow>& changes) {
  std::int64_t start = Atomic(header_->appended).load(std::memory_order_acquire);
  const std::int64_t committed = Atomic(header_->committed).load(std::memory_order_acquire);
  const auto count = static_cast<std::int64_t>(std::min<std::size_t>(changes.size(), kMaxSeq));
  if (!Consistent(start, committed) || start > kMaxSeq - count ||
      Atomic(header_->live).load(std::memory_order_acquire) != kLive) {
    // Impossible numbers (damage, or a log that is not one): start again
    // from 0; readers holding larger numbers see them go back.
    start = 0;
    Atomic(header_->committed).store(0, std::memory_order_release);
    Atomic(header_->live).store(kLive, std::memory_order_release);
  }
  std::int64_t seq = start;
  // Of a batch larger than the ring only the last ring's worth is written:
  // a reader who missed more has overflowed in any case.
  const std::size_t skip = changes.size() > kSlots ? changes.size() - kSlots : 0;
  for (std::size_t i = 0; i < skip; ++i) changes[i].seq = ++seq;
  for (ChangeRow& change : std::span(changes).subspan(skip)) {
    change.seq = ++seq;
    Slot& slot = slots_[static_cast<std::size_t>(seq - 1) % kSlots];
    Atomic(slot.seq).store(0, std::memory_order_relaxed);
    Atomic(slot.kind).store(change.kind, std::memory_order_release);
    Atomic(slot.length)
        .store(static_cast<std::uint32_t>(std::min<std::size_t>(change.path.size(), UINT32_MAX)),
               std::memory_order_release);
    const std::size_t kept = std::min(change.path.size(), kPathBytes);
    std::uint64_t words[Slot::kWords] = {};
    std::memcpy(words, change.path.data(), kept);
    for (std::size_t i = 0; i < (kept + 7) / 8; ++i)
      Atomic(slot.path[i]).store(words[i], std::memory_order_release);
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

std::int64_t ChangeLog::Committed() const {
  const std::int64_t committed = Atomic(header_->committed).load(std::memory_order_acquire);
  if (Atomic(header_->live).load(std::memory_order_acquire) != kLive || committed < 0 ||
      committed > kMaxSeq)
    return 0;
  return committed;
}

bool ChangeLog::ReadSince(std::int64_t& seen, std::vector<ChangeRow>& changes) const {
  changes.clear();
  bool current = true;
  std::unique_lock<std::mutex> held;
  if (hold_) held = hold_(current);
  if (!current) return false;
  const std::int64_t last = Atomic(header_->committed).load(std::memory_order_acquire);
  if (Atomic(header_->live).load(std::memory_order_acquire) != kLive || last < 0 ||
      last > kMaxSeq || seen < 0) {
    // No log, or numbers no log has: anything may have been missed, until
    // a writer puts them right.
    return false;
  }
  if (last < seen) {
    // The numbers went back: the log was rebuilt or put back in place.
    seen = last;
    return false;
  }
  if (last == seen) return true;
  if (last - seen > static_cast<std::int64_t>(kSlots)) {
    seen = last;
    return false;
  }
  for (std::int64_t seq = seen + 1; seq <= last; ++seq) {
    Slot& slot = slots_[static_cast<std::size_t>(seq - 1) % kSlots];
    if (Atomic(slot.seq).load(std::memory_order_acquire) != seq) {
      seen = last;
      return false;
    }
    ChangeRow change;
    change.seq = seq;
    change.kind = Atomic(slot.kind).load(std::memory_order_acquire);
    const std::uint32_t length = Atomic(slot.length).load(std::memory_order_acquire);
    change.truncated = length > kPathBytes;
    const std::size_t kept = std::min<std::size_t>(length, kPathBytes);
    std::uint64_t words[Slot::kWords];
    for (std::size_t i = 0; i < (kept + 7) / 8; ++i)
      words[i] = Atomic(slot.path[i]).load(std::memory_order_acquire);
    change.path.assign(reinterpret_cast<const char*>(words), kept);
    if (Atomic(slot.seq).load(std::memory_order_relaxed) != seq) {
      seen = last;
      return false;
    }
    changes.push_back(std::move(change));
  }
  seen = last;
  return true;
}

}  // namespace regkey::registry
