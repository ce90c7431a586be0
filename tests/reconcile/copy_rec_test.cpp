// CopyRec with a scripted connection: checks and their errors, every statement text, the
// transaction of each record, and how a record fails without touching the next one.
#include <gtest/gtest.h>

#include "ovtbldiff/gateway.h"
#include "support/scripted_db.h"

namespace ovt::test {
namespace {

const std::string kSrc = "Survey";
const std::string kDst = "Survey2";

struct CopyRecCase : ::testing::Test {
  std::shared_ptr<ScriptedDatabase> db = std::make_shared<ScriptedDatabase>();
  cDataGetway gw;
  StringArray matchFld = keys({{"ID", "3"}});
  VariantArray matchValues = values({{int32_t{5}}, {int32_t{6}}});
  StringArray common{"Name", "Age"};
  StringArray noGrids = StringArray::of2({{"", ""}});
  StringArray errMsg = messages(2);
  bool oru = true;

  void SetUp() override {
    for (const char* t : {"Survey", "Survey2", "viewSurvey", "viewSurvey2"}) db->existing[t] = true;
    db->tableTypes["Survey"] = 0;
    db->tableTypes["Survey2"] = 0;
  }
  bool copy(StringArray& grids) {
    db::DatabaseRef ref = db;
    return gw.CopyRec(kSrc, kDst, matchFld, matchValues, common, oru, grids, errMsg, &ref);
  }
  // Source values of record ID = id with source key s.
  void sourceRecord(int id, int32_t s) {
    db->answers["select [Name],[Age],UniqueKey from [Survey] where [ID] = " + std::to_string(id) + " "] =
        Rows{{"Name", "Age", "UniqueKey"}, {202, 3, 3}, {{Variant("Ann"), Variant(int32_t{40}), Variant(s)}}};
    db->answers["select UniqueKey from [Survey] where [ID] = " + std::to_string(id) + " "] =
        Rows{{"UniqueKey"}, {3}, {{Variant(s)}}};
  }
  void destRecord(int id, int32_t d) {
    db->answers["select * from [Survey2] where [ID] = " + std::to_string(id) + " "] =
        Rows{{"UniqueKey", "ID"}, {3, 3}, {{Variant(d), Variant(int32_t{id})}}};
  }
  void noDestRecord(int id) {
    db->answers["select * from [Survey2] where [ID] = " + std::to_string(id) + " "] = Rows{{"UniqueKey"}, {3}, {}};
  }
};

TEST_F(CopyRecCase, UpdatesAnExistingRecordAndInsertsAMissingOne) {
  sourceRecord(5, 100);
  destRecord(5, 7);
  sourceRecord(6, 101);
  noDestRecord(6);
  db->answers["select UniqueKey from [Survey2] where [ID] = 6 "] = Rows{{"UniqueKey"}, {3}, {{Variant(int32_t{55})}}};

  EXPECT_TRUE(copy(noGrids));
  const std::vector<std::string> expected = {
      "BeginTrans",
      "OpenRecordset: select * from [Survey2] where [ID] = 5 ",
      "OpenRecordset: select [Name],[Age],UniqueKey from [Survey] where [ID] = 5 ",
      "Execute: update Survey2 set Name = \"Ann\", Age = 40, recstatus=1 where UniqueKey=7",
      "CommitTrans",
      "BeginTrans",
      "OpenRecordset: select * from [Survey2] where [ID] = 6 ",
      "OpenRecordset: select UniqueKey from [Survey] where [ID] = 6 ",
      "Execute: insert into Survey2 ([ID],[Name],[Age], recstatus) select [ID],[Name],[Age], recstatus from [Survey] where UniqueKey = 101",
      "OpenRecordset: select UniqueKey from [Survey2] where [ID] = 6 ",
      "CommitTrans",
  };
  EXPECT_EQ(db->work(), expected);
  EXPECT_EQ(db->options, (std::vector<int32_t>{2, 3, 2, 3, 3}));
  EXPECT_EQ(errMsg.at(0), "untouched");
  EXPECT_EQ(errMsg.at(1), "untouched");
  EXPECT_EQ(gw.DB(), db::DatabaseRef(db));
}

TEST_F(CopyRecCase, InsertListNamingRecStatusIsNotExtended) {
  common = StringArray{"Name", "RecStatus"};
  matchValues = values({{int32_t{6}}});
  sourceRecord(6, 101);
  noDestRecord(6);
  db->answers["select UniqueKey from [Survey2] where [ID] = 6 "] = Rows{{"UniqueKey"}, {3}, {{Variant(int32_t{55})}}};
  EXPECT_TRUE(copy(noGrids));
  EXPECT_EQ(db->statements.at(2),
            "insert into Survey2 ([ID],[Name],[RecStatus]) select [ID],[Name],[RecStatus] from [Survey] where UniqueKey = 101");
}

TEST_F(CopyRecCase, FailedUpdateRollsBackAndTheNextRecordStillCommits) {
  sourceRecord(5, 100);
  destRecord(5, 7);
  sourceRecord(6, 101);
  destRecord(6, 8);
  const std::string u5 = "update Survey2 set Name = \"Ann\", Age = 40, recstatus=1 where UniqueKey=7";
  db->failing.insert(u5);
  EXPECT_FALSE(copy(noGrids));
  EXPECT_EQ(errMsg.at(0), "Query Fails : " + u5);
  EXPECT_EQ(errMsg.at(1), "untouched");
  auto work = db->work();
  EXPECT_EQ(work[4], "RollbackTrans");
  EXPECT_EQ(work.back(), "CommitTrans");
}

TEST_F(CopyRecCase, KeyQueryWithoutRecordFailsTheRecordBeforeAnyInsert) {
  matchValues = values({{int32_t{6}}});
  noDestRecord(6);
  db->answers["select UniqueKey from [Survey] where [ID] = 6 "] = Rows{{"UniqueKey"}, {3}, {}};
  EXPECT_FALSE(copy(noGrids));
  EXPECT_EQ(errMsg.at(0), "Query Fails : select UniqueKey from [Survey] where [ID] = 6 ");
  const std::vector<std::string> expected = {
      "BeginTrans", "OpenRecordset: select * from [Survey2] where [ID] = 6 ",
      "OpenRecordset: select UniqueKey from [Survey] where [ID] = 6 ", "RollbackTrans"};
  EXPECT_EQ(db->work(), expected);
}

TEST_F(CopyRecCase, NewKeyNotFoundAfterInsertRollsTheInsertBack) {
  matchValues = values({{int32_t{6}}});
  sourceRecord(6, 101);
  noDestRecord(6);
  // Q4 has no answer: the query fails, no key of another record is used.
  EXPECT_FALSE(copy(noGrids));
  EXPECT_EQ(errMsg.at(0), "Query Fails : select UniqueKey from [Survey2] where [ID] = 6 ");
  EXPECT_EQ(db->work().back(), "RollbackTrans");
}

TEST_F(CopyRecCase, GridsAreDeletedThenCopiedUnderTheDestinationKey) {
  matchValues = values({{int32_t{5}}});
  sourceRecord(5, 100);
  destRecord(5, 7);
  StringArray grids = StringArray::of2({{"gvKids", "Kids"}});
  // The grid view table is missing, so its variable list cannot be read: the record fails
  // and its grid deletion and update are rolled back.
  EXPECT_FALSE(copy(grids));
  auto work = db->work();
  ASSERT_GE(work.size(), 6u);
  EXPECT_EQ(work[4], "Execute: delete from [Kids] where FKey = 7");
  EXPECT_EQ(work.back(), "RollbackTrans");
  EXPECT_EQ(errMsg.at(0).rfind("Query Fails : ", 0), 0u) << errMsg.at(0);
}

TEST_F(CopyRecCase, FailingGridDeleteIsReported) {
  matchValues = values({{int32_t{5}}});
  sourceRecord(5, 100);
  destRecord(5, 7);
  StringArray grids = StringArray::of2({{"gvKids", "Kids"}});
  db->failing.insert("delete from [Kids] where FKey = 7");
  EXPECT_FALSE(copy(grids));
  EXPECT_EQ(errMsg.at(0), "Query Fails : delete from [Kids] where FKey = 7");
  EXPECT_EQ(db->work().back(), "RollbackTrans");
}

TEST_F(CopyRecCase, LinkTablesTakeThePrefixOnTheirOwnSide) {
  db->existing["ORULINK_Survey"] = true;
  db->existing["ORULINK_viewSurvey"] = true;
  db->tableTypes["ORULINK_Survey"] = 0;
  matchValues = values({{int32_t{5}}});
  db->answers["select * from [Survey2] where [ID] = 5 "] = Rows{{"UniqueKey"}, {3}, {{Variant(int32_t{7})}}};
  db->answers["select [Name],[Age],UniqueKey from [ORULINK_Survey] where [ID] = 5 "] =
      Rows{{"Name", "Age", "UniqueKey"}, {202, 3, 3}, {{Variant("Ann"), Variant(int32_t{40}), Variant(int32_t{100})}}};
  StringArray grids = StringArray::of2({{"gvKids", "Kids"}});
  db::DatabaseRef ref = db;
  EXPECT_FALSE(gw.CopyRec("ORULINK_Survey", kDst, matchFld, matchValues, common, oru, grids, errMsg, &ref));
  // Checks: the source view of a link table.
  EXPECT_EQ(db->calls[4], "TableExists: ORULINK_viewSurvey");
  // The destination grid table has no prefix.
  EXPECT_EQ(db->statements.at(3), "delete from [Kids] where FKey = 7");
}

// With no common field there is nothing to assign: the update is not sent and the record
// fails with its source query.
TEST_F(CopyRecCase, UpdateWithoutCommonFieldsFailsTheRecord) {
  common = StringArray{""};
  matchValues = values({{int32_t{5}}});
  destRecord(5, 7);
  db->answers["select ,UniqueKey from [Survey] where [ID] = 5 "] = Rows{{"UniqueKey"}, {3}, {{Variant(int32_t{100})}}};
  EXPECT_FALSE(copy(noGrids));
  EXPECT_EQ(errMsg.at(0), "Query Fails : select ,UniqueKey from [Survey] where [ID] = 5 ");
  for (const std::string& s : db->statements) EXPECT_EQ(s.rfind("update", 0), std::string::npos) << s;
  EXPECT_EQ(db->work().back(), "RollbackTrans");
}

TEST_F(CopyRecCase, OverlongValueArrayOverflowsBeforeAnyRecord) {
  VariantArray big;
  big.redim(0, 32767, 0, 0);
  matchValues = big;
  ComError e = raisedBy([&] { copy(noGrids); });
  EXPECT_EQ(e.number(), 6);
  EXPECT_EQ(e.source(), "cDATAGateway:CopyRec");
  EXPECT_TRUE(db->work().empty());
}

TEST_F(CopyRecCase, ChecksRaiseInOrderAndChangeNothing) {
  struct Check {
    std::function<void(ScriptedDatabase&)> setup;
    int number;
    std::string description;
  };
  const std::vector<Check> checks = {
      {[](ScriptedDatabase& d) { d.existing["Survey"] = false; }, 718, "Table does not exist:Survey"},
      {[](ScriptedDatabase& d) { d.existing["Survey2"] = false; }, 719, "Table does not exist:Survey2"},
      {[](ScriptedDatabase& d) { d.tableTypes["Survey2"] = 1; }, 722,
       "Source or Destination Table is not OruTable :Survey,Survey2"},
      {[](ScriptedDatabase& d) { d.existing["viewSurvey"] = false; }, 720,
       "Source View Table does not exist:viewSurvey"},
      {[](ScriptedDatabase& d) { d.existing["viewSurvey2"] = false; }, 721,
       "Destination View Table does not exist:viewSurvey2"},
  };
  for (const Check& c : checks) {
    auto fresh = std::make_shared<ScriptedDatabase>();
    db = fresh;
    SetUp();
    c.setup(*db);
    cDataGetway g;
    StringArray msgs = messages(2);
    db::DatabaseRef ref = db;
    ComError e = raisedBy([&] {
      g.CopyRec(kSrc, kDst, matchFld, matchValues, common, oru, noGrids, msgs, &ref);
    });
    EXPECT_EQ(e.number(), objectError(c.number));
    EXPECT_EQ(e.source(), "cDATAGateway:CopyRec");
    EXPECT_EQ(e.description(), c.description);
    EXPECT_TRUE(db->work().empty()) << c.number;
    EXPECT_EQ(msgs.at(0), "untouched");
    // The stored connection was replaced before the checks.
    EXPECT_EQ(g.DB(), db::DatabaseRef(db));
  }
}

TEST_F(CopyRecCase, PlainModeDeletesThenInserts) {
  oru = false;
  const std::string pd5 = "delete from [Survey2] where [ID] = 5 ";
  const std::string pi5 = "insert into Survey2([ID],[Name],[Age]) select [ID],[Name],[Age] from [Survey] where [ID] = 5 ";
  const std::string pd6 = "delete from [Survey2] where [ID] = 6 ";
  const std::string pi6 = "insert into Survey2([ID],[Name],[Age]) select [ID],[Name],[Age] from [Survey] where [ID] = 6 ";
  db->failing.insert(pd5);
  db->failing.insert(pi6);
  EXPECT_FALSE(copy(noGrids));
  EXPECT_EQ(errMsg.at(0), "Delete Record Fails : " + pd5);
  EXPECT_EQ(errMsg.at(1), "Insert Fails : " + pi6);
  EXPECT_EQ(db->work(), (std::vector<std::string>{"Execute: " + pd5, "Execute: " + pd6, "Execute: " + pi6}));
  // Plain tables need no type check.
  for (const std::string& c : db->calls) EXPECT_EQ(c.rfind("GetTableType", 0), std::string::npos);
}

TEST_F(CopyRecCase, PlainModeWithoutCommonFieldsCopiesTheKeys) {
  oru = false;
  common = StringArray{""};
  matchFld = keys({{"ID", "3"}, {"Site", "202"}});
  matchValues = values({{int32_t{5}, Variant("North")}});
  EXPECT_TRUE(copy(noGrids));
  EXPECT_EQ(db->statements.at(1),
            "insert into Survey2([ID],[Site]) select [ID],[Site] from [Survey] where [ID] = 5 and [Site] = \"North\" ");
}

TEST_F(CopyRecCase, MissingErrMsgEntryIsIgnored) {
  oru = false;
  errMsg = messages(1);
  db->failing.insert("delete from [Survey2] where [ID] = 6 ");
  EXPECT_FALSE(copy(noGrids));
  EXPECT_EQ(errMsg.at(0), "untouched");
}

TEST_F(CopyRecCase, NoConnectionFailsWithTheMemberSource) {
  cDataGetway g;
  ComError e = raisedBy([&] { g.CopyRec(kSrc, kDst, matchFld, matchValues, common, oru, noGrids, errMsg); });
  EXPECT_EQ(e.number(), 91);
  EXPECT_EQ(e.source(), "cDATAGateway:CopyRec");
}

}  // namespace
}  // namespace ovt::test
