// The PostgreSQL connection behind cDatabase, and what its recordsets and tables share with it.
#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dbcomp/common.h"
#include "dbcomp/statement_cache.h"
#include "dialect/dialect.h"
#include "ovtbldiff/dbcomp/database.h"
#include "ovtbldiff/dbcomp/postgres.h"
#include "pgsql/session.h"

namespace ovt::db::pgsql {

// A location split into what libpq takes and the schema of the entry's tables.
struct Location {
  std::string conninfo;
  std::string schema = "public";
};
Location parseLocation(const std::string& text);

// eDbDataType code of a column type as format_type() prints it.
int32_t typeCodeOf(std::string_view formatted);
// format_type()'s text for a result column's type, from its type OID and modifier.
std::string typeNameOf(uint32_t oid, int typeMod);

// A table as the connection names it: the name the caller uses and where it really lives.
struct TableLocation {
  std::string exposed;  // "ORULINK_X" for a link table
  std::string schema;
  std::string table;
  std::string qualified() const;
};

struct ColumnInfo {
  std::string name;
  std::string type;  // format_type()
  bool notNull = false;
  bool automatic = false;  // identity or sequence default: the engine fills it
};

// `"name"` with inner quotes doubled.
std::string quoted(std::string_view name);

class PgDatabase : public cDatabase, public std::enable_shared_from_this<PgDatabase> {
 public:
  PgDatabase(const std::string& location, const PostgresOptions& options);

  RecordsetRef OpenRecordset(const std::string& sql, int32_t option, const std::string& text) override;
  void CommitTrans() override;
  void RollbackTrans() override;
  void BeginTrans() override;
  bool DropView(const std::string& viewName) override;
  bool CreateView(const std::string& viewName, const std::string& sql) override;
  bool TableExists(const std::string& tableName) override;
  int32_t GetTableType(std::string& tableName) override;
  std::vector<TableRef> Tables() override;
  bool Execute(const std::string& sql) override;
  bool DropTable(const std::string& tableName) override;
  void SetViewName(const std::string& viewName) override { viewName_ = viewName; }
  std::string ViewName() const override { return viewName_; }
  std::string LastFailure() const override { return lastFailure_; }
  std::string Describe() const override;
  std::string Location() const override { return location_; }

  // ---- shared with recordsets, tables and the statement runner ----
  Session& session() { return *session_; }
  // The existing table (not view) of that name, case-insensitively; nullopt when none.
  std::optional<TableLocation> findTable(const std::string& name);
  // findTable's catalogue look-up itself.
  std::optional<TableLocation> lookUpTable(const std::string& name);
  std::vector<ColumnInfo> columns(const std::string& schema, const std::string& table);
  // The declared type of a table's column by the table's OID and the column's number.
  std::optional<ColumnInfo> columnAt(uint32_t tableOid, int column);
  void trace(const std::string& operation, const std::string& received, const std::string& run,
             const std::string& outcome);
  const std::string& schema() const { return schema_; }
  // Runs `work` as one unit: in its own savepoint inside a transaction (a failure undoes only
  // it), or in a transaction of its own when `several` statements must go together.
  template <class F>
  void unit(bool several, F&& work);
  // As unit(false, ...) for one statement: `work(before, then)` sends the statement between
  // the commands `before` and `then` in one round trip ("" when there is none), which open and
  // close the statement's savepoint.
  template <class F>
  void statementUnit(F&& work);
  // Undoes and closes a statement savepoint the catalogue check opened when no unit took it
  // over (the statement failed before it was sent).
  void closeOpenSavepoint();
  // Calls closeOpenSavepoint() when a statement's work ends, however it ends.
  struct SavepointGuard {
    PgDatabase& db;
    ~SavepointGuard() { db.closeOpenSavepoint(); }
  };
  size_t cachedStatements() const { return cache_.size(); }
  // The host ran SQL of its own (RunPostgresStatement) in the current transaction.
  void noteForeignStatement() {
    if (transactionDepth_ > 0) foreignStatements_ = true;
  }
  // Forgets the cached renderings (before SQL of the caller's own that may change tables).
  void forgetStatements() {
    cache_.clear();
    forgetLookUps();
  }
  // Forgets the table look-ups and column lists kept in the transaction.
  void forgetLookUps() {
    tablesFound_.clear();
    columnsFound_.clear();
  }

