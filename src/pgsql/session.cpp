#include "pgsql/session.h"

#include <libpq-fe.h>

#include <cstring>
#include <optional>
#include <unordered_map>

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

// A failure of a prepared statement raises PreparedNotRun when the server refused it before
// running it: a parameter's value (the error's context names the parameter) or the statement
// analysed again (the error names a place in the statement; only analysis does).
[[noreturn]] void raiseFromStatement(const PGresult* r, PGconn* c, const std::string& sql, const Prepared* prepared) {
  if (prepared && r) {
    const char* context = PQresultErrorField(r, PG_DIAG_CONTEXT);
    if ((context && std::strstr(context, "portal parameter $")) || PQresultErrorField(r, PG_DIAG_STATEMENT_POSITION)) {
      std::string message = trimmed(PQresultErrorMessage(r));
      if (message.rfind("ERROR:  ", 0) == 0) message.erase(0, 8);
      throw PreparedNotRun(numberFor(r), kSource, message + " in: " + sql);
    }
  }
  raiseFrom(r, c, sql);
}

// The parameters as libpq takes them: pointers into the cells, null for Null.
std::vector<const char*> values(const std::vector<Cell>& params) {
  std::vector<const char*> out;
  for (const Cell& p : params) out.push_back(p ? p->c_str() : nullptr);
  return out;
}

bool succeeded(const PGresult* r) {
  const ExecStatusType st = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
  return st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK;
}

// Every row of a result, read whole.
std::vector<std::vector<Cell>> rowsOfResult(const PGresult* r) {
  std::vector<std::vector<Cell>> out(PQntuples(r));
  for (int t = 0; t < PQntuples(r); ++t)
    for (int i = 0; i < PQnfields(r); ++i)
      out[t].push_back(PQgetisnull(r, t, i) ? Cell() : Cell(std::string(PQgetvalue(r, t, i), PQgetlength(r, t, i))));
  return out;
}

// Reads one statement's results up to their end: the first failure, else the last result.
ResultHandle resultOf(PGconn* c) {
  ResultHandle kept;
  while (PGresult* raw = PQgetResult(c)) {
    ResultHandle r(raw);
    if (!kept || succeeded(kept.get())) kept = std::move(r);
  }
  return kept;
}

// Statements sent together and answered in one round trip (libpq's pipeline mode): the server
// runs them in order and skips the ones after a failure. Whatever happens, every result is read
// and the connection leaves pipeline mode when this goes.
class Pipeline {
 public:
  // `commands`: the session's commands prepared on the server, sent by name.
  Pipeline(PGconn* c, const std::string& sql, const std::unordered_map<std::string, std::string>* commands = nullptr)
      : c_(c), commands_(commands) {
    if (!PQenterPipelineMode(c)) raiseFrom(nullptr, c, sql);
  }
  ~Pipeline() { finish(); }
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  void send(const std::string& sql, const std::vector<const char*>& params = {}) {
    if (commands_ && params.empty())
      if (auto it = commands_->find(sql); it != commands_->end() && !it->second.empty()) return sendPrepared(it->second, params);
    sent_ = true;
    if (!PQsendQueryParams(c_, sql.c_str(), static_cast<int>(params.size()), nullptr, params.data(), nullptr, nullptr, 0))
      raiseFrom(nullptr, c_, sql);
  }
  void sendPrepared(const std::string& name, const std::vector<const char*>& params) {
    sent_ = true;
    if (!PQsendQueryPrepared(c_, name.c_str(), static_cast<int>(params.size()), params.data(), nullptr, nullptr, 0))
      raiseFrom(nullptr, c_, name);
  }
  // Ends what was sent; the results can be read from here on.
  void sync(const std::string& sql) {
    if (!PQpipelineSync(c_)) raiseFrom(nullptr, c_, sql);
    synced_ = true;
  }
  // Reads what is left up to the sync point and leaves pipeline mode.
  void finish() {
    if (sent_ && !synced_) synced_ = PQpipelineSync(c_) == 1;
    if (synced_) {
      bool idle = false;  // two ends in a row: nothing is pending any more
      while (true) {
        PGresult* r = PQgetResult(c_);
        if (!r) {
          if (idle) break;
          idle = true;
          continue;
        }
        idle = false;
        const bool sync = PQresultStatus(r) == PGRES_PIPELINE_SYNC;
        PQclear(r);
        if (sync) break;
      }
    }
    sent_ = synced_ = false;
    PQexitPipelineMode(c_);
  }

 private:
  PGconn* c_;
  const std::unordered_map<std::string, std::string>* commands_;
  bool sent_ = false;
  bool synced_ = false;
};

}  // namespace

