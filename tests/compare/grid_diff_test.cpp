#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "compare/diff_support.h"
#include "ovtbldiff/gateway.h"

namespace ovt {
namespace {

using test::raisedBy;
using test::FakeTable;
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
  rec->tables = {std::make_shared<FakeTable>("House", parent), std::make_shared<FakeTable>("House2", parent),
                 std::make_shared<FakeTable>("Member", child), std::make_shared<FakeTable>("Member2", child)};
  return rec;
}

TEST(GridDifferenceText, WorkedExampleMissing) {
  auto rec = houses();
  cDataGetway g;
  g.SetDB(rec);
  StringArray keys{"HouseNo"};
  g.GetTblDiffGridRS("House", "Member", "House2", "Member2", "LineNo", keys, 2);
  const std::vector<std::string> expected = {
      "Tables", "DropView: QryTblDiff1", "DropView: QryTblDiff2",
      "CreateView: QryTblDiff1: " + kView1, "CreateView: QryTblDiff2: " + kView2,
      "OpenRecordset: " + kMissing, "DropView: QryTblDiff1", "DropView: QryTblDiff2"};
  EXPECT_EQ(rec->calls, expected);
  EXPECT_EQ(rec->options, (std::vector<int32_t>{0}));
}

TEST(GridDifferenceText, WorkedExampleConflict) {
  auto rec = houses();
  cDataGetway g;
  g.SetDB(rec);
  StringArray keys{"HouseNo"};
  g.GetTblDiffGridRS("House", "Member", "House2", "Member2", "LineNo", keys, 1);
  std::string difference = tests("HouseNo~Grid") + tests("Age");
  difference.resize(difference.size() - 3);
  const std::string conflict = kOuter + "  in (select QryTblDiff1.[HouseNo~Main]&QryTblDiff1.[LineNo] "
                               "from [QryTblDiff1] inner join [QryTblDiff2] on " + kJoin + " where " +
                               difference + ") order by QryTblDiff1.[HouseNo~Main]";
  ASSERT_EQ(rec->statements.size(), 3u);
  EXPECT_EQ(rec->statements[2], conflict);
  EXPECT_NE(conflict.find("is null) ) order by"), std::string::npos);
  EXPECT_EQ(rec->options, (std::vector<int32_t>{2}));
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
  rec->tables = {std::make_shared<FakeTable>("P", std::vector<std::string>{"UniqueKey", "RecStatus", "PNo"}),
                 std::make_shared<FakeTable>("C", std::vector<std::string>{"UniqueKey", "RecStatus", "FKey", "Line", "V"})};
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

TEST(GridDifferenceCalls, OtherQueryTypeCreatesAndDropsViewsRunsNothing) {
  auto rec = houses();
  cDataGetway g;
  g.SetDB(rec);
  StringArray keys{"HouseNo"};
  EXPECT_EQ(g.GetTblDiffGridRS("House", "Member", "House2", "Member2", "LineNo", keys, 3), nullptr);
  EXPECT_TRUE(rec->options.empty());
  EXPECT_EQ(rec->calls.size(), 7u);
  EXPECT_EQ(rec->calls.back(), "DropView: QryTblDiff2");
}

TEST(GridDifferenceFailures, FirstViewRejectedRaises702AsRaised) {
  auto rec = houses();
  rec->createViewAnswers["QryTblDiff1"] = false;
  cDataGetway g;
  g.SetDB(rec);
  StringArray keys{"HouseNo"};
  ComError e = raisedBy([&] { g.GetTblDiffGridRS("House", "Member", "House2", "Member2", "LineNo", keys, 1); });
  EXPECT_EQ(e.number(), -2147220802);
  EXPECT_EQ(e.source(), "cDATAGateway:GetTblDiffGridRS");
  EXPECT_EQ(e.description(), "Create View fails :" + kView1);
  EXPECT_EQ(rec->calls.back(), "CreateView: QryTblDiff1: " + kView1);
}

TEST(GridDifferenceFailures, SecondViewRejectedRaises703LeavingFirst) {
  auto rec = houses();
  rec->createViewAnswers["QryTblDiff2"] = false;
  cDataGetway g;
  g.SetDB(rec);
  StringArray keys{"HouseNo"};
  ComError e = raisedBy([&] { g.GetTblDiffGridRS("House", "Member", "House2", "Member2", "LineNo", keys, 2); });
  EXPECT_EQ(e.number(), -2147220801);
  EXPECT_EQ(e.source(), "cDATAGateway:GetTblDiffGridRS");
  EXPECT_EQ(e.description(), "Create View fails:" + kView2);
  EXPECT_EQ(rec->calls.back(), "CreateView: QryTblDiff2: " + kView2);
}

TEST(GridDifferenceFailures, OtherErrorsKeepSourceAndNameTheQueryType) {
  cDataGetway g;
  StringArray keys{"HouseNo"};
  ComError noDb = raisedBy([&] { g.GetTblDiffGridRS("House", "Member", "House2", "Member2", "LineNo", keys, 1); });
  EXPECT_EQ(noDb.number(), 91);
  EXPECT_EQ(noDb.source(), "OVTblDiffData");
  EXPECT_EQ(noDb.description(), "Object variable or With block variable not set:SQLType:Difference");

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

TEST(GridDifferenceFailures, ChildWithOnlySystemColumnsFailsAfterDroppingViews) {
  auto rec = std::make_shared<TracingDatabase>();
  rec->tables = {std::make_shared<FakeTable>("P", std::vector<std::string>{"UniqueKey", "RecStatus", "PNo"}),
                 std::make_shared<FakeTable>("C", std::vector<std::string>{"UniqueKey", "RecStatus"})};
  cDataGetway g;
  g.SetDB(rec);
  StringArray keys{"PNo"};
  ComError e = raisedBy([&] { g.GetTblDiffGridRS("P", "C", "P", "C", "Line", keys, 1); });
  EXPECT_EQ(e.number(), 5);
  EXPECT_EQ(e.description(), "Invalid procedure call or argument:SQLType:Difference");
  EXPECT_EQ(rec->calls, (std::vector<std::string>{"Tables", "DropView: QryTblDiff1", "DropView: QryTblDiff2"}));
}

}  // namespace
}  // namespace ovt
