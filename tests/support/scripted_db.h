// Test doubles for the members: table descriptions made up field by field; a connection that
// answers exact statement texts with fixed rows (any other query fails, so a test also pins
// the text) and records every call; a recordset with fixed field values; and a recording
// connection that also keeps each OpenRecordset's option and can stand for a whole database.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ovtbldiff/runtime/error.h"
#include "ovtbldiff/runtime/text.h"
#include "support/raised.h"
#include "support/recording_db.h"

namespace ovt::test {

// One field of a made-up table: name, type code, nullability.
struct FieldDef {
  FieldDef(std::string n, int32_t t = db::adVarWChar, bool null = true) : name(std::move(n)), type(t), nullable(null) {}
  FieldDef(const char* n, int32_t t = db::adVarWChar, bool null = true) : FieldDef(std::string(n), t, null) {}
  std::string name;
  int32_t type;
  bool nullable;
};

class MadeField : public db::cField {
 public:
  explicit MadeField(FieldDef s) : s_(std::move(s)) {}
  bool Nullable() const override { return s_.nullable; }
  int32_t DataType() const override { return s_.type; }
  std::string Name() const override { return s_.name; }

 private:
  FieldDef s_;
};

class MadeFields : public db::cFields {
 public:
  MadeFields(std::vector<db::FieldRef> items, int32_t count) : items_(std::move(items)), count_(count) {}
  int32_t Count() const override { return count_; }
  std::vector<db::FieldRef> Items() const override { return items_; }

 private:
  std::vector<db::FieldRef> items_;
  int32_t count_;
};

// A table description with chosen automatic fields; it logs every IsAutoField question.
class MadeTable : public db::cTable {
 public:
  MadeTable(std::string name, std::vector<FieldDef> fields, std::set<std::string> autos = {})
      : name_(std::move(name)), autos_(std::move(autos)) {
    for (FieldDef& f : fields) fields_.push_back(std::make_shared<MadeField>(std::move(f)));
  }
  // Text fields of these names, none automatic.
  MadeTable(std::string name, const std::vector<std::string>& fields)
      : MadeTable(std::move(name), std::vector<FieldDef>(fields.begin(), fields.end())) {}
  db::FieldsRef Fields() override {
    return std::make_shared<MadeFields>(fields_, countOverride >= 0 ? countOverride
                                                                    : static_cast<int32_t>(fields_.size()));
  }
  std::string Name() const override { return name_; }
  bool IsAutoField(std::string& fieldName) override {
    asked.push_back(fieldName);
    return autos_.count(fieldName) > 0;
  }

  std::vector<std::string> asked;
  int32_t countOverride = -1;

 private:
  std::string name_;
  std::vector<db::FieldRef> fields_;
  std::set<std::string> autos_;
};

// The catalogue statements the members send about the form catalogue (view) `v`: its data
// items, its grid count, its data table, and its grids with their grid views.
inline std::string variableQuery(const std::string& v) {
  return "select Name, Type from [" + v +
         "] where pagenumber > 0 and type not in('GRID','GROUP','TEXTONLY','MIRROR','RELATE')";
}
inline std::string gridCountQuery(const std::string& v) {
  return "select count(*) as GridCount from [" + v + "] where PageNumber > 0 and Type = 'GRID'";
}
inline std::string dataTableQuery(const std::string& v) {
  return "select DataTable from [" + v + "] where PageNumber = 0 and Name = 'DATA1' and Type = 'SOURCE'";
}
inline std::string gridListQuery(const std::string& v) {
  return "select A.Name as GridName, B.Datatable as GridViewName from [" + v + "] as A, [" + v +
         "] as B where A.Type ='GRID' and A.Datatable = B.Name and B.PageNumber=0 and B.Type = 'SOURCE'";
}

// Result rows of one statement: column names, their eDbDataType codes (for the fields
// collection; may stay empty) and records.
struct Rows {
  std::vector<std::string> columns;
  std::vector<int32_t> types;
  std::vector<std::vector<Variant>> records;
};

class ScriptFields : public db::cRecordsetFields {
 public:
  explicit ScriptFields(const Rows& rows) : rows_(rows) {}
  int32_t Count() const override { return static_cast<int32_t>(rows_.columns.size()); }
  std::string Name(int32_t p) const override { return rows_.columns.at(static_cast<size_t>(p)); }
  int32_t Type(int32_t p) const override { return rows_.types.at(static_cast<size_t>(p)); }

 private:
  const Rows& rows_;
};

// A recordset over fixed rows; writes (SetFieldValue, Update) are appended to `log`.
// `reportedCount` may make RecordCount answer other than the rows held.
class ScriptRecordset : public db::cRecordset {
 public:
  ScriptRecordset(Rows rows, std::vector<std::string>* log, int32_t reportedCount = -1)
      : rows_(std::move(rows)),
        log_(log),
        count_(reportedCount < 0 ? static_cast<int32_t>(rows_.records.size()) : reportedCount) {}

