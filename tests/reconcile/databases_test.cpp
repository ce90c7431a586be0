// The reconciliation members on real databases of every engine: a form Survey with its
// catalogue and two grids (Kids, Pets) in the first entry, and the same form in the second
// entry, reached under the "ORULINK_" prefix.
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "ovtbldiff/gateway.h"
#include "support/scripted_db.h"
#include "support/engines.h"
#include "support/form.h"

namespace ovt::test {
namespace {

// Forwards to a real connection and makes one chosen Execute answer False.
class FailOne : public RecordingDatabase {
 public:
  using RecordingDatabase::RecordingDatabase;
  std::string failing;  // the first statement that begins with this answers False, unsent
  bool Execute(const std::string& sql) override {
    if (!failing.empty() && sql.rfind(failing, 0) == 0) {
      failing.clear();
      calls.push_back("Execute (failed): " + sql);
      return false;
    }
    return RecordingDatabase::Execute(sql);
  }
};

const Statements kForm = statements({
    {"create table Survey (UniqueKey counter, RecStatus long, ID long, Name text(50), Age long)"},
    catalogue("viewSurvey", "Survey", {"Name TEXT", "GridK GRID gvKids", "GridP GRID gvPets"}),
    {"create table Kids (UniqueKey counter, RecStatus long, FKey long, KidName text(50))"},
    catalogue("gvKids", "Kids", {"KidName TEXT"}),
    {"create table Pets (UniqueKey counter, RecStatus long, FKey long, PetName text(50))"},
    catalogue("gvPets", "Pets", {"PetName TEXT"}),
});

struct Reconcile : EngineTest {
  db::DatabaseRef main;
  cDataGetway gw;

