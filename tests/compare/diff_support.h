// Shared pieces of the record comparison tests: catching error records, a recording connection
// that also keeps the option of each OpenRecordset and can hold made-up tables, a recordset
// with fixed answers, and a real SQLite file seen through the recording connection.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ovtbldiff/dbcomp/sqlite.h"
#include "ovtbldiff/runtime/error.h"
#include "support/raised.h"
#include "support/engines.h"
#include "support/recording_db.h"
#include "support/temp_dir.h"

namespace ovt::test {

class FakeField : public db::cField {
 public:
  explicit FakeField(std::string name) : name_(std::move(name)) {}
  bool Nullable() const override { return true; }
  int32_t DataType() const override { return db::adVarWChar; }
  std::string Name() const override { return name_; }

 private:
  std::string name_;
};

class FakeFields : public db::cFields {
 public:
  explicit FakeFields(std::vector<db::FieldRef> items) : items_(std::move(items)) {}
  int32_t Count() const override { return static_cast<int32_t>(items_.size()); }
  std::vector<db::FieldRef> Items() const override { return items_; }

 private:
  std::vector<db::FieldRef> items_;
};

class FakeTable : public db::cTable {
 public:
  FakeTable(std::string name, const std::vector<std::string>& fields) : name_(std::move(name)) {
    for (const std::string& f : fields) fields_.push_back(std::make_shared<FakeField>(f));
  }
  db::FieldsRef Fields() override { return std::make_shared<FakeFields>(fields_); }
  std::string Name() const override { return name_; }
  bool IsAutoField(std::string&) override { return false; }

 private:
  std::string name_;
  std::vector<db::FieldRef> fields_;
};

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

  db::RecordsetRef OpenRecordset(const std::string& sql, int32_t option,
                                 const std::string& text) override {
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

// The records of a recordset as text, one string per record: the values in column order
// joined by "|", Null written as "~". Nothing gives no records.
inline std::vector<std::string> rowsOf(const db::RecordsetRef& rs) {
  std::vector<std::string> rows;
  if (!rs || rs->RecordCount() == 0) return rows;
  const VariantArray data = rs->GetRows();
  for (int32_t r = data.lbound(2); r <= data.ubound(2); ++r) {
    std::string row;
    for (int32_t c = data.lbound(1); c <= data.ubound(1); ++c) {
      const Variant& v = data.at(c, r);
      row += (c == data.lbound(1) ? "" : "|") + (v.isNull() ? std::string("~") : toText(v));
    }
    rows.push_back(row);
  }
  return rows;
}

// The column names of a recordset, in order.
inline std::vector<std::string> columnsOf(const db::RecordsetRef& rs) {
  std::vector<std::string> names;
  std::shared_ptr<db::cRecordsetFields> f = rs ? rs->Recordset() : nullptr;
  for (int32_t i = 0; f && i < f->Count(); ++i) names.push_back(f->Name(i));
  return names;
}

// A fresh database for one test, on the engine asked for (SQLite by default). `rec` records
// what a member sends and forwards it to the database; members are given `rec` as their
// connection. Without a PostgreSQL cluster a PostgreSQL one stays closed (the test skips).
class DiffFile {
 public:
  explicit DiffFile(Engine engine = Engine::Sqlite) : pair(engine) {
    if (engine == Engine::Postgres && PgCluster::instance().connectionString().empty()) return;
    file = pair.first(false);
    rec = std::make_shared<TracingDatabase>(file);
  }

  // Runs Jet-dialect action statements on the file (not recorded).
  void run(const std::vector<std::string>& statements) {
    for (const std::string& s : statements) ASSERT_TRUE(file->Execute(s)) << s << ": " << file->LastFailure();
  }
  // True when the connection can read from `view` (a stored query or a table).
  bool readable(const std::string& view) {
    try {
      file->OpenRecordset("select * from [" + view + "]", 0, "");
      return true;
    } catch (const ComError&) {
      return false;
    }
  }

  EntryPair pair;
  db::DatabaseRef file;
  std::shared_ptr<TracingDatabase> rec;
};

// A suite of these members on real databases, run on every engine (OVT_ON_EVERY_ENGINE).
class DiffTest : public EngineTest {
 protected:
  DiffFile f{GetParam()};
};

}  // namespace ovt::test
