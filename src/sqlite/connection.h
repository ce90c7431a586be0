// The SQLite connection behind cDatabase, and what its recordsets and tables share with it.
#pragma once

#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "dbcomp/common.h"
#include "dbcomp/statement_cache.h"
#include "dbcomp/stored_recordset.h"
#include "dialect/dialect.h"
#include "ovtbldiff/dbcomp/database.h"
#include "ovtbldiff/dbcomp/sqlite.h"
#include "sqlite/handles.h"

namespace ovt::db::sqlite {

inline constexpr const char* kLinkSchema = "ovt_link";

// eDbDataType code of a declared column type: the dialect's names first, then SQLite's
// affinity rules (INT -> adInteger, CHAR/CLOB/TEXT -> adVarWChar, BLOB -> adLongVarBinary,
// REAL/FLOA/DOUB -> adDouble, any other name -> adNumeric); no type at all -> adVarWChar.
int32_t typeCodeOf(std::string_view declaredType);

// A table as the connection names it: the name the caller uses and where it really lives.
struct TableLocation {
  std::string exposed;  // "ORULINK_X" for a link table
  std::string schema;   // "main" or kLinkSchema
  std::string table;    // the name inside that schema
  std::string qualified() const { return "[" + schema + "].[" + table + "]"; }
};

// The rows of a result kept by the connection (see SqliteDatabase::OpenRecordset), and their rowids.
struct KeptRows {
  stored::RowStore rows;
  std::vector<int64_t> rowIds;
};

struct ColumnInfo {
  std::string name;
  std::string type;
  bool notNull = false;
  int pk = 0;  // position in the primary key, 0 = not part of it
};

class SqliteDatabase : public cDatabase, public std::enable_shared_from_this<SqliteDatabase> {
 public:
  SqliteDatabase(const std::string& path, const SqliteOptions& options);
  ~SqliteDatabase() override;
  SqliteDatabase(const SqliteDatabase&) = delete;
  SqliteDatabase& operator=(const SqliteDatabase&) = delete;

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
  std::string Location() const override { return path_; }

  // ---- shared with recordsets, tables and the script runner ----
  sqlite3* handle() const { return db_.get(); }
  // The existing table (not view) of that name, case-insensitively; nullopt when none.
  std::optional<TableLocation> findTable(const std::string& name) const;
  // The columns of `t`, kept until a schema of the connection changes.
  std::vector<ColumnInfo> columns(const TableLocation& t) const;
  // The table an INSERT statement writes to (nullopt for other statements or no such table).
  std::optional<TableLocation> insertTarget(const dialect::Statement& st) const;
  // Columns of `t` declared COUNTER / AUTOINCREMENT that the engine does not fill itself.
  std::vector<std::string> unfilledCounters(const TableLocation& t) const;
  // Gives the rows of `t` whose `counters` are Null the next numbers of each column.
  void fillCounters(const TableLocation& t, const std::vector<std::string>& counters);
  // Appends one entry to the trace file, when there is one.
  void trace(const std::string& operation, const std::string& received, const std::string& run,
             const std::string& outcome);
  bool binaryCompare() const { return binary_; }
  bool linked() const { return !linkFile_.empty(); }
  size_t cachedStatements() const { return cache_.size(); }
  size_t keptResults() const { return kept_.size(); }
  // Forgets the prepared statements, column lists, table names and kept results.
  void forgetPlansNow() const { forgetPlans(); }
  // Forgets every kept query result: the rows they read may have changed in ways the
  // connection does not follow (its own SQL run as a script, a recordset's update, a rollback).
  void forgetResults() const {
    kept_.clear();
    ++looks_;
  }

