// What the store tests share: scratch folders, the helper child process
// that works on a store through the registry functions, store files reached
// as declared machines, and small readers of files and values.
#pragma once

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <iterator>
#include <poll.h>
#include <signal.h>
#include <string>
#include <string_view>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <windows.h>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "registry/machines.h"
#include "tests/support/child_process.h"

extern char** environ;

namespace regkey::test {

namespace fs = std::filesystem;

inline constexpr int kLineTimeoutMs = 20'000;  // a child that says nothing for this long hangs

// A folder of its own under the test temp folder, removed afterwards.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = ::testing::TempDir() + "regkey-store-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchFolder() {
    if (path_.empty()) return;
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A child process running the helper on the store file `store`, with pipes
// to its standard input and output.
class Child {
 public:
  struct Options {
    bool asNobody = false;  // when running as root: drop to the nobody user
    std::string folder;     // working folder; empty: this process's
    // Variables to remove, and NAME=VALUE entries to add. REGKEY_STORE and
    // XDG_DATA_HOME name the store unless `store` is empty.
    std::vector<std::string> unset;
    std::vector<std::string> set;

    static Options Nobody() {
      Options options;
      options.asNobody = true;
      return options;
    }
    static Options In(const std::string& folder) {
      Options options;
      options.folder = folder;
      return options;
    }
    static Options Environment(std::vector<std::string> unset, std::vector<std::string> set = {}) {
      Options options;
      options.unset = std::move(unset);
      options.set = std::move(set);
      return options;
    }
  };

  Child(const std::string& store, const std::vector<std::string>& args) : Child(store, args, {}) {}
  Child(const std::string& store, const std::vector<std::string>& args, const Options& options)
      : child_(Arguments(args), {.env = Environment(store, options),
                                 .folder = options.folder,
                                 .asNobody = options.asNobody,
                                 .errors = false}) {}

  bool started() const { return child_.started(); }

  // The next line the child prints, without its newline; false at the end
  // of its output or when it prints nothing for kLineTimeoutMs.
  bool ReadLine(std::string& line) { return child_.ReadLine(line, kLineTimeoutMs); }

  bool WriteLine(const std::string& line = "go") { return child_.WriteLine(line); }

  void Kill() { child_.Kill(); }

  // Waits for the child to end; returns its wait status.
  int Wait() { return child_.Wait(); }

  // Waits for the child and tells whether it exited with code 0.
  ::testing::AssertionResult Succeeded() {
    const int status = Wait();
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return ::testing::AssertionSuccess();
    if (WIFSIGNALED(status))
      return ::testing::AssertionFailure() << "child died of signal " << WTERMSIG(status);
    return ::testing::AssertionFailure() << "child exited with " << WEXITSTATUS(status);
  }

 private:
  static std::vector<std::string> Arguments(const std::vector<std::string>& args) {
    std::vector<std::string> argv{REGKEY_STORE_CHILD};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }

  static std::vector<std::string> Environment(const std::string& store, const Options& options) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string_view text(*entry);
      bool keep = !text.starts_with("REGKEY_STORE=") && !text.starts_with("XDG_DATA_HOME=");
      for (const std::string& name : options.unset)
        if (text.starts_with(name + "=")) keep = false;
      if (keep) env.emplace_back(text);
    }
    if (!store.empty()) {
      env.push_back("REGKEY_STORE=" + store);
      env.push_back("XDG_DATA_HOME=" + fs::path(store).parent_path().string());
    }
    env.insert(env.end(), options.set.begin(), options.set.end());
    return env;
  }

  ChildProcess child_;
};

// A store file reached from this process as a declared machine.
class Machine {
 public:
  explicit Machine(const std::string& store) {
    static std::atomic<int> counter{0};
    name_ = "store-test-" + std::to_string(++counter);
    declared_ = regkey::registry::DeclareMachine(name_, store);
  }
  ~Machine() { regkey::registry::ForgetMachine(name_); }
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  long declared() const { return declared_; }

  // HKEY_CURRENT_USER\path of this machine.
  LONG Open(const std::string& path, HKEY& key) {
    HKEY root = nullptr;
    if (const LONG code = RegConnectRegistryA(name_.c_str(), HKEY_CURRENT_USER, &root)) return code;
    const LONG code = RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key);
    RegCloseKey(root);
    return code;
  }
  LONG Create(const std::string& path, HKEY& key) {
    HKEY root = nullptr;
    if (const LONG code = RegConnectRegistryA(name_.c_str(), HKEY_CURRENT_USER, &root)) return code;
    const LONG code =
        RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegCloseKey(root);
    return code;
  }

 private:
  std::string name_;
  long declared_ = 0;
};

// Closes a key handle at the end of a scope.
struct KeyCloser {
  HKEY key = nullptr;
  ~KeyCloser() {
    if (key != nullptr) RegCloseKey(key);
  }
};

