// A small in-memory model of Windows' registry semantics, as the registry
// functions show them to a caller: trees of keys named without regard to ASCII
// case, subkeys listed in the order of their upper-cased names, values in the
// order they were first set, handles that carry their rights and see their
// key's deletion, and change notifications that signal once. Each call gives
// the code (and the outputs) Windows documents for it.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>
#include <windows.h>

namespace regkey::fuzz {

struct ModelValue {
  std::string name;  // as first set
  DWORD type = REG_NONE;
  std::string data;
};

struct ModelKey {
  std::string name;            // as created
  ModelKey* parent = nullptr;  // null for a root; only followed from live keys
  std::map<std::string, std::shared_ptr<ModelKey>> children;  // by upper-cased name
  std::vector<ModelValue> values;                             // in order of creation
  bool deleted = false;

  ModelValue* FindValue(std::string_view name);
};

// Handles: ids from Connect/Create/Open; kNull and kPerformanceData stand
// for the null handle and HKEY_PERFORMANCE_DATA.
constexpr int kNullHandle = -1;
constexpr int kPerformanceData = -2;

struct ModelOpen {
  LONG code = ERROR_SUCCESS;
  int handle = -1;  // the new handle when code is 0
  DWORD disposition = 0;
};

struct ModelData {
  LONG code = ERROR_SUCCESS;
  DWORD type = 0;
  DWORD size = 0;  // the value's size, when the call reports it
  std::string data;
  std::string name;  // enumerations
};

struct ModelInfo {
  LONG code = ERROR_SUCCESS;
  DWORD subKeys = 0, maxSubKeyLength = 0, values = 0, maxValueNameLength = 0, maxValueSize = 0;
};

class RegistryModel {
 public:
  RegistryModel(int roots, int events);

  // Buffers a caller passes: absent (null) or with a capacity.
  using Buffer = std::optional<DWORD>;

  int Connect(int root);
  ModelOpen Create(int handle, const char* path, REGSAM access);
  ModelOpen Open(int handle, const char* path, REGSAM access);
  LONG Close(int handle);
  LONG SetValue(int handle, const char* name, DWORD type, const char* data, DWORD size);
  // `data` and `size`: the lpData and lpcbData arguments (a buffer of that
  // capacity, or null); `reserved`: a non-null lpReserved.
  ModelData QueryValue(int handle, const char* name, bool dataBuffer, Buffer size, bool reserved);
  LONG DeleteValue(int handle, const char* name);
  ModelInfo QueryInfo(int handle);
  ModelData EnumKey(int handle, DWORD index, Buffer nameCapacity);
  ModelData EnumValue(int handle, DWORD index, Buffer nameCapacity, bool dataBuffer, Buffer size);
  LONG DeleteKey(int handle, const char* path);
  // The key at `path` with everything below it; with a null path, what is
  // below the handle's key and its values.
  LONG DeleteTree(int handle, const char* path);
  // `event`: an event slot, kNullHandle, or -2 for a handle that is no event.
  LONG Notify(int handle, bool subtree, DWORD filter, int event);

  // Events: manual-reset ones stay signalled until reset; auto-reset ones
  // are reset by the wait that sees them signalled.
  bool EventManualReset(int event) const { return events_[event].manual; }
  bool Waited(int event);  // what a zero-timeout wait sees
  void ResetEvent(int event) { events_[event].signalled = false; }
  void ReplaceEvent(int event);  // closed and created anew

  const std::shared_ptr<ModelKey>& Root(int root) const { return roots_[root]; }
  int HandleCount() const { return static_cast<int>(handles_.size()); }
  bool IsOpen(int handle) const { return handle >= 0 && handles_[handle].open; }

  static std::string Fold(std::string_view name);

 private:
  struct Handle {
    std::shared_ptr<ModelKey> key;
    REGSAM access = 0;
    bool open = true;
  };
  struct Event {
    bool manual = true;
    bool signalled = false;
    int generation = 0;
  };
  struct Watch {
    int handle;
    ModelKey* key;
    bool subtree;
    DWORD filter;
    int event, generation;
  };
  enum Change { kName = REG_NOTIFY_CHANGE_NAME, kLastSet = REG_NOTIFY_CHANGE_LAST_SET, kDeleted };

  LONG Resolve(int handle, REGSAM rights, Handle*& out);
  static LONG Split(const char* path, std::vector<std::string>& levels);
  static REGSAM Rights(REGSAM access);
  int AddHandle(std::shared_ptr<ModelKey> key, REGSAM access);
  // Follows `levels` below `key`: the deepest existing key and how many
  // levels it took.
  static std::shared_ptr<ModelKey> Walk(std::shared_ptr<ModelKey> key,
                                        const std::vector<std::string>& levels, std::size_t& found);
  // Where a path below a handle leads: the handle, the path's levels, the
  // deepest existing key and how many levels it took.
  struct Located {
    Handle* base = nullptr;
    std::vector<std::string> levels;
    std::shared_ptr<ModelKey> key;
    std::size_t found = 0;
  };
  // Resolves the handle (no rights needed), splits the path and walks it,
  // refusing a deleted base.
  LONG Locate(int handle, const char* path, Located& at);
  ModelData CopyValue(const ModelValue& value, bool dataBuffer, Buffer size);
  void Changed(ModelKey* key, Change change);
  // Marks a key and everything below it deleted.
  void Deleted(ModelKey& key);
  void Signal(int event, int generation);

  std::vector<std::shared_ptr<ModelKey>> roots_;
  std::vector<Handle> handles_;
  std::vector<Event> events_;
  std::vector<Watch> watches_;
};

}  // namespace regkey::fuzz
