// The SQLite connection behind cDatabase, and what its recordsets and tables share with it.
#pragma once

#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dbcomp/common.h"
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

struct ColumnInfo {
  std::string name;
  std::string type;
  bool notNull = false;
  int pk = 0;  // position in the primary key, 0 = not part of it
};

class SqliteDatabase : public cDatabase, public std::enable_shared_from_this<SqliteDatabase> {
 public:
  SqliteDatabase(const std::string& path, const SqliteOptions& options);

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

 private:
  class Schema;
  dialect::SqliteRenderOptions renderOptions(const Schema& schema) const;
  bool makeTable(const dialect::SqliteRendering& r, std::string& outcome);
  // The missing-record statement as an anti-join, unless literalStatements (src/dialect/antijoin.h).
  void rewriteMissingKeys(dialect::Statement& st, const Schema& schema) const;

  ConnectionHandle db_;
  std::string path_;
  std::string linkFile_;
  bool binary_ = false;
  bool literal_ = false;
  std::unique_ptr<common::StatementTrace> trace_;
  std::string viewName_;
  std::string lastFailure_;
  int transactionDepth_ = 0;
};

// A recordset of a fully read result: exact count, any number of passes.
RecordsetRef makeRecordset(std::shared_ptr<SqliteDatabase> db, Stmt& stmt, bool hasRowId,
                           const std::string& baseTable, std::string& outcome);

TableRef newTable(std::shared_ptr<SqliteDatabase> db, TableLocation where);

}  // namespace ovt::db::sqlite