 private:
  class Schema;
  // A statement prepared for a shape, its literals bound as parameters at each use.
  struct Plan {
    Stmt stmt;
    std::string sql;                  // as prepared, with ?n for the lifted literals
    std::vector<size_t> parameters;   // the lifted literals' numbers
    bool rowIdAdded = false;
    std::string baseTable;
    std::optional<TableLocation> target;  // an INSERT's table, when it has counters to fill
    std::vector<std::string> counters;
    // A query's result columns, described at its first run; the plan goes with any schema change.
    std::shared_ptr<const stored::ColumnSet> columns;
    // A query whose result is kept by its text (keepable()), and the tables it reads (folded).
    bool keep = false;
    std::vector<std::string> reads;
    std::string lastText;  // the text the plan last ran for, while `keep`
    // The table an INSERT, UPDATE or DELETE writes (folded).
    std::string writes;
  };
  // A query result kept for its exact text, and what the trace showed of its run.
  struct KeptResult {
    std::string rendered;
    std::string outcome;
    std::shared_ptr<const stored::ColumnSet> columns;
    bool rowIdAdded = false;
    std::string baseTable;
    KeptRows rows;
    std::vector<std::string> reads;
  };
  dialect::SqliteRenderOptions renderOptions(const Schema& schema) const;
  bool makeTable(const dialect::SqliteRendering& r, std::string& outcome);
  // The missing-record statement as an anti-join, unless literalStatements (src/dialect/antijoin.h).
  void rewriteMissingKeys(dialect::Statement& st, const Schema& schema) const;
  // Forgets the prepared statements and the column lists when a schema of the connection
  // (main, temp, link) has changed since the last look, by this connection or any other.
  // False (and nothing cached is used) when the versions cannot be read.
  bool checkSchema() const;
  void forgetPlans() const;
  // The cached plan for a statement of `operation`, bound to the shape's literals; null when
  // there is none (the statement is then prepared as usual).
  Plan* cached(std::string_view operation, const dialect::Shape& shape);
  // Prepares the lifted rendering `r` and keeps it; null when it cannot be prepared (the
  // caller then runs the statement with its literals, so that errors read as they always did).
  Plan* prepareCached(std::string_view operation, const dialect::Shape& shape, const dialect::SqliteRendering& r);
  // Binds the shape's lifted literals; false when one cannot be bound.
  bool bind(Plan& plan, const dialect::Shape& shape);
  // Reads the bound plan's result into a recordset and resets the statement.
  // `keep`: receives a copy of the rows when given.
  RecordsetRef readPlan(Plan& plan, std::string& outcome, KeptRows* keep = nullptr);
  // Runs an INSERT, UPDATE or DELETE; fills the INSERT's counters in one savepoint with it.
  std::string runAction(Stmt& stmt, const std::optional<TableLocation>& target, const std::vector<std::string>& counters);
  // The trace's "as run" text of a plan: the prepared text and the bound values ("" untraced).
  std::string runWhat(const Plan& plan, const dialect::Shape& shape) const;
  // Runs one of the transaction statements, prepared at its first use and kept.
  void runKept(Stmt& kept, const char* sql);
  // Whether a query's result may be kept by its text: one that reads only tables of main (none
  // of that name in temp) or the link file, none of the engine's own, through columns,
  // literals and operators (no function, no subquery); `reads` gets the tables' folded names.
  bool keepable(const dialect::Select& select, std::vector<std::string>& reads) const;
  // Brings the kept results up to date before one is used or kept: all are forgotten when rows
  // changed that the connection did not account for (sqlite3_total_changes64 moved) or another
  // connection committed to the file or the link file (PRAGMA data_version). False when the
  // versions cannot be read: nothing is kept then.
  bool resultsCurrent();
  // After an INSERT, UPDATE or DELETE of `writes` that started at total change count `before`:
  // the results reading that table go; all go when the statement changed other rows too
  // (triggers, foreign-key actions) or rows changed before it that were not accounted for.
  void accountWrites(const std::string& writes, int64_t before);
  // The kept result of that text as a recordset of its own, traced as its run was; null when none.
  RecordsetRef keptResult(const std::string& sql, std::string& rendered);

  ConnectionHandle db_;
  std::string path_;
  std::string linkFile_;
  bool binary_ = false;
  bool literal_ = false;
  std::unique_ptr<common::StatementTrace> trace_;
  std::string viewName_;
  std::string lastFailure_;
  int transactionDepth_ = 0;
  bool caching_ = true;
  // What the connection read last of the schema versions and the data versions stays true while
  // the transaction it was read in goes on: its read locks (or its snapshot) keep other
  // connections' changes out, and the connection's own go through forgetPlans or forgetResults.
  // `looks_` counts the ends of transactions (commit hook, rollback hook, the last commit), the
  // connection's own schema changes and anything forgetResults answers; schemaLook_ and
  // dataLook_ are its value when the versions were read inside a transaction.
  static constexpr uint64_t kNoLook = UINT64_MAX;
  mutable uint64_t looks_ = 0;
  mutable uint64_t schemaLook_ = kNoLook;
  uint64_t dataLook_ = kNoLook;
  bool held(uint64_t look) const { return look == looks_ && !sqlite3_get_autocommit(db_.get()); }
  mutable std::map<std::string, std::vector<std::string>> tableNames_;  // findTable's, by schema, while checkSchema holds
  mutable std::vector<Stmt> versionReaders_;   // PRAGMA <schema>.schema_version, for checkSchema
  mutable std::vector<int64_t> versions_;
  mutable std::map<std::string, Stmt> tableLookups_;  // findTable's statement, by schema
  mutable std::map<std::string, std::vector<ColumnInfo>> columnLists_;  // by schema and table
  Stmt savepoint_, release_, rollbackTo_;  // the statements of BeginTrans, CommitTrans, RollbackTrans
  mutable std::unordered_map<std::string, KeptResult> kept_;  // query results by statement text
  int64_t knownChanges_ = 0;                  // sqlite3_total_changes64 as accounted for
  std::vector<Stmt> dataVersionReaders_;      // PRAGMA <schema>.data_version of main and the link file
  std::vector<int64_t> dataVersions_;
  // Shapes of statements done with, whose buffers the next statement's shape reuses.
  std::vector<dialect::Shape> spareShapes_;
  mutable common::StatementCache<Plan> cache_;  // last: its statements go before the connection
};

// A recordset of a fully read result: exact count, any number of passes.
// `described`: the statement's columns as describeColumns gave them (read from it when null);
// shared with the recordset when they are all declared.
// `keep`: when given, receives a copy of the rows (and rowids).
RecordsetRef makeRecordset(std::shared_ptr<SqliteDatabase> db, Stmt& stmt, bool hasRowId,
                           const std::string& baseTable, std::string& outcome,
                           const std::shared_ptr<const stored::ColumnSet>& described = nullptr, KeptRows* keep = nullptr);
// A recordset over a copy of kept rows, as makeRecordset made it from the statement.
RecordsetRef keptRecordset(std::shared_ptr<SqliteDatabase> db, const std::shared_ptr<const stored::ColumnSet>& columns,
                           const KeptRows& kept, bool hasRowId, const std::string& baseTable);
// The result columns of a prepared statement (the rowid column left out when `hasRowId`): names,
// declared types and the base-table columns they come from.
std::vector<stored::ResultColumn> describeColumns(Stmt& stmt, bool hasRowId);

TableRef newTable(std::shared_ptr<SqliteDatabase> db, TableLocation where);

}  // namespace ovt::db::sqlite
