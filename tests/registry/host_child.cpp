// A "host" for the machine tests: a process with its own environment (machine
// map, user store) that runs registry commands read from its standard input,
// one per line, and prints one line per command, starting with the Win32
// code. Words are separated by blanks; %XX in a word stands for the byte XX,
// so names may hold blanks, quotes, backslashes and any byte. A key is
// written [\\MACHINE\]ROOT[\PATH], ROOT one of HKCR HKCU HKLM HKU HKCC.
//
//   create KEY                 code disposition
//   set KEY NAME DATA          code            (REG_BINARY; DATA may be "-" for none)
//   get KEY NAME               code DATA       (DATA %-escaped, "-" for none)
//   delete KEY                 code            (the key, without subkeys)
//   list KEY                   code N NAME...  (subkeys, %-escaped)
//   watch KEY SUBTREE FILTER   code            (arms a notification; keeps the key open)
//   wait MS                    signalled|timeout ELAPSED_MS
//   count KEY FROM TO TAG      code MISSING    (values TAG-i for FROM <= i < TO)
//   fill KEYA KEYB FROM TO TAG code            (sets TAG-i alternately under KEYA and KEYB)
//   stream KEY TAG             prints i after the value TAG-i is set, until killed
//   quit
#include <chrono>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>
#include <windows.h>

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string Decode(const std::string& word) {
  std::string out;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (word[i] == '%' && i + 2 < word.size() && HexDigit(word[i + 1]) >= 0 &&
        HexDigit(word[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(word[i + 1]) * 16 + HexDigit(word[i + 2]));
      i += 2;
    } else {
      out += word[i];
    }
  }
  return out;
}

std::string Encode(const std::string& bytes) {
  if (bytes.empty()) return "-";
  std::string out;
  for (const unsigned char c : bytes) {
    if (c > ' ' && c < 0x7F && c != '%') {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

struct KeyName {
  std::string machine;
  HKEY root = nullptr;
  std::string path;
};

bool ParseKey(const std::string& text, KeyName& key) {
  std::string rest = text;
  if (rest.rfind("\\\\", 0) == 0) {
    const std::size_t end = rest.find('\\', 2);
    if (end == std::string::npos) return false;
    key.machine = rest.substr(0, end);
    rest = rest.substr(end + 1);
  }
  const std::size_t end = rest.find('\\');
  const std::string root = rest.substr(0, end);
  key.path = end == std::string::npos ? std::string() : rest.substr(end + 1);
  const struct {
    const char* name;
    HKEY key;
  } roots[] = {{"HKCR", HKEY_CLASSES_ROOT},
               {"HKCU", HKEY_CURRENT_USER},
               {"HKLM", HKEY_LOCAL_MACHINE},
               {"HKU", HKEY_USERS},
               {"HKCC", HKEY_CURRENT_CONFIG}};
  for (const auto& r : roots)
    if (root == r.name) key.root = r.key;
  return key.root != nullptr;
}

// Opens (or creates) the key; `connected` gets the connection to close.
LONG Reach(const std::string& text, bool create, HKEY& key, HKEY& connected,
           DWORD* disposition = nullptr) {
  KeyName name;
  key = connected = nullptr;
  if (!ParseKey(text, name)) return ERROR_INVALID_PARAMETER;
  HKEY base = name.root;
  if (!name.machine.empty()) {
    if (const LONG code = RegConnectRegistryA(name.machine.c_str(), name.root, &connected))
      return code;
    base = connected;
  }
  if (create)
    return RegCreateKeyExA(base, name.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                           disposition);
  return RegOpenKeyExA(base, name.path.c_str(), 0, KEY_ALL_ACCESS, &key);
}

void Release(HKEY key, HKEY connected) {
  if (key != nullptr) RegCloseKey(key);
  if (connected != nullptr) RegCloseKey(connected);
}

LONG SetBytes(HKEY key, const std::string& name, const std::string& data) {
  return RegSetValueExA(key, name.c_str(), 0, REG_BINARY,
                        reinterpret_cast<const BYTE*>(data.data()),
                        static_cast<DWORD>(data.size()));
}

LONG GetBytes(HKEY key, const std::string& name, std::string& data) {
  DWORD size = 0;
  DWORD type = 0;
  LONG code = RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size);
  if (code != ERROR_SUCCESS) return code;
  data.assign(size, '\0');
  code = RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                          &size);
  data.resize(size);
  return code;
}

std::string ValueName(const std::string& tag, long i) { return tag + "-" + std::to_string(i); }

struct Watch {
  HKEY key = nullptr;
  HKEY connected = nullptr;
  HANDLE event = nullptr;
};

}  // namespace

