// The other process of the store tests. It works on this process's own
// registry (the store that REGKEY_STORE names) and talks to the test over its
// standard input and output, one line at a time:
//
//   stream KEY                 sets the values of StreamData(i) under HKCU\KEY,
//                              one call each, printing i after each success,
//                              until killed
//   fill KEYA KEYB TAG COUNT TAGS...
//                              waits for a line, then sets COUNT values
//                              "TAG-i" (alternately under HKCU\KEYA and
//                              HKCU\KEYB) and the value "shared", creates
//                              KEYA\sub<j> for every tenth i, prints "created
//                              j" for each subkey it created new and "done";
//                              waits for another line, then prints what it
//                              sees now: "values A B", "subkeys N", "missing M"
//                              (of the COUNT values of each of TAGS)
//   set KEY NAME [N]           sets the DWORD value NAME (N, else 1) under
//                              HKCU\KEY
//   watch KEY NAME             opens HKCU\KEY, arms a request for its values
//                              and prints "ready V" (NAME's value, 0 when
//                              missing); after a line, queries NAME and prints
//                              "alive CODE"; after another line, waits up to
//                              5 s for NAME to change and the event to be
//                              signalled, then prints "seen V SIGNALLED"
//   create KEY [gated]         creates HKCU\KEY (gated: after a line on its
//                              input, its first registry call)
//   try-create KEY             creates HKCU\KEY and prints the code
//   probe                      prints the codes of three calls; after a line
//                              on its input, of the same three calls again
//   true                       does nothing
//
// Exits 0 when every call it made succeeded (probe: always), else 1.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>
#include <windows.h>

#include "tests/registry/store_child_protocol.h"

namespace {

using regkey::test::FillValueData;
using regkey::test::FillValueName;
using regkey::test::StreamData;
using regkey::test::StreamName;

int Fail(const char* what, LONG code) {
  std::fprintf(stderr, "store child: %s failed: %ld\n", what, static_cast<long>(code));
  return 1;
}

void WaitForLine() {
  std::string line;
  std::getline(std::cin, line);
}

LONG Create(const std::string& path, HKEY& key, DWORD* disposition = nullptr) {
  return RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                         &key, disposition);
}

int Stream(const std::string& path) {
  HKEY key = nullptr;
  if (const LONG code = Create(path, key)) return Fail("create", code);
  for (unsigned i = 0;; ++i) {
    const std::string data = StreamData(i);
    if (const LONG code = RegSetValueExA(key, StreamName(i).c_str(), 0, REG_BINARY,
                                         reinterpret_cast<const BYTE*>(data.data()),
                                         static_cast<DWORD>(data.size())))
      return Fail("set", code);
    // Unbuffered, so that the line leaves before the next call begins.
    const std::string line = std::to_string(i) + "\n";
    if (::write(STDOUT_FILENO, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
      return 1;
  }
}

int Fill(const std::string& pathA, const std::string& pathB, const std::string& tag, unsigned count,
         const std::vector<std::string>& allTags) {
  HKEY keys[2] = {};
  if (const LONG code = Create(pathA, keys[0])) return Fail("create A", code);
  if (const LONG code = Create(pathB, keys[1])) return Fail("create B", code);
  WaitForLine();
  for (unsigned i = 0; i < count; ++i) {
    const std::string data = FillValueData(tag, i);
    const BYTE* bytes = reinterpret_cast<const BYTE*>(data.data());
    const auto size = static_cast<DWORD>(data.size());
    if (const LONG code =
            RegSetValueExA(keys[i % 2], FillValueName(tag, i).c_str(), 0, REG_SZ, bytes, size))
      return Fail("set", code);
    if (const LONG code = RegSetValueExA(keys[i % 2], "shared", 0, REG_SZ, bytes, size))
      return Fail("set shared", code);
    if (i % 10 == 0) {
      HKEY sub = nullptr;
      DWORD disposition = 0;
      if (const LONG code = Create(pathA + "\\sub" + std::to_string(i / 10), sub, &disposition))
        return Fail("create subkey", code);
      RegCloseKey(sub);
      if (disposition == REG_CREATED_NEW_KEY) std::cout << "created " << i / 10 << "\n";
    }
  }
  std::cout << "done" << std::endl;
  WaitForLine();
  // What this process sees once both are done, through the handles it kept.
  DWORD values[2] = {};
  DWORD subkeys = 0;
  for (int k = 0; k < 2; ++k) {
    if (const LONG code =
            RegQueryInfoKeyA(keys[k], nullptr, nullptr, nullptr, k == 0 ? &subkeys : nullptr,
                             nullptr, nullptr, &values[k], nullptr, nullptr, nullptr, nullptr))
      return Fail("query info", code);
  }
  unsigned missing = 0;
  for (const std::string& other : allTags) {
    for (unsigned i = 0; i < count; ++i) {
      char data[64] = {};
      DWORD size = sizeof data;
      DWORD type = 0;
      const LONG code = RegQueryValueExA(keys[i % 2], FillValueName(other, i).c_str(), nullptr,
                                         &type, reinterpret_cast<BYTE*>(data), &size);
      if (code != ERROR_SUCCESS || type != REG_SZ ||
          std::string(data, size) != FillValueData(other, i))
        ++missing;
    }
  }
  std::cout << "values " << values[0] << " " << values[1] << "\nsubkeys " << subkeys << "\nmissing "
            << missing << std::endl;
  RegCloseKey(keys[0]);
  RegCloseKey(keys[1]);
  return 0;
}

int Set(const std::string& path, const std::string& name, DWORD data) {
  HKEY key = nullptr;
  if (const LONG code = Create(path, key)) return Fail("create", code);
  const LONG code =
      RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), 4);
  RegCloseKey(key);
  return code == ERROR_SUCCESS ? 0 : Fail("set", code);
}

