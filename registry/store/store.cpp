// What a store without tree deletion, batches, a read of a key's whole
// contents or a disk of its own to flush answers.
#include "registry/store/store.h"

#include <windows.h>

namespace regkey::registry {

long Store::ReadContents(KeyId id, std::vector<ChildRow>& children, std::vector<ValueRow>& values) {
  if (const long error = ReadChildren(id, children)) return error;
  return ReadValues(id, values);
}

long Store::DeleteTree(KeyId, const std::string&, bool, std::int64_t, Written&) {
  return ERROR_NOT_SUPPORTED;
}

long Store::BeginBatch(std::uint64_t&) { return ERROR_NOT_SUPPORTED; }

long Store::EndBatch(bool, Written&) { return ERROR_NOT_SUPPORTED; }

long Store::Flush() { return ERROR_SUCCESS; }

}  // namespace regkey::registry
