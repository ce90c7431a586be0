// Statement and connection helpers over the SQLite C API.
#include "sqlite/handles.h"

#include "ovtbldiff/runtime/error.h"

namespace ovt::db::sqlite {

void raise(int32_t number, const std::string& description) { raiseError(number, kSource, description); }

int32_t numberFor(int sqliteCode) { return (sqliteCode & 0xFF) == SQLITE_ERROR ? kErrSyntax : kErrFailure; }

Stmt::Stmt(sqlite3* db, const std::string& sql) : db_(db) {
  std::string error;
  int code = 0;
  if (!tryPrepare(db, sql, *this, error, code)) raise(numberFor(code), error);
}

bool Stmt::tryPrepare(sqlite3* db, const std::string& sql, Stmt& out, std::string& error, int& code) {
  sqlite3_stmt* raw = nullptr;
  const char* tail = nullptr;
  code = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &raw, &tail);
  out.stmt_.reset(raw);
  out.db_ = db;
  if (code != SQLITE_OK) {
    const std::string message = sqlite3_errmsg(db);
    // A statement beyond the engine's limits is not a syntax error: it fails as any other
    // failure does, which callers tell apart from a refused statement.
    for (const char* limit : {"too many arguments on function", "Expression tree is too large", "too many columns",
                              "too many terms", "too many FROM clause terms"})
      if (message.find(limit) != std::string::npos) code = SQLITE_TOOBIG;
    error = message + " in: " + sql;
    out.stmt_.reset();
    return false;
  }
  if (!raw) {
    code = SQLITE_ERROR;
    error = "empty statement";
    return false;
  }
  return true;
}

int Stmt::step() {
  int rc = sqlite3_step(stmt_.get());
  if (rc == SQLITE_ROW || rc == SQLITE_DONE) return rc;
  std::string msg = sqlite3_errmsg(db_);
  sqlite3_reset(stmt_.get());
  raise(numberFor(rc), msg);
}

void exec(sqlite3* db, const std::string& sql) {
  Stmt st(db, sql);
  while (st.step() == SQLITE_ROW) {
  }
}

}  // namespace ovt::db::sqlite
