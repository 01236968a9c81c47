// The side file `<store>-counter` of a store file, mapped shared by every
// process that uses the store: a header page (what the file is and which
// store file it belongs to, and the change counter), then the change log.
//
// The file lives in the store's folder, which only its owner may write, and
// is still handled as if anyone could have placed or changed it: it is opened
// without following links and used only when it is a regular file of this
// user, with one name, that no one else may write. Its pages are allocated
// before they are mapped, so a full file system is an error at opening, not a
// fault later. A header that does not describe this very file and store (a
// copy, a backup put back, another version's file, damage) is rebuilt.
//
// The mapping sits at an address reserved for the object's lifetime, so that
// mapping the file again (after it was deleted, replaced or cut short) never
// moves the counter or the log under their readers.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>

#include "registry/truncation_guard.h"

namespace regkey::registry {

class SideFile {
 public:
  // Bytes mapped: the header page and the change log.
  static std::size_t MapSize();

  SideFile();
  ~SideFile();
  SideFile(const SideFile&) = delete;
  SideFile& operator=(const SideFile&) = delete;

  // Opens the side file of the store file `store` (a resolved path),
  // creating it with `mode`, allocating, checking and, when its header is
  // not sound, rebuilding it, and maps it. 0, ERROR_ACCESS_DENIED (not a
  // file this process may trust), ERROR_DISK_FULL, ERROR_CANTWRITE
  // (read-only file system), or another code; on failure the range holds
  // zeros. `readOnly`: only a sound side file that is there is mapped, for
  // reading (ERROR_FILE_NOT_FOUND, ERROR_REGISTRY_CORRUPT otherwise).
  long Attach(const std::string& store, unsigned mode, bool readOnly);
  // Whether the file at the path is the one mapped, whole, with a sound
  // header, and no page of it was lost to truncation.
  bool Current() const;
  // Cheaper: whether the mapped file still has a name and its full size.
  bool Whole() const;

  bool broken() const { return broken_.load(std::memory_order_acquire); }
  std::uint64_t* CounterWord() const;
  void* LogArea() const;
  // When the file was created or rebuilt (steady clock, ns; 0 unknown).
  std::int64_t CreatedAt() const;
  // The mapped file (device and inode), to tell whether Attach changed it.
  std::uint64_t Inode() const { return inode_; }
  std::uint64_t Device() const { return device_; }

 private:
  void Clear();

  unsigned char* base_ = nullptr;
  std::atomic<bool> broken_{true};  // nothing mapped, or a page lost
  std::unique_ptr<TruncationGuard> guard_;
  std::string path_;
  std::string store_;
  int fd_ = -1;
  std::uint64_t device_ = 0;
  std::uint64_t inode_ = 0;
  std::uint64_t storeDevice_ = 0;
  std::uint64_t storeInode_ = 0;
};

}  // namespace regkey::registry
