// Opening a connection of the database component on SQLite.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ovtbldiff/dbcomp/database.h"
#include "ovtbldiff/dbcomp/trace.h"

namespace ovt::db {

struct SqliteOptions {
  // A second database file whose tables appear under the "ORULINK_" prefix ("" = none).
  std::string linkFile;
  // A file that receives every statement sent through the connection ("" = no trace).
  std::string traceFile;
  // Compare text with binary comparison instead of the dialect's case-insensitive one.
  bool binaryCompare = false;
  // Put the file (and the link file) in WAL journal mode: a commit appends to the log and
  // syncs once, instead of writing and syncing a rollback journal. The mode stays set in the
  // files. A transaction that writes both files is then atomic in each file, not across them
  // (the reconciling members write only the destination's file).
  bool walJournal = false;
  // Run every statement in its literal rendering, without the faster forms of the same result
  // (the missing-record statement as an anti-join): for comparing the two and for diagnosis.
  bool literalStatements = false;
  // Prepared statements kept by shape (statements that differ only in literal values share
  // one, the values bound as parameters); 0 prepares every statement anew.
  size_t statementCache = 64;
  // Told of every statement sent through the connection, as the trace file shows it (without
  // the text as run); empty = none. With or without a trace file.
  TraceListener traceListener = {};
};

// Behaviour of the SQLite connection where the interface leaves it open:
// - OpenRecordset options 0..3 all give the same recordset: read in full (exact RecordCount),
//   updatable when the statement reads one table; another option value raises kDbErrFailure.
// - Statements are Jet-dialect text, one per call (text after the first is refused);
//   text compares case-insensitively unless binaryCompare. Dates are stored as ISO text,
//   Yes/No as -1/0.
// - Transactions nest (savepoints); CreateView stores a temporary view of the connection.
// Opens (creating it when missing) a SQLite database file as a cDatabase connection.
// Failure raises ComError with source "OVDB". The trace file may also be named by the
// environment variable OVDB_TRACE; each entry holds the statement as received, as run, and
// its outcome (rows, rows changed, or the engine's error).
DatabaseRef OpenSqlite(const std::string& path, const SqliteOptions& options = {});

// For a program that owns its process (the ovtbldiff tool), called before anything else opens
// a database: turns off SQLite's process-wide memory statistics, whose global mutex every
// allocation of the engine takes. A library loaded into another program must not call it (the
// setting affects every SQLite user in the process). True when applied; false once the engine
// has started in this process (nothing is changed then).
bool SqliteQuietMemoryStatistics();

// Runs SQLite's own SQL (one or more statements, not the Jet dialect) on a connection made by
// OpenSqlite: for hosts and tests that prepare database files. Failure raises ComError.
void RunSqliteScript(const DatabaseRef& db, const std::string& sql);

// How many prepared statements the connection's statement cache holds now (nullopt when the
// connection is not a SQLite one).
std::optional<size_t> SqliteCachedStatements(const DatabaseRef& db);

// How many query results the connection keeps now for the exact text of their statement
// (nullopt when the connection is not a SQLite one).
std::optional<size_t> SqliteKeptResults(const DatabaseRef& db);

// Whether a look-up of `table` (as the connection names it, link tables included) by equal
// values of `columns` can use an index: an index (or the integer primary key) that begins
// with one of them. nullopt when the connection is not a SQLite one or the table is missing.
std::optional<bool> SqliteKeyIndexed(const DatabaseRef& db, const std::string& table,
                                     const std::vector<std::string>& columns);

}  // namespace ovt::db