struct Session::Impl {
  std::unique_ptr<PGconn, ConnCloser> conn;
  bool streaming = false;  // a query's rows are being handed out
  // Commands kept prepared (keepPrepared): their text, and the name they are prepared under
  // ("" until their first use).
  std::unordered_map<std::string, std::string> commands;
  uint64_t commandNumber = 0;
  uint64_t roundTrips = 0;  // exchanges that waited for the server's answer
  std::vector<std::string> deferred;  // commands for the next exchange (defer)
  void exchanged() { ++roundTrips; }
  PGconn* ready(const std::string& sql) const {
    if (streaming)
      raiseError(kErrFailure, kSource, "The session is still reading the rows of another query; not sent: " + sql);
    return conn.get();
  }
  // Prepares the kept commands among `texts` that are not prepared yet. Not in a failed
  // transaction (the server refuses to prepare there): they are then sent as text.
  void prepareCommands(std::initializer_list<const std::string*> texts) {
    for (const std::string* text : texts) {
      auto it = commands.find(*text);
      if (it == commands.end() || !it->second.empty() || PQtransactionStatus(conn.get()) == PQTRANS_INERROR) continue;
      const std::string name = "ovt_command_" + std::to_string(++commandNumber);
      exchanged();
      ResultHandle r(PQprepare(conn.get(), name.c_str(), text->c_str(), 0, nullptr));
      if (r && PQresultStatus(r.get()) == PGRES_COMMAND_OK) it->second = name;
    }
  }
  // Sends the deferred commands first in `p`; the texts sent (the list is then empty).
  std::vector<std::string> sendDeferred(Pipeline& p) {
    std::vector<std::string> sent;
    sent.swap(deferred);
    for (const std::string& d : sent) p.send(d);
    return sent;
  }
  // Reads the results of the deferred commands `sent` of a pipeline; raises DeferredFailed for
  // the first that failed (the pipeline's end is read when it goes).
  void readDeferred(const std::vector<std::string>& sent) {
    for (const std::string& d : sent) {
      ResultHandle r = resultOf(conn.get());
      if (!succeeded(r.get())) raiseDeferred(r.get(), d);
    }
  }
  [[noreturn]] void raiseDeferred(const PGresult* r, const std::string& command) {
    std::string message = trimmed(r ? PQresultErrorMessage(r) : PQerrorMessage(conn.get()));
    if (message.rfind("ERROR:  ", 0) == 0) message.erase(0, 8);
    throw DeferredFailed(r ? numberFor(r) : kErrFailure, kSource, message + " in: " + command);
  }
  // Sends the deferred commands in an exchange of their own, before a call that sends one
  // statement alone.
  void flushDeferred(const std::string& sql) {
    if (deferred.empty()) return;
    exchanged();
    Pipeline p(conn.get(), sql, &commands);
    const std::vector<std::string> sent = sendDeferred(p);
    p.sync(sql);
    readDeferred(sent);
  }
  // One exchange in a pipeline: the deferred commands, `before` (when not empty), what `middle`
  // sends and `then` (when not empty); `label` names the exchange in errors. The results of
  // before, the middle and then (empty handles for those not sent); a deferred command's
  // failure raises DeferredFailed.
  struct Results {
    ResultHandle first, middle, next;
  };
  Results pipelined(const std::string& label, const std::string& before, const std::function<void(Pipeline&)>& middle,
                    const std::string& then) {
    Pipeline p(conn.get(), label, &commands);
    const std::vector<std::string> sent = sendDeferred(p);
    if (!before.empty()) p.send(before);
    middle(p);
    if (!then.empty()) p.send(then);
    p.sync(label);
    readDeferred(sent);
    Results out;
    if (!before.empty()) out.first = resultOf(conn.get());
    out.middle = resultOf(conn.get());
    if (!then.empty()) out.next = resultOf(conn.get());
    return out;
  }
  // The name a kept command is prepared under, or null.
  const std::string* preparedCommand(const std::string& text) const {
    auto it = commands.find(text);
    return it != commands.end() && !it->second.empty() ? &it->second : nullptr;
  }
};

void Session::keepPrepared(const std::string& command) { impl_->commands.emplace(command, std::string()); }

void Session::defer(const std::string& command) {
  impl_->ready(command);
  impl_->prepareCommands({&command});  // not in the pipeline it goes with: that takes no other exchange
  impl_->deferred.push_back(command);
}

bool Session::undefer(const std::string& command) {
  if (impl_->deferred.empty() || impl_->deferred.back() != command) return false;
  impl_->deferred.pop_back();
  return true;
}

void Session::dropDeferred() { impl_->deferred.clear(); }

bool Session::inFailedTransaction() const { return PQtransactionStatus(impl_->conn.get()) == PQTRANS_INERROR; }

void Session::dropPrepared() {
  execute("DEALLOCATE ALL");
  for (auto& [text, name] : impl_->commands) name.clear();
}

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