  VariantArray GetRows() override {
    VariantArray a;
    a.redim(0, static_cast<int32_t>(rows_.columns.size()) - 1, 0, static_cast<int32_t>(rows_.records.size()) - 1);
    for (size_t r = 0; r < rows_.records.size(); ++r)
      for (size_t c = 0; c < rows_.columns.size(); ++c)
        a.at(static_cast<int32_t>(c), static_cast<int32_t>(r)) = rows_.records[r][c];
    return a;
  }
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
  int32_t RecordCount() const override { return count_; }
  std::shared_ptr<db::cRecordsetFields> Recordset() override { return std::make_shared<ScriptFields>(rows_); }
  void Update() override { log_->push_back("Update"); }
  void MoveNext() override { ++pos_; }
  void MoveFirst() override { pos_ = 0; }

 private:
  Rows rows_;
  std::vector<std::string>* log_;
  int32_t count_;
  size_t pos_ = 0;
};

// Answers OpenRecordset from `answers` by exact statement text (other statements raise 3131);
// `counts` may make a recordset report another RecordCount than it holds. Execute answers
// True unless the statement is listed in `failing`. Every call is recorded in order.
class ScriptedDatabase : public RecordingDatabase {
 public:
  std::map<std::string, Rows> answers;
  std::map<std::string, int32_t> counts;
  std::set<std::string> failing;  // Execute answers False for these
  std::vector<int32_t> options;   // OpenRecordset options in order

  db::RecordsetRef OpenRecordset(const std::string& sql, int32_t option, const std::string& text) override {
    RecordingDatabase::OpenRecordset(sql, option, text);
    options.push_back(option);
    auto it = answers.find(sql);
    if (it == answers.end()) raiseError(3131, "OVDB", "Syntax error in FROM clause.");
    auto c = counts.find(sql);
    return std::make_shared<ScriptRecordset>(it->second, &calls, c == counts.end() ? -1 : c->second);
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

// Makes the k-th statement (counting OpenRecordset and Execute from 1) fail: a query raises,
// an action statement answers False. k = 0 fails nothing.
class FaultyScriptedDatabase : public ScriptedDatabase {
 public:
  int failAt = 0;
  int seen = 0;
  db::RecordsetRef OpenRecordset(const std::string& sql, int32_t option, const std::string& text) override {
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

// Key description rows (name, type code text), value rows, and message slots all set to `initial`.
inline StringArray keys(const std::vector<std::vector<std::string>>& rows) { return StringArray::of2(rows); }
inline VariantArray values(const std::vector<std::vector<Variant>>& rows) { return VariantArray::of2(rows); }
inline StringArray messages(int n, const std::string& initial = "untouched") {
  StringArray a;
  a.redim(0, n - 1);
  for (int i = 0; i < n; ++i) a.at(i) = initial;
  return a;
}

// A recordset of one record with fixed field values (by exact name).
class FixedRecordset : public db::cRecordset {
 public:
  explicit FixedRecordset(std::map<std::string, Variant> values, int32_t count = 1)
      : values_(std::move(values)), count_(count) {}
  VariantArray GetRows() override { return VariantArray(); }
  void SetFieldValue(const std::string&, const Variant&) override {}
  Variant FieldValue(const std::string& field) override {
    auto it = values_.find(field);
    if (it == values_.end()) raiseError(3265, "OVDB", "Item not found in this collection.");
    return it->second;
  }
  bool IsBOF() const override { return count_ == 0; }
  bool IsEOF() const override { return count_ == 0; }
  int32_t RecordCount() const override { return count_; }
  std::shared_ptr<db::cRecordsetFields> Recordset() override { return nullptr; }
  void Update() override {}
  void MoveNext() override {}
  void MoveFirst() override {}

 private:
  std::map<std::string, Variant> values_;
  int32_t count_;
};

// Records like RecordingDatabase and also the option of every OpenRecordset. Without an inner
// connection it answers with `answer` (when set), raises `failure` (when set), and lists
// `tables`.
class TracingDatabase : public RecordingDatabase {
 public:
  using RecordingDatabase::RecordingDatabase;

  std::vector<int32_t> options;
  std::vector<db::TableRef> tables;
  db::RecordsetRef answer;
  std::unique_ptr<ComError> failure;
  std::map<std::string, bool> createViewAnswers;  // by view name; missing -> True

  db::RecordsetRef OpenRecordset(const std::string& sql, int32_t option, const std::string& text) override {
    options.push_back(option);
    db::RecordsetRef rs = RecordingDatabase::OpenRecordset(sql, option, text);
    if (failure) throw *failure;
    return answer ? answer : rs;
  }
  bool CreateView(const std::string& viewName, const std::string& sql) override {
    bool ok = RecordingDatabase::CreateView(viewName, sql);
    auto it = createViewAnswers.find(viewName);
    return it == createViewAnswers.end() ? ok : it->second;
  }
  std::vector<db::TableRef> Tables() override {
    std::vector<db::TableRef> t = RecordingDatabase::Tables();
    return inner() ? t : tables;
  }
};

}  // namespace ovt::test