 private:
  class Schema;
  // A plan's statement prepared on the server: its name ("" when the server refused it), the
  // preparedGeneration_ and lockEpoch_ it was prepared in.
  struct ServerStatement {
    std::string name;
    uint64_t generation = 0;
    uint64_t epoch = 0;
  };
  // A statement rendered for a shape, its lifted literals marked (dialect::spliceLiterals).
  struct Plan {
    std::string marked;
    bool rowIdAdded = false;
    std::string baseTable;
    std::vector<std::string> relations;  // what its names resolved to (relationKey)
    bool lockable = false;               // Schema::lockable() of its rendering
    // The statements prepared on the server from it, by the types of their parameters
    // (literalParameters).
    std::map<std::string, ServerStatement, std::less<>> prepared;
  };
  // True when the plan may run without a catalogue check (see the definition).
  bool heldSinceCheck(const Plan& plan) const;
  // Whether the commands that open and close an inner level (SAVEPOINT ovt_trans_N, RELEASE
  // SAVEPOINT ovt_trans_N) are deferred to the next exchange with the server instead of taking
  // one of their own. They fail only where the transaction has failed (the session knows that
  // before sending) or where a savepoint of the component's was changed by SQL of the host's
  // (RunPostgresStatement: then they are sent at once until the transaction ends) or the
  // connection is lost, which the statement they travel with reports.
  bool deferCommands() const { return !foreignStatements_ && !session_->inFailedTransaction(); }
  // Counts the relations as locked by the transaction's current level from now on.
  void noteLocks(const std::vector<std::string>& relations);
  dialect::PgRenderOptions renderOptions(const Schema& schema) const;
  // The missing-record statement as an anti-join, unless literalStatements (src/dialect/antijoin.h).
  void rewriteMissingKeys(dialect::Statement& st, const Schema& schema) const;
  // Forgets the renderings when a table or view of the entry's schemas (or a temporary one) has
  // been made, dropped or changed since the last look, by this session or any other; false
  // (and nothing cached is used) when the catalogue cannot be read.
  // Inside a transaction, with `openSavepoint`, the savepoint of the statement to come is opened
  // in the same round trip (savepointOpen_ tells whether it is open).
  bool checkSchema(bool openSavepoint = false);
  // The cached rendering of the statement's shape with `text`, the statement's text from it;
  // null when there is none.
  Plan* cached(std::string_view operation, const dialect::Shape& shape, std::string& text);
  // The plan as a statement prepared on the server with the shape's literals as its parameters,
  // prepared now when it was not; nullopt when it runs as text (see the definition).
  std::optional<Prepared> serverForm(Plan& plan, const dialect::Shape& shape);
  // Runs a cached statement (execute() or query() of the session, given `prepared` or not) in
  // its prepared form when there is one; when the server refuses that form before running it
  // (Session's PreparedNotRun), the text runs in its place, in the same savepoint.
  template <class Run>
  void runCached(const std::optional<Prepared>& prepared, const std::string& before, const std::string& then, Run&& run);
  // Renders `st` with its literals lifted and keeps it when the text spliced back is the
  // plain rendering `plain` (as it always should be); the text to run is `plain` either way.
  void keep(std::string_view operation, const dialect::Shape& shape, const dialect::Statement& st,
            dialect::PgRenderOptions o, const dialect::PgRendering& plain, const Schema& schema);