int CreateOnly(const std::string& path) {
  HKEY key = nullptr;
  if (const LONG code = Create(path, key)) return Fail("create", code);
  RegCloseKey(key);
  return 0;
}

LONG ReadDword(HKEY key, const std::string& name, DWORD& value) {
  value = 0;
  DWORD size = sizeof value;
  DWORD type = 0;
  return RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value),
                          &size);
}

int Watch(const std::string& path, const std::string& name) {
  HKEY key = nullptr;
  if (const LONG code = Create(path, key)) return Fail("create", code);
  DWORD first = 0;
  ReadDword(key, name, first);
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr) return Fail("create event", 0);
  if (const LONG code =
          RegNotifyChangeKeyValue(key, FALSE, REG_NOTIFY_CHANGE_LAST_SET, event, TRUE))
    return Fail("notify", code);
  std::cout << "ready " << first << std::endl;
  WaitForLine();
  DWORD now = 0;
  std::cout << "alive " << ReadDword(key, name, now) << std::endl;
  WaitForLine();
  bool signalled = false;
  for (int waited = 0; waited < 5000; waited += 5) {
    signalled = signalled || WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
    ReadDword(key, name, now);
    if (signalled && now != first) break;
    Sleep(5);
  }
  std::cout << "seen " << now << " " << (signalled ? 1 : 0) << std::endl;
  CloseHandle(event);
  RegCloseKey(key);
  return 0;
}

// A query on a root, an open and a create: the first calls a program makes.
void ProbeOnce() {
  DWORD size = 0;
  const LONG query = RegQueryValueExA(HKEY_CURRENT_USER, "probe", nullptr, nullptr, nullptr, &size);
  HKEY key = nullptr;
  const LONG open = RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key);
  if (open == ERROR_SUCCESS) RegCloseKey(key);
  key = nullptr;
  const LONG create = Create("Software\\regkey-tests\\probe", key);
  if (create == ERROR_SUCCESS) RegCloseKey(key);
  std::cout << query << " " << open << " " << create << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 2 && args[0] == "stream") return Stream(args[1]);
  if (args.size() >= 6 && args[0] == "fill")
    return Fill(args[1], args[2], args[3], static_cast<unsigned>(std::stoul(args[4])),
                std::vector<std::string>(args.begin() + 5, args.end()));
  if ((args.size() == 3 || args.size() == 4) && args[0] == "set")
    return Set(args[1], args[2], args.size() == 4 ? std::stoul(args[3]) : 1);
  if (args.size() == 3 && args[0] == "watch") return Watch(args[1], args[2]);
  if (args.size() == 2 && args[0] == "try-create") {
    HKEY key = nullptr;
    const LONG code = Create(args[1], key);
    if (code == ERROR_SUCCESS) RegCloseKey(key);
    std::cout << code << std::endl;
    return 0;
  }
  if (args.size() == 2 && args[0] == "create") return CreateOnly(args[1]);
  if (args.size() == 3 && args[0] == "create" && args[2] == "gated") {
    WaitForLine();
    return CreateOnly(args[1]);
  }
  if (args.size() == 1 && args[0] == "true") return 0;
  if (args.size() == 1 && args[0] == "probe") {
    ProbeOnce();
    WaitForLine();
    ProbeOnce();
    return 0;
  }
  std::fprintf(stderr, "store child: unknown command\n");
  return 2;
}
