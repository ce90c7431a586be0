#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "compare/diff_support.h"
#include "ovtbldiff/gateway.h"

namespace ovt {
namespace {

using test::DiffFile;
using test::raisedBy;
using test::rowsOf;
using test::TracingDatabase;

StringArray fieldsF(int count) {
  std::vector<std::string> f;
  for (int i = 0; i < count; ++i) f.push_back("F" + std::to_string(i));
  return StringArray::of(f);
}

size_t occurrences(const std::string& s, const std::string& what) {
  size_t n = 0;
  for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
  return n;
}

TEST(RecordDifferenceCalls, SingleEmptyFieldIsRejectedBeforeAnyStatement) {
  auto rec = std::make_shared<TracingDatabase>();
  cDataGetway g;
  g.SetDB(rec);
  StringArray keys{"ID"}, empty{""};
  ComError e = raisedBy([&] { g.GetTblDiffRecRS("A", "B", keys, empty, 1, true); });
  EXPECT_EQ(e.number(), objectError(724));
  EXPECT_EQ(e.number(), static_cast<int32_t>(0x800402D4u));
  EXPECT_EQ(e.source(), "cDATAGateway:GetTblDiffRecRs");
  EXPECT_EQ(e.description(), "There are no fields to compare.");
  EXPECT_TRUE(rec->calls.empty());
  // One field that is not empty is fine; so is "" among other fields (it is just a name).
  StringArray one{"X"}, withEmpty{"", "X"};
  EXPECT_NO_THROW(g.GetTblDiffRecRS("A", "B", keys, one, 1, true));
  EXPECT_NO_THROW(g.GetTblDiffRecRS("A", "B", keys, withEmpty, 1, true));
}

TEST(RecordDifferenceCalls, NoConnectionAnywhereRaises723) {
  cDataGetway g;
  StringArray keys{"ID"}, fields{"X"};
  db::DatabaseRef nothing;
  for (db::DatabaseRef* arg : {static_cast<db::DatabaseRef*>(nullptr), &nothing}) {
    ComError e = raisedBy([&] { g.GetTblDiffRecRS("A", "B", keys, fields, 1, true, arg); });
    EXPECT_EQ(e.number(), static_cast<int32_t>(0x800402D3u));
    EXPECT_EQ(e.source(), "cDATAGateway:GetTblDiffRecRs");
    EXPECT_EQ(e.description(), "Need to set oDB or the DB property");
  }
  EXPECT_EQ(nothing, nullptr);
}

TEST(RecordDifferenceCalls, NothingArgumentIsFilledFromStoredConnection) {
  auto stored = std::make_shared<TracingDatabase>();
  cDataGetway g;
  g.SetDB(stored);
  StringArray keys{"ID"}, fields{"X"};
  db::DatabaseRef mine;
  g.GetTblDiffRecRS("A", "B", keys, fields, 2, false, &mine);
  EXPECT_EQ(mine, stored);
  EXPECT_EQ(stored->statements.size(), 1u);
  // The filled-in argument stays filled when the call fails afterwards.
  db::DatabaseRef again;
  StringArray noKeys = StringArray::of({});
  EXPECT_THROW(g.GetTblDiffRecRS("A", "B", noKeys, fields, 1, false, &again), ComError);
  EXPECT_EQ(again, stored);
  // A given argument wins over the stored connection.
  auto other = std::make_shared<TracingDatabase>();
  db::DatabaseRef given = other;
  g.GetTblDiffRecRS("A", "B", keys, fields, 1, false, &given);
  EXPECT_EQ(given, other);
  EXPECT_EQ(other->statements.size(), 1u);
  EXPECT_EQ(stored->statements.size(), 1u);
}

TEST(RecordDifferenceHandler, GenericFailureBecomesTooManyFieldsKeepingSource) {
  auto rec = std::make_shared<TracingDatabase>();
  cDataGetway g;
  g.SetDB(rec);
  StringArray keys{"ID"}, fields{"X"};
  rec->failure = std::make_unique<ComError>(kGenericFailure, "OVDB", "expression tree too large");
  ComError e = raisedBy([&] { g.GetTblDiffRecRS("A", "B", keys, fields, 1, true); });
  EXPECT_EQ(e.number(), kGenericFailure);
  EXPECT_EQ(e.source(), "OVDB");
  EXPECT_EQ(e.description(), "Too many fields to compare! Select less fields and try again.");

  rec->failure = std::make_unique<ComError>(-2147217865, "OVDB", "no such table: A");
  e = raisedBy([&] { g.GetTblDiffRecRS("A", "B", keys, fields, 2, true); });
  EXPECT_EQ(e.number(), -2147217865);
  EXPECT_EQ(e.source(), "OVDB");
  EXPECT_EQ(e.description(), "no such table: A");
}

TEST(RecordDifferenceHandler, BadArraysFailWithRuntimeErrors) {
  auto rec = std::make_shared<TracingDatabase>();
  cDataGetway g;
  g.SetDB(rec);
  StringArray fields{"X"}, noKeys = StringArray::of({}), unallocated;
  ComError empty = raisedBy([&] { g.GetTblDiffRecRS("A", "B", noKeys, fields, 1, true); });
  EXPECT_EQ(empty.number(), 5);
  EXPECT_EQ(empty.source(), "OVTblDiffData");  // the runtime's error keeps its own source
  EXPECT_EQ(empty.description(), "Invalid procedure call or argument");
  ComError unset = raisedBy([&] { g.GetTblDiffRecRS("A", "B", unallocated, fields, 1, true); });
  EXPECT_EQ(unset.number(), 9);
  EXPECT_EQ(unset.source(), "OVTblDiffData");
  StringArray many = fieldsF(32768);
  StringArray keys{"ID"};
  ComError overflow = raisedBy([&] { g.GetTblDiffRecRS("A", "B", keys, many, 1, true); });
  EXPECT_EQ(overflow.number(), 6);
  EXPECT_EQ(overflow.description(), "Overflow");
  EXPECT_TRUE(rec->calls.empty());
}

// --- On a real SQLite file ---------------------------------------------------------------

// Records of A and B as (ID, RecStatus, X, Y); each ID tells one situation.
const char* kRecordsA[] = {
    "1, 1, 'a', 'b'",    // partner equal
    "2, 1, 'a', 'b'",    // partner differs in Y
    "3, 1, 'a', 'b'",    // no partner
    "4, 1, 'a', 'b'",    // partner equal but deleted (status 0)
    "5, 0, 'a', 'b'",    // deleted, partner deleted and different
    "6, 1, 'ab', null",  // partner 'a', 'b': the concatenations are equal
    "7, 1, null, 'b'",   // partner 'a', 'b'
    "8, 1, 'A', 'B'",    // partner 'a', 'b': text compares without case
    "9, 1, null, null",  // partner all Null
    "10, 1, 'a', 'b'",   // an equal active partner and a different deleted one
    "11, 0, 'q', 'q'",   // deleted, no partner
};
const char* kRecordsB[] = {
    "1, 1, 'a', 'b'", "2, 1, 'a', 'c'", "4, 0, 'a', 'b'", "5, 0, 'x', 'y'", "6, 1, 'a', 'b'",
    "7, 1, 'a', 'b'", "8, 1, 'a', 'b'", "9, 1, null, null", "10, 1, 'a', 'b'", "10, 0, 'z', 'z'",
};

class RecordDifferenceOnFile : public test::DiffTest {
 protected:
  void SetUp() override {
    DiffTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    for (const char* t : {"A", "B"})
      f.run({std::string("create table [") + t +
             "] ([UniqueKey] counter, [RecStatus] long, [ID] long, [X] text(20), [Y] text(20))"});
    for (const char* r : kRecordsA) f.run({std::string("insert into A (ID, RecStatus, X, Y) values (") + r + ")"});
    for (const char* r : kRecordsB) f.run({std::string("insert into B (ID, RecStatus, X, Y) values (") + r + ")"});
  }
  // The IDs GetTblDiffRecRS lists, in the order it lists them; the statement stays in f.rec.
  std::vector<std::string> listed(StringArray fields, int32_t type, bool oru) {
    cDataGetway g;
    db::DatabaseRef conn = f.rec;
    StringArray keys{"ID"};
    db::RecordsetRef rs = g.GetTblDiffRecRS("A", "B", keys, fields, type, oru, &conn);
    std::vector<std::string> ids;
    for (const std::string& row : rowsOf(rs)) ids.push_back(row.substr(0, row.find('|')));
    return ids;
  }
};

TEST_P(RecordDifferenceOnFile, RecordsListedByQueryKindFieldsAndRecordStatus) {
  struct Case {
    const char* what;
    std::vector<std::string> fields;
    int32_t type;
    bool oru;
    std::vector<std::string> ids;
  };
  const std::vector<Case> cases = {
      // Oru: only active records, paired with a partner of the same status. 7 differs because
      // Null & "b" is "b"; 6 does not ("ab" & Null is "a" & "b"); 4's partner is deleted.
      {"conflict, two fields, Oru", {"X", "Y"}, 1, true, {"2", "7"}},
      {"conflict, two fields, plain", {"X", "Y"}, 1, false, {"2", "5", "7", "10"}},
      // One field is a plain <>: a Null against a value is no difference (7).
      {"conflict, one field, Oru", {"X"}, 1, true, {"6"}},
      {"conflict, one field, plain", {"X"}, 1, false, {"5", "6", "10"}},
      {"missing, Oru", {"X", "Y"}, 2, true, {"3", "4"}},
      {"missing, plain", {"X", "Y"}, 2, false, {"3", "11"}},
      {"missing, one field, Oru", {"X"}, 2, true, {"3", "4"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(listed(StringArray::of(c.fields), c.type, c.oru), c.ids) << c.what;
    EXPECT_EQ(f.rec->options.back(), c.type == 1 ? 1 : 0) << c.what;
  }
}

TEST_P(RecordDifferenceOnFile, WorkedStatementsRunAsSentAndColumnsAreKeysThenFields) {
  cDataGetway g;
  db::DatabaseRef conn = f.rec;
  StringArray keys{"ID"}, fields{"X", "Y"};
  db::RecordsetRef rs = g.GetTblDiffRecRS("A", "B", keys, fields, 1, true, &conn);
  EXPECT_EQ(f.rec->statements.back(),
            "select [A].[ID], [A].[X], [A].[Y] from [A] where [A].[ID]  in (select [A].[ID]  from [A] "
            "inner join [B] on [A].[ID] = [B].[ID]  and [A].recstatus = [B].recstatus  where  "
            "[A].[X]& [A].[Y]<> [B].[X]& [B].[Y]) and [A].recstatus = 1  order by [A].[ID]");
  EXPECT_EQ(test::columnsOf(rs), (std::vector<std::string>{"ID", "X", "Y"}));
  EXPECT_EQ(rowsOf(rs), (std::vector<std::string>{"2|a|b", "7|~|b"}));
  rs = g.GetTblDiffRecRS("A", "B", keys, fields, 2, true, &conn);
  EXPECT_EQ(f.rec->statements.back(),
            "select [A].[ID], [A].[X], [A].[Y] from [A] where [A].[ID]  not in (select [A].[ID]  from "
            "[A] inner join [B] on [A].[ID] = [B].[ID]  and [A].recstatus = [B].recstatus ) and "
            "[A].recstatus = 1  order by [A].[ID]");
  EXPECT_EQ(rowsOf(rs), (std::vector<std::string>{"3|a|b", "4|a|b"}));
}

TEST_P(RecordDifferenceOnFile, RejectedCallsSendNothingAndChangeNothing) {
  cDataGetway g;
  db::DatabaseRef conn = f.rec;
  StringArray keys{"ID"}, empty{""}, fields{"X"};
  ComError e = raisedBy([&] { g.GetTblDiffRecRS("A", "B", keys, empty, 1, true, &conn); });
  EXPECT_EQ(e.number(), static_cast<int32_t>(0x800402D4u));
  EXPECT_EQ(e.source(), "cDATAGateway:GetTblDiffRecRs");
  EXPECT_EQ(e.description(), "There are no fields to compare.");
  EXPECT_EQ(g.GetTblDiffRecRS("A", "B", keys, fields, 3, true, &conn), nullptr);
  EXPECT_TRUE(f.rec->calls.empty());
  EXPECT_EQ(rowsOf(f.file->OpenRecordset("select count(*) as N from [A]", 0, "")), std::vector<std::string>{"11"});
}

TEST_P(RecordDifferenceOnFile, EngineErrorsKeepNumberSourceAndDescription) {
  cDataGetway g;
  db::DatabaseRef conn = f.rec;
  StringArray keys{"ID"}, fields{"X", "Nope"};
  ComError e = raisedBy([&] { g.GetTblDiffRecRS("A", "B", keys, fields, 1, true, &conn); });
  EXPECT_EQ(e.number(), db::kDbErrCommand);
  EXPECT_EQ(e.source(), "OVDB");
  EXPECT_NE(e.description().find("Nope"), std::string::npos) << e.description();
  StringArray x{"X"};
  e = raisedBy([&] { g.GetTblDiffRecRS("A", "Missing", keys, x, 2, false, &conn); });
  EXPECT_EQ(e.number(), db::kDbErrCommand);
  EXPECT_EQ(e.source(), "OVDB");
  EXPECT_NE(e.description().find("Missing"), std::string::npos) << e.description();
}

// Concatenated keys pair on their joined text: keys (1, 23) and (12, 3) are one record.
class RecordDifferenceGroups : public test::DiffTest {};
class RecordDifferenceKeys : public test::DiffTest {};

TEST_P(RecordDifferenceKeys, ConcatenatedKeysCollide) {
  for (const char* t : {"A", "B"})
    f.run({std::string("create table [") + t + "] ([K1] long, [K2] long, [X] text(20))"});
  f.run({"insert into A (K1, K2, X) values (1, 23, 'x')", "insert into A (K1, K2, X) values (12, 3, 'x')",
         "insert into A (K1, K2, X) values (2, 5, 'x')", "insert into A (K1, K2, X) values (4, 4, 'x')",
         "insert into B (K1, K2, X) values (1, 23, 'y')", "insert into B (K1, K2, X) values (4, 4, 'x')"});
  cDataGetway g;
  db::DatabaseRef conn = f.rec;
  StringArray keys{"K1", "K2"}, fields{"X"};
  // (1, 23) differs, so (12, 3), which has no partner at all, is listed as a conflict too ...
  EXPECT_EQ(rowsOf(g.GetTblDiffRecRS("A", "B", keys, fields, 1, false, &conn)),
            (std::vector<std::string>{"1|23|x", "12|3|x"}));
  EXPECT_EQ(f.rec->statements.back(),
            "select [A].[K1], [A].[K2], [A].[X] from [A] where [A].[K1] & [A].[K2]  in (select "
            "[A].[K1] & [A].[K2]  from [A] inner join [B] on [A].[K1] = [B].[K1] and [A].[K2] = "
            "[B].[K2]  where [A].[X]<>[B].[X]) order by [A].[K1], [A].[K2]");
  // ... and is not missing, because its key text "123" has a partner.
  EXPECT_EQ(rowsOf(g.GetTblDiffRecRS("A", "B", keys, fields, 2, false, &conn)),
            (std::vector<std::string>{"2|5|x"}));
  EXPECT_EQ(f.rec->statements.back(),
            "select [A].[K1], [A].[K2], [A].[X] from [A] where [A].[K1] & [A].[K2]  not in (select "
            "[A].[K1] & [A].[K2]  from [A] inner join [B] on [A].[K1] = [B].[K1] and [A].[K2] = "
            "[B].[K2] ) order by [A].[K1], [A].[K2]");
}

// Groups of compared fields on a table of 300 text fields F0..F299. A "shift" moves one
// letter from one field to the next ("vv", Null against "v", "v"): within a group the
// concatenations stay equal, across a group end they differ.
// A field list beyond what the engine takes in one statement fails as a generic failure, which
// the member reports as too many fields, keeping the engine's source.
TEST_P(RecordDifferenceGroups, MoreFieldsThanTheEngineTakesAreTooManyToCompare) {
  std::string columns;
  std::vector<std::string> names;
  for (int i = 0; i < 420; ++i) {
    columns += ", [F" + std::to_string(i) + "] text(5)";
    names.push_back("F" + std::to_string(i));
  }
  for (const char* t : {"A", "B"}) f.run({std::string("create table [") + t + "] ([ID] long" + columns + ")"});
  cDataGetway g;
  db::DatabaseRef conn = f.rec;
  StringArray keys{"ID"}, fields = StringArray::of(names);
  const ComError e = raisedBy([&] { g.GetTblDiffRecRS("A", "B", keys, fields, 1, false, &conn); });
  EXPECT_EQ(e.number(), static_cast<int32_t>(0x80004005u)) << e.description();
  EXPECT_EQ(e.source(), "OVDB");
  EXPECT_EQ(e.description(), "Too many fields to compare! Select less fields and try again.");
}

TEST_P(RecordDifferenceGroups, WhichDifferencesEachFieldCountSees) {
  std::string columns;
  for (int i = 0; i < 300; ++i) columns += ", [F" + std::to_string(i) + "] text(5)";
  for (const char* t : {"A", "B"}) f.run({std::string("create table [") + t + "] ([ID] long" + columns + ")"});
  struct Row {
    int id;
    std::map<int, std::string> a;  // fields of A that are not 'v'
    std::map<int, std::string> b;  // fields of B that are not 'v'
  };
  auto shift = [](int id, int at) { return Row{id, {{at, "'vv'"}, {at + 1, "null"}}, {}}; };
  const std::vector<Row> rows = {
      {1, {}, {}},
      {2, {{30, "'x'"}}, {}},
      {3, {{31, "'x'"}}, {}},
      {4, {}, {{261, "'x'"}}},
      shift(5, 29),   // inside the first group
      shift(6, 30),   // across the end at 30
      shift(7, 240),  // across the end at 240
      shift(8, 259),  // inside the group 241..260
      shift(9, 260),  // across the end at 260
      shift(10, 270), // inside the tail group
      {11, {{0, "'x'"}}, {}},
      {12, {}, {{299, "null"}}},
  };
  for (const Row& r : rows) {
    for (const char* t : {"A", "B"}) {
      const std::map<int, std::string>& changed = std::string(t) == "A" ? r.a : r.b;
      std::string names = "ID", values = std::to_string(r.id);
      for (int i = 0; i < 300; ++i) {
        names += ", F" + std::to_string(i);
        values += ", " + (changed.count(i) ? changed.at(i) : std::string("'v'"));
      }
      f.run({std::string("insert into ") + t + " (" + names + ") values (" + values + ")"});
    }
  }
  struct Case {
    int fields;
    size_t groups;
    std::vector<std::string> ids;
    std::vector<std::string> texts;  // parts of the statement sent: where groups end and begin
  };
  std::vector<std::string> ends;  // the ten groups of 262 fields: 0..30, 31..60, ..., 241..260, 261
  for (int end : {30, 60, 90, 120, 150, 180, 210, 240, 260})
    ends.push_back(" [B].[F" + std::to_string(end) + "] OR  [A].[F" + std::to_string(end + 1) + "]");
  ends.push_back(" [B].[F240] OR  [A].[F241]&");
  ends.push_back(" OR  [A].[F261]<> [B].[F261]) order by");
  const std::vector<Case> cases = {
      {1, 1, {"11"}, {}},
      {31, 1, {"2", "6", "11"}, {" [A].[F30]<> [B].[F0]&"}},
      {32, 2, {"2", "3", "6", "11"}, {" [B].[F30] OR  [A].[F31]<> [B].[F31]) order by [A].[ID]"}},
      // Indexes 0..260: the last index closes a group, so no trailing " OR " remains.
      {261, 9, {"2", "3", "6", "7", "9", "11"}, {" [B].[F260]) order by"}},
      {262, 10, {"2", "3", "4", "6", "7", "9", "11"}, ends},
      // Everything after 260 stays in one group, however many fields there are.
      {300, 10, {"2", "3", "4", "6", "7", "9", "11", "12"}, {" [A].[F298]& [A].[F299]<> [B].[F261]&"}},
  };
  cDataGetway g;
  db::DatabaseRef conn = f.rec;
  StringArray keys{"ID"};
  for (const Case& c : cases) {
    StringArray fields = fieldsF(c.fields);
    std::vector<std::string> ids;
    for (const std::string& row : rowsOf(g.GetTblDiffRecRS("A", "B", keys, fields, 1, false, &conn)))
      ids.push_back(row.substr(0, row.find('|')));
    EXPECT_EQ(ids, c.ids) << c.fields << " fields";
    EXPECT_EQ(occurrences(f.rec->statements.back(), " OR ") + 1, c.groups) << c.fields << " fields";
    for (const std::string& t : c.texts) EXPECT_NE(f.rec->statements.back().find(t), std::string::npos) << c.fields << t;
  }
}

}  // namespace
OVT_ON_EVERY_ENGINE(RecordDifferenceGroups);
OVT_ON_EVERY_ENGINE(RecordDifferenceKeys);
OVT_ON_EVERY_ENGINE(RecordDifferenceOnFile);

}  // namespace ovt
