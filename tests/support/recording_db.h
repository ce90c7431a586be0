// A connection that records every call and statement a member sends, for tests that compare
// statement texts. It forwards to an inner connection when one is given (a real SQLite file),
// otherwise it answers with empty recordsets, True, and the table type / existence set up by
// the test.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "ovtbldiff/dbcomp/database.h"

namespace ovt::test {

class RecordingDatabase : public db::cDatabase {
 public:
  explicit RecordingDatabase(db::DatabaseRef inner = nullptr) : inner_(std::move(inner)) {}

  // Every call, as "Operation: argument" (e.g. "OpenRecordset: select ...", "BeginTrans").
  std::vector<std::string> calls;
  // Only the statement texts given to OpenRecordset, CreateView and Execute, in order.
  std::vector<std::string> statements;

  // Answers when there is no inner connection.
  std::map<std::string, int32_t> tableTypes;  // by name as asked; missing -> 2
  std::map<std::string, bool> existing;       // TableExists; missing -> false
  bool executeResult = true;
  bool createViewResult = true;

  db::RecordsetRef OpenRecordset(const std::string& sql, int32_t option, const std::string& text) override;
  void CommitTrans() override;
  void RollbackTrans() override;
  void BeginTrans() override;
  bool DropView(const std::string& viewName) override;
  bool CreateView(const std::string& viewName, const std::string& sql) override;
  bool TableExists(const std::string& tableName) override;
  int32_t GetTableType(std::string& tableName) override;
  std::vector<db::TableRef> Tables() override;
  bool Execute(const std::string& sql) override;
  bool DropTable(const std::string& tableName) override;
  void SetViewName(const std::string& viewName) override;
  std::string ViewName() const override;
  std::string LastFailure() const override;
  std::string Describe() const override;
  std::string Location() const override;

  const db::DatabaseRef& inner() const { return inner_; }

 private:
  db::DatabaseRef inner_;
  std::string viewName_;
};

}  // namespace ovt::test
