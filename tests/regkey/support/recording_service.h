// A service that records every call the key class makes and lets a test
// replace any call (to fail it or to change what it reports). Calls that are
// not replaced go on to the real registry; handles that a replacement made up
// are closed here, never there.
#pragma once

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>
#include <windows.h>

#include <gtest/gtest.h>

#include "regkey/service/ForwardingRegistryService.h"

namespace regkey::test {

// One recorded call, built with designated initializers; fields a call has
// no use for keep their defaults.
struct Call {
  std::string fn;            // "Connect", "Open", "Create", "Close", "Query", "Set", "DeleteValue",
                             // "Info", "EnumValue", "EnumKey", "DeleteKey", "Notify"
  HKEY key = nullptr;        // the first argument
  std::string text = {};     // machine, path or value name; "(null)" for a null pointer
  DWORD number = 0;          // access mask, type, index or notify filter
  DWORD count = 0;           // the in/out count or capacity as passed in
  bool nullsAsGiven = true;  // the arguments that must be null or 0 were so
  bool flag = false;         // a buffer was given / watch subtree
  LONG result = 0;
  HKEY out = nullptr;  // the handle handed back (Connect, Open, Create)
};

inline bool IsPredefinedRoot(HKEY key) {
  for (const HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS,
                          HKEY_PERFORMANCE_DATA, HKEY_CURRENT_CONFIG, HKEY_DYN_DATA})
    if (key == root) return true;
  return false;
}

class RecordingService : public ForwardingRegistryService {
 public:
  std::vector<Call> calls;
  std::set<HKEY> open;  // handles handed out and not yet closed (predefined roots excluded)

  std::function<LONG(LPCSTR, HKEY, PHKEY)> connect;
  std::function<LONG(HKEY, LPCSTR, REGSAM, PHKEY)> openKey;
  std::function<LONG(HKEY, LPCSTR, REGSAM, PHKEY, LPDWORD)> createKey;
  std::function<LONG(HKEY, LPCSTR, LPDWORD, LPBYTE, LPDWORD)> query;
  std::function<LONG(HKEY, LPCSTR, DWORD, const BYTE*, DWORD)> setValue;
  std::function<LONG(HKEY, LPCSTR)> deleteValue;
  std::function<LONG(HKEY, LPDWORD, LPDWORD, LPDWORD, LPDWORD)>
      info;  // subkeys, longest, values, longest
  std::function<LONG(HKEY, DWORD, LPSTR, LPDWORD)> enumValue;
  std::function<LONG(HKEY, DWORD, LPSTR, LPDWORD)> enumKey;
  std::function<LONG(HKEY, LPCSTR)> deleteKey;
  std::function<LONG(HKEY, BOOL, DWORD, HANDLE)> notify;