  std::unique_ptr<Session> session_;
  std::string location_;
  std::string schema_;
  std::string linkSchema_;
  bool binary_ = false;
  bool literal_ = false;
  std::unique_ptr<common::StatementTrace> trace_;
  std::string viewName_;
  std::string lastFailure_;
  int transactionDepth_ = 0;
  std::map<std::pair<uint32_t, int>, std::optional<ColumnInfo>> columnCache_;
  bool caching_ = true;
  std::optional<std::string> catalogueMark_;  // checkSchema's last reading
  bool markPrepared_ = false;                 // checkSchema's query is prepared on the server
  bool savepointOpen_ = false;                // a statement savepoint is open and no unit has taken it
  uint64_t preparedGeneration_ = 1;           // bumped when the server's prepared statements are all dropped
  size_t serverStatements_ = 0;               // statements prepared since then
  uint64_t planNumber_ = 0;                   // names them
  uint64_t lockEpoch_ = 0;                    // bumped whenever the transaction may have let go of a lock
  uint64_t checks_ = 0;                       // catalogue checks that read a fingerprint
  bool foreignStatements_ = false;            // noteForeignStatement() in this transaction
  // Relations the transaction holds a lock on, per level (BeginTrans depth, from 1), with the
  // number of checks done when the lock was taken.
  std::vector<std::map<std::string, uint64_t>> locks_;
  // findTable's answers in the current transaction, by the name asked.
  std::map<std::string, std::optional<TableLocation>> tablesFound_;
  // columns()' answers in the current transaction, by relationKey.
  std::map<std::string, std::vector<ColumnInfo>> columnsFound_;
  common::StatementCache<Plan> cache_;
};

// `then`, `before`: commands sent with the query in the same round trip (Session::query).
// `prepared`: the statement prepared on the server that runs in place of `sql`.
RecordsetRef makeRecordset(std::shared_ptr<PgDatabase> db, const std::string& sql, bool hasRowId,
                           const std::string& baseTable, std::string& outcome, const std::string& then = "",
                           const std::string& before = "", const Prepared* prepared = nullptr);

TableRef newTable(std::shared_ptr<PgDatabase> db, TableLocation where);

template <class Run>
void PgDatabase::runCached(const std::optional<Prepared>& prepared, const std::string& before, const std::string& then,
                           Run&& run) {
  if (!prepared) return run(before, then, nullptr);
  try {
    run(before, then, &*prepared);
  } catch (const PreparedNotRun&) {
    // The statement's savepoint (inside a transaction) is open: the text runs in it again.
    if (transactionDepth_ > 0) session_->execute("ROLLBACK TO SAVEPOINT ovt_statement");
    run(std::string(), then, nullptr);
  }
}

template <class F>
void PgDatabase::unit(bool several, F&& work) {
  if (transactionDepth_ == 0 && !several) return work();
  const bool own = transactionDepth_ == 0;
  if (own || !savepointOpen_) session_->execute(own ? "BEGIN" : "SAVEPOINT ovt_statement");
  savepointOpen_ = false;
  try {
    work();
  } catch (...) {
    try {
      if (own) session_->execute("ROLLBACK");
      else {
        session_->execute("ROLLBACK TO SAVEPOINT ovt_statement");
        session_->execute("RELEASE SAVEPOINT ovt_statement");
      }
    } catch (const ComError&) {
      // The statement's own failure is the one to report.
    }
    throw;
  }
  session_->execute(own ? "COMMIT" : "RELEASE SAVEPOINT ovt_statement");
}

template <class F>
void PgDatabase::statementUnit(F&& work) {
  if (transactionDepth_ == 0) return work(std::string(), std::string());
  const bool open = savepointOpen_;
  savepointOpen_ = false;
  try {
    work(std::string(open ? "" : "SAVEPOINT ovt_statement"), std::string("RELEASE SAVEPOINT ovt_statement"));
  } catch (...) {
    // The server skipped the release after the failing statement.
    try {
      session_->execute("ROLLBACK TO SAVEPOINT ovt_statement");
      session_->execute("RELEASE SAVEPOINT ovt_statement");
    } catch (const ComError&) {
      // The statement's own failure is the one to report.
    }
    throw;
  }
}

}  // namespace ovt::db::pgsql
