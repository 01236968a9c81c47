// A key path of a test's own under HKEY_CURRENT_USER, removed with its whole
// subtree when the test ends, so tests can run in parallel and leave the
// registry as they found it. Uses the plain Win32 functions only.
#pragma once

#include <atomic>
#include <string>
#include <vector>
#include <windows.h>

#ifdef _WIN32
#include <process.h>
#define REGKEY_TEST_PID _getpid()
#else
#include <unistd.h>
#define REGKEY_TEST_PID getpid()
#endif

namespace regkey::test {

// The names of an open key's subkeys, in the registry's order, up to the
// first failure.
inline std::vector<std::string> SubKeyNames(HKEY key) {
  std::vector<std::string> children;
  char name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = sizeof name;
    if (RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    children.emplace_back(name, length);
  }
  return children;
}

// Deletes the subtree below an open key, each child opened relative to its
// parent (Wine's ANSI functions refuse paths longer than 260 characters).
inline void DeleteChildren(HKEY key) {
  for (const std::string& child : SubKeyNames(key)) {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(key, child.c_str(), 0, KEY_ALL_ACCESS, &opened) != ERROR_SUCCESS) continue;
    DeleteChildren(opened);
    RegCloseKey(opened);
    RegDeleteKeyA(key, child.c_str());
  }
}

// Deletes root\path and everything below it; a missing key is no error.
inline void DeleteTree(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  DeleteChildren(key);
  RegCloseKey(key);
  RegDeleteKeyA(root, path.c_str());
}

class ScratchKey {
 public:
  explicit ScratchKey(const char* tag) {
    static std::atomic<int> counter{0};
    // Directly below Software: a common parent that one test process deletes
    // would race with another process creating a key below it (Wine then
    // reports ERROR_KEY_DELETED).
    path_ = std::string("Software\\regkey-tests-") + tag + "-" + std::to_string(REGKEY_TEST_PID) +
            "-" + std::to_string(++counter);
    DeleteTree(HKEY_CURRENT_USER, path_);
  }
  ~ScratchKey() { DeleteTree(HKEY_CURRENT_USER, path_); }
  ScratchKey(const ScratchKey&) = delete;
  ScratchKey& operator=(const ScratchKey&) = delete;

  HKEY root() const { return HKEY_CURRENT_USER; }
  const std::string& path() const { return path_; }
  // Creates (or opens) this key with all access into `key`.
  LONG Create(HKEY& key) const {
    return RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                           &key, nullptr);
  }
  // The path of a key below this one.
  std::string operator/(const std::string& child) const { return path_ + "\\" + child; }

 private:
  std::string path_;
};

}  // namespace regkey::test
