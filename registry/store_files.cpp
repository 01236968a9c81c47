#include "registry/store_files.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <windows.h>

namespace regkey::registry {
namespace {

// A group that only this user belongs to (the user's own group, listing no
// members) grants no one else anything.
bool GroupIsPrivate(gid_t group) {
  if (group != ::getegid()) return false;
  long size = ::sysconf(_SC_GETGR_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  struct group entry {};
  struct group* found = nullptr;
  while (::getgrgid_r(group, &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
         buffer.size() < (1u << 20))
    buffer.resize(buffer.size() * 2);
  return found != nullptr && (found->gr_mem == nullptr || found->gr_mem[0] == nullptr);
}

bool OthersMayWrite(const struct stat& info) {
  if ((info.st_mode & S_IWOTH) != 0) return true;
  return (info.st_mode & S_IWGRP) != 0 && !GroupIsPrivate(info.st_gid);
}

std::string ParentOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string RealPath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  return real ? std::string(real.get()) : std::string();
}

// A store file that is itself a mount point (a bind mount of the file) is
// another name for a file whose SQLite side files live elsewhere.
bool IsMountOfFile(const std::string& path) {
  struct statx info {};
  if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &info) != 0)
    return false;
  return (info.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 &&
         (info.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
}

// Resolves `path` to the real path of what it names, calling `make` (which
// returns 0 or an errno value; EEXIST when another process made it first)
// in a checked folder when nothing is there and `create` is set.
template <typename Make>
long Resolve(const std::string& path, bool create, const Make& make, std::string& resolved) {
  const std::size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") return ERROR_CANTOPEN;
  const std::string folder = RealPath(slash == std::string::npos ? "." : ParentOf(path));
  if (folder.empty()) return CodeFromErrno(errno);
  const std::string named = (folder == "/" ? folder : folder + "/") + name;
  for (int attempt = 0;; ++attempt) {
    struct stat info {};
    if (::lstat(named.c_str(), &info) == 0) {
      // A link to the store: the store is where it leads.
      resolved = S_ISLNK(info.st_mode) ? RealPath(named) : named;
      return resolved.empty() ? ERROR_CANTOPEN : ERROR_SUCCESS;
    }
    if (errno != ENOENT) return CodeFromErrno(errno);
    if (!create) return ERROR_CANTOPEN;
    // Nothing is created in a folder that is not safe.
    if (const long error = CheckFolder(folder)) return error;
    const int error = make(named);
    if (error == 0) {
      resolved = named;
      return ERROR_SUCCESS;
    }
    // Another process created it meanwhile: look again.
    if (error != EEXIST || attempt == 3)
      return error == EROFS ? ERROR_CANTOPEN : CodeFromErrno(error);
  }
}

}  // namespace

long CodeFromErrno(int error) {
  switch (error) {
    case 0:
      return ERROR_SUCCESS;
    case EACCES:
    case EPERM:
    case ELOOP:  // a symbolic link where a file was expected
      return ERROR_ACCESS_DENIED;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case EROFS:
      return ERROR_CANTWRITE;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM:
      return ERROR_OUTOFMEMORY;
    case ENOENT:
    case ENOTDIR:
    case EISDIR:
    case ENAMETOOLONG:
      return ERROR_CANTOPEN;
    default:
      return ERROR_REGISTRY_IO_FAILED;
  }
}

long CheckOwnFile(const struct stat& info) {
  if (S_ISDIR(info.st_mode)) return ERROR_CANTOPEN;
  if (!S_ISREG(info.st_mode) || (info.st_uid != ::geteuid() && info.st_uid != 0) ||
      info.st_nlink != 1 || OthersMayWrite(info))
    return ERROR_ACCESS_DENIED;
  return ERROR_SUCCESS;
}

long CheckFolder(const std::string& folder) {
  const uid_t self = ::geteuid();
  std::string at = folder;
  for (bool own = true;; own = false) {
    struct stat info {};
    if (::lstat(at.c_str(), &info) != 0) return CodeFromErrno(errno);
    if (!S_ISDIR(info.st_mode)) return ERROR_ACCESS_DENIED;
    if (info.st_uid != self && info.st_uid != 0) return ERROR_ACCESS_DENIED;
    // Others may not write the store's own folder at all (they could place
    // its files first); a folder above it they may write only when sticky,
    // so they cannot move what is in it.
    if (OthersMayWrite(info) && (own || (info.st_mode & S_ISVTX) == 0)) return ERROR_ACCESS_DENIED;
    if (at == "/") return ERROR_SUCCESS;
    at = ParentOf(at);
  }
}

long OpenOwnFile(const std::string& path, int flags, unsigned mode, int& fd, bool* created) {
  if (created != nullptr) *created = false;
  const int access = flags & (O_ACCMODE | O_NONBLOCK);
  fd = -1;
  if ((flags & O_CREAT) != 0) {
    fd = ::open(path.c_str(), access | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) {
      // Its mode whatever the umask.
      if (::fchmod(fd, mode) != 0) {
        const int error = errno;
        ::close(fd);
        fd = -1;
        return CodeFromErrno(error);
      }
      if (created != nullptr) *created = true;
    } else if (errno != EEXIST) {
      return CodeFromErrno(errno);
    }
  }
  if (fd < 0) fd = ::open(path.c_str(), access | O_NOFOLLOW | O_CLOEXEC);
  // A folder in its place is as untrusted as any other thing.
  if (fd < 0) return errno == EISDIR ? ERROR_ACCESS_DENIED : CodeFromErrno(errno);
  struct stat info {};
  const long error = ::fstat(fd, &info) != 0               ? CodeFromErrno(errno)
                     : CheckOwnFile(info) != ERROR_SUCCESS ? ERROR_ACCESS_DENIED
                                                           : ERROR_SUCCESS;
  if (error != ERROR_SUCCESS) {
    ::close(fd);
    fd = -1;
  }
  return error;
}

long CheckStoreFiles(const std::string& base, std::initializer_list<const char*> suffixes) {
  for (const char* suffix : suffixes) {
    struct stat info {};
    if (::lstat((base + suffix).c_str(), &info) != 0) {
      if (errno == ENOENT) continue;
      return CodeFromErrno(errno);
    }
    if (CheckOwnFile(info) != ERROR_SUCCESS) return ERROR_ACCESS_DENIED;
  }
  return ERROR_SUCCESS;
}

long PrepareStoreFile(const std::string& path, unsigned mode, bool create, std::string& resolved) {
  const auto make = [mode](const std::string& named) {
    const int fd = ::open(named.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) return errno;
    // Its mode whatever the umask.
    ::fchmod(fd, mode);
    ::close(fd);
    return 0;
  };
  if (const long error = Resolve(path, create, make, resolved)) return error;
  if (const long error = CheckFolder(ParentOf(resolved))) return error;
  struct stat info {};
  if (::lstat(resolved.c_str(), &info) != 0) return CodeFromErrno(errno);
  if (const long error = CheckOwnFile(info)) return error;
  if (IsMountOfFile(resolved)) return ERROR_ACCESS_DENIED;
  return ERROR_SUCCESS;
}

long PrepareStoreFolder(const std::string& path, unsigned mode, bool create,
                        std::string& resolved) {
  const auto make = [mode](const std::string& named) {
    if (::mkdir(named.c_str(), mode) != 0) return errno;
    // Its mode whatever the umask.
    const int fd = ::open(named.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errno;
    const int error = ::fchmod(fd, mode) == 0 ? 0 : errno;
    ::close(fd);
    return error;
  };
  if (const long error = Resolve(path, create, make, resolved)) return error;
  return CheckFolder(resolved);
}

}  // namespace regkey::registry
