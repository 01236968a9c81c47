// The PostgreSQL store's tables and statements.
#pragma once

#include <cstdint>
#include <string>

#include "registry/store/postgres/pg_link.h"

namespace regkey::registry::pg {

// The schema version this code reads and writes (row 'schema' of regkey_meta).
inline constexpr std::int64_t kSchemaVersion = 1;

// Creates what is missing, under a lock that keeps concurrent creators apart.
std::string CreateSchema();
// The schema version, in text.
extern const char* const kSchemaVersionQuery;
// The channel every commit announces its changes on.
extern const char* const kListen;

// The reads the hive makes (kReadKey to kValueTimes, kReadContents) give
// the change counter of their snapshot in their first column, on a row of
// their own (the other columns null) when they find nothing.
enum StatementId {
  kCounter,
  kReadKey,
  kFindKey,
  kReadChildren,
  kReadValues,
  kValueTimes,
  kLockKey,
  kInsertKey,
  kTouchKey,
  kSetValue,
  kDeleteValue,
  kDeleteKeyValues,
  kDeleteKey,
  kDeleteBelow,
  kPublish,
  kLockCounter,
  kDeleteLeaf,
  kReadContents,
  kStatementCount
};

extern const Statement kStatements[];  // kStatementCount entries

}  // namespace regkey::registry::pg
