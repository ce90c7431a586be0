// The conflict query of GetTblDiffRecRS on random tables of every engine, against what its
// statement means computed here from the tables' rows: a record of A with status 1 is listed
// when its key is the key of some pair of A and B records (same key, same status) whose
// concatenated compared fields differ, Null counting as "" and text compared without case (or
// byte for byte on a binary connection), a side of only Nulls deciding nothing. The values mix
// case, non-ASCII letters, pieces that concatenate alike ("ab" & "c" = "a" & "bc"), numbers
// stored as text and in a number column, Nulls; keys repeat; records are deleted at times.
// The component's connection must list exactly those records (as a multiset), in key order,
// through both its own rendering and the literal one.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "ovtbldiff/dbcomp/postgres.h"
#include "ovtbldiff/dbcomp/sqlite.h"
#include "ovtbldiff/gateway.h"
#include "ovtbldiff/runtime/text.h"
#include "ovtbldiff/runtime/variant.h"
#include "support/engines.h"

namespace ovt {
namespace {

// Values both engines compare alike without case (no "ß": SQLite folds it to "ss").
const std::vector<std::string> kTexts = {"'a'", "'A'", "'ab'", "'AB'", "'b'", "'bc'", "'c'", "'é'", "'É'", "'Ä'",
                                         "'ä'", "'1'", "'1.0'", "'01'", "''", "Null"};
const std::vector<std::string> kNumbers = {"1", "10", "12", "2", "Null"};

// One record as read back: key, status, the compared fields (nullopt for Null).
struct Record {
  std::optional<int32_t> key, status;
  std::vector<std::optional<std::string>> fields;
  std::string line() const {
    std::string out = key ? std::to_string(*key) : "<Null>";
    for (const auto& f : fields) out += " | " + (f ? *f : std::string("<Null>"));
    return out;
  }
};

std::optional<std::string> textOf(const Variant& v) {
  if (v.isNull()) return std::nullopt;
  return toText(v);
}

class ConflictQuery : public test::EngineTest {
 protected:
  db::DatabaseRef open(bool literal, bool binary) {
    return test::openLocation(entries().firstLocation(), "", "", literal, binary);
  }

  static void run(const db::DatabaseRef& db, const std::string& sql) {
    ASSERT_TRUE(db->Execute(sql)) << sql << ": " << db->LastFailure();
  }

  // A: random records, a few keys repeated; B: mostly copies of A's records, changed in one way
  // or another: the case of a field, a piece moved to the next field, a Null for "", a field
  // all Null, a new value, another status or key.
  void fill(const db::DatabaseRef& db, unsigned seed) {
    std::mt19937 random(seed);
    auto pick = [&](const std::vector<std::string>& from) { return from[random() % from.size()]; };
    auto status = [&] {
      const unsigned r = random() % 20;
      return std::string(r == 0 ? "Null" : r < 4 ? "0" : "1");
    };
    auto otherCase = [](const std::string& v) {
      static const std::map<std::string, std::string> swap = {
          {"'a'", "'A'"}, {"'A'", "'a'"}, {"'ab'", "'AB'"}, {"'AB'", "'ab'"}, {"'b'", "'B'"}, {"'bc'", "'BC'"},
          {"'c'", "'C'"}, {"'é'", "'É'"}, {"'É'", "'é'"}, {"'Ä'", "'ä'"}, {"'ä'", "'Ä'"}};
      auto it = swap.find(v);
      return it == swap.end() ? v : it->second;
    };
    for (const char* t : {"A", "B"})
      run(db, std::string("create table ") + t + " (ID LONG, recstatus LONG, F0 TEXT(10), F1 TEXT(10), F2 LONG)");
    std::vector<std::vector<std::string>> a;
    const int rows = 30 + static_cast<int>(random() % 20);
    for (int r = 0; r < rows; ++r) {
      const unsigned k = random() % 10 == 0 ? random() % (r + 1) : static_cast<unsigned>(r + 1);
      a.push_back({k == 0 ? "Null" : std::to_string(k), status(), pick(kTexts), pick(kTexts), pick(kNumbers)});
      if (random() % 4 == 0) a.back()[2] = "'ab'", a.back()[3] = "'c'";
    }
    std::vector<std::vector<std::string>> b;
    for (const auto& from : a) {
      std::vector<std::string> rec = from;
      switch (random() % 10) {
        case 0: rec[2] = pick(kTexts); break;
        case 1: rec[4] = pick(kNumbers); break;
        case 2: rec[1] = status(); break;
        case 3: rec[0] = std::to_string(random() % rows + 1); break;
        case 4: case 5: rec[2 + random() % 2] = otherCase(rec[2 + random() % 2]); break;
        case 6: case 8:  // "ab" & "c" against "a" & "bc"
          if (rec[2] == "'ab'" && rec[3] == "'c'") rec[2] = "'a'", rec[3] = "'bc'";
          break;
        case 7:  // Null against ""
          if (rec[2] == "Null" || rec[2] == "''") rec[2] = rec[2] == "Null" ? "''" : "Null";
          else rec[2] = rec[3] = "Null";
          break;
        default: break;  // the same record
      }
      if (random() % 8) b.push_back(rec);
    }
    for (const auto& [t, recs] : {std::pair{"A", &a}, std::pair{"B", &b}}) {
      std::string insert = std::string("insert into ") + t + " (ID, recstatus, F0, F1, F2) values ";
      for (size_t r = 0; r < recs->size(); ++r) {
        insert += r ? ", (" : "(";
        for (size_t i = 0; i < (*recs)[r].size(); ++i) insert += (i ? ", " : "") + (*recs)[r][i];
        insert += ")";
      }
      run(db, insert);
    }
  }

