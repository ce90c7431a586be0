// Opening a connection of the database component on PostgreSQL.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ovtbldiff/dbcomp/database.h"
#include "ovtbldiff/dbcomp/trace.h"

namespace ovt::db {

struct PostgresOptions {
  // The link tables: a location of the same database naming another schema (its tables
  // appear under the "ORULINK_" prefix); "" = none.
  std::string link;
  // A file that receives every statement sent through the connection ("" = no trace; the
  // environment variable OVDB_TRACE names one too).
  std::string traceFile;
  // Compare text with binary comparison instead of the dialect's case-insensitive one.
  bool binaryCompare = false;
  // Run every statement in its literal rendering, without the faster forms of the same result
  // (the missing-record statement as an anti-join): for comparing the two and for diagnosis.
  bool literalStatements = false;
  // Renderings kept by shape (statements that differ only in literal values share one; the
  // values are written back into its text); 0 renders every statement anew.
  size_t statementCache = 64;
  // Told of every statement sent through the connection, as the trace file shows it (without
  // the text as run); empty = none. With or without a trace file.
  TraceListener traceListener = {};
};

// A location is a libpq connection string, as a URI (postgresql://user@host/db?...) or as
// key=value words, plus the component's own setting `schema` (a URI parameter schema=NAME or
// a word schema=NAME): the schema that holds this entry's tables, "public" when not given.
bool IsPostgresLocation(const std::string& text);

// Behaviour of the PostgreSQL connection where the interface leaves it open:
// - Statements are Jet-dialect text, one per call, rendered for PostgreSQL from the same parse
//   as on SQLite; names resolve to the stored tables and columns case-insensitively.
// - The schema (and the link schema) is created when missing.
// - BeginTrans at the outermost level starts a SERIALIZABLE transaction, inner levels are
//   savepoints; inside a transaction each statement runs in its own savepoint, so that a
//   failing statement undoes only itself, as on SQLite.
// - Recordsets are streamed from the server row by row into compact storage.
// Failure to connect raises ComError(0x80004005) with source "OVDB".
DatabaseRef OpenPostgres(const std::string& location, const PostgresOptions& options = {});

// Runs one statement of PostgreSQL's own SQL (not the Jet dialect) on a connection made by
// OpenPostgres, in its schema: for hosts and tests that prepare databases. Failure raises.
void RunPostgresStatement(const DatabaseRef& db, const std::string& sql);

// How many renderings the connection's statement cache holds now (nullopt when the
// connection is not a PostgreSQL one).
std::optional<size_t> PostgresCachedStatements(const DatabaseRef& db);

// How many times the connection has waited for the server's answer since it was opened (a
// statement and the commands sent with it count once); nullopt when the connection is not a
// PostgreSQL one. For measuring and for tests of what a unit of work costs.
std::optional<uint64_t> PostgresRoundTrips(const DatabaseRef& db);

// Whether a look-up of `table` by equal values of `columns` can use an index: one whose first
// column is one of them. nullopt when the connection is not a PostgreSQL one or the table is
// missing.
std::optional<bool> PostgresKeyIndexed(const DatabaseRef& db, const std::string& table,
                                       const std::vector<std::string>& columns);

}  // namespace ovt::db
