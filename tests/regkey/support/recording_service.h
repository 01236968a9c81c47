// A service that records every call the key class makes and lets a test
// replace any call (to fail it or to change what it reports). Calls that are
// not replaced go on to the real registry.
#pragma once

#include <windows.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "regkey/service/ForwardingRegistryService.h"

namespace regkey::test {

struct Call {
  std::string fn;            // "Connect", "Open", "Create", "Close", "Query", "Set", "DeleteValue",
                             // "Info", "EnumValue", "EnumKey", "DeleteKey", "Notify"
  HKEY key = nullptr;        // the first argument
  std::string text;          // machine, path or value name; "(null)" for a null pointer
  DWORD number = 0;          // access mask, type, index or notify filter
  DWORD count = 0;           // the in/out count or capacity as passed in
  bool nullsAsGiven = true;  // the arguments that must be null or 0 were so
  bool flag = false;         // a buffer was given / watch subtree
  LONG result = 0;
  HKEY out = nullptr;  // the handle handed back
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
        connect ? connect(machine, root, out) : next_.RegConnectRegistryA(machine, root, out);
    Record(
        {"Connect", root, Text(machine), 0, 0, true, false, result, result == 0 ? *out : nullptr});
    return result;
  }
  LONG RegOpenKeyExA(HKEY root, LPCSTR path, DWORD options, REGSAM sam, PHKEY out) override {
    const LONG result = openKey ? openKey(root, path, sam, out)
                                : next_.RegOpenKeyExA(root, path, options, sam, out);
    Record({"Open", root, Text(path), sam, 0, options == 0, false, result,
            result == 0 ? *out : nullptr});
    return result;
  }
  LONG RegCreateKeyExA(HKEY root, LPCSTR path, DWORD reserved, LPSTR keyClass, DWORD options,
                       REGSAM sam, LPSECURITY_ATTRIBUTES security, PHKEY out,
                       LPDWORD disposition) override {
    const LONG result = createKey ? createKey(root, path, sam, out, disposition)
                                  : next_.RegCreateKeyExA(root, path, reserved, keyClass, options,
                                                          sam, security, out, disposition);
    Record({"Create", root, Text(path), sam, 0,
            reserved == 0 && keyClass == nullptr && options == 0 && security == nullptr &&
                disposition != nullptr,
            false, result, result == 0 ? *out : nullptr});
    return result;
  }
  LONG RegCloseKey(HKEY key) override {
    const LONG result = open.count(key) || IsPredefinedRoot(key) ? next_.RegCloseKey(key) : 0;
    open.erase(key);
    calls.push_back({"Close", key, "", 0, 0, true, false, result, nullptr});
    return result;
  }
  LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                        LPDWORD count) override {
    const DWORD in = count ? *count : 0;
    const LONG result = query ? query(key, name, type, data, count)
                              : next_.RegQueryValueExA(key, name, reserved, type, data, count);
    calls.push_back(
        {"Query", key, Text(name), 0, in, reserved == nullptr, data != nullptr, result, nullptr});
    return result;
  }
  LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                      DWORD size) override {
    const LONG result = setValue ? setValue(key, name, type, data, size)
                                 : next_.RegSetValueExA(key, name, reserved, type, data, size);
    calls.push_back({"Set", key, Text(name), type, size, reserved == 0, false, result, nullptr});
    return result;
  }
  LONG RegDeleteValueA(HKEY key, LPCSTR name) override {
    const LONG result = deleteValue ? deleteValue(key, name) : next_.RegDeleteValueA(key, name);
    calls.push_back({"DeleteValue", key, Text(name), 0, 0, true, false, result, nullptr});
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
             : next_.RegQueryInfoKeyA(key, cls, ccls, reserved, subKeys, maxSubKey, maxClass,
                                      values, maxValueName, maxValue, security, lastWrite);
    calls.push_back(
        {"Info", key, subKeys ? "subkeys" : "values", 0, 0, nulls, false, result, nullptr});
    return result;
  }
  LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD cch, LPDWORD reserved, LPDWORD type,
                     LPBYTE data, LPDWORD cbData) override {
    const DWORD in = *cch;
    const LONG result =
        enumValue ? enumValue(key, index, name, cch)
                  : next_.RegEnumValueA(key, index, name, cch, reserved, type, data, cbData);
    calls.push_back({"EnumValue", key, result == 0 ? std::string(name) : "", index, in,
                     !reserved && !type && !data && !cbData, false, result, nullptr});
    return result;
  }
  LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD cch, LPDWORD reserved, LPSTR cls,
                     LPDWORD ccls, PFILETIME lastWrite) override {
    const DWORD in = *cch;
    const LONG result =
        enumKey ? enumKey(key, index, name, cch)
                : next_.RegEnumKeyExA(key, index, name, cch, reserved, cls, ccls, lastWrite);
    calls.push_back({"EnumKey", key, result == 0 ? std::string(name) : "", index, in,
                     !reserved && !cls && !ccls && lastWrite, false, result, nullptr});
    return result;
  }
  LONG RegDeleteKeyA(HKEY root, LPCSTR path) override {
    const LONG result = deleteKey ? deleteKey(root, path) : next_.RegDeleteKeyA(root, path);
    calls.push_back({"DeleteKey", root, Text(path), 0, 0, true, false, result, nullptr});
    return result;
  }
  LONG RegNotifyChangeKeyValue(HKEY key, BOOL subtree, DWORD filter, HANDLE event,
                               BOOL async) override {
    const LONG result = notify ? notify(key, subtree, filter, event)
                               : next_.RegNotifyChangeKeyValue(key, subtree, filter, event, async);
    calls.push_back({"Notify", key, "", filter, 0, async == TRUE && event != nullptr,
                     subtree == TRUE, result, nullptr});
    return result;
  }

  // Forwarding for replacements that change only part of a call.
  RegistryService& Next() { return next_; }

 private:
  static std::string Text(LPCSTR text) { return text ? std::string(text) : "(null)"; }
  void Record(Call call) {
    if (call.result == 0 && call.out != nullptr && !IsPredefinedRoot(call.out))
      open.insert(call.out);
    calls.push_back(std::move(call));
  }
};

// Puts a recording service in place for a test's scope.
class Recorded {
 public:
  Recorded() : scope_(service) {}
  RecordingService service;

 private:
  ScopedRegistryService scope_;
};

}  // namespace regkey::test
