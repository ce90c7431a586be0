#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "compare/diff_support.h"
#include "ovtbldiff/gateway.h"

namespace ovt {
namespace {

using test::DiffFile;
using test::raisedBy;
using test::MadeTable;
using test::rowsOf;
using test::TracingDatabase;

const std::string kView1 =
    "select [House].[HouseNo] as [HouseNo~Main],[FKey],[Member].[HouseNo] as [HouseNo~Grid],"
    "[LineNo],[Age] from [Member] inner join [House] on [Member].FKey=[House].UniqueKey where "
    "[House].recstatus=1 and [Member].recstatus=1";
const std::string kView2 =
    "select [House2].[HouseNo] as [HouseNo~Main],[FKey],[Member2].[HouseNo] as [HouseNo~Grid],"
    "[LineNo],[Age] from [Member2] inner join [House2] on [Member2].Fkey=[House2].UniqueKey where "
    "[House2].recstatus=1 and [Member2].recstatus=1";
const std::string kOuter =
    "select QryTblDiff1.[HouseNo~Main],QryTblDiff1.[LineNo], QryTblDiff1.[HouseNo~Grid],"
    "QryTblDiff1.[Age],QryTblDiff1.FKey from [QryTblDiff1] where "
    "QryTblDiff1.[HouseNo~Main]&QryTblDiff1.[LineNo]";
const std::string kJoin =
    "QryTblDiff1.[HouseNo~Main] = QryTblDiff2.[HouseNo~Main] and QryTblDiff1.[LineNo] = "
    "QryTblDiff2.[LineNo]";
const std::string kMissing =
    kOuter + " not in (select QryTblDiff1.[HouseNo~Main]&QryTblDiff1.[LineNo] from [QryTblDiff1] "
             "inner join [QryTblDiff2] on " + kJoin + ") order by QryTblDiff1.[HouseNo~Main]";

std::string tests(const std::string& c) {
  const std::string a = "QryTblDiff1.[" + c + "]", b = "QryTblDiff2.[" + c + "]";
  return " (" + a + " <> " + b + ") or  (" + a + " is null and " + b + " is not null) or  (" + a +
         " is not null and " + b + " is null) or ";
}

std::shared_ptr<TracingDatabase> houses() {
  auto rec = std::make_shared<TracingDatabase>();
  const std::vector<std::string> parent = {"UniqueKey", "RecStatus", "HouseNo", "Village"};
  const std::vector<std::string> child = {"UniqueKey", "RecStatus", "FKey", "HouseNo", "LineNo", "Age"};
  rec->tables = {std::make_shared<MadeTable>("House", parent), std::make_shared<MadeTable>("House2", parent),
                 std::make_shared<MadeTable>("Member", child), std::make_shared<MadeTable>("Member2", child)};
  return rec;
}

TEST(GridDifferenceText, NamesMatchCaseInsensitivelyChildColumnsUseComponentName) {
  auto rec = houses();
  cDataGetway g;
  g.SetDB(rec);
  StringArray keys{"HouseNo"};
  g.GetTblDiffGridRS("HOUSE", "member", "House2", "Member2", "LineNo", keys, 2);
  EXPECT_EQ(rec->statements.at(0),
            "select [HOUSE].[HouseNo] as [HouseNo~Main],[FKey],[Member].[HouseNo] as [HouseNo~Grid],"
            "[LineNo],[Age] from [member] inner join [HOUSE] on [member].FKey=[HOUSE].UniqueKey where "
            "[HOUSE].recstatus=1 and [member].recstatus=1");
}

TEST(GridDifferenceText, NoSharedNamesGiveBareColumns) {
  auto rec = std::make_shared<TracingDatabase>();
  rec->tables = {std::make_shared<MadeTable>("P", std::vector<std::string>{"UniqueKey", "RecStatus", "PNo"}),
                 std::make_shared<MadeTable>("C", std::vector<std::string>{"UniqueKey", "RecStatus", "FKey", "Line", "V"})};
  cDataGetway g;
  g.SetDB(rec);
  StringArray keys{"PNo"};
  g.GetTblDiffGridRS("P", "C", "P", "C", "Line", keys, 2);
  EXPECT_EQ(rec->statements.at(0),
            "select [PNo],[FKey],[Line],[V] from [C] inner join [P] on [C].FKey=[P].UniqueKey where "
            "[P].recstatus=1 and [C].recstatus=1");
  EXPECT_EQ(rec->statements.at(2),
            "select QryTblDiff1.[PNo],QryTblDiff1.[Line], QryTblDiff1.[V],QryTblDiff1.FKey from "
            "[QryTblDiff1] where QryTblDiff1.[PNo]&QryTblDiff1.[Line] not in (select "
            "QryTblDiff1.[PNo]&QryTblDiff1.[Line] from [QryTblDiff1] inner join [QryTblDiff2] on "
            "QryTblDiff1.[PNo] = QryTblDiff2.[PNo] and QryTblDiff1.[Line] = QryTblDiff2.[Line]) order "
            "by QryTblDiff1.[PNo]");
}

// View 1 rejected raises 702, view 2 rejected 703 (leaving view 1), each naming its statement.
TEST(GridDifferenceFailures, RejectedViewRaisesAsRaised) {
  const struct {
    std::string view;
    int32_t type;
    int32_t number;
    std::string description, lastCall;
  } cases[] = {
      {"QryTblDiff1", 1, -2147220802, "Create View fails :" + kView1, "CreateView: QryTblDiff1: " + kView1},
      {"QryTblDiff2", 2, -2147220801, "Create View fails:" + kView2, "CreateView: QryTblDiff2: " + kView2},
  };
  for (const auto& c : cases) {
    auto rec = houses();
    rec->createViewAnswers[c.view] = false;
    cDataGetway g;
    g.SetDB(rec);
    StringArray keys{"HouseNo"};
    ComError e = raisedBy([&] { g.GetTblDiffGridRS("House", "Member", "House2", "Member2", "LineNo", keys, c.type); });
    EXPECT_EQ(e.number(), c.number) << c.view;
    EXPECT_EQ(e.source(), "cDATAGateway:GetTblDiffGridRS");
    EXPECT_EQ(e.description(), c.description);
    EXPECT_EQ(rec->calls.back(), c.lastCall);
  }
}

TEST(GridDifferenceFailures, OtherErrorsKeepSourceAndNameTheQueryType) {
  cDataGetway g;
  StringArray keys{"HouseNo"};
  ComError noDb = raisedBy([&] { g.GetTblDiffGridRS("House", "Member", "House2", "Member2", "LineNo", keys, 1); });
  EXPECT_EQ(noDb.number(), 91);
  EXPECT_EQ(noDb.source(), "OVTblDiffData");
  EXPECT_EQ(noDb.description(), "Object variable or With block variable not set:SQLType:Difference");
  // Every type but the conflict query is named "Unmatched", even one that runs no query.
  for (int32_t type : {2, 3, 0}) {
    ComError e = raisedBy([&] { g.GetTblDiffGridRS("House", "Member", "House2", "Member2", "LineNo", keys, type); });
    EXPECT_EQ(e.description(), "Object variable or With block variable not set:SQLType:Unmatched") << type;
  }

  // Child table 2 missing: view 1 is stored, then the failure; nothing is dropped afterwards.
  auto rec = houses();
  rec->tables.pop_back();
  g.SetDB(rec);
  ComError noChild = raisedBy([&] { g.GetTblDiffGridRS("House", "Member", "House2", "Member2", "LineNo", keys, 2); });
  EXPECT_EQ(noChild.number(), 91);
  EXPECT_EQ(noChild.description(), "Object variable or With block variable not set:SQLType:Unmatched");
  EXPECT_EQ(rec->calls.back(), "CreateView: QryTblDiff1: " + kView1);
}

TEST(GridDifferenceFailures, FailingQueryLeavesBothViews) {
  auto rec = houses();
  rec->failure = std::make_unique<ComError>(-2147217900, "OVDB", "no such column: LineNo");
  cDataGetway g;
  g.SetDB(rec);
  StringArray keys{"HouseNo"};
  ComError e = raisedBy([&] { g.GetTblDiffGridRS("House", "Member", "House2", "Member2", "LineNo", keys, 1); });
  EXPECT_EQ(e.number(), -2147217900);
  EXPECT_EQ(e.source(), "OVDB");
  EXPECT_EQ(e.description(), "no such column: LineNo:SQLType:Difference");
  EXPECT_EQ(rec->calls.back().rfind("OpenRecordset: ", 0), 0u);
}

// --- On a real SQLite file ---------------------------------------------------------------

// The worked example's tables House/House2 and Member/Member2 on a file. Each record of Member
// tells one situation (HouseNo, LineNo; partner in Member2):
//   7,1 equal   7,2 Age differs   7,3 Null against 5   7,4 Null against Null   7,5 no partner
//   7,6 partner deleted   8,1 deleted child   9,1 parent deleted in House   8,2 child HouseNo differs
//   1,23 Age differs, and 12,3 (no partner) has the same key text "123".
class GridDifferenceOnFile : public test::DiffTest {
 protected:
  void SetUp() override {
    DiffTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    for (const char* t : {"House", "House2"})
      f.run({std::string("create table [") + t +
             "] ([UniqueKey] counter, [RecStatus] long, [HouseNo] long, [Village] text(20))"});
    for (const char* t : {"Member", "Member2"})
      f.run({std::string("create table [") + t +
             "] ([UniqueKey] counter, [RecStatus] long, [FKey] long, [HouseNo] long, [LineNo] long, [Age] short)"});
    // UniqueKey 1..5 in both parent tables: houses 7, 8, 9, 1, 12.
    for (const char* h : {"1, 7", "1, 8", "0, 9", "1, 1", "1, 12"})
      f.run({std::string("insert into House (RecStatus, HouseNo) values (") + h + ")"});
    for (const char* h : {"1, 7", "1, 8", "1, 9", "1, 1", "1, 12"})
      f.run({std::string("insert into House2 (RecStatus, HouseNo) values (") + h + ")"});
    // RecStatus, FKey, HouseNo, LineNo, Age
    for (const char* m : {"1, 1, 7, 1, 30", "1, 1, 7, 2, 40", "1, 1, 7, 3, null", "1, 1, 7, 4, null", "1, 1, 7, 5, 20",
                          "1, 1, 7, 6, 50", "0, 2, 8, 1, 10", "1, 3, 9, 1, 10", "1, 2, 99, 2, 60", "1, 4, 1, 23, 1",
                          "1, 5, 12, 3, 2"})
      member("Member", m);
    for (const char* m : {"1, 1, 7, 1, 30", "1, 1, 7, 2, 41", "1, 1, 7, 3, 5", "1, 1, 7, 4, null", "0, 1, 7, 6, 50",
                          "1, 2, 8, 1, 11", "1, 3, 9, 1, 11", "1, 2, 8, 2, 60", "1, 4, 1, 23, 9"})
      member("Member2", m);
    g.SetDB(f.rec);
  }
  void member(const std::string& table, const std::string& values) {
    f.run({"insert into " + table + " (RecStatus, FKey, HouseNo, LineNo, Age) values (" + values + ")"});
  }
  // Rows as "HouseNo~Main|LineNo|HouseNo~Grid|Age|FKey", sorted (the order is by parent key only).
  std::vector<std::string> sortedRows(const db::RecordsetRef& rs) {
    std::vector<std::string> rows = rowsOf(rs);
    std::sort(rows.begin(), rows.end());
    return rows;
  }
  db::RecordsetRef call(int32_t type, const std::string& childKey = "LineNo", const std::string& child2 = "Member2",
                        const std::string& parent2 = "House2") {
    StringArray keys{"HouseNo"};
    return g.GetTblDiffGridRS("House", "Member", parent2, child2, childKey, keys, type);
  }
  cDataGetway g;
};

TEST_P(GridDifferenceOnFile, WorkedStatementsRunAsSentAndListActiveChildRecords) {
  db::RecordsetRef missing = call(2);
  const std::vector<std::string> expected = {
      "Tables", "DropView: QryTblDiff1", "DropView: QryTblDiff2",
      "CreateView: QryTblDiff1: " + kView1, "CreateView: QryTblDiff2: " + kView2,
      "OpenRecordset: " + kMissing, "DropView: QryTblDiff1", "DropView: QryTblDiff2"};
  EXPECT_EQ(f.rec->calls, expected);
  EXPECT_EQ(test::columnsOf(missing),
            (std::vector<std::string>{"HouseNo~Main", "LineNo", "HouseNo~Grid", "Age", "FKey"}));
  EXPECT_EQ(missing->Recordset()->Type(3), db::adSmallInt);  // Age keeps its type through the stored view
  // 12,3 has no partner but its key text "123" pairs with 1,23, so it is not missing.
  EXPECT_EQ(sortedRows(missing), (std::vector<std::string>{"7|5|7|20|1", "7|6|7|50|1"}));

  db::RecordsetRef conflict = call(1);
  EXPECT_EQ(f.rec->options, (std::vector<int32_t>{0, 2}));
  std::string difference = tests("HouseNo~Grid") + tests("Age");
  difference.resize(difference.size() - 3);
  EXPECT_EQ(f.rec->statements.at(5), kOuter + "  in (select QryTblDiff1.[HouseNo~Main]&QryTblDiff1.[LineNo] from "
                                              "[QryTblDiff1] inner join [QryTblDiff2] on " + kJoin + " where " +
                                              difference + ") order by QryTblDiff1.[HouseNo~Main]");
  // 1,23 differs, and so 12,3 is listed as a conflict with it.
  EXPECT_EQ(sortedRows(conflict),
            (std::vector<std::string>{"12|3|12|2|5", "1|23|1|1|4", "7|2|7|40|1", "7|3|7|~|1", "8|2|99|60|2"}));
  std::vector<std::string> keys;
  for (const std::string& r : rowsOf(conflict)) keys.push_back(r.substr(0, r.find('|')));
  EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end(), [](const std::string& a, const std::string& b) {
    return std::stoi(a) < std::stoi(b);
  }));
  EXPECT_FALSE(f.readable("QryTblDiff1"));
  EXPECT_FALSE(f.readable("QryTblDiff2"));
}

