// The Win32 registry functions, served by the embedded registry: argument
// checks, handle resolution and access checks, then the machine's hive.
#include <cstring>
#include <new>
#include <string_view>
#include <windows.h>

#include "platform/handle_table.h"
#include "platform/root_keys.h"
#include "registry/handles.h"
#include "registry/hive.h"
#include "registry/machines.h"
#include "registry/names.h"

namespace regkey::registry {
namespace {

// The entry of a predefined handle; null for any other. Handles served here
// lie below the predefined ones and need no search.
const platform::RootKey* Predefined(HKEY handle) {
  return reinterpret_cast<std::uintptr_t>(handle) >= platform::kPredefinedHandles
             ? platform::FindRoot(handle)
             : nullptr;
}

// The root key id of a predefined handle that names a tree; 0 otherwise.
KeyId PredefinedId(HKEY handle) {
  const platform::RootKey* root = Predefined(handle);
  return root != nullptr ? root->tree : 0;
}

bool IsPredefined(HKEY handle) { return Predefined(handle) != nullptr; }

// Puts a new handle on `key` in *phkResult.
long HandOut(OpenKey key, PHKEY phkResult) {
  HKEY handle = AddHandle(std::move(key));
  if (handle == nullptr) return ERROR_OUTOFMEMORY;
  *phkResult = handle;
  return ERROR_SUCCESS;
}

// The key behind a handle, a predefined one included.
long Resolve(HKEY handle, OpenKey& key) {
  if (const KeyId id = PredefinedId(handle)) {
    key.key = id;
    key.access = KEY_ALL_ACCESS;
    return LocalHive(id, key.hive);
  }
  // Performance data and dynamic data have no keys to serve here.
  if (handle == nullptr || !FindHandle(handle, key)) return ERROR_INVALID_HANDLE;
  return ERROR_SUCCESS;
}

// Resolves a handle that must grant `rights`.
long ResolveWith(HKEY handle, REGSAM rights, OpenKey& key) {
  if (const long error = Resolve(handle, key)) return error;
  return (key.access & rights) == rights ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

std::string_view NameOrEmpty(LPCSTR name) { return name == nullptr ? std::string_view() : name; }

// Runs an entry point's body, turning an allocation failure into its code.
template <typename Body>
LONG Guard(Body body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return ERROR_OUTOFMEMORY;
  } catch (...) {
    return ERROR_INVALID_FUNCTION;
  }
}

}  // namespace
}  // namespace regkey::registry

using namespace regkey::registry;

extern "C" {

LONG WINAPI RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, PHKEY phkResult) {
  return Guard([&]() -> LONG {
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    const KeyId root = PredefinedId(hKey);
    if (root == 0) return ERROR_INVALID_HANDLE;
    std::string_view machine = NameOrEmpty(lpMachineName);
    if (machine.starts_with("\\\\")) machine.remove_prefix(2);
    OpenKey key;
    key.key = root;
    key.access = KEY_ALL_ACCESS;
    const long error = machine.empty() ? LocalHive(root, key.hive)
                                       : MachineHive(std::string(machine), root, key.hive);
    if (error) return error;
    return HandOut(std::move(key), phkResult);
  });
}

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
  return Guard([&]() -> LONG {
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    OpenKey base;
    if (const long error = Resolve(hKey, base)) return error;
    KeyId opened = 0;
    std::string path;
    if (const long error = base.hive->OpenKey(base.key, NameOrEmpty(lpSubKey), opened, path))
      return error;
    return HandOut({std::move(base.hive), opened, MapAccess(samDesired)}, phkResult);
  });
}

LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM samDesired,
                            const LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition) {
  return Guard([&]() -> LONG {
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    OpenKey base;
    if (const long error = Resolve(hKey, base)) return error;
    KeyId opened = 0;
    std::string path;
    bool created = false;
    const bool mayCreate = (base.access & KEY_CREATE_SUB_KEY) != 0;
    if (const long error =
            base.hive->CreateKey(base.key, NameOrEmpty(lpSubKey), mayCreate, opened, path, created))
      return error;
    if (const long error =
            HandOut({std::move(base.hive), opened, MapAccess(samDesired)}, phkResult))
      return error;
    if (lpdwDisposition != nullptr)
      *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
  });
}

