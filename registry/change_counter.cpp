#include "registry/change_counter.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

#include "registry/change_log.h"

namespace regkey::registry {
namespace {

// The counter's page, then the change log.
constexpr std::size_t kCounterBytes = 4096;
const std::size_t kMapSize = kCounterBytes + ChangeLog::AreaSize();

}  // namespace

ChangeCounter::ChangeCounter(const std::string& storePath, unsigned mode, bool readOnly)
    : word_(&local_) {
  if (storePath.empty()) return;
  const std::string path = storePath + "-counter";
  const int fd = readOnly ? ::open(path.c_str(), O_RDONLY | O_CLOEXEC)
                          : ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, mode);
  if (fd < 0) {
    // Without a shared counter nothing may be cached.
    uncached_ = true;
    return;
  }
  struct stat info {};
  // A new side file gets its mode whatever the umask.
  if (!readOnly && ::fstat(fd, &info) == 0 && info.st_size == 0) ::fchmod(fd, mode);
  if (::fstat(fd, &info) == 0 && info.st_size < static_cast<off_t>(kMapSize) &&
      (readOnly || ::ftruncate(fd, kMapSize) != 0)) {
    ::close(fd);
    uncached_ = true;
    return;
  }
  const int protection = readOnly ? PROT_READ : PROT_READ | PROT_WRITE;
  void* mapped = ::mmap(nullptr, kMapSize, protection, MAP_SHARED, fd, 0);
  ::close(fd);
  if (mapped == MAP_FAILED) {
    uncached_ = true;
    return;
  }
  mapped_ = mapped;
  word_ = static_cast<std::uint64_t*>(mapped);
}

void* ChangeCounter::LogArea() const {
  return mapped_ == nullptr ? nullptr : static_cast<unsigned char*>(mapped_) + kCounterBytes;
}

ChangeCounter::~ChangeCounter() {
  if (mapped_ != nullptr) ::munmap(mapped_, kMapSize);
}

std::uint64_t ChangeCounter::Load() const {
  if (uncached_) return 1;
  return std::atomic_ref<std::uint64_t>(*word_).load(std::memory_order_acquire);
}

std::uint64_t ChangeCounter::BeginWrite() {
  std::atomic_ref<std::uint64_t> word(*word_);
  const std::uint64_t now = word.load(std::memory_order_acquire);
  const std::uint64_t odd = (now % 2 == 0) ? now + 1 : now + 2;
  word.store(odd, std::memory_order_seq_cst);
  return odd;
}

bool ChangeCounter::EndWrite(std::uint64_t begun) {
  // A later writer may have moved the counter since this one committed; its
  // value is newer and stays.
  return std::atomic_ref<std::uint64_t>(*word_).compare_exchange_strong(
      begun, begun + 1, std::memory_order_release, std::memory_order_relaxed);
}

}  // namespace regkey::registry
