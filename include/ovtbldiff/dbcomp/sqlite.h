// Opening a connection of the database component on SQLite.
#pragma once

#include <string>

#include "ovtbldiff/dbcomp/database.h"

namespace ovt::db {

struct SqliteOptions {
  // A second database file whose tables appear under the "ORULINK_" prefix ("" = none).
  std::string linkFile;
  // A file that receives every statement sent through the connection ("" = no trace).
  std::string traceFile;
  // Compare text with binary comparison instead of the dialect's case-insensitive one.
  bool binaryCompare = false;
};

// Opens (creating it when missing) a SQLite database file as a cDatabase connection.
// Failure raises ComError with source "OVDB". The trace file may also be named by the
// environment variable OVDB_TRACE; each entry holds the statement as received, as run, and
// its outcome (rows, rows changed, or the engine's error).
DatabaseRef OpenSqlite(const std::string& path, const SqliteOptions& options = {});

// Runs SQLite's own SQL (one or more statements, not the Jet dialect) on a connection made by
// OpenSqlite: for hosts and tests that prepare database files. Failure raises ComError.
void RunSqliteScript(const DatabaseRef& db, const std::string& sql);

}  // namespace ovt::db
