// Many changes in one commit: for tools that apply a whole file of changes
// to a machine's registry (qreg import) and want all or nothing.
#pragma once

#include <functional>
#include <string>
#include <vector>
#include <windows.h>

namespace regkey::registry {

// Runs `changes`, whose registry calls (made by this thread) under the
// predefined `roots` of this machine then join one store transaction:
// committed when `changes` returns 0, rolled back otherwise, so that
// nothing of a failed run stays. Other threads' and processes' writes to
// the store wait meanwhile. The store may run `changes` more than once
// (when it had to make room): only the last run counts. Returns `changes`'
// code, or the store's when the commit fails; ERROR_NOT_SUPPORTED, without
// running `changes`, when the roots are not all served by one store or the
// store has no such transactions.
long RunInOneTransaction(const std::vector<HKEY>& roots, const std::function<long()>& changes);
// The same for the predefined `roots` of the machine named `machine` (as
// RegConnectRegistryA takes it; empty: this machine), whose calls then go
// through connections to that machine.
long RunInOneTransaction(const std::string& machine, const std::vector<HKEY>& roots,
                         const std::function<long()>& changes);

}  // namespace regkey::registry