  static std::vector<Record> read(const db::DatabaseRef& db, const std::string& table) {
    std::vector<Record> out;
    for (db::RecordsetRef rs = db->OpenRecordset("select ID, recstatus, F0, F1, F2 from " + table, 0, "");
         !rs->IsEOF(); rs->MoveNext()) {
      Record r;
      if (Variant k = rs->FieldValue("ID"); !k.isNull()) r.key = static_cast<int32_t>(std::stol(toText(k)));
      if (Variant s = rs->FieldValue("recstatus"); !s.isNull()) r.status = static_cast<int32_t>(std::stol(toText(s)));
      for (const char* f : {"F0", "F1", "F2"}) r.fields.push_back(textOf(rs->FieldValue(f)));
      out.push_back(std::move(r));
    }
    return out;
  }

  // What the statement lists, computed from the records.
  static std::vector<std::string> expected(const std::vector<Record>& a, const std::vector<Record>& b, bool binary) {
    auto joined = [](const Record& r, bool& any) {
      std::string s;
      for (const auto& f : r.fields)
        if (f) s += *f, any = true;
      return s;
    };
    std::vector<int32_t> conflicting;
    for (const Record& x : a)
      for (const Record& y : b) {
        if (!x.key || !y.key || *x.key != *y.key || !x.status || !y.status || *x.status != *y.status) continue;
        bool anyX = false, anyY = false;
        const std::string tx = joined(x, anyX), ty = joined(y, anyY);
        if (anyX && anyY && (binary ? tx != ty : !textEqual(tx, ty))) conflicting.push_back(*x.key);
      }
    std::vector<std::string> out;
    for (const Record& r : a)
      if (r.status == 1 && r.key && std::count(conflicting.begin(), conflicting.end(), *r.key))
        out.push_back(r.line());
    std::sort(out.begin(), out.end());
    return out;
  }

  // The records the conflict query lists on `db`; their keys must come in order.
  static std::vector<std::string> listed(db::DatabaseRef db) {
    StringArray keys = StringArray::of({"ID"}), fields = StringArray::of({"F0", "F1", "F2"});
    cDataGetway gateway;
    db::RecordsetRef rs = gateway.GetTblDiffRecRS("A", "B", keys, fields, TableDiffSQLConfilct, true, &db);
    std::vector<std::string> rows;
    int32_t last = INT32_MIN;
    for (; !rs->IsEOF(); rs->MoveNext()) {
      Record r;
      r.key = static_cast<int32_t>(std::stol(toText(rs->FieldValue("ID"))));
      for (const char* f : {"F0", "F1", "F2"}) r.fields.push_back(textOf(rs->FieldValue(f)));
      EXPECT_GE(*r.key, last) << "not in key order";
      last = *r.key;
      rows.push_back(r.line());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
  }
};

TEST_P(ConflictQuery, ListsWhatTheStatementMeans) {
  size_t listedCount = 0, total = 0;
  for (bool binary : {false, true}) {
    SCOPED_TRACE(binary ? "binary comparison" : "text comparison");
    db::DatabaseRef fast = open(false, binary), literal = open(true, binary);
    if (GetParam() == test::Engine::Sqlite) db::RunSqliteScript(fast, "PRAGMA synchronous = OFF");
    for (unsigned seed = 1; seed <= 8; ++seed) {
      SCOPED_TRACE("seed " + std::to_string(seed));
      fill(fast, seed * 104729 + (binary ? 1 : 0));
      if (HasFatalFailure()) return;
      const std::vector<Record> a = read(fast, "A"), b = read(fast, "B");
      const std::vector<std::string> want = expected(a, b, binary);
      EXPECT_EQ(listed(fast), want);
      EXPECT_EQ(listed(literal), want);
      listedCount += want.size();
      total += a.size();
      run(fast, "drop table A");
      run(fast, "drop table B");
    }
  }
  // Neither nothing nor everything: the comparisons above decide records both ways.
  EXPECT_GT(listedCount, total / 10);
  EXPECT_LT(listedCount, total * 9 / 10);
}

OVT_ON_EVERY_ENGINE(ConflictQuery);

}  // namespace
}  // namespace ovt