  void SetUp() override {
    EngineTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    runAll(entries().second(), kForm);
    main = entries().first();
    runAll(main, kForm);
    gw.SetDB(main);
  }
  void run(const std::string& sql) { ASSERT_TRUE(main->Execute(sql)) << sql << ": " << main->LastFailure(); }
  // One column of every record of a query, as text ("" for Null), in order.
  std::vector<std::string> column(const std::string& sql) { return test::column(main, sql); }
  // The grid steps need the catalogue reader behind GetOruViewVarList.
  bool variablesReadable() {
    StringArray vars;
    try {
      gw.GetOruViewVarList("gvKids", vars);
    } catch (const ComError& e) {
      if (e.number() == kNotImplemented) return false;
    }
    return true;
  }
  std::string one(const std::string& sql) {
    auto c = column(sql);
    return c.empty() ? "<none>" : c.front();
  }
};

StringArray idKey() { return keys({{"ID", "3"}}); }
StringArray bothGrids() { return StringArray::of2({{"gvKids", "Kids"}, {"gvPets", "Pets"}}); }

TEST_P(Reconcile, CopyRecUpdatesOrInsertsAndReplacesChildren) {
  if (!variablesReadable()) GTEST_SKIP() << "GetOruViewVarList is not built yet";
  run("insert into Survey (UniqueKey, RecStatus, ID, Name, Age) values (100, 1, 5, 'Ann', 40), (101, 1, 6, 'Bob', 50)");
  run("insert into Kids (RecStatus, FKey, KidName) values (1, 100, 'k1'), (0, 100, 'k2'), (1, 101, 'k3')");
  run("insert into Pets (RecStatus, FKey, PetName) values (1, 101, 'p1')");
  // Destination: record 5 exists marked deleted with an old child; record 6 is missing.
  run("insert into ORULINK_Survey (UniqueKey, RecStatus, ID, Name, Age) values (7, 0, 5, 'old', 1)");
  run("insert into ORULINK_Kids (RecStatus, FKey, KidName) values (1, 7, 'stale')");

  StringArray mf = idKey(), common{"Name", "Age"}, grids = bothGrids(), err = messages(2);
  VariantArray vals = values({{int32_t{5}}, {int32_t{6}}});
  bool oru = true;
  EXPECT_TRUE(gw.CopyRec("Survey", "ORULINK_Survey", mf, vals, common, oru, grids, err));
  EXPECT_EQ(err.at(0), "untouched");
  EXPECT_EQ(err.at(1), "untouched");
  // Revived, updated in place under its own key.
  EXPECT_EQ(one("select RecStatus from ORULINK_Survey where UniqueKey = 7"), "1");
  EXPECT_EQ(one("select Name from ORULINK_Survey where UniqueKey = 7"), "Ann");
  // Inserted under a new key, read back; its children copied under that key.
  const std::string d6 = one("select UniqueKey from ORULINK_Survey where ID = 6");
  EXPECT_NE(d6, "101");
  EXPECT_EQ(column("select KidName from ORULINK_Kids where FKey = 7 order by KidName"),
            (std::vector<std::string>{"k1", "k2"}));
  EXPECT_EQ(column("select RecStatus from ORULINK_Kids where FKey = 7"), (std::vector<std::string>{"1", "1"}));
  EXPECT_EQ(column("select KidName from ORULINK_Kids where FKey = " + d6), (std::vector<std::string>{"k3"}));
  EXPECT_EQ(column("select PetName from ORULINK_Pets where FKey = " + d6), (std::vector<std::string>{"p1"}));
}

TEST_P(Reconcile, FailingGridInsertRollsBackTheRecordAndTheNextOneCommits) {
  if (!variablesReadable()) GTEST_SKIP() << "GetOruViewVarList is not built yet";
  run("insert into Survey (UniqueKey, RecStatus, ID, Name, Age) values (100, 1, 5, 'Ann', 40), (101, 1, 6, 'Bob', 50)");
  run("insert into Kids (RecStatus, FKey, KidName) values (1, 100, 'k1'), (1, 101, 'k3')");
  run("insert into ORULINK_Survey (UniqueKey, RecStatus, ID, Name, Age) values (7, 1, 5, 'old', 1), (8, 1, 6, 'old', 1)");
  run("insert into ORULINK_Kids (RecStatus, FKey, KidName) values (1, 7, 'stale7'), (1, 8, 'stale8')");
  auto faulty = std::make_shared<FailOne>(main);
  faulty->failing = "insert into ORULINK_Pets(";  // the first Pets insert: record 5's
  StringArray mf = idKey(), common{"Name", "Age"}, grids = bothGrids(), err = messages(2);
  VariantArray vals = values({{int32_t{5}}, {int32_t{6}}});
  bool oru = true;
  db::DatabaseRef ref = faulty;
  // Fails once only: after the first failure the pattern no longer matches.
  EXPECT_FALSE(gw.CopyRec("Survey", "ORULINK_Survey", mf, vals, common, oru, grids, err, &ref));
  EXPECT_EQ(err.at(0).rfind("Query Fails : insert into ORULINK_Pets(", 0), 0u) << err.at(0);
  EXPECT_EQ(one("select Name from ORULINK_Survey where UniqueKey = 7"), "old");
  EXPECT_EQ(column("select KidName from ORULINK_Kids where FKey = 7"), (std::vector<std::string>{"stale7"}));
  EXPECT_EQ(gw.DB(), ref);
}

TEST_P(Reconcile, CopyRecWithoutGridsRevivesUpdatesAndInserts) {
  run("insert into Survey (UniqueKey, RecStatus, ID, Name, Age) values (100, 1, 5, 'Ann', 40), (101, 0, 6, 'Bob', 50)");
  run("insert into ORULINK_Survey (UniqueKey, RecStatus, ID, Name, Age) values (7, 0, 5, 'old', 1)");
  StringArray mf = idKey(), common{"Name", "Age"}, grids = StringArray::of2({{"", ""}}), err = messages(2);
  VariantArray vals = values({{int32_t{5}}, {int32_t{6}}});
  bool oru = true;
  EXPECT_TRUE(gw.CopyRec("Survey", "ORULINK_Survey", mf, vals, common, oru, grids, err));
  EXPECT_EQ(column("select RecStatus & '/' & Name & '/' & Age from ORULINK_Survey where UniqueKey = 7"),
            (std::vector<std::string>{"1/Ann/40"}));
  // The inserted copy takes the source's RecStatus and a key of the destination's own.
  EXPECT_EQ(column("select RecStatus & '/' & Name from ORULINK_Survey where ID = 6"),
            (std::vector<std::string>{"0/Bob"}));
  EXPECT_EQ(one("select count(*) from ORULINK_Survey"), "2");
  EXPECT_EQ(err.at(0), "untouched");
}

TEST_P(Reconcile, CopyRecFailureInsideARecordRollsItBackWhole) {
  run("insert into Survey (UniqueKey, RecStatus, ID, Name, Age) values (100, 1, 5, 'Ann', 40), (101, 1, 6, 'Bob', 50)");
  run("insert into Kids (RecStatus, FKey, KidName) values (1, 100, 'k1'), (1, 101, 'k3')");
  run("insert into ORULINK_Survey (UniqueKey, RecStatus, ID, Name, Age) values (7, 0, 5, 'old', 1), (8, 0, 6, 'old', 1)");
  run("insert into ORULINK_Kids (RecStatus, FKey, KidName) values (1, 7, 'stale7'), (1, 8, 'stale8')");
  auto faulty = std::make_shared<FailOne>(main);
  faulty->failing = "update ORULINK_Survey set Name = \"Bob\"";
  StringArray mf = idKey(), common{"Name", "Age"}, grids = StringArray::of2({{"", ""}}), err = messages(2);
  VariantArray vals = values({{int32_t{5}}, {int32_t{6}}});
  bool oru = true;
  db::DatabaseRef ref = faulty;
  EXPECT_FALSE(gw.CopyRec("Survey", "ORULINK_Survey", mf, vals, common, oru, grids, err, &ref));
  EXPECT_EQ(err.at(0), "untouched");
  EXPECT_EQ(err.at(1), "Query Fails : update ORULINK_Survey set Name = \"Bob\", Age = 50, recstatus=1 where UniqueKey=8");
  EXPECT_EQ(one("select Name & RecStatus from ORULINK_Survey where UniqueKey = 7"), "Ann1");
  EXPECT_EQ(one("select Name & RecStatus from ORULINK_Survey where UniqueKey = 8"), "old0");
  // oDB became the stored connection.
  EXPECT_EQ(gw.DB(), ref);
}

TEST_P(Reconcile, CopyRecPlainModeDeletesAndReinserts) {
  run("create table P (ID long, Name text(50))");
  run("create table ORULINK_P (ID long, Name text(50))");
  run("insert into P values (5, 'new')");
  run("insert into ORULINK_P values (5, 'old')");
  run("insert into ORULINK_P values (5, 'older')");
  StringArray mf = idKey(), common{"Name"}, grids = StringArray::of2({{"", ""}}), err = messages(1);
  VariantArray vals = values({{int32_t{5}}});
  bool oru = false;
  EXPECT_TRUE(gw.CopyRec("P", "ORULINK_P", mf, vals, common, oru, grids, err));
  EXPECT_EQ(column("select Name from ORULINK_P"), (std::vector<std::string>{"new"}));
}

TEST_P(Reconcile, CopyChildPlacesEachChildUnderItsDestinationParentOrRevivesIt) {
  if (!variablesReadable()) GTEST_SKIP() << "GetOruViewVarList is not built yet";
  run("insert into Survey (UniqueKey, RecStatus, ID, Name, Age) values (100, 1, 5, 'Ann', 40), (101, 1, 6, 'Bob', 50)");
  run("insert into Kids (UniqueKey, RecStatus, FKey, KidName) values (1, 0, 100, 'k1'), (2, 1, 101, 'k2')");
  run("insert into ORULINK_Survey (UniqueKey, RecStatus, ID, Name, Age) values (7, 1, 5, 'Ann', 40), (8, 1, 6, 'Bob', 50)");
  std::string view = "gvKids";
  StringArray pk = idKey(), ck = keys({{"UniqueKey", "3"}, {"FKey", "3"}});
  VariantArray pv = values({{int32_t{5}}, {int32_t{6}}});
  StringArray cv = StringArray::of2({{"1", "100"}, {"2", "101"}}), err = messages(2);
  EXPECT_TRUE(gw.CopyChild("Survey", "ORULINK_Survey", "Kids", "ORULINK_Kids", view, pk, pv, ck, cv, err));
  EXPECT_EQ(column("select KidName & '/' & FKey & '/' & RecStatus from ORULINK_Kids order by KidName"),
            (std::vector<std::string>{"k1/7/1", "k2/8/1"}));
  EXPECT_EQ(err.at(0), "untouched");
  // The insert refused: the child already held under that parent is made active again.
  run("update ORULINK_Kids set RecStatus = 0");
  auto faulty = std::make_shared<FailOne>(main);
  faulty->failing = "insert into ORULINK_Kids (";
  gw.SetDB(faulty);
  pv = values({{int32_t{5}}});
  const std::string k1 = one("select UniqueKey from ORULINK_Kids where FKey = 7");
  cv = StringArray::of2({{k1, "100"}});
  EXPECT_TRUE(gw.CopyChild("Survey", "ORULINK_Survey", "Kids", "ORULINK_Kids", view, pk, pv, ck, cv, err));
  EXPECT_EQ(faulty->statements.back(),
            "update ORULINK_Kids set recstatus = 1 where UniqueKey=" + k1 + "  and Fkey = 7");
  EXPECT_EQ(column("select RecStatus from ORULINK_Kids order by KidName"), (std::vector<std::string>{"1", "0"}));
}

TEST_P(Reconcile, CopyChildReportsMissingParents) {
  run("insert into Survey (UniqueKey, RecStatus, ID, Name, Age) values (100, 0, 5, 'Ann', 40), (101, 1, 6, 'Bob', 50)");
  if (!variablesReadable()) GTEST_SKIP() << "GetOruViewVarList is not built yet";
  std::string view = "gvKids";
  StringArray pk = idKey(), ck = keys({{"UniqueKey", "3"}, {"FKey", "3"}});
  VariantArray pv = values({{int32_t{5}}, {int32_t{6}}});
  StringArray cv = StringArray::of2({{"1", "100"}, {"2", "101"}}), err = messages(2);
  EXPECT_TRUE(gw.CopyChild("Survey", "ORULINK_Survey", "Kids", "ORULINK_Kids", view, pk, pv, ck, cv, err));
  EXPECT_EQ(err.at(0), "Can't copy, since source parent record does not exist, Query fails : "
                       "select * from [Survey] where recstatus=1 and UniqueKey = 100");
  EXPECT_EQ(err.at(1), "Destination Parent Record does not exist, can't copy this child. Query: "
                       "select UniqueKey from [ORULINK_Survey] where recstatus = 1 and ID=6");
  EXPECT_EQ(one("select count(*) from ORULINK_Kids"), "0");
}

TEST_P(Reconcile, DeleteRecOnALinkTableMarksItsPrefixedGrids) {
  run("insert into ORULINK_Survey (UniqueKey, RecStatus, ID, Name, Age) values (7, 1, 5, 'Ann', 40)");
  run("insert into ORULINK_Kids (RecStatus, FKey, KidName) values (1, 7, 'k')");
  run("insert into Kids (RecStatus, FKey, KidName) values (1, 7, 'main k')");
  StringArray mf = idKey(), err = messages(1);
  VariantArray vals = values({{int32_t{5}}});
  bool oru = true;
  EXPECT_TRUE(gw.DeleteRec("ORULINK_Survey", mf, vals, oru, err));
  EXPECT_EQ(one("select RecStatus from ORULINK_Survey"), "0");
  EXPECT_EQ(one("select RecStatus from ORULINK_Kids"), "0");
  EXPECT_EQ(one("select RecStatus from Kids"), "1");
}

TEST_P(Reconcile, DeleteRecFailingGridRollsBackTheMark) {
  run("insert into Survey (UniqueKey, RecStatus, ID, Name, Age) values (100, 1, 5, 'Ann', 40)");
  run("insert into Kids (RecStatus, FKey, KidName) values (1, 100, 'k1')");
  auto faulty = std::make_shared<FailOne>(main);
  faulty->failing = "update Pets";
  gw.SetDB(faulty);
  StringArray mf = idKey(), err = messages(1);
  VariantArray vals = values({{int32_t{5}}});
  bool oru = true;
  EXPECT_FALSE(gw.DeleteRec("Survey", mf, vals, oru, err));
  EXPECT_EQ(err.at(0), "Mark delete fails : Query = update Pets set recstatus = 0 where FKey = 100");
  EXPECT_EQ(one("select RecStatus from Survey"), "1");
  EXPECT_EQ(one("select RecStatus from Kids"), "1");
}

TEST_P(Reconcile, RaisedCheckLeavesTheDatabaseUnchanged) {
  run("insert into Survey (UniqueKey, RecStatus, ID, Name, Age) values (100, 1, 5, 'Ann', 40)");
  run("create table Plain (ID long, Name text(50))");
  StringArray mf = idKey(), err = messages(1);
  VariantArray vals = values({{int32_t{5}}});
  bool oru = true;
  ComError e = raisedBy([&] { gw.DeleteRec("Plain", mf, vals, oru, err); });
  EXPECT_EQ(e.number(), objectError(717));
  StringArray common{"Name"}, grids = StringArray::of2({{"", ""}});
  e = raisedBy([&] { gw.CopyRec("Survey", "Plain", mf, vals, common, oru, grids, err); });
  EXPECT_EQ(e.number(), objectError(722));
  EXPECT_EQ(e.description(), "Source or Destination Table is not OruTable :Survey,Plain");
  EXPECT_EQ(one("select count(*) from Plain"), "0");
  EXPECT_EQ(one("select RecStatus from Survey"), "1");
  EXPECT_EQ(err.at(0), "untouched");
}

TEST_P(Reconcile, DeleteRecMarksRecordAndChildrenPhysicalDeleteLeavesGrids) {
  run("insert into Survey (UniqueKey, RecStatus, ID, Name, Age) values (100, 1, 5, 'Ann', 40), (101, 1, 6, 'Bob', 50)");
  run("insert into Kids (RecStatus, FKey, KidName) values (1, 100, 'k1'), (1, 101, 'k3')");
  run("insert into Pets (RecStatus, FKey, PetName) values (1, 100, 'p1')");
  StringArray mf = idKey(), err = messages(2);
  VariantArray vals = values({{int32_t{5}}, {int32_t{7}}});
  bool oru = true;
  EXPECT_FALSE(gw.DeleteRec("Survey", mf, vals, oru, err));
  EXPECT_EQ(one("select RecStatus from Survey where UniqueKey = 100"), "0");
  EXPECT_EQ(one("select RecStatus from Kids where FKey = 100"), "0");
  EXPECT_EQ(one("select RecStatus from Pets where FKey = 100"), "0");
  EXPECT_EQ(one("select RecStatus from Kids where FKey = 101"), "1");
  EXPECT_EQ(err.at(1), "Query failed. : select recstatus,UniqueKey from [Survey] where ID = 7 ");

  oru = false;
  vals = values({{int32_t{6}}});
  EXPECT_TRUE(gw.DeleteRec("Survey", mf, vals, oru, err));
  EXPECT_EQ(one("select count(*) from Survey where ID = 6"), "0");
  EXPECT_EQ(one("select count(*) from Kids where FKey = 101"), "1");
}

TEST_P(Reconcile, BackupIsReplacedFromCurrentContents) {
  run("insert into Survey (UniqueKey, RecStatus, ID, Name, Age) values (100, 0, 5, 'Ann', 40)");
  EXPECT_TRUE(gw.BackupTable("Survey"));
  run("insert into Survey (UniqueKey, RecStatus, ID, Name, Age) values (101, 1, 6, 'Bob', 50)");
  EXPECT_TRUE(gw.BackupTable("Survey"));
  EXPECT_EQ(one("select count(*) from Survey_bk"), "2");
  db::TableRef a, b;
  for (const db::TableRef& t : main->Tables()) {
    if (t->Name() == "Survey") a = t;
    if (t->Name() == "Survey_bk") b = t;
  }
  ASSERT_TRUE(a && b);
  StringArray fields;
  EXPECT_EQ(gw.CompareTablesStructure(a, b, fields), "");
}

// Two supervisors copy the same records into the same destination at the same time, each on
// a connection of its own. Every record ends up there once, whole: its parent and all its grid
// records from one copy, never a mix; a record a supervisor could not write is reported failed.
TEST_P(Reconcile, TwoSupervisorsCopyingTheSameRecordsAtOnceNeverInterleaveThem) {
  constexpr int kRecords = 12;
  for (int id = 1; id <= kRecords; ++id) {
    const std::string key = std::to_string(100 + id);
    run("insert into Survey (UniqueKey, RecStatus, ID, Name, Age) values (" + key + ", 1, " + std::to_string(id) +
        ", 'n" + std::to_string(id) + "', " + std::to_string(20 + id) + ")");
    run("insert into Kids (RecStatus, FKey, KidName) values (1, " + key + ", 'a" + std::to_string(id) + "'), (1, " + key +
        ", 'b" + std::to_string(id) + "'), (1, " + key + ", 'c" + std::to_string(id) + "')");
  }
  std::vector<std::vector<Variant>> ids;
  for (int id = 1; id <= kRecords; ++id) ids.push_back({Variant(int32_t{id})});
  std::vector<std::string> outcome[2];
  std::string trouble[2];
  auto supervisor = [&](int who) {
    try {
      cDataGetway own;
      own.SetDB(entries().first());
      StringArray mf = idKey(), common{"Name", "Age"}, grids = StringArray::of2({{"gvKids", "Kids"}});
      StringArray err = messages(kRecords);
      VariantArray vals = values(ids);
      bool oru = true;
      own.CopyRec("Survey", "ORULINK_Survey", mf, vals, common, oru, grids, err);
      for (int i = 0; i < kRecords; ++i) outcome[who].push_back(err.at(i));
    } catch (const ComError& e) {
      trouble[who] = e.description();
    }
  };
  std::thread first(supervisor, 0), second(supervisor, 1);
  first.join();
  second.join();
  ASSERT_EQ(trouble[0], "");
  ASSERT_EQ(trouble[1], "");
  for (int id = 1; id <= kRecords; ++id) {
    const std::string where = " from ORULINK_Survey where ID = " + std::to_string(id);
    // At most once; a record both supervisors failed (each reports it) is not there at all.
    ASSERT_LE(column("select UniqueKey" + where).size(), 1u) << "record " << id << " is in the destination more than once";
    const bool copied = outcome[0][id - 1] == "untouched" || outcome[1][id - 1] == "untouched";
    if (!copied) continue;
    const std::string key = one("select UniqueKey" + where);
    ASSERT_NE(key, "<none>") << "record " << id << " was reported copied but is not there";
    EXPECT_EQ(column("select KidName from ORULINK_Kids where RecStatus = 1 and FKey = " + key + " order by KidName"),
              (std::vector<std::string>{"a" + std::to_string(id), "b" + std::to_string(id), "c" + std::to_string(id)}))
        << "record " << id;
  }
  // No grid record is left without its parent, and each parent has one set of grid records.
  EXPECT_EQ(one("select count(*) from ORULINK_Kids where FKey not in (select UniqueKey from ORULINK_Survey)"), "0");
  EXPECT_EQ(one("select count(*) from ORULINK_Kids"), std::to_string(3 * std::stoi(one("select count(*) from ORULINK_Survey"))));
}

// The members send the same statement texts whichever engine holds the entries: the traces'
// received statements are equal line for line; only the rendering differs.
TEST(EveryEngine, MembersSendTheSameStatementTexts) {
  OVT_NEED_PG();
  std::vector<std::string> received[2];
  for (Engine engine : {Engine::Sqlite, Engine::Postgres}) {
    EntryPair pair(engine);
    TempDir traces;
    runAll(pair.second(), kForm);
    const std::string trace = traces.file("trace.log");
    db::DatabaseRef db = pair.first(true, trace);
    runAll(db, statements({kForm,
                           {"insert into Survey (UniqueKey, RecStatus, ID, Name, Age) values (100, 1, 5, 'Ann', 40)",
                            "insert into Kids (RecStatus, FKey, KidName) values (1, 100, 'k1')",
                            "insert into ORULINK_Survey (UniqueKey, RecStatus, ID, Name, Age) values (7, 1, 5, 'Anne', 40)"}}));
    cDataGetway gw;
    gw.SetDB(db);
    StringArray mf = idKey(), keysOnly{"ID"}, common{"Name", "Age"}, grids = StringArray::of2({{"gvKids", "Kids"}});
    StringArray err = messages(1);
    ASSERT_EQ(gw.GetTblDiffRecRS("Survey", "ORULINK_Survey", keysOnly, common, 1, true)->RecordCount(), 1);
    VariantArray vals = values({{int32_t{5}}});
    bool oru = true;
    EXPECT_TRUE(gw.CopyRec("Survey", "ORULINK_Survey", mf, vals, common, oru, grids, err));
    EXPECT_EQ(err.at(0), "untouched") << engineName(engine);
    db.reset();
    std::istringstream in(readFile(trace));
    for (std::string line; std::getline(in, line);)
      if (line.rfind("jet: ", 0) == 0) received[engine == Engine::Sqlite ? 0 : 1].push_back(line);
  }
  EXPECT_GT(received[0].size(), 10u);
  EXPECT_EQ(received[0], received[1]);
}

OVT_ON_EVERY_ENGINE(Reconcile);

}  // namespace
}  // namespace ovt::test
