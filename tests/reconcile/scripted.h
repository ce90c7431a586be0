// A scripted connection for the reconciliation members: queries are answered by exact text
// (any other query fails, so a test pins every statement), Execute answers True unless the
// statement is listed as failing, and every call is recorded in order.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "support/raised.h"
#include "ovtbldiff/runtime/error.h"
#include "ovtbldiff/runtime/text.h"
#include "support/recording_db.h"

namespace ovt::test {

struct Rows {
  std::vector<std::string> columns;
  std::vector<int32_t> types;  // eDbDataType per column (for the fields collection)
  std::vector<std::vector<Variant>> records;
};

class ScriptRecordset;

class ScriptFields : public db::cRecordsetFields {
 public:
  explicit ScriptFields(const Rows& rows) : rows_(rows) {}
  int32_t Count() const override { return static_cast<int32_t>(rows_.columns.size()); }
  std::string Name(int32_t p) const override { return rows_.columns.at(static_cast<size_t>(p)); }
  int32_t Type(int32_t p) const override { return rows_.types.at(static_cast<size_t>(p)); }

 private:
  const Rows& rows_;
};

class ScriptRecordset : public db::cRecordset {
 public:
  ScriptRecordset(Rows rows, std::vector<std::string>* log) : rows_(std::move(rows)), log_(log) {}
  VariantArray GetRows() override { return VariantArray(); }
  void SetFieldValue(const std::string& field, const Variant& value) override {
    log_->push_back("SetFieldValue: " + field + "=" + toText(value));
  }
  Variant FieldValue(const std::string& field) override {
    if (IsEOF()) raiseError(3021, "OVDB", "No current record.");
    for (size_t c = 0; c < rows_.columns.size(); ++c)
      if (textEqual(rows_.columns[c], field)) return rows_.records[pos_][c];
    raiseError(3265, "OVDB", "Item not found in this collection.");
  }
  bool IsBOF() const override { return rows_.records.empty(); }
  bool IsEOF() const override { return pos_ >= rows_.records.size(); }
  int32_t RecordCount() const override { return static_cast<int32_t>(rows_.records.size()); }
  std::shared_ptr<db::cRecordsetFields> Recordset() override {
    return std::make_shared<ScriptFields>(rows_);
  }
  void Update() override { log_->push_back("Update"); }
  void MoveNext() override { ++pos_; }
  void MoveFirst() override { pos_ = 0; }

 private:
  Rows rows_;
  std::vector<std::string>* log_;
  size_t pos_ = 0;
};

class ScriptedDatabase : public RecordingDatabase {
 public:
  std::map<std::string, Rows> answers;
  std::set<std::string> failing;  // Execute answers False for these
  std::vector<int32_t> options;   // OpenRecordset options in order

  db::RecordsetRef OpenRecordset(const std::string& sql, int32_t option,
                                 const std::string& text) override {
    RecordingDatabase::OpenRecordset(sql, option, text);
    options.push_back(option);
    auto it = answers.find(sql);
    if (it == answers.end()) raiseError(3131, "OVDB", "Syntax error in FROM clause.");
    return std::make_shared<ScriptRecordset>(it->second, &calls);
  }
  bool Execute(const std::string& sql) override {
    RecordingDatabase::Execute(sql);
    return failing.count(sql) == 0;
  }
  // Calls other than the existence and type checks, in order.
  std::vector<std::string> work() const {
    std::vector<std::string> out;
    for (const std::string& c : calls)
      if (c.rfind("TableExists", 0) != 0 && c.rfind("GetTableType", 0) != 0) out.push_back(c);
    return out;
  }
};

// Key description rows (name, type code text).
inline StringArray keys(const std::vector<std::vector<std::string>>& rows) {
  return StringArray::of2(rows);
}
inline VariantArray values(const std::vector<std::vector<Variant>>& rows) {
  return VariantArray::of2(rows);
}
inline StringArray messages(int n, const std::string& initial = "untouched") {
  StringArray a;
  a.redim(0, n - 1);
  for (int i = 0; i < n; ++i) a.at(i) = initial;
  return a;
}

}  // namespace ovt::test

namespace ovt::test {

// Makes the k-th statement (counting OpenRecordset and Execute from 1) fail: a query raises,
// an action statement answers False. k = 0 fails nothing.
class FaultyScriptedDatabase : public ScriptedDatabase {
 public:
  int failAt = 0;
  int seen = 0;
  db::RecordsetRef OpenRecordset(const std::string& sql, int32_t option,
                                 const std::string& text) override {
    if (++seen == failAt) {
      RecordingDatabase::OpenRecordset(sql, option, text);
      raiseError(3000, "OVDB", "injected failure");
    }
    return ScriptedDatabase::OpenRecordset(sql, option, text);
  }
  bool Execute(const std::string& sql) override {
    const bool ok = ScriptedDatabase::Execute(sql);
    return ++seen == failAt ? false : ok;
  }
};

// The work of a call split into transactions: each block from BeginTrans to its end.
inline std::vector<std::vector<std::string>> transactions(const std::vector<std::string>& work) {
  std::vector<std::vector<std::string>> blocks;
  for (const std::string& c : work) {
    if (c == "BeginTrans") blocks.emplace_back();
    if (!blocks.empty()) blocks.back().push_back(c);
  }
  return blocks;
}

}  // namespace ovt::test