  // The calls of one function, and all calls as "fn text" lines.
  std::vector<Call> Of(const std::string& fn) const {
    std::vector<Call> found;
    for (const Call& call : calls)
      if (call.fn == fn) found.push_back(call);
    return found;
  }
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (const Call& call : calls) lines.push_back(call.fn + " " + call.text);
    return lines;
  }
  size_t Count(const std::string& fn) const { return Of(fn).size(); }
  void Clear() { calls.clear(); }

  LONG RegConnectRegistryA(LPCSTR machine, HKEY root, PHKEY out) override {
    const LONG result =
        connect ? connect(machine, root, out) : Next().RegConnectRegistryA(machine, root, out);
    RecordHandle({.fn = "Connect", .key = root, .text = Text(machine), .result = result},
                 result == 0 ? *out : nullptr, connect != nullptr);
    return result;
  }
  LONG RegOpenKeyExA(HKEY root, LPCSTR path, DWORD options, REGSAM sam, PHKEY out) override {
    const LONG result = openKey ? openKey(root, path, sam, out)
                                : Next().RegOpenKeyExA(root, path, options, sam, out);
    RecordHandle({.fn = "Open",
                  .key = root,
                  .text = Text(path),
                  .number = sam,
                  .nullsAsGiven = options == 0,
                  .result = result},
                 result == 0 ? *out : nullptr, openKey != nullptr);
    return result;
  }
  LONG RegCreateKeyExA(HKEY root, LPCSTR path, DWORD reserved, LPSTR keyClass, DWORD options,
                       REGSAM sam, LPSECURITY_ATTRIBUTES security, PHKEY out,
                       LPDWORD disposition) override {
    const LONG result = createKey ? createKey(root, path, sam, out, disposition)
                                  : Next().RegCreateKeyExA(root, path, reserved, keyClass, options,
                                                           sam, security, out, disposition);
    RecordHandle({.fn = "Create",
                  .key = root,
                  .text = Text(path),
                  .number = sam,
                  .nullsAsGiven = reserved == 0 && keyClass == nullptr && options == 0 &&
                                  security == nullptr && disposition != nullptr,
                  .result = result},
                 result == 0 ? *out : nullptr, createKey != nullptr);
    return result;
  }
  LONG RegCloseKey(HKEY key) override {
    // A handle that a replacement made up never reaches the real registry.
    const LONG result = madeUp_.erase(key) ? 0 : Next().RegCloseKey(key);
    open.erase(key);
    calls.push_back({.fn = "Close", .key = key, .result = result});
    return result;
  }
  LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                        LPDWORD count) override {
    const DWORD in = count ? *count : 0;
    const LONG result = query ? query(key, name, type, data, count)
                              : Next().RegQueryValueExA(key, name, reserved, type, data, count);
    calls.push_back({.fn = "Query",
                     .key = key,
                     .text = Text(name),
                     .count = in,
                     .nullsAsGiven = reserved == nullptr,
                     .flag = data != nullptr,
                     .result = result});
    return result;
  }
  LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                      DWORD size) override {
    const LONG result = setValue ? setValue(key, name, type, data, size)
                                 : Next().RegSetValueExA(key, name, reserved, type, data, size);
    calls.push_back({.fn = "Set",
                     .key = key,
                     .text = Text(name),
                     .number = type,
                     .count = size,
                     .nullsAsGiven = reserved == 0,
                     .result = result});
    return result;
  }
  LONG RegDeleteValueA(HKEY key, LPCSTR name) override {
    const LONG result = deleteValue ? deleteValue(key, name) : Next().RegDeleteValueA(key, name);
    calls.push_back({.fn = "DeleteValue", .key = key, .text = Text(name), .result = result});
    return result;
  }
  LONG RegQueryInfoKeyA(HKEY key, LPSTR cls, LPDWORD ccls, LPDWORD reserved, LPDWORD subKeys,
                        LPDWORD maxSubKey, LPDWORD maxClass, LPDWORD values, LPDWORD maxValueName,
                        LPDWORD maxValue, LPDWORD security, PFILETIME lastWrite) override {
    const bool nulls = cls == nullptr && ccls == nullptr && reserved == nullptr &&
                       maxClass == nullptr && maxValue == nullptr && security == nullptr &&
                       lastWrite == nullptr &&
                       ((subKeys && maxSubKey && !values && !maxValueName) ||
                        (!subKeys && !maxSubKey && values && maxValueName));
    const LONG result =
        info ? info(key, subKeys, maxSubKey, values, maxValueName)
             : Next().RegQueryInfoKeyA(key, cls, ccls, reserved, subKeys, maxSubKey, maxClass,
                                       values, maxValueName, maxValue, security, lastWrite);
    calls.push_back({.fn = "Info",
                     .key = key,
                     .text = subKeys ? "subkeys" : "values",
                     .nullsAsGiven = nulls,
                     .result = result});
    return result;
  }
  LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD cch, LPDWORD reserved, LPDWORD type,
                     LPBYTE data, LPDWORD cbData) override {
    const DWORD in = *cch;
    const LONG result =
        enumValue ? enumValue(key, index, name, cch)
                  : Next().RegEnumValueA(key, index, name, cch, reserved, type, data, cbData);
    RecordEnum("EnumValue", key, index, name, in, !reserved && !type && !data && !cbData, result);
    return result;
  }
  LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD cch, LPDWORD reserved, LPSTR cls,
                     LPDWORD ccls, PFILETIME lastWrite) override {
    const DWORD in = *cch;
    const LONG result =
        enumKey ? enumKey(key, index, name, cch)
                : Next().RegEnumKeyExA(key, index, name, cch, reserved, cls, ccls, lastWrite);
    RecordEnum("EnumKey", key, index, name, in, !reserved && !cls && !ccls && lastWrite, result);
    return result;
  }
  LONG RegDeleteKeyA(HKEY root, LPCSTR path) override {
    const LONG result = deleteKey ? deleteKey(root, path) : Next().RegDeleteKeyA(root, path);
    calls.push_back({.fn = "DeleteKey", .key = root, .text = Text(path), .result = result});
    return result;
  }
  LONG RegNotifyChangeKeyValue(HKEY key, BOOL subtree, DWORD filter, HANDLE event,
                               BOOL async) override {
    const LONG result = notify ? notify(key, subtree, filter, event)
                               : Next().RegNotifyChangeKeyValue(key, subtree, filter, event, async);
    calls.push_back({.fn = "Notify",
                     .key = key,
                     .number = filter,
                     .nullsAsGiven = async == TRUE && event != nullptr,
                     .flag = subtree == TRUE,
                     .result = result});
    return result;
  }

 private:
  static std::string Text(LPCSTR text) { return text ? std::string(text) : "(null)"; }
  // Records an enumeration: the name it gave (on success) at `index`, and the
  // capacity passed in.
  void RecordEnum(const char* fn, HKEY key, DWORD index, LPCSTR name, DWORD capacity, bool nulls,
                  LONG result) {
    calls.push_back({.fn = fn,
                     .key = key,
                     .text = result == 0 ? std::string(name) : "",
                     .number = index,
                     .count = capacity,
                     .nullsAsGiven = nulls,
                     .result = result});
  }
  // Records a call that hands out a handle; madeUp: a replacement made it.
  void RecordHandle(Call call, HKEY out, bool madeUp) {
    call.out = out;
    if (out != nullptr && !IsPredefinedRoot(out)) {
      open.insert(out);
      if (madeUp) madeUp_.insert(out);
    }
    calls.push_back(std::move(call));
  }
  std::set<HKEY> madeUp_;
};

// Puts a recording service in place for a test's scope. A key that opened
// its handle through it must be closed before the scope ends, as the handle
// goes back to the service that opened it; one left open is a failure, and
// the service is then kept alive for the late close.
class Recorded {
 public:
  Recorded() : owned_(std::make_unique<RecordingService>()), service(*owned_), scope_(service) {}
  ~Recorded() {
    if (service.open.empty()) return;
    ADD_FAILURE() << "a handle opened through the recording service is still open at the end "
                     "of its scope";
    static_cast<void>(owned_.release());  // leaked on purpose
  }
  Recorded(const Recorded&) = delete;
  Recorded& operator=(const Recorded&) = delete;

 private:
  std::unique_ptr<RecordingService> owned_;

 public:
  RecordingService& service;

 private:
  ScopedRegistryService scope_;
};

}  // namespace regkey::test
