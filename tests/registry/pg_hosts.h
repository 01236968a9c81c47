// "Hosts" on one PostgreSQL database for the store tests: each a machine
// declared with a URI of its own (its own connection, cache and watcher),
// reached through RegConnectRegistryA as another machine would be.
#pragma once

#include <chrono>
#include <string>
#include <windows.h>

#include <gtest/gtest.h>

#include "registry/machines.h"

namespace regkey::test {

// `uri` with another libpq parameter.
inline std::string WithParameter(const std::string& uri, const std::string& parameter) {
  return uri + (uri.find('?') == std::string::npos ? "?" : "&") + parameter;
}

// Declares machine `name` on `uri` and opens its HKEY_LOCAL_MACHINE.
inline LONG ConnectHost(const std::string& uri, const std::string& name, HKEY& root) {
  root = nullptr;
  if (const long error =
          registry::DeclareMachine(name, WithParameter(uri, "application_name=" + name)))
    return error;
  return RegConnectRegistryA(("\\\\" + name).c_str(), HKEY_LOCAL_MACHINE, &root);
}

inline HKEY CreateKey(HKEY root, const std::string& path, DWORD* disposition = nullptr) {
  HKEY key = nullptr;
  const LONG error = RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                     &key, disposition);
  EXPECT_EQ(ERROR_SUCCESS, error) << path;
  return key;
}

// Deletes what an earlier run left at `path` (the test database stays
// between runs).
inline void RemoveTree(HKEY root, const std::string& path) {
  const LONG error = RegDeleteTreeA(root, path.c_str());
  EXPECT_TRUE(error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND) << path << ": " << error;
}

inline LONG SetString(HKEY key, const std::string& name, const std::string& data) {
  return RegSetValueExA(key, name.c_str(), 0, REG_BINARY,
                        reinterpret_cast<const BYTE*>(data.data()),
                        static_cast<DWORD>(data.size()));
}

inline std::string QueryString(HKEY key, const std::string& name, LONG* error = nullptr) {
  BYTE data[4096];
  DWORD size = sizeof data;
  DWORD type = 0;
  const LONG code = RegQueryValueExA(key, name.c_str(), nullptr, &type, data, &size);
  if (error != nullptr) *error = code;
  return code == ERROR_SUCCESS ? std::string(reinterpret_cast<char*>(data), size) : std::string();
}

// Another host (its root `other`) sets value `name` of the key at `path` to
// `data`: the request armed on `watched` (the same key, or one above it) with
// `event` wakes, and `reader` (a handle on that key, here) reads the new data.
inline void ExpectSetElsewhereWakesAndIsRead(HKEY watched, bool subtree, HANDLE event, HKEY other,
                                             const std::string& path, HKEY reader,
                                             const std::string& name, const std::string& data) {
  ASSERT_EQ(ERROR_SUCCESS,
            RegNotifyChangeKeyValue(watched, subtree, REG_NOTIFY_CHANGE_LAST_SET, event, TRUE));
  HKEY theirs = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(other, path.c_str(), 0, KEY_ALL_ACCESS, &theirs));
  EXPECT_EQ(ERROR_SUCCESS, SetString(theirs, name, data));
  RegCloseKey(theirs);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 2000));
  EXPECT_EQ(data, QueryString(reader, name));
}

// Two hosts with a handle each on one key, `path` below their HKLM, emptied
// of what an earlier run left there.
class TwoHosts {
 public:
  TwoHosts(const std::string& uri, const std::string& name, const std::string& path) {
    if (ConnectHost(uri, name + "-a", a_) != ERROR_SUCCESS ||
        ConnectHost(uri, name + "-b", b_) != ERROR_SUCCESS) {
      ADD_FAILURE() << "cannot reach the server as " << name;
      return;
    }
    RemoveTree(a_, path);
    mine = CreateKey(a_, path);
    theirs = CreateKey(b_, path);
  }
  ~TwoHosts() {
    for (HKEY handle : {theirs, mine, b_, a_})
      if (handle != nullptr) RegCloseKey(handle);
  }
  TwoHosts(const TwoHosts&) = delete;
  TwoHosts& operator=(const TwoHosts&) = delete;

  HKEY mine = nullptr;    // the first host's
  HKEY theirs = nullptr;  // the other's

 private:
  HKEY a_ = nullptr;
  HKEY b_ = nullptr;
};

// Milliseconds since `start`.
inline long long MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

}  // namespace regkey::test
