// RAII owners of the SQLite handles. No raw handle leaves these classes except to the
// functions of this folder that call the C API on them.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>

namespace ovt::db::sqlite {

// Error numbers of the component, source "OVDB".
inline constexpr int32_t kErrSyntax = static_cast<int32_t>(0x80040E14u);   // syntax, unknown name
inline constexpr int32_t kErrFailure = static_cast<int32_t>(0x80004005u);  // any other engine failure
inline constexpr const char* kSource = "OVDB";

[[noreturn]] void raise(int32_t number, const std::string& description);
// Number for an engine result code: kErrSyntax for SQLITE_ERROR (bad SQL, unknown table or
// column), kErrFailure for the rest (a statement beyond the engine's limits among them).
int32_t numberFor(int sqliteCode);

struct ConnectionCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using ConnectionHandle = std::unique_ptr<sqlite3, ConnectionCloser>;

// A prepared statement, finalised when the owner goes.
class Stmt {
 public:
  Stmt() = default;
  // Prepares `sql`; a failure raises with the engine's message and the statement.
  Stmt(sqlite3* db, const std::string& sql);
  // Prepares without raising; false (and the message in `error`) on failure.
  static bool tryPrepare(sqlite3* db, const std::string& sql, Stmt& out, std::string& error, int& code);

  sqlite3_stmt* get() const { return stmt_.get(); }
  explicit operator bool() const { return static_cast<bool>(stmt_); }
  // sqlite3_step; SQLITE_ROW / SQLITE_DONE, anything else raises.
  int step();
  void reset() { sqlite3_reset(stmt_.get()); }

 private:
  struct Finalizer {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
  };
  std::unique_ptr<sqlite3_stmt, Finalizer> stmt_;
  sqlite3* db_ = nullptr;
};

// Runs statements without results (savepoints, DDL of the component itself); raises.
void exec(sqlite3* db, const std::string& sql);

// Registers the functions and collation the dialect's rendering calls.
void registerDialectFunctions(sqlite3* db, bool binaryCompare);

}  // namespace ovt::db::sqlite