// SQLite's own verdict on a store file.
inline std::string IntegrityCheck(const std::string& store) {
  sqlite3* db = nullptr;
  std::string verdict = "cannot open";
  if (sqlite3_open_v2(store.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr) == SQLITE_OK) {
      verdict.clear();
      while (sqlite3_step(statement) == SQLITE_ROW)
        verdict += reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return verdict;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string QueryBytes(HKEY key, const std::string& name, LONG& code, DWORD& type) {
  DWORD size = 0;
  code = RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size);
  if (code != ERROR_SUCCESS) return {};
  std::string data(size, '\0');
  code = RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                          &size);
  data.resize(size);
  return data;
}

inline DWORD ValueCount(HKEY key, DWORD* subkeys = nullptr) {
  DWORD values = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, subkeys, nullptr,
                                            nullptr, &values, nullptr, nullptr, nullptr, nullptr));
  return values;
}

// Runs the probe on `store`: the codes of its first three calls, then of three
// more after `between` ran.
struct ProbeResult {
  std::string first;
  std::string again;
};

inline ::testing::AssertionResult Probe(
    const std::string& store, ProbeResult& result, Child::Options options = {},
    const std::function<void()>& between = [] {}) {
  Child child(store, {"probe"}, options);
  if (!child.started()) return ::testing::AssertionFailure() << "no child";
  if (!child.ReadLine(result.first))
    return ::testing::AssertionFailure() << "no answer: crashed or hung";
  between();
  child.WriteLine();
  if (!child.ReadLine(result.again))
    return ::testing::AssertionFailure() << "no second answer: crashed or hung";
  return child.Succeeded();
}

inline std::string Codes(long code) {
  const std::string one = std::to_string(code);
  return one + " " + one + " " + one;
}

// File modes do not stop root: the probe then runs as nobody, which needs
// the helper to be reachable for that user.
inline bool CanRunAsAnotherUser() {
  if (::geteuid() != 0) return true;
  Child child("/nonexistent/registry.db", {"true"}, Child::Options::Nobody());
  return child.started() && child.Succeeded();
}

// A file system mounted for the length of a scope (detached at its end).
class ScopedMount {
 public:
  ScopedMount(const std::string& source, const std::string& target, const char* type,
              unsigned long flags, const std::string& options = {})
      : target_(target) {
    if (::mount(source.c_str(), target.c_str(), type, flags,
                options.empty() ? nullptr : options.c_str()) != 0) {
      why_ = std::string("cannot mount here (") + std::strerror(errno) + ")";
      target_.clear();
    }
  }
  ~ScopedMount() {
    if (!target_.empty()) ::umount2(target_.c_str(), MNT_DETACH);
  }
  ScopedMount(const ScopedMount&) = delete;
  ScopedMount& operator=(const ScopedMount&) = delete;

  bool ok() const { return !target_.empty(); }
  const std::string& why() const { return why_; }
  bool Remount(const std::string& options) {
    return ::mount("none", target_.c_str(), nullptr, MS_REMOUNT, options.c_str()) == 0;
  }

 private:
  std::string target_;
  std::string why_;
};

// A process that cached a value and armed a request for the values of its
// key (on `watcherStore`), then `between` runs, then another process (on
// `writerStore`) changes the value: the first must stay alive, see the new
// value and have its request signalled.
inline ::testing::AssertionResult WatcherSeesChange(const std::string& watcherStore,
                                                    const std::string& writerStore,
                                                    const std::function<void()>& between,
                                                    const Child::Options& watcherOptions = {}) {
  const std::string key = "Software\\regkey-tests\\followed";
  {
    Child setter(writerStore, {"set", key, "v", "1"});
    if (!setter.Succeeded())
      return ::testing::AssertionFailure() << "setting the first value failed";
  }
  Child watcher(watcherStore, {"watch", key, "v"}, watcherOptions);
  std::string line;
  if (!watcher.ReadLine(line) || line != "ready 1")
    return ::testing::AssertionFailure() << "watcher did not start: " << line;
  between();
  watcher.WriteLine();
  if (!watcher.ReadLine(line))
    return ::testing::AssertionFailure() << "watcher died: " << watcher.Succeeded().message();
  if (line != "alive 0") return ::testing::AssertionFailure() << "watcher: " << line;
  {
    Child setter(writerStore, {"set", key, "v", "2"});
    if (!setter.Succeeded()) return ::testing::AssertionFailure() << "setting the new value failed";
  }
  watcher.WriteLine();
  if (!watcher.ReadLine(line))
    return ::testing::AssertionFailure() << "watcher died: " << watcher.Succeeded().message();
  if (line != "seen 2 1")
    return ::testing::AssertionFailure() << "watcher: " << line << " (want seen 2 1)";
  return watcher.Succeeded();
}

}  // namespace regkey::test