int64_t Session::execute(const std::string& sql, const std::vector<Cell>& params, const std::string& then,
                         const std::string& before, const Prepared* prepared) {
  PGconn* c = impl_->ready(sql);
  // PQexecParams always uses the extended protocol, whose Parse message takes one statement.
  const std::vector<const char*> v = values(prepared ? prepared->params : params);
  ResultHandle first, r, next;
  if (!prepared && params.empty()) impl_->prepareCommands({&before, &sql, &then});
  const std::string* command = prepared || !params.empty() ? nullptr : impl_->preparedCommand(sql);
  const bool alone = then.empty() && before.empty() && impl_->deferred.empty();
  impl_->exchanged();
  if (alone) {
    if (prepared || command)
      r.reset(PQexecPrepared(c, prepared ? prepared->name.c_str() : command->c_str(), static_cast<int>(v.size()), v.data(),
                             nullptr, nullptr, 0));
    else
      r.reset(PQexecParams(c, sql.c_str(), static_cast<int>(v.size()), nullptr, v.data(), nullptr, nullptr, 0));
  } else {
    Impl::Results got = impl_->pipelined(sql, before, [&](Pipeline& p) {
      if (prepared) p.sendPrepared(prepared->name, v);
      else p.send(sql, v);
    }, then);
    first = std::move(got.first);
    r = std::move(got.middle);
    next = std::move(got.next);
  }
  if (!before.empty() && !succeeded(first.get())) raiseFrom(first.get(), c, before);
  if (!succeeded(r.get())) raiseFromStatement(r.get(), c, sql, prepared);
  if (!then.empty() && !succeeded(next.get())) raiseFrom(next.get(), c, then);
  const char* n = PQcmdTuples(r.get());
  return n && *n ? std::stoll(n) : 0;
}

void Session::prepare(const std::string& name, const std::string& sql, const std::vector<uint32_t>& types,
                      const std::string& before, const std::string& then, bool* beforeRan) {
  if (beforeRan) *beforeRan = false;
  PGconn* c = impl_->ready(sql);
  const Oid* declared = types.empty() ? nullptr : types.data();
  ResultHandle first, r, next;
  if (before.empty() && then.empty()) impl_->flushDeferred(sql);
  impl_->exchanged();
  if (before.empty() && then.empty()) {
    r.reset(PQprepare(c, name.c_str(), sql.c_str(), static_cast<int>(types.size()), declared));
  } else {
    impl_->prepareCommands({&before, &then});
    Impl::Results got = impl_->pipelined(sql, before, [&](Pipeline&) {
      if (!PQsendPrepare(c, name.c_str(), sql.c_str(), static_cast<int>(types.size()), declared)) raiseFrom(nullptr, c, sql);
    }, then);
    first = std::move(got.first);
    r = std::move(got.middle);
    next = std::move(got.next);
    if (beforeRan) *beforeRan = before.empty() || succeeded(first.get());
  }
  if (!before.empty() && !succeeded(first.get())) raiseFrom(first.get(), c, before);
  if (!r || PQresultStatus(r.get()) != PGRES_COMMAND_OK) raiseFrom(r.get(), c, sql);
  if (!then.empty() && !succeeded(next.get())) raiseFrom(next.get(), c, then);
}

std::vector<std::vector<Cell>> Session::rowsOf(const std::string& name, const std::vector<Cell>& params,
                                               const std::string& before, bool* beforeRan) {
  if (beforeRan) *beforeRan = false;
  PGconn* c = impl_->ready(name);
  const std::vector<const char*> v = values(params);
  ResultHandle first, r;
  if (before.empty()) impl_->flushDeferred(name);
  impl_->exchanged();
  if (before.empty()) {
    r.reset(PQexecPrepared(c, name.c_str(), static_cast<int>(v.size()), v.data(), nullptr, nullptr, 0));
  } else {
    impl_->prepareCommands({&before});
    Impl::Results got = impl_->pipelined(before, before, [&](Pipeline& p) { p.sendPrepared(name, v); }, "");
    first = std::move(got.first);
    r = std::move(got.middle);
    if (beforeRan) *beforeRan = succeeded(first.get());
  }
  if (!before.empty() && !succeeded(first.get())) raiseFrom(first.get(), c, before);
  if (!r || PQresultStatus(r.get()) != PGRES_TUPLES_OK) raiseFrom(r.get(), c, name);
  return rowsOfResult(r.get());
}

