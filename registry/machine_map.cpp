#include "registry/machine_map.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "registry/names.h"

namespace regkey::registry {
namespace {

constexpr std::size_t kMaxMapBytes = 1u << 20;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

bool StartsWith(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

bool IsUri(std::string_view store) {
  return StartsWith(store, "postgresql://") || StartsWith(store, "postgres://");
}

// A password in the URI's user part ("user:secret@") or its parameters.
bool UriCarriesPassword(std::string_view uri) {
  const std::size_t start = uri.find("//") + 2;
  const std::size_t end = uri.find_first_of("/?", start);
  const std::string_view authority = uri.substr(start, end - start);
  const std::size_t at = authority.rfind('@');
  if (at != std::string_view::npos && authority.substr(0, at).find(':') != std::string_view::npos)
    return true;
  const std::size_t query = uri.find('?');
  if (query == std::string_view::npos) return false;
  const std::string_view parameters = uri.substr(query);
  for (std::size_t at = parameters.find("password="); at != std::string_view::npos;
       at = parameters.find("password=", at + 1)) {
    if (parameters[at - 1] == '?' || parameters[at - 1] == '&') return true;
  }
  return false;
}

std::string Where(const std::string& file, std::size_t line) {
  return file + ":" + std::to_string(line) + ": ";
}

}  // namespace

std::string MachineKey(std::string_view name) {
  while (StartsWith(name, "\\")) name.remove_prefix(1);
  return Fold(name);
}

void ParseMachineMap(std::string_view text, const std::string& file, bool othersMayRead,
                     MachineMap& map) {
  std::size_t number = 0;
  while (!text.empty()) {
    ++number;
    const std::size_t newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
    while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    std::size_t split = 0;
    while (split < line.size() && !IsBlank(line[split])) ++split;
    const std::string name = MachineKey(line.substr(0, split));
    std::string_view store = line.substr(split);
    while (!store.empty() && IsBlank(store.front())) store.remove_prefix(1);
    // Problems never quote the store: a URI may carry a password.
    std::string problem;
    if (name.empty()) {
      problem = "a machine name is missing";
    } else if (store.empty()) {
      problem = "machine " + name + " has no store";
    } else if (line.find('\0') != std::string_view::npos) {
      problem = "a NUL byte in the line";
    } else if (!IsUri(store) && store != ":memory:" && store.front() != '/') {
      problem = "machine " + name +
                ": the store is neither an absolute path, :memory: nor a postgresql:// URI";
    } else if (IsUri(store) && othersMayRead && UriCarriesPassword(store)) {
      problem = "machine " + name +
                ": a password in a file that others may read (use ~/.pgpass or PGPASSFILE)";
    } else if (map.stores.count(name) != 0) {
      problem = "machine " + name + " is named twice; the first line serves";
    }
    if (!problem.empty()) {
      map.problems.push_back(Where(file, number) + problem);
      continue;
    }
    map.stores.emplace(name, std::string(store));
  }
}

std::string MachineMapPath() {
  if (const char* path = std::getenv("REGKEY_MACHINES"); path != nullptr && *path != '\0')
    return path;
  std::string user;
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/') {
    user = std::string(config) + "/regkey/machines.conf";
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
    user = std::string(home) + "/.config/regkey/machines.conf";
  }
  struct stat info {};
  if (!user.empty() && ::lstat(user.c_str(), &info) == 0) return user;
  return "/etc/regkey/machines.conf";
}

void ReadMachineMap(const std::string& path, bool required, MachineMap& map) {
  map.file = path;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errno != ENOENT || required)
      map.problems.push_back(path + ": cannot be read: " + std::strerror(errno));
    return;
  }
  struct stat info {};
  std::string problem;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    problem = "not a regular file";
  } else if (info.st_uid != ::geteuid() && info.st_uid != 0) {
    problem = "owned by another user";
  } else if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    problem = "writable by others than its owner";
  } else if (static_cast<std::size_t>(info.st_size) > kMaxMapBytes) {
    problem = "larger than 1 MiB";
  }
  std::string text;
  if (problem.empty()) {
    text.resize(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t got = ::read(fd, text.data() + done, text.size() - done);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      done += static_cast<std::size_t>(got);
    }
    text.resize(done);
  }
  ::close(fd);
  if (!problem.empty()) {
    map.problems.push_back(path + ": refused: " + problem);
    return;
  }
  ParseMachineMap(text, path, (info.st_mode & (S_IRGRP | S_IROTH)) != 0, map);
}

}  // namespace regkey::registry
