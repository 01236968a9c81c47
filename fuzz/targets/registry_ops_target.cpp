// Sequences of registry calls on a private in-memory machine, each checked
// against the model of Windows' registry semantics: codes, outputs, events,
// and at the end the whole tree.
#include <cstdlib>
#include <string>
#include <vector>
#include <windows.h>

#include "fuzz/model/registry_model.h"
#include "fuzz/targets/check.h"
#include "fuzz/targets/op_input.h"
#include "fuzz/targets/targets.h"
#include "registry/machines.h"

namespace regkey::fuzz {
namespace {

constexpr char kMachine[] = "fuzz-registry";
const HKEY kRoots[] = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};
constexpr int kRootCount = 2;
constexpr int kEvents = 4;
constexpr int kMaxHandles = 128;
constexpr int kMaxOps = 512;
constexpr DWORD kOversize = (16u << 20) + 1;

const REGSAM kAccess[] = {KEY_ALL_ACCESS,
                          KEY_READ,
                          KEY_WRITE,
                          KEY_QUERY_VALUE,
                          KEY_SET_VALUE,
                          KEY_CREATE_SUB_KEY,
                          KEY_ENUMERATE_SUB_KEYS,
                          KEY_NOTIFY,
                          0,
                          GENERIC_READ,
                          GENERIC_WRITE,
                          GENERIC_ALL,
                          MAXIMUM_ALLOWED,
                          KEY_READ | KEY_WOW64_64KEY,
                          KEY_EXECUTE,
                          GENERIC_EXECUTE};
const DWORD kTypes[] = {REG_NONE,  REG_SZ,       REG_EXPAND_SZ, REG_BINARY,
                        REG_DWORD, REG_MULTI_SZ, REG_QWORD,     0xFFFFFFFFu};
const DWORD kFilters[] = {REG_NOTIFY_CHANGE_NAME,
                          REG_NOTIFY_CHANGE_LAST_SET,
                          REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                          REG_NOTIFY_CHANGE_ATTRIBUTES,
                          REG_NOTIFY_CHANGE_SECURITY,
                          REG_LEGAL_CHANGE_FILTER | REG_NOTIFY_THREAD_AGNOSTIC,
                          0,
                          0x20};

template <typename T, std::size_t N>
const T& Pick(const T (&table)[N], std::uint8_t byte) {
  return table[byte % N];
}

std::string Code(LONG code) { return std::to_string(code); }

class Session {
 public:
  Session() : model_(kRootCount, kEvents) {
    FUZZ_CHECK(regkey::registry::DeclareMachine(kMachine, ":memory:") == 0,
               "cannot declare the in-memory machine");
    for (int r = 0; r < kRootCount; ++r) Connect(r);
    for (int e = 0; e < kEvents; ++e) events_.push_back(NewEvent(e));
    HANDLE closed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(closed);
    notAnEvent_ = closed;
  }

  ~Session() {
    for (HANDLE event : events_) CloseHandle(event);
    regkey::registry::ForgetMachine(kMachine);
  }

  void Run(OpInput& in) {
    for (int n = 0; n < kMaxOps && in.More(); ++n) {
      Step(in);
      CheckEvents();
    }
    for (int r = 0; r < kRootCount; ++r) CheckTree(r);
    for (int h = 0; h < model_.HandleCount(); ++h) {
      if (!model_.IsOpen(h)) continue;
      Expect(model_.Close(h), RegCloseKey(handles_[static_cast<std::size_t>(h)]), "final close");
    }
    CheckEvents();
  }

 private:
  [[noreturn]] void Broken(const std::string& what) {
    Fail(__FILE__, __LINE__, what + "\nafter:\n" + trace_);
  }
  void Expect(LONG model, LONG real, const std::string& what) {
    if (model != real) Broken(what + ": expected " + Code(model) + ", got " + Code(real));
  }
  template <typename T>
  void ExpectSame(const T& model, const T& real, const std::string& what) {
    if (!(model == real)) Broken(what + " differs");
  }

  HANDLE NewEvent(int slot) {
    return CreateEventA(nullptr, model_.EventManualReset(slot), FALSE, nullptr);
  }

  int Connect(int root) {
    HKEY handle = nullptr;
    const LONG code = RegConnectRegistryA(kMachine, kRoots[root], &handle);
    if (code != ERROR_SUCCESS) Broken("connect: " + Code(code));
    handles_.push_back(handle);
    return model_.Connect(root);
  }

