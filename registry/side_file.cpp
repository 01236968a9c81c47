#include "registry/side_file.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>

#include "registry/change_log.h"
#include "registry/random_word.h"
#include "registry/store_files.h"

namespace regkey::registry {
namespace {

constexpr char kMagic[8] = {'r', 'e', 'g', 'k', 'e', 'y', 'S', 'F'};
constexpr std::uint32_t kVersion = 1;

// The magic bytes as the one word they are stored as: written last, with
// release, so a reader that sees them sees the header they complete.
std::uint64_t MagicWord() {
  std::uint64_t word = 0;
  std::memcpy(&word, kMagic, sizeof word);
  return word;
}

// The header page. The counter has a cache line of its own: it moves at
// every commit, the rest only when the file is rebuilt.
struct Header {
  std::uint64_t magic;  // kMagic's bytes
  std::uint32_t version;
  std::uint32_t headerBytes;  // the log starts here
  std::uint64_t fileBytes;
  std::uint64_t storeDevice;  // the store file it belongs to
  std::uint64_t storeInode;
  std::uint64_t ownDevice;  // this file: a copy of it is another file
  std::uint64_t ownInode;
  std::int64_t createdAt;  // steady clock, ns
  std::uint64_t counter;
};
static_assert(offsetof(Header, counter) == 64);

constexpr std::size_t kHeaderBytes = 4096;

std::int64_t SteadyNow() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

template <typename T>
T Load(const T& field) {
  return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_acquire);
}

}  // namespace

std::size_t SideFile::MapSize() { return kHeaderBytes + ChangeLog::AreaSize(); }

