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
  unsigned char pad[48];
};

struct ChangeLog::Slot {
  std::int64_t seq;  // the change's number; 0 while being written
  std::int32_t kind;
  std::uint32_t length;  // of the whole path; more than kPathBytes: truncated
  char path[kPathBytes];
};

namespace {

template <typename T>
std::atomic_ref<T> Atomic(T& word) {
  return std::atomic_ref<T>(word);
}

}  // namespace

std::size_t ChangeLog::AreaSize() {
  static_assert(sizeof(Slot) == 512 && sizeof(Header) == 64);
  return sizeof(Header) + kSlots * sizeof(Slot);
}

ChangeLog::ChangeLog(void* area) {
  if (area == nullptr) {
    // Zeroed pages straight from the system: most of a private ring is never
    // touched.
    own_.reset(static_cast<unsigned char*>(std::calloc(AreaSize(), 1)));
    if (!own_) throw std::bad_alloc();
    area = own_.get();
  }
  header_ = static_cast<Header*>(area);
  slots_ = reinterpret_cast<Slot*>(static_cast<unsigned char*>(area) + sizeof(Header));
}

std::int64_t ChangeLog::Append(std::vector<ChangeRow>& changes) {
  const std::int64_t start = Atomic(header_->appended).load(std::memory_order_acquire);
  std::int64_t seq = start;
  // Of a batch larger than the ring only the last ring's worth is written:
  // a reader who missed more has overflowed in any case.
  const std::size_t skip = changes.size() > kSlots ? changes.size() - kSlots : 0;
  for (std::size_t i = 0; i < skip; ++i) changes[i].seq = ++seq;
  for (ChangeRow& change : std::span(changes).subspan(skip)) {
    change.seq = ++seq;
    Slot& slot = slots_[static_cast<std::size_t>(seq - 1) % kSlots];
    Atomic(slot.seq).store(0, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    slot.kind = change.kind;
    slot.length = static_cast<std::uint32_t>(std::min<std::size_t>(change.path.size(), UINT32_MAX));
    std::memcpy(slot.path, change.path.data(), std::min(change.path.size(), kPathBytes));
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
  return Atomic(header_->committed).load(std::memory_order_acquire);
}

bool ChangeLog::ReadSince(std::int64_t& seen, std::vector<ChangeRow>& changes) const {
  changes.clear();
  const std::int64_t last = Committed();
  if (last <= seen) return true;
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
    change.kind = slot.kind;
    const std::uint32_t length = slot.length;
    change.truncated = length > kPathBytes;
    change.path.assign(slot.path, std::min<std::size_t>(length, kPathBytes));
    std::atomic_thread_fence(std::memory_order_acquire);
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
