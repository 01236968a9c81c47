#include "registry/store/postgres/pg_schema.h"

#include <iterator>
#include <string>

#include "registry/store/store.h"

namespace regkey::registry::pg {

// Names and paths are bytes (bytea): stored exactly, ordered bytewise.
// Roots have no parent. A key's parent may not go while it has children
// (checked at the end of each statement, so a whole subtree goes in one);
// values go with their key. Times are FILETIME counts.
const char* const kTables = R"sql(
BEGIN;
SELECT pg_advisory_xact_lock(7381905261437029);
CREATE TABLE IF NOT EXISTS regkey_meta(
  name text PRIMARY KEY,
  value bigint NOT NULL);
CREATE SEQUENCE IF NOT EXISTS regkey_key_ids START @FIRST_KEY@;
CREATE SEQUENCE IF NOT EXISTS regkey_value_order;
CREATE TABLE IF NOT EXISTS regkey_keys(
  id bigint PRIMARY KEY DEFAULT nextval('regkey_key_ids'),
  parent bigint REFERENCES regkey_keys(id),
  name bytea NOT NULL,
  path bytea NOT NULL,
  mtime bigint NOT NULL,
  UNIQUE (parent, path));
CREATE TABLE IF NOT EXISTS regkey_values(
  key bigint NOT NULL REFERENCES regkey_keys(id) ON DELETE CASCADE,
  fold bytea NOT NULL,
  name bytea NOT NULL,
  type bigint NOT NULL,
  data bytea NOT NULL,
  seq bigint NOT NULL DEFAULT nextval('regkey_value_order'),
  mtime bigint NOT NULL,
  PRIMARY KEY (key, fold));
CREATE INDEX IF NOT EXISTS regkey_values_in_order ON regkey_values(key, seq);
INSERT INTO regkey_keys(id, parent, name, path, mtime)
  SELECT id, NULL, convert_to(name, 'UTF8'), convert_to(path, 'UTF8'),
         (extract(epoch FROM now()) * 10000000)::bigint + 116444736000000000
  FROM (VALUES @ROOTS@) AS roots(id, name, path)
  ON CONFLICT DO NOTHING;
INSERT INTO regkey_meta(name, value) VALUES ('schema', 1), ('changes', 0) ON CONFLICT DO NOTHING;
COMMIT;
)sql";

// The tables, then the roots (kRoots, ids from 1); other keys' ids follow.
std::string CreateSchema() {
  std::string roots;
  for (const RootKey& root : kRoots) {
    if (!roots.empty()) roots += ", ";
    roots += "(" + std::to_string(root.id) + ", '" + root.name + "', '" + root.path + "')";
  }
  std::string schema = kTables;
  schema.replace(schema.find("@FIRST_KEY@"), 11, std::to_string(kRootCount + 1));
  schema.replace(schema.find("@ROOTS@"), 7, roots);
  return schema;
}

const char* const kSchemaVersionQuery = "SELECT value FROM regkey_meta WHERE name = 'schema'";

const char* const kListen = "LISTEN regkey_changes";

