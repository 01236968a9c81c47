// remote_watch.cpp : watches a key on another machine while someone there
// changes it. The same file builds for Windows and for Linux.
//
//   remote_watch \\MACHINE PATH [COUNT]   waits for COUNT changes (1) below
//                                         HKEY_LOCAL_MACHINE\PATH, listing the
//                                         key's string values after each
//   remote_watch \\MACHINE PATH NAME=TEXT sets a string value there

#include <afx.h>
#include <afxcoll.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <tchar.h>

#include "regkey/qorCRegKey.h"

namespace {

const DWORD kWaitMs = 60000;

int Fail(const qorCRegKey& key, const char* what) {
  std::printf("%s %s failed: error %ld\n", what, (LPCTSTR)key.GetFullName(),
              static_cast<long>(key.m_lError));
  return 1;
}

int SetString(qorCRegKey& key, const char* assignment) {
  const char* equals = std::strchr(assignment, '=');
  CString name(assignment, static_cast<int>(equals - assignment));
  const char* text = equals + 1;
  if (!key.SetValue(name, reinterpret_cast<const BYTE*>(text),
                    static_cast<DWORD>(std::strlen(text) + 1), REG_SZ))
    return Fail(key, "setting a value of");
  std::printf("set %s in %s\n", (LPCTSTR)name, (LPCTSTR)key.GetFullName());
  return 0;
}

int ListStrings(qorCRegKey& key) {
  CStringArray names;
  if (!key.EnumValueNames(names)) return Fail(key, "listing");
  for (INT_PTR i = 0; i < names.GetSize(); ++i) {
    DWORD size = 0;
    qorCRegKey::BufferDeleter release;
    LPBYTE text = key.QueryValueAlloc(names[i], &size, REG_SZ);
    if (text == nullptr) continue;  // not a string
    std::printf("  %s = %s\n", (LPCTSTR)names[i], reinterpret_cast<const char*>(text));
    release(text);
  }
  return 0;
}

int Watch(qorCRegKey& key, int count) {
  for (int i = 0; i < count; ++i) {
    // A remote key stays open after a call (its handle carried the last
    // watch), and an open remote key can't be armed again: close it first.
    key.Close();
    std::printf("watching %s\n", (LPCTSTR)key.GetFullName());
    std::fflush(stdout);
    if (!key.WaitForChange(kWaitMs)) return Fail(key, "watching");
    std::printf("changed:\n");
    if (ListStrings(key) != 0) return 1;
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 3 || argc > 4) {
    std::printf("usage: remote_watch \\\\MACHINE PATH [COUNT | NAME=TEXT]\n");
    return 2;
  }
  const char* machine = argv[1];
  while (*machine == '\\') ++machine;
  qorCRegKey key;
  if (!key.SetKey(machine, HKEY_LOCAL_MACHINE, argv[2])) return Fail(key, "naming");
  if (argc == 4 && std::strchr(argv[3], '=') != nullptr) return SetString(key, argv[3]);
  const int count = argc == 4 ? std::atoi(argv[3]) : 1;
  return Watch(key, count > 0 ? count : 1);
}