TEST_P(GridDifferenceOnFile, OtherQueryTypeCreatesAndDropsTheViewsOnly) {
  EXPECT_EQ(call(3), nullptr);
  EXPECT_TRUE(f.rec->options.empty());
  EXPECT_EQ(f.rec->calls.size(), 7u);
  EXPECT_EQ(f.rec->calls.back(), "DropView: QryTblDiff2");
  EXPECT_FALSE(f.readable("QryTblDiff1"));
  EXPECT_FALSE(f.readable("QryTblDiff2"));
}

TEST_P(GridDifferenceOnFile, FailuresLeaveTheViewsCreatedSoFarForTheNextCallToReplace) {
  struct Case {
    const char* what;
    std::string childKey, child2, parent2;
    int32_t type;
    int32_t number;
    std::string source, description;  // description: the start of it, or all of it when exact
    bool exact;
    bool view1, view2;
  };
  const std::vector<Case> cases = {
      {"child key not a column", "Nope", "Member2", "House2", 1, db::kDbErrCommand, "OVDB", ":SQLType:Difference",
       false, true, true},
      {"child key not a column, missing query", "Nope", "Member2", "House2", 2, db::kDbErrCommand, "OVDB",
       ":SQLType:Unmatched", false, true, true},
      {"second child table missing", "LineNo", "Nowhere", "House2", 2, 91, "OVTblDiffData",
       "Object variable or With block variable not set:SQLType:Unmatched", true, true, false},
      {"second parent table missing", "LineNo", "Member2", "Nowhere", 1, -2147220801,
       "cDATAGateway:GetTblDiffGridRS",
       "Create View fails:" + std::string("select [Nowhere].[HouseNo] as [HouseNo~Main],[FKey],[Member2].[HouseNo] as "
                                          "[HouseNo~Grid],[LineNo],[Age] from [Member2] inner join [Nowhere] on "
                                          "[Member2].Fkey=[Nowhere].UniqueKey where [Nowhere].recstatus=1 and "
                                          "[Member2].recstatus=1"),
       true, true, false},
  };
  for (const Case& c : cases) {
    ComError e = raisedBy([&] { call(c.type, c.childKey, c.child2, c.parent2); });
    EXPECT_EQ(e.number(), c.number) << c.what;
    EXPECT_EQ(e.source(), c.source) << c.what;
    if (c.exact)
      EXPECT_EQ(e.description(), c.description) << c.what;
    else
      EXPECT_TRUE(e.description().size() > c.description.size() &&
                  e.description().compare(e.description().size() - c.description.size(), std::string::npos,
                                          c.description) == 0)
          << c.what << ": " << e.description();
    EXPECT_EQ(f.readable("QryTblDiff1"), c.view1) << c.what;
    EXPECT_EQ(f.readable("QryTblDiff2"), c.view2) << c.what;
    // The next good call removes what was left, runs and cleans up.
    EXPECT_EQ(rowsOf(call(2)).size(), 2u) << c.what;
    EXPECT_FALSE(f.readable("QryTblDiff1")) << c.what;
    EXPECT_FALSE(f.readable("QryTblDiff2")) << c.what;
  }
}

