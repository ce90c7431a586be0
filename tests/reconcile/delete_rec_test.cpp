// DeleteRec with a scripted connection: the checks, the two condition forms, mark-delete with
// its grid children in one transaction, physical delete, and the messages of failed records.
#include <gtest/gtest.h>

#include "ovtbldiff/gateway.h"
#include "support/scripted_db.h"

namespace ovt::test {
namespace {

const std::string kGridQuery = gridListQuery("viewSurvey");

struct DeleteRecCase : ::testing::Test {
  std::shared_ptr<ScriptedDatabase> db = std::make_shared<ScriptedDatabase>();
  cDataGetway gw;
  StringArray matchFld = keys({{"ID", "3"}, {"Site", "202"}});
  VariantArray matchValues = values({{int32_t{5}, Variant("N")}, {int32_t{6}, Variant("S")}});
  StringArray errMsg = messages(2);
  bool oru = true;

  void SetUp() override {
    db->existing["Survey"] = true;
    db->existing["viewSurvey"] = true;
    db->tableTypes["Survey"] = 0;
    gw.SetDB(db);
    // Two grids, each with its data table.
    db->answers[kGridQuery] = Rows{{"GridName", "GridViewName"}, {202, 202},
                                   {{Variant("G1"), Variant("gvKids")}, {Variant("G2"), Variant("gvPets")}}};
    db->existing["gvKids"] = true;
    db->existing["gvPets"] = true;
    db->tableTypes["gvKids"] = 1;
    db->tableTypes["gvPets"] = 1;
    db->answers[dataTableQuery("gvKids")] = Rows{{"DataTable"}, {202}, {{Variant("Kids")}}};
    db->answers[dataTableQuery("gvPets")] = Rows{{"DataTable"}, {202}, {{Variant("Pets")}}};
  }
  void record(const std::string& cond, int32_t key) {
    db->answers["select recstatus,UniqueKey from [Survey] where " + cond] =
        Rows{{"recstatus", "UniqueKey"}, {2, 3}, {{Variant(int16_t{1}), Variant(key)}}};
  }
  bool run() { return gw.DeleteRec("Survey", matchFld, matchValues, oru, errMsg); }
};

TEST_F(DeleteRecCase, MarksTheRecordAndItsGridChildrenInOneTransaction) {
  record("ID = 5 and Site = \"N\" ", 70);
  record("ID = 6 and Site = \"S\" ", 71);
  EXPECT_TRUE(run());
  auto work = db->work();
  const std::vector<std::string> first = {
      "BeginTrans",
      "OpenRecordset: select recstatus,UniqueKey from [Survey] where ID = 5 and Site = \"N\" ",
      "SetFieldValue: recstatus=0",
      "Update",
      "OpenRecordset: " + kGridQuery,
      "OpenRecordset: " + dataTableQuery("gvKids"),
      "Execute: update Kids set recstatus = 0 where FKey = 70",
      "OpenRecordset: " + dataTableQuery("gvPets"),
      "Execute: update Pets set recstatus = 0 where FKey = 70",
      "CommitTrans",
  };
  ASSERT_EQ(work.size(), 2 * first.size());
  EXPECT_EQ(std::vector<std::string>(work.begin(), work.begin() + 10), first);
  EXPECT_EQ(db->options.at(0), 1);
  EXPECT_EQ(errMsg.at(0), "untouched");
}

TEST_F(DeleteRecCase, MissingRecordFailsAndTheNextOneIsStillMarked) {
  record("ID = 6 and Site = \"S\" ", 71);
  db->answers["select recstatus,UniqueKey from [Survey] where ID = 5 and Site = \"N\" "] =
      Rows{{"recstatus", "UniqueKey"}, {2, 3}, {}};
  EXPECT_FALSE(run());
  EXPECT_EQ(errMsg.at(0), "Query failed. : select recstatus,UniqueKey from [Survey] where ID = 5 and Site = \"N\" ");
  EXPECT_EQ(errMsg.at(1), "untouched");
  auto work = db->work();
  EXPECT_EQ(work[2], "RollbackTrans");
  EXPECT_EQ(work.back(), "CommitTrans");
}

TEST_F(DeleteRecCase, LinkTableUsesItsViewAndPrefixedGridTables) {
  matchValues = values({{int32_t{5}, Variant("N")}});
  db->existing["ORULINK_Survey"] = true;
  db->existing["ORULINK_viewSurvey"] = true;
  db->tableTypes["ORULINK_Survey"] = 0;
  db->answers["select recstatus,UniqueKey from [ORULINK_Survey] where ID = 5 and Site = \"N\" "] =
      Rows{{"recstatus", "UniqueKey"}, {2, 3}, {{Variant(int16_t{1}), Variant(int32_t{70})}}};
  db->answers[gridListQuery("ORULINK_viewSurvey")] = db->answers[kGridQuery];
  EXPECT_TRUE(gw.DeleteRec("ORULINK_Survey", matchFld, matchValues, oru, errMsg));
  EXPECT_EQ(db->calls[2], "TableExists: ORULINK_viewSurvey");
  auto& s = db->statements;
  EXPECT_NE(std::find(s.begin(), s.end(), "update ORULINK_Kids set recstatus = 0 where FKey = 70"), s.end());
  EXPECT_NE(std::find(s.begin(), s.end(), "update ORULINK_Pets set recstatus = 0 where FKey = 70"), s.end());
}

TEST_F(DeleteRecCase, FormWithoutGridsMarksOnlyTheRecord) {
  matchValues = values({{int32_t{5}, Variant("N")}});
  record("ID = 5 and Site = \"N\" ", 70);
  db->answers[kGridQuery] = Rows{{"GridName", "GridViewName"}, {202, 202}, {}};
  EXPECT_TRUE(run());
  EXPECT_EQ(db->work().back(), "CommitTrans");
  for (const std::string& s : db->statements) EXPECT_EQ(s.rfind("update", 0), std::string::npos) << s;
}

// A grid view that is no view table makes GetOruDataTable raise 713: that grid cannot be
// marked, so the record fails and its own mark is rolled back.
TEST_F(DeleteRecCase, GridThatCannotBeLookedUpFailsTheRecord) {
  matchValues = values({{int32_t{5}, Variant("N")}});
  record("ID = 5 and Site = \"N\" ", 70);
  db->tableTypes["gvPets"] = 2;
  EXPECT_FALSE(run());
  EXPECT_EQ(errMsg.at(0), "Mark delete fails : Query = Table:gvPets is not a Oru VIEW table");
  EXPECT_EQ(db->work().back(), "RollbackTrans");
}

TEST_F(DeleteRecCase, OnlyTheFirstOfSeveralMatchesIsMarked) {
  matchValues = values({{int32_t{5}, Variant("N")}});
  db->answers["select recstatus,UniqueKey from [Survey] where ID = 5 and Site = \"N\" "] =
      Rows{{"recstatus", "UniqueKey"}, {2, 3}, {{Variant(int16_t{1}), Variant(int32_t{70})},
                                                {Variant(int16_t{1}), Variant(int32_t{80})}}};
  EXPECT_TRUE(run());
  int updates = 0;
  for (const std::string& c : db->calls) updates += c == "Update";
  EXPECT_EQ(updates, 1);
  for (const std::string& s : db->statements) EXPECT_EQ(s.find("FKey = 80"), std::string::npos) << s;
}

TEST_F(DeleteRecCase, PhysicalDeleteBracketsNamesAndTouchesNoGrid) {
  oru = false;
  const std::string pd6 = "delete from [Survey] where [ID] = 6 and [Site] = \"S\" ";
  db->failing.insert(pd6);
  EXPECT_FALSE(run());
  EXPECT_EQ(db->work(), (std::vector<std::string>{
                            "Execute: delete from [Survey] where [ID] = 5 and [Site] = \"N\" ",
                            "Execute: " + pd6}));
  EXPECT_EQ(errMsg.at(0), "untouched");
  EXPECT_EQ(errMsg.at(1), "Delete failed. : " + pd6);
}

TEST_F(DeleteRecCase, ChecksRaiseInOrderAndChangeNothing) {
  struct Check {
    std::function<void(ScriptedDatabase&)> setup;
    int number;
    std::string description;
  };
  const std::vector<Check> checks = {
      {[](ScriptedDatabase& d) { d.existing["Survey"] = false; }, 714, "Table does not exist: Survey"},
      {[](ScriptedDatabase& d) { d.tableTypes["Survey"] = 2; }, 717,
       "Conflict with DeleteType. This table is not OruTable : Survey"},
      {[](ScriptedDatabase& d) { d.existing["viewSurvey"] = false; }, 716, "Table does not exist : viewSurvey"},
  };
  for (const Check& c : checks) {
    db = std::make_shared<ScriptedDatabase>();
    SetUp();
    c.setup(*db);
    StringArray msgs = messages(2);
    ComError e = raisedBy([&] { gw.DeleteRec("Survey", matchFld, matchValues, oru, msgs); });
    EXPECT_EQ(e.number(), objectError(c.number));
    EXPECT_EQ(e.source(), "cDATAGateway:DeleteRec");
    EXPECT_EQ(e.description(), c.description);
    EXPECT_TRUE(db->work().empty());
    EXPECT_EQ(msgs.at(0), "untouched");
  }
}

TEST_F(DeleteRecCase, ArgumentConnectionIsUsedButNotStored) {
  auto other = std::make_shared<ScriptedDatabase>();
  other->existing["Survey"] = true;
  oru = false;
  db::DatabaseRef ref = other;
  EXPECT_TRUE(gw.DeleteRec("Survey", matchFld, matchValues, oru, errMsg, &ref));
  EXPECT_EQ(other->statements.size(), 2u);
  EXPECT_TRUE(db->statements.empty());
  EXPECT_EQ(gw.DB(), db::DatabaseRef(db));
}

TEST_F(DeleteRecCase, FailingCheckCallKeepsItsOwnSource) {
  gw.SetDB(nullptr);
  ComError e = raisedBy([&] { gw.DeleteRec("Survey", matchFld, matchValues, oru, errMsg); });
  EXPECT_EQ(e.number(), 91);
  EXPECT_NE(e.source(), "cDATAGateway:DeleteRec");
}

}  // namespace
}  // namespace ovt::test
