#include "pgsql/session.h"

#include <libpq-fe.h>

#include <cstring>

#include "ovtbldiff/runtime/error.h"

namespace ovt::db::pgsql {
namespace {

struct ConnCloser {
  void operator()(PGconn* c) const { PQfinish(c); }
};
struct ResultClearer {
  void operator()(PGresult* r) const { PQclear(r); }
};
using ResultHandle = std::unique_ptr<PGresult, ResultClearer>;

std::string trimmed(const char* message) {
  std::string s = message ? message : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

// SQLSTATE classes 42 (syntax error or access rule violation: unknown table or column
// included) map to the syntax number, as the SQLite engine's "no such table" does.
int32_t numberFor(const PGresult* r) {
  const char* state = PQresultErrorField(r, PG_DIAG_SQLSTATE);
  return state && std::strncmp(state, "42", 2) == 0 ? kErrSyntax : kErrFailure;
}

[[noreturn]] void raiseFrom(const PGresult* r, PGconn* c, const std::string& sql) {
  std::string message = trimmed(r ? PQresultErrorMessage(r) : PQerrorMessage(c));
  if (message.rfind("ERROR:  ", 0) == 0) message.erase(0, 8);
  raiseError(r ? numberFor(r) : kErrFailure, kSource, message + " in: " + sql);
}

}  // namespace

struct Session::Impl {
  std::unique_ptr<PGconn, ConnCloser> conn;
};

Session::Session(const std::string& conninfo) : impl_(std::make_unique<Impl>()) {
  impl_->conn.reset(PQconnectdb(conninfo.c_str()));
  if (!impl_->conn) raiseError(kErrFailure, kSource, "cannot allocate a PostgreSQL connection");
  if (PQstatus(impl_->conn.get()) != CONNECTION_OK)
    raiseError(kErrFailure, kSource, "cannot connect to PostgreSQL: " + trimmed(PQerrorMessage(impl_->conn.get())));
  // The server's notices (a table dropped "if exists" that was not there, ...) are not errors
  // and must not reach the host's standard error.
  PQsetNoticeProcessor(impl_->conn.get(), [](void*, const char*) {}, nullptr);
}

Session::~Session() = default;

int64_t Session::execute(const std::string& sql) {
  PGconn* c = impl_->conn.get();
  // PQexecParams always uses the extended protocol, whose Parse message takes one statement.
  ResultHandle r(PQexecParams(c, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0));
  ExecStatusType st = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
  if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) raiseFrom(r.get(), c, sql);
  const char* n = PQcmdTuples(r.get());
  return n && *n ? std::stoll(n) : 0;
}

void Session::query(const std::string& sql, const std::function<void(const std::vector<Column>&)>& columns,
                    const std::function<void(const std::vector<Cell>&)>& row) {
  PGconn* c = impl_->conn.get();
  if (!PQsendQueryParams(c, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0)) raiseFrom(nullptr, c, sql);
  PQsetSingleRowMode(c);
  bool described = false;
  std::vector<Cell> cells;
  ResultHandle failure;
  // Every result must be read before the connection takes the next statement, also after a
  // failure or an exception from a callback; the first failure is kept and raised at the end.
  auto drain = [&] {
    while (PGresult* rest = PQgetResult(c)) PQclear(rest);
  };
  try {
    while (PGresult* raw = PQgetResult(c)) {
      ResultHandle r(raw);
      ExecStatusType st = PQresultStatus(raw);
      if (st == PGRES_SINGLE_TUPLE || (st == PGRES_TUPLES_OK && !described)) {
        if (!described) {
          std::vector<Column> cols(PQnfields(raw));
          for (int i = 0; i < PQnfields(raw); ++i) cols[i] = {PQfname(raw, i), PQftype(raw, i)};
          columns(cols);
          described = true;
        }
        for (int t = 0; t < PQntuples(raw); ++t) {
          cells.assign(PQnfields(raw), std::nullopt);
          for (int i = 0; i < PQnfields(raw); ++i)
            if (!PQgetisnull(raw, t, i)) cells[i] = std::string(PQgetvalue(raw, t, i), PQgetlength(raw, t, i));
          row(cells);
        }
      } else if (st != PGRES_TUPLES_OK && st != PGRES_COMMAND_OK && !failure) {
        failure = std::move(r);
      }
    }
  } catch (...) {
    drain();
    throw;
  }
  if (failure) raiseFrom(failure.get(), c, sql);
}

int Session::serverVersion() const { return PQserverVersion(impl_->conn.get()); }

}  // namespace ovt::db::pgsql