int main() {
  Watch watch;
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string word; words >> word;) w.push_back(Decode(word));
    if (w.empty()) continue;
    const std::string& command = w[0];
    std::ostringstream out;
    HKEY key = nullptr;
    HKEY connected = nullptr;
    if (command == "quit") break;
    if (command == "create" && w.size() == 2) {
      DWORD disposition = 0;
      const LONG code = Reach(w[1], true, key, connected, &disposition);
      out << code << " " << disposition;
    } else if (command == "set" && w.size() == 4) {
      LONG code = Reach(w[1], true, key, connected);
      if (code == ERROR_SUCCESS) code = SetBytes(key, w[2], w[3] == "-" ? std::string() : w[3]);
      out << code;
    } else if (command == "get" && w.size() == 3) {
      std::string data;
      LONG code = Reach(w[1], false, key, connected);
      if (code == ERROR_SUCCESS) code = GetBytes(key, w[2], data);
      out << code << " " << Encode(data);
    } else if (command == "delete" && w.size() == 2) {
      KeyName name;
      LONG code = ERROR_INVALID_PARAMETER;
      if (ParseKey(w[1], name)) {
        HKEY base = name.root;
        code = name.machine.empty()
                   ? ERROR_SUCCESS
                   : RegConnectRegistryA(name.machine.c_str(), name.root, &connected);
        if (connected != nullptr) base = connected;
        if (code == ERROR_SUCCESS) code = RegDeleteKeyA(base, name.path.c_str());
      }
      out << code;
    } else if (command == "list" && w.size() == 2) {
      LONG code = Reach(w[1], false, key, connected);
      std::vector<std::string> names;
      for (DWORD i = 0; code == ERROR_SUCCESS; ++i) {
        char name[256];
        DWORD length = sizeof name;
        code = RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (code == ERROR_SUCCESS) names.emplace_back(name, length);
      }
      if (code == ERROR_NO_MORE_ITEMS) code = ERROR_SUCCESS;
      out << code << " " << names.size();
      for (const std::string& name : names) out << " " << Encode(name);
    } else if (command == "watch" && w.size() == 4) {
      Release(watch.key, watch.connected);
      if (watch.event == nullptr) watch.event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
      ResetEvent(watch.event);
      LONG code = Reach(w[1], false, watch.key, watch.connected);
      if (code == ERROR_SUCCESS)
        code = RegNotifyChangeKeyValue(watch.key, w[2] == "1", std::stoul(w[3], nullptr, 0),
                                       watch.event, TRUE);
      out << code;
    } else if (command == "wait" && w.size() == 2) {
      const auto start = std::chrono::steady_clock::now();
      const DWORD result =
          watch.event == nullptr ? WAIT_FAILED : WaitForSingleObject(watch.event, std::stoul(w[1]));
      const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now() - start);
      out << (result == WAIT_OBJECT_0 ? "signalled" : "timeout") << " " << elapsed.count();
    } else if (command == "count" && w.size() == 5) {
      LONG code = Reach(w[1], false, key, connected);
      long missing = 0;
      for (long i = std::stol(w[2]); code == ERROR_SUCCESS && i < std::stol(w[3]); ++i) {
        std::string data;
        const LONG got = GetBytes(key, ValueName(w[4], i), data);
        if (got == ERROR_FILE_NOT_FOUND || (got == ERROR_SUCCESS && data != ValueName(w[4], i)))
          ++missing;
        else if (got != ERROR_SUCCESS)
          code = got;
      }
      out << code << " " << missing;
    } else if (command == "fill" && w.size() == 6) {
      HKEY keys[2] = {};
      HKEY connections[2] = {};
      LONG code = Reach(w[1], true, keys[0], connections[0]);
      if (code == ERROR_SUCCESS) code = Reach(w[2], true, keys[1], connections[1]);
      for (long i = std::stol(w[3]); code == ERROR_SUCCESS && i < std::stol(w[4]); ++i)
        code = SetBytes(keys[i % 2], ValueName(w[5], i), ValueName(w[5], i));
      Release(keys[0], connections[0]);
      Release(keys[1], connections[1]);
      out << code;
    } else if (command == "stream" && w.size() == 3) {
      LONG code = Reach(w[1], true, key, connected);
      for (long i = 0; code == ERROR_SUCCESS; ++i) {
        code = SetBytes(key, ValueName(w[2], i), ValueName(w[2], i));
        // Unbuffered, so that the line leaves before the next call begins.
        const std::string done = std::to_string(i) + "\n";
        if (code == ERROR_SUCCESS &&
            ::write(STDOUT_FILENO, done.data(), done.size()) != static_cast<ssize_t>(done.size()))
          return 1;
      }
      out << code;
    } else {
      out << "unknown command";
    }
    Release(key, connected);
    std::cout << out.str() << std::endl;
  }
  Release(watch.key, watch.connected);
  if (watch.event != nullptr) CloseHandle(watch.event);
  return 0;
}