  // A handle byte: an existing handle (closed ones included), the null handle
  // or HKEY_PERFORMANCE_DATA.
  int HandleArg(std::uint8_t byte) {
    if (byte == 0xFF) return kNullHandle;
    if (byte == 0xFE) return kPerformanceData;
    return byte % model_.HandleCount();
  }
  HKEY Real(int handle) {
    if (handle == kNullHandle) return nullptr;
    if (handle == kPerformanceData) return HKEY_PERFORMANCE_DATA;
    return handles_[static_cast<std::size_t>(handle)];
  }

  void Added(const ModelOpen& expected, LONG code, HKEY handle, const std::string& what) {
    Expect(expected.code, code, what);
    if (code != ERROR_SUCCESS) {
      if (handle != nullptr) Broken(what + ": a failed call gave a handle");
      return;
    }
    handles_.push_back(handle);
    if (static_cast<int>(handles_.size()) != model_.HandleCount()) Broken("handle count");
  }

  void Step(OpInput& in) {
    const char op = in.Op("WCOSQDIKVXTLNRZ");
    switch (op) {
      case 'W': {
        const std::uint8_t r = in.Byte();
        trace_ += "connect " + std::to_string(r % 4) + "\n";
        if (model_.HandleCount() >= kMaxHandles) return;
        if (r % 4 < 2) {
          Connect(r % 4);
        } else {
          HKEY handle = reinterpret_cast<HKEY>(1);
          const LONG code = r % 4 == 2
                                ? RegConnectRegistryA("\\\\nowhere", HKEY_CURRENT_USER, &handle)
                                : RegConnectRegistryA(nullptr, HKEY_PERFORMANCE_DATA, &handle);
          Expect(r % 4 == 2 ? ERROR_BAD_NETPATH : ERROR_INVALID_HANDLE, code, "connect elsewhere");
          if (handle != nullptr) Broken("a failed connect gave a handle");
        }
        return;
      }
      case 'C':
      case 'O': {
        const int h = HandleArg(in.Byte());
        const REGSAM access = Pick(kAccess, in.Byte());
        const auto path = in.Text();
        const char* p = path ? path->c_str() : nullptr;
        trace_ += std::string(op == 'C' ? "create " : "open ") + std::to_string(h) + " " +
                  (path ? Show(*path) : "null") + " access " + std::to_string(access) + "\n";
        if (model_.HandleCount() >= kMaxHandles) return;
        HKEY handle = reinterpret_cast<HKEY>(1);
        if (op == 'C') {
          DWORD disposition = 0;
          const ModelOpen expected = model_.Create(h, p, access);
          const LONG code =
              RegCreateKeyExA(Real(h), p, 0, nullptr, 0, access, nullptr, &handle, &disposition);
          Added(expected, code, handle, "create");
          if (code == ERROR_SUCCESS && disposition != expected.disposition)
            Broken("create: disposition " + std::to_string(disposition));
        } else {
          const ModelOpen expected = model_.Open(h, p, access);
          const LONG code = RegOpenKeyExA(Real(h), p, 0, access, &handle);
          Added(expected, code, handle, "open");
        }
        return;
      }
      case 'S': {
        const int h = HandleArg(in.Byte());
        const DWORD type = Pick(kTypes, in.Byte());
        const auto name = in.Text();
        const std::uint8_t length = in.Byte();
        std::string bytes = in.Bytes(length < 0xFD ? length : 0);
        const char* data = bytes.data();
        DWORD size = static_cast<DWORD>(bytes.size());
        if (length == 0xFF) data = nullptr, size = 0;
        if (length == 0xFE) data = nullptr, size = 4;
        static const std::string* oversize = new std::string(kOversize, 'o');
        if (length == 0xFD) data = oversize->data(), size = kOversize;
        trace_ += "set " + std::to_string(h) + " " + (name ? Show(*name) : "null") + " type " +
                  std::to_string(type) + " " +
                  (data ? Show(std::string(data, std::min<DWORD>(size, 64))) : "null") + " size " +
                  std::to_string(size) + "\n";
        const char* n = name ? name->c_str() : nullptr;
        Expect(model_.SetValue(h, n, type, data, size),
               RegSetValueExA(Real(h), n, 0, type, reinterpret_cast<const BYTE*>(data), size),
               "set value");
        return;
      }
      case 'Q': {
        const int h = HandleArg(in.Byte());
        const std::uint8_t mode = in.Byte() % 5;
        const DWORD capacity = in.Byte();
        const auto name = in.Text();
        const char* n = name ? name->c_str() : nullptr;
        trace_ += "query " + std::to_string(h) + " " + (name ? Show(*name) : "null") + " mode " +
                  std::to_string(mode) + " capacity " + std::to_string(capacity) + "\n";
        const bool buffer = mode == 1 || mode == 3;
        const bool sized = mode == 0 || mode == 1 || mode == 4;
        const ModelData expected = model_.QueryValue(
            h, n, buffer, sized ? RegistryModel::Buffer(mode == 1 ? capacity : 0) : std::nullopt,
            mode == 4);
        std::string data(capacity, '\x55');
        DWORD type = 0xDEAD, size = mode == 1 ? capacity : 0, reserved = 0;
        const LONG code = RegQueryValueExA(Real(h), n, mode == 4 ? &reserved : nullptr, &type,
                                           buffer ? reinterpret_cast<BYTE*>(data.data()) : nullptr,
                                           sized ? &size : nullptr);
        Expect(expected.code, code, "query value");
        if (code == ERROR_SUCCESS || code == ERROR_MORE_DATA) {
          if (type != expected.type) Broken("query value: type " + std::to_string(type));
          if (sized && size != expected.size) Broken("query value: size " + std::to_string(size));
          if (code == ERROR_SUCCESS && buffer && data.substr(0, size) != expected.data)
            Broken("query value: data " + Show(data.substr(0, size)));
        }
        return;
      }
      case 'D': {
        const int h = HandleArg(in.Byte());
        const auto name = in.Text();
        const char* n = name ? name->c_str() : nullptr;
        trace_ += "delete value " + std::to_string(h) + " " + (name ? Show(*name) : "null") + "\n";
        Expect(model_.DeleteValue(h, n), RegDeleteValueA(Real(h), n), "delete value");
        return;
      }
      case 'I': {
        const int h = HandleArg(in.Byte());
        trace_ += "info " + std::to_string(h) + "\n";
        const ModelInfo expected = model_.QueryInfo(h);
        ModelInfo real;
        DWORD classLength = 7, maxClass = 7, security = 7;
        FILETIME written{};
        real.code =
            RegQueryInfoKeyA(Real(h), nullptr, &classLength, nullptr, &real.subKeys,
                             &real.maxSubKeyLength, &maxClass, &real.values,
                             &real.maxValueNameLength, &real.maxValueSize, &security, &written);
        Expect(expected.code, real.code, "query info");
        if (real.code != ERROR_SUCCESS) return;
        if (real.subKeys != expected.subKeys || real.maxSubKeyLength != expected.maxSubKeyLength ||
            real.values != expected.values ||
            real.maxValueNameLength != expected.maxValueNameLength ||
            real.maxValueSize != expected.maxValueSize)
          Broken("query info: subkeys " + std::to_string(real.subKeys) + " longest " +
                 std::to_string(real.maxSubKeyLength) + " values " + std::to_string(real.values) +
                 " longest name " + std::to_string(real.maxValueNameLength) + " largest " +
                 std::to_string(real.maxValueSize));
        if (classLength != 0 || maxClass != 0) Broken("query info: a class");
        if (written.dwLowDateTime == 0 && written.dwHighDateTime == 0)
          Broken("query info: no last write time");
        return;
      }
      case 'K': {
        const int h = HandleArg(in.Byte());
        const DWORD index = in.Byte() % 16;
        const std::uint8_t c = in.Byte();
        const auto capacity = c < 0xFE ? RegistryModel::Buffer(c)
                                       : (c == 0xFE ? RegistryModel::Buffer(256) : std::nullopt);
        trace_ += "enum key " + std::to_string(h) + " " + std::to_string(index) + " capacity " +
                  (capacity ? std::to_string(*capacity) : "null") + "\n";
        const ModelData expected = model_.EnumKey(h, index, capacity);
        std::string name(capacity.value_or(1) + 1, '\x55');
        DWORD length = capacity.value_or(0);
        FILETIME written{};
        const LONG code = RegEnumKeyExA(Real(h), index, name.data(), capacity ? &length : nullptr,
                                        nullptr, nullptr, nullptr, &written);
        Expect(expected.code, code, "enum key");
        if (code == ERROR_SUCCESS) {
          if (length != expected.name.size() ||
              name.compare(0, length + 1, expected.name.c_str(), length + 1) != 0)
            Broken("enum key: name " + Show(name.substr(0, length)));
        }
        return;
      }
      case 'V': {
        const int h = HandleArg(in.Byte());
        const DWORD index = in.Byte() % 16;
        const std::uint8_t c = in.Byte();
        const std::uint8_t mode = in.Byte() % 4;
        const DWORD dataCapacity = in.Byte();
        const auto capacity = c < 0xFE ? RegistryModel::Buffer(c)
                                       : (c == 0xFE ? RegistryModel::Buffer(16384) : std::nullopt);
        trace_ += "enum value " + std::to_string(h) + " " + std::to_string(index) + " capacity " +
                  (capacity ? std::to_string(*capacity) : "null") + " mode " +
                  std::to_string(mode) + " data capacity " + std::to_string(dataCapacity) + "\n";
        const bool buffer = mode >= 2;
        const bool sized = mode == 1 || mode == 2;
        const ModelData expected = model_.EnumValue(
            h, index, capacity, buffer,
            sized ? RegistryModel::Buffer(mode == 2 ? dataCapacity : 0) : std::nullopt);
        std::string name(capacity.value_or(1) + 1, '\x55');
        std::string data(dataCapacity, '\x55');
        DWORD length = capacity.value_or(0), type = 0xDEAD, size = mode == 2 ? dataCapacity : 0;
        const LONG code = RegEnumValueA(
            Real(h), index, name.data(), capacity ? &length : nullptr, nullptr, &type,
            buffer ? reinterpret_cast<BYTE*>(data.data()) : nullptr, sized ? &size : nullptr);
        Expect(expected.code, code, "enum value");
        if (code == ERROR_SUCCESS) {
          if (length != expected.name.size() ||
              name.compare(0, length + 1, expected.name.c_str(), length + 1) != 0)
            Broken("enum value: name " + Show(name.substr(0, length)));
          if (type != expected.type) Broken("enum value: type " + std::to_string(type));
          if (sized && size != expected.size) Broken("enum value: size " + std::to_string(size));
          if (buffer && data.substr(0, size) != expected.data)
            Broken("enum value: data " + Show(data.substr(0, size)));
        }
        return;
      }
      case 'X': {
        const int h = HandleArg(in.Byte());
        const auto path = in.Text();
        const char* p = path ? path->c_str() : nullptr;
        trace_ += "delete key " + std::to_string(h) + " " + (path ? Show(*path) : "null") + "\n";
        Expect(model_.DeleteKey(h, p), RegDeleteKeyA(Real(h), p), "delete key");
        return;
      }
      case 'T': {
        const int h = HandleArg(in.Byte());
        const auto path = in.Text();
        const char* p = path ? path->c_str() : nullptr;
        trace_ += "delete tree " + std::to_string(h) + " " + (path ? Show(*path) : "null") + "\n";
        Expect(model_.DeleteTree(h, p), RegDeleteTreeA(Real(h), p), "delete tree");
        return;
      }
      case 'L': {
        const int h = HandleArg(in.Byte());
        trace_ += "close " + std::to_string(h) + "\n";
        Expect(model_.Close(h), RegCloseKey(Real(h)), "close");
        return;
      }
      case 'N': {
        const int h = HandleArg(in.Byte());
        const std::uint8_t flags = in.Byte();
        const std::uint8_t e = in.Byte() % (kEvents + 2);
        const DWORD filter = Pick(kFilters, flags >> 1);
        const int event = e < kEvents ? e : (e == kEvents ? kNullHandle : -2);
        HANDLE real = e < kEvents ? events_[e] : (e == kEvents ? nullptr : NotAnEvent(flags));
        trace_ += "notify " + std::to_string(h) + " subtree " + std::to_string(flags & 1) +
                  " filter " + std::to_string(filter) + " event " + std::to_string(event) + "\n";
        Expect(model_.Notify(h, flags & 1, filter, event),
               RegNotifyChangeKeyValue(Real(h), flags & 1, filter, real, TRUE), "notify");
        return;
      }
      case 'R': {
        const int e = in.Byte() % kEvents;
        trace_ += "reset event " + std::to_string(e) + "\n";
        model_.ResetEvent(e);
        ResetEvent(events_[static_cast<std::size_t>(e)]);
        return;
      }
      case 'Z': {
        const int e = in.Byte() % kEvents;
        trace_ += "replace event " + std::to_string(e) + "\n";
        CloseHandle(events_[static_cast<std::size_t>(e)]);
        model_.ReplaceEvent(e);
        events_[static_cast<std::size_t>(e)] = NewEvent(e);
        return;
      }
      default:
        return;
    }
  }

