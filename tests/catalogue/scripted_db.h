// Test doubles for the structure and catalogue members: a connection that answers exact
// statement texts with fixed rows (any other statement fails, so a test also pins the text),
// and a recordset over such rows.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/raised.h"
#include "ovtbldiff/runtime/error.h"
#include "ovtbldiff/runtime/text.h"
#include "support/recording_db.h"

namespace ovt::test {

// Result rows of one statement: column names and records.
struct Rows {
  std::vector<std::string> columns;
  std::vector<std::vector<Variant>> records;
};

class RowsRecordset : public db::cRecordset {
 public:
  explicit RowsRecordset(Rows rows, int32_t reportedCount = -1)
      : rows_(std::move(rows)),
        count_(reportedCount < 0 ? static_cast<int32_t>(rows_.records.size()) : reportedCount) {}

  VariantArray GetRows() override {
    VariantArray a;
    a.redim(0, static_cast<int32_t>(rows_.columns.size()) - 1, 0,
            static_cast<int32_t>(rows_.records.size()) - 1);
    for (size_t r = 0; r < rows_.records.size(); ++r)
      for (size_t c = 0; c < rows_.columns.size(); ++c)
        a.at(static_cast<int32_t>(c), static_cast<int32_t>(r)) = rows_.records[r][c];
    return a;
  }
  void SetFieldValue(const std::string&, const Variant&) override {
    raiseRuntime(RuntimeError::InvalidProcedureCall);
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
  std::shared_ptr<db::cRecordsetFields> Recordset() override { return nullptr; }
  void Update() override { raiseRuntime(RuntimeError::InvalidProcedureCall); }
  void MoveNext() override { ++pos_; }
  void MoveFirst() override { pos_ = 0; }

 private:
  Rows rows_;
  int32_t count_;
  size_t pos_ = 0;
};

// Answers OpenRecordset from `answers` by exact statement text; `counts` may make a
// recordset report another RecordCount than it holds. Other statements raise 3131.
class ScriptedDatabase : public RecordingDatabase {
 public:
  std::map<std::string, Rows> answers;
  std::map<std::string, int32_t> counts;

  db::RecordsetRef OpenRecordset(const std::string& sql, int32_t option,
                                 const std::string& text) override {
    RecordingDatabase::OpenRecordset(sql, option, text);
    options.push_back(option);
    auto it = answers.find(sql);
    if (it == answers.end()) raiseError(3131, "OVDB", "Syntax error in FROM clause.");
    auto c = counts.find(sql);
    return std::make_shared<RowsRecordset>(it->second, c == counts.end() ? -1 : c->second);
  }
  std::vector<int32_t> options;
};

}  // namespace ovt::test
