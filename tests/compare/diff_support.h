// Shared pieces of the record comparison tests: a recordset's records and columns as text, and
// a real database of either engine seen through the recording connection of support/scripted_db.h.
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
#include "support/scripted_db.h"
#include "support/temp_dir.h"

namespace ovt::test {

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