  // A handle that is no event: a closed event's, or a key's.
  HANDLE NotAnEvent(std::uint8_t flags) {
    if ((flags & 0x10) && !handles_.empty()) return reinterpret_cast<HANDLE>(handles_.back());
    return notAnEvent_;
  }

  void CheckEvents() {
    for (int e = 0; e < kEvents; ++e) {
      const bool expected = model_.Waited(e);
      const bool real =
          WaitForSingleObject(events_[static_cast<std::size_t>(e)], 0) == WAIT_OBJECT_0;
      if (expected != real)
        Broken("event " + std::to_string(e) + (real ? " signalled" : " not signalled"));
    }
  }

  // The whole tree below a root, as listings show it.
  void CheckTree(int root) {
    HKEY handle = nullptr;
    if (RegConnectRegistryA(kMachine, kRoots[root], &handle) != ERROR_SUCCESS) Broken("reconnect");
    CheckKey(handle, *model_.Root(root), "root " + std::to_string(root));
    RegCloseKey(handle);
  }

  void CheckKey(HKEY handle, const ModelKey& key, const std::string& where) {
    DWORD subKeys = 0, values = 0, maxValue = 0;
    if (RegQueryInfoKeyA(handle, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values,
                         nullptr, &maxValue, nullptr, nullptr) != ERROR_SUCCESS)
      Broken(where + ": query info");
    if (subKeys != key.children.size() || values != key.values.size())
      Broken(where + ": " + std::to_string(subKeys) + " subkeys, " + std::to_string(values) +
             " values");
    DWORD index = 0;
    for (const auto& [fold, child] : key.children) {
      char name[256];
      DWORD length = sizeof name;
      if (RegEnumKeyExA(handle, index++, name, &length, nullptr, nullptr, nullptr, nullptr) !=
              ERROR_SUCCESS ||
          std::string(name, length) != child->name)
        Broken(where + ": subkey " + std::to_string(index - 1) + " is " +
               Show(std::string(name, length)) + ", expected " + Show(child->name));
      HKEY sub = nullptr;
      if (RegOpenKeyExA(handle, name, 0, KEY_READ, &sub) != ERROR_SUCCESS)
        Broken(where + ": cannot open " + Show(child->name));
      CheckKey(sub, *child, where + "\\" + child->name);
      RegCloseKey(sub);
    }
    index = 0;
    std::string name(16384, '\0'), data(maxValue, '\0');
    for (const ModelValue& value : key.values) {
      DWORD length = static_cast<DWORD>(name.size()), type = 0, size = maxValue;
      const LONG code = RegEnumValueA(handle, index++, name.data(), &length, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data.data()), &size);
      if (code != ERROR_SUCCESS || name.compare(0, length, value.name) != 0 ||
          length != value.name.size() || type != value.type ||
          data.compare(0, size, value.data) != 0 || size != value.data.size())
        Broken(where + ": value " + std::to_string(index - 1) + " is " +
               Show(name.substr(0, length)) + " type " + std::to_string(type) + " " +
               Show(data.substr(0, size)) + ", expected " + Show(value.name));
    }
  }

  RegistryModel model_;
  std::vector<HKEY> handles_;
  std::vector<HANDLE> events_;
  HANDLE notAnEvent_ = nullptr;
  std::string trace_;
};

}  // namespace

// Input: operations, each a letter (or any byte, taken modulo the letters)
// and its arguments; see Session::Step.
int FuzzRegistryOps(const std::uint8_t* data, std::size_t size) {
  // Nothing here may reach the user's own store.
  static const bool guarded = setenv("REGKEY_STORE", ":memory:", 0) == 0;
  (void)guarded;
  OpInput in(data, size);
  Session session;
  session.Run(in);
  return 0;
}

}  // namespace regkey::fuzz