SideFile::SideFile() {
  void* range = ::mmap(nullptr, MapSize(), PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (range == MAP_FAILED) return;
  base_ = static_cast<unsigned char*>(range);
  guard_ = std::make_unique<TruncationGuard>(base_, MapSize(), broken_);
}

SideFile::~SideFile() {
  guard_.reset();
  if (base_ != nullptr) ::munmap(base_, MapSize());
  if (fd_ >= 0) ::close(fd_);
}

std::uint64_t* SideFile::CounterWord() const { return &reinterpret_cast<Header*>(base_)->counter; }

void* SideFile::LogArea() const { return base_ + kHeaderBytes; }

std::int64_t SideFile::CreatedAt() const {
  return Load(reinterpret_cast<const Header*>(base_)->createdAt);
}

// Zeros in place of the file: no counter, no log (generation 0), so that
// readers go to the store and watchers wake their requests.
void SideFile::Clear() {
  broken_.store(true, std::memory_order_release);
  if (base_ != nullptr)
    ::mmap(base_, MapSize(), PROT_READ | PROT_WRITE,
           MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0);
}

long SideFile::Attach(const std::string& store, unsigned mode, bool readOnly) {
  if (base_ == nullptr) return ERROR_OUTOFMEMORY;
  store_ = store;
  path_ = store + "-counter";
  struct stat storeInfo {};
  if (::stat(store.c_str(), &storeInfo) != 0) {
    Clear();
    return CodeFromErrno(errno);
  }
  bool created = false;
  int fd = -1;
  const int flags = (readOnly ? O_RDONLY : O_RDWR | O_CREAT) | O_NONBLOCK;
  if (const long error = OpenOwnFile(path_, flags, mode, fd, &created)) {
    Clear();
    return error;
  }
  // Closes `fd` on the way out unless it is kept.
  struct Closer {
    int& fd;
    ~Closer() {
      if (fd >= 0) ::close(fd);
    }
  } closer{fd};
  struct stat info {};
  // Creating, checking and rebuilding are done by one process at a time.
  while (::flock(fd, readOnly ? LOCK_SH : LOCK_EX) != 0) {
    if (errno != EINTR) {
      const long error = CodeFromErrno(errno);
      Clear();
      return error;
    }
  }
  const auto size = static_cast<off_t>(MapSize());
  if (::fstat(fd, &info) != 0) {
    Clear();
    return CodeFromErrno(errno);
  }
  // Every page allocated now, so that touching one later never faults for
  // want of space (a sparse or short file is completed).
  if (readOnly && info.st_size < size) {
    Clear();
    return ERROR_REGISTRY_CORRUPT;
  }
  if (!readOnly && (info.st_size < size || info.st_blocks * 512 < size)) {
    if (const int error = ::posix_fallocate(fd, 0, size)) {
      Clear();
      return CodeFromErrno(error);
    }
  }
  broken_.store(false, std::memory_order_release);
  const int protection = readOnly ? PROT_READ : PROT_READ | PROT_WRITE;
  if (::mmap(base_, MapSize(), protection, MAP_SHARED | MAP_FIXED, fd, 0) == MAP_FAILED) {
    const long error = CodeFromErrno(errno);
    Clear();
    return error;
  }
  auto* header = reinterpret_cast<Header*>(base_);
  const bool sound = Load(header->magic) == MagicWord() && header->version == kVersion &&
                     header->headerBytes == kHeaderBytes && header->fileBytes == MapSize() &&
                     header->storeDevice == storeInfo.st_dev &&
                     header->storeInode == storeInfo.st_ino && header->ownDevice == info.st_dev &&
                     header->ownInode == info.st_ino && ChangeLog::Plausible(LogArea());
  if (!sound && readOnly) {
    // Only a writer may make it right; until then, no counter and no log.
    Clear();
    return ERROR_REGISTRY_CORRUPT;
  }
  if (!sound) {
    // New, damaged, another version's, or a copy (of another store's, or
    // of this one's from a backup). Whoever may hold it mapped sees a new
    // counter and log numbers that went back. A rebuilt file's counter is odd
    // (uncached until the next commit), in case a writer was midway.
    std::atomic_ref<std::uint64_t>(header->magic).store(0, std::memory_order_relaxed);
    ChangeLog::Initialise(LogArea());
    header->version = kVersion;
    header->headerBytes = kHeaderBytes;
    header->fileBytes = MapSize();
    header->storeDevice = storeInfo.st_dev;
    header->storeInode = storeInfo.st_ino;
    header->ownDevice = info.st_dev;
    header->ownInode = info.st_ino;
    header->createdAt = SteadyNow();
    const std::uint64_t fresh = RandomWord() & ~std::uint64_t{1};
    std::atomic_ref<std::uint64_t>(header->counter)
        .store(created ? fresh : fresh | 1, std::memory_order_release);
    std::atomic_ref<std::uint64_t>(header->magic).store(MagicWord(), std::memory_order_release);
  }
  ::flock(fd, LOCK_UN);
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
  fd = -1;
  device_ = info.st_dev;
  inode_ = info.st_ino;
  storeDevice_ = storeInfo.st_dev;
  storeInode_ = storeInfo.st_ino;
  return ERROR_SUCCESS;
}

bool SideFile::Whole() const {
  if (fd_ < 0 || broken()) return false;
  struct stat info {};
  return ::fstat(fd_, &info) == 0 && info.st_nlink > 0 &&
         info.st_size >= static_cast<off_t>(MapSize());
}

bool SideFile::Current() const {
  if (!Whole()) return false;
  struct stat info {};
  if (::lstat(path_.c_str(), &info) != 0 || info.st_dev != device_ || info.st_ino != inode_)
    return false;
  const auto* header = reinterpret_cast<const Header*>(base_);
  return Load(header->magic) == MagicWord() && Load(header->version) == kVersion &&
         Load(header->fileBytes) == MapSize() && Load(header->storeDevice) == storeDevice_ &&
         Load(header->storeInode) == storeInode_ && Load(header->ownDevice) == device_ &&
         Load(header->ownInode) == inode_ && ChangeLog::Plausible(LogArea()) && !broken();
}

}  // namespace regkey::registry