LONG WINAPI RegCloseKey(HKEY hKey) {
  return Guard([&]() -> LONG {
    if (IsPredefined(hKey)) return ERROR_SUCCESS;
    OpenKey key;
    if (hKey == nullptr || !FindHandle(hKey, key)) return ERROR_INVALID_HANDLE;
    if (!RemoveHandle(hKey)) return ERROR_INVALID_HANDLE;
    key.hive->Closed(reinterpret_cast<std::uintptr_t>(hKey));
    return ERROR_SUCCESS;
  });
}

LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                             LPBYTE lpData, LPDWORD lpcbData) {
  return Guard([&]() -> LONG {
    if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr))
      return ERROR_INVALID_PARAMETER;
    OpenKey key;
    if (const long error = ResolveWith(hKey, KEY_QUERY_VALUE, key)) return error;
    return key.hive->QueryValue(key.key, NameOrEmpty(lpValueName), lpType, lpData, lpcbData);
  });
}

LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                           DWORD cbData) {
  return Guard([&]() -> LONG {
    OpenKey key;
    if (const long error = ResolveWith(hKey, KEY_SET_VALUE, key)) return error;
    if (lpData == nullptr && cbData != 0) return ERROR_NOACCESS;
    const std::string_view name = NameOrEmpty(lpValueName);
    if (name.size() > kMaxValueNameLength || cbData > kMaxValueSize) return ERROR_INVALID_PARAMETER;
    return key.hive->SetValue(key.key, name, dwType, lpData, cbData);
  });
}

LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  return Guard([&]() -> LONG {
    OpenKey key;
    if (const long error = ResolveWith(hKey, KEY_SET_VALUE, key)) return error;
    return key.hive->DeleteValue(key.key, NameOrEmpty(lpValueName));
  });
}

LONG WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                             LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                             LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen,
                             LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                             PFILETIME lpftLastWriteTime) {
  return Guard([&]() -> LONG {
    if (lpReserved != nullptr || (lpClass != nullptr && lpcchClass == nullptr))
      return ERROR_INVALID_PARAMETER;
    OpenKey key;
    if (const long error = ResolveWith(hKey, KEY_QUERY_VALUE, key)) return error;
    KeyInfo info;
    if (const long error = key.hive->QueryInfo(key.key, info)) return error;
    // Keys have no class here.
    if (lpClass != nullptr && *lpcchClass > 0) lpClass[0] = '\0';
    if (lpcchClass != nullptr) *lpcchClass = 0;
    if (lpcSubKeys != nullptr) *lpcSubKeys = info.subKeys;
    if (lpcbMaxSubKeyLen != nullptr) *lpcbMaxSubKeyLen = info.maxSubKeyLength;
    if (lpcbMaxClassLen != nullptr) *lpcbMaxClassLen = 0;
    if (lpcValues != nullptr) *lpcValues = info.values;
    if (lpcbMaxValueNameLen != nullptr) *lpcbMaxValueNameLen = info.maxValueNameLength;
    if (lpcbMaxValueLen != nullptr) *lpcbMaxValueLen = info.maxValueSize;
    if (lpcbSecurityDescriptor != nullptr) *lpcbSecurityDescriptor = 0;
    if (lpftLastWriteTime != nullptr) *lpftLastWriteTime = ToFileTime(info.lastWrite);
    return ERROR_SUCCESS;
  });
}

LONG WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                          LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  return Guard([&]() -> LONG {
    if (lpValueName == nullptr || lpcchValueName == nullptr || lpReserved != nullptr ||
        (lpData != nullptr && lpcbData == nullptr))
      return ERROR_INVALID_PARAMETER;
    OpenKey key;
    if (const long error = ResolveWith(hKey, KEY_QUERY_VALUE, key)) return error;
    DWORD length = 0;
    const long error = key.hive->EnumValue(key.key, dwIndex, lpValueName, *lpcchValueName, length,
                                           lpType, lpData, lpcbData);
    if (error == ERROR_SUCCESS) *lpcchValueName = length;
    return error;
  });
}

LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                          LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                          PFILETIME lpftLastWriteTime) {
  return Guard([&]() -> LONG {
    if (lpName == nullptr || lpcchName == nullptr || lpReserved != nullptr ||
        (lpClass != nullptr && lpcchClass == nullptr))
      return ERROR_INVALID_PARAMETER;
    OpenKey key;
    if (const long error = ResolveWith(hKey, KEY_ENUMERATE_SUB_KEYS, key)) return error;
    DWORD length = 0;
    std::int64_t lastWrite = 0;
    const long error =
        key.hive->EnumKey(reinterpret_cast<std::uintptr_t>(hKey), key.key, dwIndex, lpName,
                          *lpcchName, length, lpftLastWriteTime != nullptr ? &lastWrite : nullptr);
    if (error) return error;
    *lpcchName = length;
    if (lpClass != nullptr && *lpcchClass > 0) lpClass[0] = '\0';
    if (lpcchClass != nullptr) *lpcchClass = 0;
    if (lpftLastWriteTime != nullptr) *lpftLastWriteTime = ToFileTime(lastWrite);
    return ERROR_SUCCESS;
  });
}

LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  return Guard([&]() -> LONG {
    if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
    OpenKey base;
    if (const long error = Resolve(hKey, base)) return error;
    return base.hive->DeleteKey(base.key, lpSubKey);
  });
}

LONG WINAPI RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey) {
  return Guard([&]() -> LONG {
    OpenKey base;
    if (lpSubKey != nullptr) {
      if (const long error = Resolve(hKey, base)) return error;
      return base.hive->DeleteTree(base.key, lpSubKey, true);
    }
    // The key's own contents: it must be listable, and its values deletable.
    if (const long error = ResolveWith(hKey, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, base))
      return error;
    if ((base.access & KEY_SET_VALUE) == 0) {
      KeyInfo info;
      if (const long error = base.hive->QueryInfo(base.key, info)) return error;
      if (info.values != 0) return ERROR_ACCESS_DENIED;
    }
    return base.hive->DeleteTree(base.key, {}, false);
  });
}

LONG WINAPI RegFlushKey(HKEY hKey) {
  return Guard([&]() -> LONG {
    OpenKey key;
    if (const long error = Resolve(hKey, key)) return error;
    return key.hive->Flush();
  });
}

LONG WINAPI RegNotifyChangeKeyValue(HKEY hKey, BOOL bWatchSubtree, DWORD dwNotifyFilter,
                                    HANDLE hEvent, BOOL fAsynchronous) {
  return Guard([&]() -> LONG {
    const DWORD filter = dwNotifyFilter & ~static_cast<DWORD>(REG_NOTIFY_THREAD_AGNOSTIC);
    if ((filter & ~static_cast<DWORD>(REG_LEGAL_CHANGE_FILTER)) != 0 || filter == 0)
      return ERROR_INVALID_PARAMETER;
    if (fAsynchronous && hEvent == nullptr) return ERROR_INVALID_PARAMETER;
    OpenKey key;
    if (const long error = ResolveWith(hKey, KEY_NOTIFY, key)) return error;
    std::shared_ptr<regkey::platform::KernelEvent> event;
    if (fAsynchronous) {
      event = regkey::platform::ReferenceEvent(hEvent);
      if (!event) return ERROR_INVALID_HANDLE;
    } else {
      event = std::make_shared<regkey::platform::KernelEvent>(true, false);
    }
    const std::uintptr_t handle = reinterpret_cast<std::uintptr_t>(hKey);
    const long error = key.hive->Notify(key.key, handle, bWatchSubtree != FALSE, filter, event);
    if (error) return error;
    // A close that removed the handle after it was resolved may have ended
    // its requests before this one was armed: end it as that close would.
    OpenKey still;
    if (!IsPredefined(hKey) && !FindHandle(hKey, still)) key.hive->CancelNotify(handle);
    if (fAsynchronous) return ERROR_SUCCESS;
    event->Wait(INFINITE);
    return ERROR_SUCCESS;
  });
}

}  // extern "C"
