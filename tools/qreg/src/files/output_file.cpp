#include "tools/qreg/src/files/output_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <climits>
#include <unistd.h>
#endif

namespace qreg {
namespace {

std::string Reason() { return std::strerror(errno); }

#ifdef _WIN32
// CON, NUL, PRN, AUX, COM1-9, LPT1-9, with or without an extension.
bool IsDeviceName(const std::string& path) {
  std::string name = path.substr(path.find_last_of("\\/:") + 1);
  name = name.substr(0, name.find('.'));
  for (char& c : name) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  if (name == "CON" || name == "NUL" || name == "PRN" || name == "AUX") return true;
  return name.size() == 4 && (name.starts_with("COM") || name.starts_with("LPT")) &&
         name[3] >= '1' && name[3] <= '9';
}
#else
bool UnderSystemFolders(const std::string& path) {
  return path.starts_with("/dev/") || path.starts_with("/proc/");
}

// The path a chain of symbolic links ends at (the path itself when it is
// none); that path need not exist.
std::string FollowLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    std::string target(PATH_MAX, '\0');
    const ssize_t n = readlink(path.c_str(), target.data(), target.size());
    if (n <= 0) break;
    target.resize(static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    path = target.starts_with('/') || slash == std::string::npos
               ? target
               : path.substr(0, slash + 1) + target;
  }
  return path;
}
#endif

// The file Commit replaces: the plain file path leads to, existing or not;
// empty when path leads elsewhere (standard output, a pipe, a device).
std::string ReplacedFile(const std::string& path) {
  if (path == "-") return std::string();
#ifdef _WIN32
  if (IsDeviceName(path)) return std::string();
  struct _stat64 st {};
  if (_stat64(path.c_str(), &st) == 0 && (st.st_mode & _S_IFMT) != _S_IFREG) return std::string();
  return path;
#else
  if (UnderSystemFolders(path)) return std::string();
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) return std::string();
    char* real = realpath(path.c_str(), nullptr);
    if (real == nullptr) return path;
    std::string resolved(real);
    std::free(real);
    return resolved;
  }
  return FollowLinks(path);
#endif
}

// Bytes gathered for a temporary file before they are written.
constexpr size_t kPendingLimit = 1u << 16;

bool WriteAll(int fd, std::string_view bytes, std::string& why) {
  while (!bytes.empty()) {
#ifdef _WIN32
    const int n =
        _write(fd, bytes.data(), static_cast<unsigned>(std::min<size_t>(bytes.size(), 1u << 20)));
#else
    const ssize_t n = write(fd, bytes.data(), bytes.size());
#endif
    if (n < 0) {
      if (errno == EINTR) continue;
      why = Reason();
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

bool OutputFile::ReplacesFile(const std::string& path) {
  const std::string file = ReplacedFile(path);
  if (file.empty()) return false;
  struct stat st {};
  return stat(file.c_str(), &st) == 0;
}

OutputFile::~OutputFile() {
  if (owned_ && fd_ >= 0) close(fd_);
  if (!temporary_.empty()) std::remove(temporary_.c_str());
}

bool OutputFile::Open(const std::string& path, std::string& why) {
  if (path == "-") {
#ifdef _WIN32
    _setmode(1, _O_BINARY);
#endif
    std::fflush(stdout);
    fd_ = 1;
    standardOutput_ = true;
    return true;
  }
  const std::string file = ReplacedFile(path);
  if (file.empty()) {  // written in place; never created
#ifdef _WIN32
    fd_ = _open(path.c_str(), _O_WRONLY | _O_BINARY);
#else
    fd_ = open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
#endif
    if (fd_ < 0) {
      why = Reason();
      return false;
    }
    owned_ = true;
#ifndef _WIN32
    struct stat out {
    }, standard{};
    standardOutput_ = fstat(fd_, &out) == 0 && fstat(1, &standard) == 0 &&
                      out.st_dev == standard.st_dev && out.st_ino == standard.st_ino;
    if (S_ISREG(out.st_mode) && ftruncate(fd_, 0) != 0) {
      why = Reason();
      return false;
    }
#endif
    return true;
  }
#ifdef _WIN32
  temporary_ = file + ".qreg-tmp";
  fd_ =
      _open(temporary_.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd_ < 0) {
    why = Reason();
    temporary_.clear();
    return false;
  }
#else
  const size_t slash = file.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : file.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? file : file.substr(slash + 1);
  std::string pattern =
      (slash == std::string::npos ? std::string() : folder) + "." + base + ".qreg-XXXXXX";
  fd_ = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd_ < 0) {
    why = Reason();
    return false;
  }
  temporary_ = pattern;
  struct stat st {};
  if (stat(file.c_str(), &st) == 0) {
    if (fchown(fd_, st.st_uid, st.st_gid) != 0) {
      // Another user's file stays that user's only when this process may give it away.
    }
    fchmod(fd_, st.st_mode & 07777);
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd_, 0666 & ~mask);
  }
#endif
  owned_ = true;
  target_ = file;
  return true;
}

bool OutputFile::Write(std::string_view bytes, std::string& why) {
  if (temporary_.empty()) return WriteAll(fd_, bytes, why);
  pending_ += bytes;
  if (pending_.size() < kPendingLimit) return true;
  const bool written = WriteAll(fd_, pending_, why);
  pending_.clear();
  return written;
}

bool OutputFile::Commit(std::string& why) {
  if (!owned_) return true;
  if (!pending_.empty()) {
    const bool written = WriteAll(fd_, pending_, why);
    pending_.clear();
    if (!written) return false;
  }
#ifndef _WIN32
  if (!target_.empty() && fsync(fd_) != 0) {
    why = Reason();
    return false;
  }
#endif
  const int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0) {
    why = Reason();
    return false;
  }
  if (target_.empty()) return true;
#ifdef _WIN32
  if (!MoveFileExA(temporary_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    why = "the file could not be replaced";
    return false;
  }
#else
  if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
    why = Reason();
    return false;
  }
#endif
  temporary_.clear();
  return true;
}

}  // namespace qreg
