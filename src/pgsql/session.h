// The libpq layer of the PostgreSQL database component: one server session, owned for its
// whole life, that runs exactly one statement per call and reads results row by row. This
// folder is the only code that includes libpq's header.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ovtbldiff/runtime/error.h"

namespace ovt::db::pgsql {

// Error numbers of the component (source "OVDB"), as the SQLite engine gives them.
inline constexpr int32_t kErrSyntax = static_cast<int32_t>(0x80040E14u);   // syntax, unknown name
inline constexpr int32_t kErrFailure = static_cast<int32_t>(0x80004005u);  // any other failure
inline constexpr const char* kSource = "OVDB";

// One value of a result row: the server's text form, or nothing for Null.
using Cell = std::optional<std::string>;

struct Column {
  std::string name;
  uint32_t typeOid = 0;   // the server's type of the column
  int typeMod = -1;       // its modifier (length, precision and scale), -1 when none
  uint32_t tableOid = 0;  // the table the column is read from directly, 0 when none
  int tableColumn = 0;    // its number in that table
};

// A statement prepared on the server (Session::prepare), run in place of its text with these
// parameter values.
struct Prepared {
  std::string name;
  std::vector<Cell> params;
};

// Raised when the server refused a prepared statement before running any of it: a parameter
// value its type does not read, or a failure of analysing the statement again (after a change
// of what it stands on), which names a place in the statement (its text would show that place).
class PreparedNotRun : public ComError {
 public:
  using ComError::ComError;
};

// Raised when a deferred command (Session::defer) failed: the statement it travelled with was
// not run, and the failure is the command's own.
class DeferredFailed : public ComError {
 public:
  using ComError::ComError;
};

class Session {
 public:
  // Connects with a connection string (postgresql://... or key=value ...). A refused
  // connection raises kErrFailure with the server's message.
  explicit Session(const std::string& conninfo);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Runs one statement through the extended protocol, which refuses a text holding two
  // statements; returns the number of rows it changed (0 for other statements). Failures
  // raise: kErrSyntax for statements the server cannot parse or resolve, else kErrFailure.
  // With `before` and `then` (commands of the component's own, such as SAVEPOINT and RELEASE
  // SAVEPOINT), those commands are sent with the statement in one round trip: the statement runs
  // only when `before` succeeded, `then` only when the statement did. Their failures raise too.
  // With `prepared`, that statement runs in place of `sql` (which errors still name); its
  // refusals before it ran raise PreparedNotRun.
  int64_t execute(const std::string& sql, const std::vector<Cell>& params = {}, const std::string& then = "",
                  const std::string& before = "", const Prepared* prepared = nullptr);
  // Runs one query and hands each row to `row` as it arrives (single-row mode), so that a
  // result is never held whole in memory; `columns` is called once before the first row.
  // Parameters ($1, $2, ...) are sent apart from the text, in their text form. The callbacks
  // must not use the session: a statement sent while rows stream in would discard the rest of
  // them, so any call on the session from a callback raises kErrFailure.
  // `then`, `before` and `prepared` as for execute.
  void query(const std::string& sql, const std::vector<Cell>& params,
             const std::function<void(const std::vector<Column>&)>& columns,
             const std::function<void(const std::vector<Cell>&)>& row, const std::string& then = "",
             const std::string& before = "", const Prepared* prepared = nullptr);
  // All rows of a small query (catalogue look-ups), read in one go.
  std::vector<std::vector<Cell>> rows(const std::string& sql, const std::vector<Cell>& params = {});
  // Prepares `sql` on the server as the named statement `name`, for rowsOf, execute and query;
  // `types` declares its parameters' types (type OIDs, 0 = as the server infers it). `before`
  // and `then`, and `beforeRan`, as for execute and rowsOf.
  void prepare(const std::string& name, const std::string& sql, const std::vector<uint32_t>& types = {},
               const std::string& before = "", const std::string& then = "", bool* beforeRan = nullptr);
  // All rows of the prepared statement `name`; with `before` (a command of the component's own,
  // such as SAVEPOINT) that command runs first, in the same round trip, and the statement only
  // when it succeeded. A failure of either raises.
  // `beforeRan` (when given) tells whether `before` succeeded, whatever happened after it.
  std::vector<std::vector<Cell>> rowsOf(const std::string& name, const std::vector<Cell>& params,
                                        const std::string& before = "", bool* beforeRan = nullptr);
  // Keeps `command` (a command of the component's own without parameters, such as SAVEPOINT)
  // prepared on the server from its first use on, so that it is sent by name, unparsed.
  void keepPrepared(const std::string& command);
  // Defers `command` (a command of the component's own without parameters and without a result,
  // such as SAVEPOINT) to the next exchange with the server, ahead of what that exchange sends:
  // the server runs it first and skips the rest when it fails, and that call raises
  // DeferredFailed with the command's error.
  void defer(const std::string& command);
  // Takes `command` back when it is the last deferred one, not sent yet; false otherwise.
  bool undefer(const std::string& command);
  // Forgets the deferred commands (a ROLLBACK of the whole transaction makes them pointless).
  void dropDeferred();
  // True when the transaction the session is in has failed (the server refuses commands until
  // it ends), as of the last exchange.
  bool inFailedTransaction() const;
  // Drops every statement prepared on the server (DEALLOCATE ALL); kept commands are prepared
  // again on their next use.
  void dropPrepared();
  // The result columns a query would give, without running it (origins included).
  std::vector<Column> describe(const std::string& sql);
  // How many times the session has waited for the server's answer since it connected (a
  // pipeline of several commands counts once).
  uint64_t roundTrips() const;
  // The server's version number (e.g. 150018).
  int serverVersion() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace ovt::db::pgsql