TEST_P(GridDifferenceOnFile, MissingFirstTablesFailBeforeAnyView) {
  StringArray keys{"HouseNo"};
  for (auto [parent, child] : {std::pair<std::string, std::string>{"Nowhere", "Member"}, {"House", "Nowhere"}}) {
    f.rec->calls.clear();
    ComError e = raisedBy([&] { g.GetTblDiffGridRS(parent, child, "House2", "Member2", "LineNo", keys, 1); });
    EXPECT_EQ(e.number(), 91) << parent << "/" << child;
    EXPECT_EQ(e.description(), "Object variable or With block variable not set:SQLType:Difference");
    EXPECT_EQ(f.rec->calls, std::vector<std::string>{"Tables"});
  }
  // A child with only the system columns: both views are dropped, none is created.
  f.run({"create table [Bare] ([UniqueKey] counter, [RecStatus] long)"});
  for (int32_t type : {1, 2}) {
    f.rec->calls.clear();
    ComError e = raisedBy([&] { g.GetTblDiffGridRS("House", "Bare", "House2", "Bare", "LineNo", keys, type); });
    EXPECT_EQ(e.number(), 5);
    EXPECT_EQ(e.description(), std::string("Invalid procedure call or argument:SQLType:") +
                                   (type == 1 ? "Difference" : "Unmatched"));
    EXPECT_EQ(f.rec->calls, (std::vector<std::string>{"Tables", "DropView: QryTblDiff1", "DropView: QryTblDiff2"}));
  }
}

TEST_P(GridDifferenceOnFile, ChildWithNothingToCompareFailsAfterCreatingBothViews) {
  for (const char* t : {"Kid", "Kid2"})
    f.run({std::string("create table [") + t + "] ([UniqueKey] counter, [RecStatus] long, [FKey] long, [LineNo] long)"});
  StringArray keys{"HouseNo"};
  for (int32_t type : {1, 2}) {
    ComError e = raisedBy([&] { g.GetTblDiffGridRS("House", "Kid", "House2", "Kid2", "LineNo", keys, type); });
    EXPECT_EQ(e.number(), 5);
    EXPECT_EQ(e.source(), "OVTblDiffData");
    EXPECT_EQ(e.description(), std::string("Invalid procedure call or argument:SQLType:") +
                                   (type == 1 ? "Difference" : "Unmatched"));
    EXPECT_TRUE(f.readable("QryTblDiff1"));
    EXPECT_TRUE(f.readable("QryTblDiff2"));
    EXPECT_TRUE(f.rec->options.empty());
  }
}

}  // namespace
OVT_ON_EVERY_ENGINE(GridDifferenceOnFile);

}  // namespace ovt