// The counter is taken last in every write, after the rows it changes, so
// that writers never wait for each other in opposite orders.
const Statement kStatements[] = {
    {"regkey_counter", "SELECT value FROM regkey_meta WHERE name = 'changes'"},
    {"regkey_read_key",
     "SELECT c.value, k.id, COALESCE(k.parent, 0), k.name, k.path, k.mtime "
     "FROM regkey_meta c LEFT JOIN regkey_keys k ON k.id = $1::bigint WHERE c.name = 'changes'"},
    {"regkey_find_key",
     "SELECT c.value, k.id, COALESCE(k.parent, 0), k.name, k.path, k.mtime "
     "FROM regkey_meta c LEFT JOIN regkey_keys k ON k.parent = $1::bigint AND k.path = $2::bytea "
     "WHERE c.name = 'changes'"},
    // Children's paths share the parent's prefix: ordering by path orders
    // by folded name.
    {"regkey_read_children",
     "SELECT c.value, k.id, k.name, k.path, k.mtime "
     "FROM regkey_meta c LEFT JOIN regkey_keys k ON k.parent = $1::bigint "
     "WHERE c.name = 'changes' ORDER BY k.path"},
    {"regkey_read_values",
     "SELECT c.value, v.name, v.fold, v.mtime, v.type, v.data "
     "FROM regkey_meta c LEFT JOIN regkey_values v ON v.key = $1::bigint "
     "WHERE c.name = 'changes' ORDER BY v.seq"},
    {"regkey_value_times",
     "SELECT c.value, t.path, t.mtime FROM regkey_meta c LEFT JOIN "
     "(SELECT k.path, MAX(v.mtime) AS mtime FROM regkey_keys k JOIN regkey_values v ON v.key = "
     "k.id "
     "WHERE k.parent = $1::bigint GROUP BY k.id) t ON true WHERE c.name = 'changes'"},
    {"regkey_lock_key",
     "SELECT COALESCE(parent, 0) FROM regkey_keys WHERE id = $1::bigint FOR UPDATE"},
    {"regkey_insert_key",
     "INSERT INTO regkey_keys(parent, name, path, mtime) "
     "VALUES ($1::bigint, $2::bytea, $3::bytea, $4::bigint) "
     "ON CONFLICT (parent, path) DO NOTHING RETURNING id"},
    {"regkey_touch_key", "UPDATE regkey_keys SET mtime = $2::bigint WHERE id = $1::bigint"},
    // A whole set in one statement, committed on its own: the counter it
    // moved to, and 1; or, when the value already held this type and data
    // (nothing written, nothing announced), the counter of its snapshot, and 0.
    {"regkey_set_value",
     "WITH v AS (INSERT INTO regkey_values(key, fold, name, type, data, mtime) "
     "VALUES ($1::bigint, $2::bytea, $3::bytea, $4::bigint, $5::bytea, $6::bigint) "
     "ON CONFLICT (key, fold) DO UPDATE SET type = excluded.type, data = excluded.data, "
     "mtime = excluded.mtime "
     "WHERE regkey_values.type <> excluded.type OR regkey_values.data <> excluded.data "
     "RETURNING 1), "
     "c AS (UPDATE regkey_meta SET value = value + 1 "
     "WHERE name = 'changes' AND EXISTS (SELECT 1 FROM v) RETURNING value) "
     "SELECT c.value, 1 FROM c, "
     "LATERAL pg_notify('regkey_changes', c.value::text || $7::text) n "
     "UNION ALL SELECT m.value, 0 FROM regkey_meta m "
     "WHERE m.name = 'changes' AND NOT EXISTS (SELECT 1 FROM c)"},
    {"regkey_delete_value",
     "DELETE FROM regkey_values WHERE key = $1::bigint AND fold = $2::bytea"},
    {"regkey_delete_key_values", "DELETE FROM regkey_values WHERE key = $1::bigint"},
    {"regkey_delete_key", "DELETE FROM regkey_keys WHERE id = $1::bigint"},
    {"regkey_delete_below",
     "WITH RECURSIVE below(id) AS (SELECT id FROM regkey_keys WHERE parent = $1::bigint "
     "UNION ALL SELECT k.id FROM regkey_keys k JOIN below b ON k.parent = b.id) "
     "DELETE FROM regkey_keys WHERE id IN (SELECT id FROM below)"},
    {"regkey_publish",
     "WITH c AS (UPDATE regkey_meta SET value = value + $1::bigint WHERE name = 'changes' "
     "RETURNING value) "
     "SELECT c.value FROM c, "
     "LATERAL pg_notify('regkey_changes', (c.value - $1::bigint + 1)::text || $2::text) n"},
    // A batch holds the counter from its start: other writers wait for it.
    {"regkey_lock_counter", "SELECT value FROM regkey_meta WHERE name = 'changes' FOR UPDATE"},
    // A key without subkeys deleted, its parent touched, and its two
    // changes announced, in one statement committed on its own; no row when
    // it is missing, a root or has subkeys (a subkey committed while this
    // waited for the key fails the parent's foreign key instead).
    {"regkey_delete_leaf",
     "WITH k AS (SELECT id FROM regkey_keys WHERE id = $1::bigint AND parent IS NOT NULL "
     "FOR UPDATE), "
     "d AS (DELETE FROM regkey_keys WHERE id IN (SELECT id FROM k) "
     "AND NOT EXISTS (SELECT 1 FROM regkey_keys c WHERE c.parent = $1::bigint) RETURNING parent), "
     "t AS (UPDATE regkey_keys SET mtime = $2::bigint WHERE id IN (SELECT parent FROM d) "
     "RETURNING 1), "
     "c AS (UPDATE regkey_meta SET value = value + 2 "
     "WHERE name = 'changes' AND EXISTS (SELECT 1 FROM t) RETURNING value) "
     "SELECT c.value FROM c, "
     "LATERAL pg_notify('regkey_changes', (c.value - 1)::text || $3::text) n"},
    // Children (kind 0, by path) then values (kind 1, in order of creation):
    // kind, id, name, path or folded name, time, type, data.
    {"regkey_read_contents",
     "SELECT c.value, x.kind, x.id, x.name, x.fold, x.mtime, x.type, x.data "
     "FROM regkey_meta c LEFT JOIN ("
     "SELECT 0 AS kind, k.id, k.name, k.path AS fold, NULL::bigint AS type, NULL::bytea AS data, "
     "k.mtime, 0::bigint AS seq FROM regkey_keys k WHERE k.parent = $1::bigint "
     "UNION ALL SELECT 1, NULL, v.name, v.fold, v.type, v.data, v.mtime, v.seq "
     "FROM regkey_values v WHERE v.key = $1::bigint) x ON true "
     "WHERE c.name = 'changes' ORDER BY x.kind, x.seq, x.fold"},
};
static_assert(std::size(kStatements) == kStatementCount, "one statement for each StatementId");

}  // namespace regkey::registry::pg