void Session::query(const std::string& sql, const std::vector<Cell>& params,
                    const std::function<void(const std::vector<Column>&)>& columns,
                    const std::function<void(const std::vector<Cell>&)>& row, const std::string& then,
                    const std::string& before, const Prepared* prepared) {
  PGconn* c = impl_->ready(sql);
  const std::vector<const char*> v = values(prepared ? prepared->params : params);
  std::optional<Pipeline> pipeline;
  const bool alone = then.empty() && before.empty() && impl_->deferred.empty();
  impl_->exchanged();
  if (alone) {
    const int sent = prepared ? PQsendQueryPrepared(c, prepared->name.c_str(), static_cast<int>(v.size()), v.data(), nullptr, nullptr, 0)
                              : PQsendQueryParams(c, sql.c_str(), static_cast<int>(v.size()), nullptr, v.data(), nullptr, nullptr, 0);
    if (!sent) raiseFrom(nullptr, c, sql);
    PQsetSingleRowMode(c);
  } else {
    impl_->prepareCommands({&before, &then});
    pipeline.emplace(c, sql, &impl_->commands);
    const std::vector<std::string> deferred = impl_->sendDeferred(*pipeline);
    if (!before.empty()) pipeline->send(before);
    if (prepared) pipeline->sendPrepared(prepared->name, v);
    else pipeline->send(sql, v);
    if (!then.empty()) pipeline->send(then);
    pipeline->sync(sql);
    impl_->readDeferred(deferred);
    if (!before.empty()) {
      ResultHandle first = resultOf(c);
      if (!succeeded(first.get())) raiseFrom(first.get(), c, before);
    }
    // Rows one by one (a full result when the mode cannot be set, read the same way below).
    PQsetSingleRowMode(c);
  }
  bool described = false;
  std::vector<Cell> cells;
  ResultHandle failure;
  // Every result must be read before the connection takes the next statement, also after a
  // failure or an exception from a callback; the first failure is kept and raised at the end.
  auto drain = [&] {
    while (PGresult* rest = PQgetResult(c)) PQclear(rest);
  };
  struct Streaming {
    bool& flag;
    explicit Streaming(bool& f) : flag(f) { flag = true; }
    ~Streaming() { flag = false; }
  } streaming(impl_->streaming);
  try {
    while (PGresult* raw = PQgetResult(c)) {
      ResultHandle r(raw);
      ExecStatusType st = PQresultStatus(raw);
      if (st == PGRES_SINGLE_TUPLE || (st == PGRES_TUPLES_OK && !described)) {
        if (!described) {
          std::vector<Column> cols(PQnfields(raw));
          for (int i = 0; i < PQnfields(raw); ++i)
            cols[i] = {PQfname(raw, i), PQftype(raw, i), PQfmod(raw, i), PQftable(raw, i), PQftablecol(raw, i)};
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
  if (pipeline) {
    // The command after the query: skipped by the server when the query failed.
    ResultHandle next;
    if (!then.empty()) next = resultOf(c);
    pipeline->finish();
    if (failure) raiseFromStatement(failure.get(), c, sql, prepared);
    if (!then.empty() && !succeeded(next.get())) raiseFrom(next.get(), c, then);
  }
  if (failure) raiseFromStatement(failure.get(), c, sql, prepared);
}

std::vector<std::vector<Cell>> Session::rows(const std::string& sql, const std::vector<Cell>& params) {
  PGconn* c = impl_->ready(sql);
  const std::vector<const char*> v = values(params);
  impl_->flushDeferred(sql);
  impl_->exchanged();
  ResultHandle r(PQexecParams(c, sql.c_str(), static_cast<int>(v.size()), nullptr, v.data(), nullptr, nullptr, 0));
  if (!r || PQresultStatus(r.get()) != PGRES_TUPLES_OK) raiseFrom(r.get(), c, sql);
  return rowsOfResult(r.get());
}

std::vector<Column> Session::describe(const std::string& sql) {
  PGconn* c = impl_->ready(sql);
  impl_->flushDeferred(sql);
  impl_->exchanged();  // two: the statement is prepared, then described
  impl_->exchanged();
  ResultHandle prepared(PQprepare(c, "", sql.c_str(), 0, nullptr));
  if (!prepared || PQresultStatus(prepared.get()) != PGRES_COMMAND_OK) raiseFrom(prepared.get(), c, sql);
  ResultHandle r(PQdescribePrepared(c, ""));
  if (!r || PQresultStatus(r.get()) != PGRES_COMMAND_OK) raiseFrom(r.get(), c, sql);
  std::vector<Column> cols(PQnfields(r.get()));
  for (int i = 0; i < PQnfields(r.get()); ++i)
    cols[i] = {PQfname(r.get(), i), PQftype(r.get(), i), PQfmod(r.get(), i), PQftable(r.get(), i), PQftablecol(r.get(), i)};
  return cols;
}

uint64_t Session::roundTrips() const { return impl_->roundTrips; }

int Session::serverVersion() const { return PQserverVersion(impl_->conn.get()); }

}  // namespace ovt::db::pgsql
