// The database component on real databases of both engines, from the same statements:
// recordsets, the values of each declared type, the dialect's comparisons, write-back,
// transactions, catalogue questions, select-into, views, link tables and the failure paths.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ovtbldiff/runtime/error.h"
#include "support/engines.h"
#include "support/raised.h"

namespace ovt::test {
namespace {

class Connection : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    db = entries().first(false);
    runAll(db, surveyStatements());
  }

  int64_t surveyCount(const std::string& where) {
    auto rs = db->OpenRecordset("select count(*) as N from [Survey] where " + where, 3, "");
    return toLong(rs->FieldValue("n"));
  }

  db::DatabaseRef db;
};

TEST_P(Connection, RecordsetCountsPositionsAndReadsByNameOrAliasInAnyCase) {
  auto rs = db->OpenRecordset("select Name as Who, Age, UniqueKey from [Survey] order by UniqueKey", 2, "");
  EXPECT_EQ(rs->RecordCount(), 3);
  EXPECT_FALSE(rs->IsBOF());
  EXPECT_FALSE(rs->IsEOF());
  EXPECT_EQ(rs->FieldValue("WHO"), Variant(std::string("O'Brien")));
  EXPECT_EQ(rs->FieldValue("age"), Variant(int16_t{40}));
  EXPECT_EQ(rs->FieldValue("uniquekey"), Variant(int32_t{1}));
  rs->MoveNext();
  EXPECT_EQ(rs->FieldValue("Who"), Variant(std::string("smith")));
  rs->MoveNext();
  EXPECT_TRUE(rs->FieldValue("Who").isNull());
  EXPECT_TRUE(rs->FieldValue("Age").isNull());
  rs->MoveNext();
  EXPECT_TRUE(rs->IsEOF());
  const ComError none = raisedBy([&] { rs->FieldValue("Who"); });
  EXPECT_EQ(none.number(), db::kDbErrNoCurrentRecord);
  EXPECT_EQ(none.source(), "OVDB");
  rs->MoveFirst();
  EXPECT_EQ(rs->FieldValue("who"), Variant(std::string("O'Brien")));
  auto empty = db->OpenRecordset("select * from [Survey] where Age > 100", 0, "");
  EXPECT_EQ(empty->RecordCount(), 0);
  EXPECT_TRUE(empty->IsBOF());
  EXPECT_TRUE(empty->IsEOF());
}

// Each declared type reads back as its own variant (a value of another type is not equal).
TEST_P(Connection, ValuesComeAsTheVariantsOfTheirDeclaredTypes) {
  auto rs = db->OpenRecordset("select * from [Survey] order by UniqueKey", 1, "");
  EXPECT_EQ(rs->FieldValue("Age"), Variant(int16_t{40}));
  EXPECT_EQ(rs->FieldValue("RecStatus"), Variant(int32_t{1}));
  EXPECT_EQ(rs->FieldValue("Name"), Variant(std::string("O'Brien")));
  EXPECT_EQ(rs->FieldValue("Born"), Variant(makeDate(1985, 3, 1)));
  EXPECT_EQ(rs->FieldValue("Member"), Variant(true));
  EXPECT_EQ(rs->FieldValue("Income"), Variant(Currency{125000}));
  EXPECT_TRUE(rs->FieldValue("Note").isNull());
  rs->MoveNext();
  EXPECT_EQ(rs->FieldValue("Born"), Variant(makeDate(2018, 12, 5, 10, 30, 0)));
  EXPECT_EQ(rs->FieldValue("Member"), Variant(false));
  EXPECT_EQ(rs->FieldValue("Income"), Variant(Currency{30000}));
  EXPECT_EQ(rs->FieldValue("Note"), Variant(std::string("x")));
  runAll(db, {"create table V (l long, d double, c currency, t datetime)",
              "insert into V values (70000, 1.5, 2.25, #2026-12-07 10:30:00#)"});
  auto v = db->OpenRecordset("select * from V", 3, "");
  EXPECT_EQ(v->RecordCount(), 1);
  EXPECT_EQ(v->FieldValue("l"), Variant(int32_t{70000}));
  EXPECT_EQ(v->FieldValue("d"), Variant(1.5));
  EXPECT_EQ(v->FieldValue("C"), Variant(Currency{22500}));
  EXPECT_EQ(v->FieldValue("t"), Variant(Date{46363.4375}));
}

TEST_P(Connection, GetRowsIsColumnThenRecord) {
  auto rs = db->OpenRecordset("select UniqueKey, Name from [Survey] where RecStatus = 1 order by UniqueKey", 3, "");
  VariantArray a = rs->GetRows();
  ASSERT_EQ(a.ubound(1), 1);
  ASSERT_EQ(a.ubound(2), 1);
  EXPECT_EQ(a.at(0, 0), Variant(int32_t{1}));
  EXPECT_EQ(a.at(0, 1), Variant(int32_t{2}));
  EXPECT_EQ(a.at(1, 1), Variant(std::string("smith")));
}

TEST_P(Connection, UnderlyingFieldsGiveNamesAndTypeCodesByPosition) {
  auto rs = db->OpenRecordset("select * from [Survey]", 2, "");
  auto f = rs->Recordset();
  ASSERT_EQ(f->Count(), 8);
  const std::vector<std::pair<std::string, int32_t>> want = {
      {"UniqueKey", db::adInteger}, {"RecStatus", db::adInteger}, {"Name", db::adVarWChar},
      {"Age", db::adSmallInt},      {"Born", db::adDate},         {"Member", db::adBoolean},
      {"Income", db::adCurrency},   {"Note", db::adLongVarWChar}};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(f->Name(i), want[static_cast<size_t>(i)].first);
    EXPECT_EQ(f->Type(i), want[static_cast<size_t>(i)].second) << i;
  }
  EXPECT_THROW(f->Name(8), ComError);
}

TEST_P(Connection, TextComparisonIgnoresCaseAndNullIsNeverEqual) {
  EXPECT_EQ(surveyCount("Name = 'SMITH'"), 1);
  EXPECT_EQ(surveyCount("Name = \"o'brien\""), 1);
  EXPECT_EQ(surveyCount("Name <> 'smith'"), 1);  // the Null name is not selected
  EXPECT_EQ(surveyCount("Name in ('SMITH', 'nobody')"), 1);
  EXPECT_EQ(surveyCount("Name is null"), 1);
  // Unless the connection compares text exactly.
  auto bin = openLocation(entries().firstLocation(), "", "", false, true);
  EXPECT_EQ(column(bin, "select count(*) from [Survey] where Name = 'SMITH'"), std::vector<std::string>{"0"});
}

TEST_P(Connection, DoubleQuotedTextIsALiteralEvenWhenAColumnHasThatName) {
  EXPECT_EQ(surveyCount("Name = \"Name\""), 0);
  ASSERT_TRUE(db->Execute("update [Survey] set Note = \"Name\" where UniqueKey = 1"));
  auto rs = db->OpenRecordset("select Note from [Survey] where UniqueKey = 1", 3, "");
  EXPECT_EQ(rs->FieldValue("Note"), Variant(std::string("Name")));
}

TEST_P(Connection, ConcatenationFollowsTheDialectsNullAndNumberRules) {
  runAll(db, {"create table [N] ([K] long, [A] double, [B] text(10), [C] long)",
              "insert into [N] (K, A, B, C) values (1, 1.0, null, 2)",
              "insert into [N] (K, A, B, C) values (2, null, null, null)",
              "insert into [N] (K, A, B, C) values (3, 0.5, 'x', -3)"});
  auto rs = db->OpenRecordset("select [A] & [B] & [C] as T from [N] order by K", 3, "");
  EXPECT_EQ(rs->FieldValue("T"), Variant(std::string("12")));
  rs->MoveNext();
  EXPECT_TRUE(rs->FieldValue("T").isNull());
  rs->MoveNext();
  EXPECT_EQ(rs->FieldValue("T"), Variant(std::string("0.5x-3")));
}

TEST_P(Connection, GroupComparisonIsCaseInsensitiveAndNullWhenASideIsAllNull) {
  runAll(db, {"create table [P] ([ID] long, [X] text(10), [Y] text(10))",
              "create table [Q] ([ID] long, [X] text(10), [Y] text(10))"});
  const char* rows[][3] = {{"1", "'a'", "'b'"}, {"2", "'a'", "'b'"}, {"3", "null", "null"}, {"4", "'ab'", "null"},
                           {"5", "'é'", "'x'"}};
  const char* other[][3] = {{"1", "'A'", "'B'"}, {"2", "'a'", "'c'"}, {"3", "null", "null"}, {"4", "'a'", "'b'"},
                            {"5", "'É'", "'X'"}};
  for (auto& r : rows)
    ASSERT_TRUE(db->Execute(std::string("insert into P (ID, X, Y) values (") + r[0] + "," + r[1] + "," + r[2] + ")"));
  for (auto& r : other)
    ASSERT_TRUE(db->Execute(std::string("insert into Q (ID, X, Y) values (") + r[0] + "," + r[1] + "," + r[2] + ")"));
  auto rs = db->OpenRecordset(
      "select [P].[ID] from [P] inner join [Q] on [P].[ID] = [Q].[ID] where [P].[X]& [P].[Y]<> [Q].[X]& [Q].[Y] "
      "order by [P].[ID]", 2, "");
  ASSERT_EQ(rs->RecordCount(), 1);  // "ab" & Null equals "a" & "b"; case and Nulls never differ
  EXPECT_EQ(rs->FieldValue("ID"), Variant(int32_t{2}));
  // Under NOT the all-Null pair stays Null, so it is not selected either.
  auto eq = db->OpenRecordset(
      "select [P].[ID] from [P] inner join [Q] on [P].[ID] = [Q].[ID] where not ([P].[X]& [P].[Y]<> [Q].[X]& [Q].[Y])",
      2, "");
  EXPECT_EQ(eq->RecordCount(), 3);
}

TEST_P(Connection, TrueAndFalseAreMinusOneAndZeroAndDateLiteralsCompareWithStoredDates) {
  EXPECT_EQ(surveyCount("Member = True"), 1);
  EXPECT_EQ(surveyCount("Member = False"), 1);
  auto rs = db->OpenRecordset("select Member from [Survey] where UniqueKey = 1", 3, "");
  EXPECT_EQ(rs->FieldValue("Member"), Variant(true));
  auto raw = db->OpenRecordset("select Member + 0 as M from [Survey] where UniqueKey = 1", 3, "");
  EXPECT_EQ(raw->FieldValue("M"), Variant(int32_t{-1}));
  EXPECT_EQ(surveyCount("Born = #1985-03-01#"), 1);
  EXPECT_EQ(surveyCount("Born = #3/1/1985#"), 1);
  EXPECT_EQ(surveyCount("Born > #1/1/2000#"), 1);
}

TEST_P(Connection, ExecuteAnswersFalseWithAReasonAndChangesNothing) {
  EXPECT_FALSE(db->Execute("update [Nowhere] set A = 1"));
  EXPECT_NE(db->LastFailure().find("Nowhere"), std::string::npos);
  EXPECT_FALSE(db->Execute("updat [Survey] set Age = 1"));
  EXPECT_FALSE(db->LastFailure().empty());
  EXPECT_FALSE(db->Execute("select * from [Survey]"));
  EXPECT_EQ(surveyCount("1 = 1"), 3);
  EXPECT_TRUE(db->Execute("delete from [Survey] where UniqueKey = 3"));
  EXPECT_EQ(db->LastFailure(), "");
}

// A value quoted as it should be is stored whole, a backslash in it an ordinary character; one
// that breaks out of its literal must not run a second statement: the text is refused and
// nothing of it runs.
TEST_P(Connection, AValueThatBreaksOutOfItsLiteralRunsNoSecondStatement) {
  EXPECT_TRUE(db->Execute("update [Survey] set Name = \"x'; drop table Survey; --\" where UniqueKey = 3"));
  EXPECT_EQ(column(db, "select Name from [Survey] where UniqueKey = 3"),
            std::vector<std::string>{"x'; drop table Survey; --"});
  EXPECT_TRUE(db->Execute("update [Survey] set Name = 'back\\slash''s' where UniqueKey = 3"));
  EXPECT_EQ(column(db, "select Name from [Survey] where Name = 'BACK\\SLASH''S'"),
            std::vector<std::string>{"back\\slash's"});
  EXPECT_TRUE(db->Execute("update [Survey] set Note = 'x''); drop table Survey; --' where UniqueKey = 2"));
  const std::string value = "x\"; drop table Survey; --";
  EXPECT_FALSE(db->Execute("update [Survey] set Name = \"" + value + "\" where UniqueKey = 1"));
  EXPECT_NE(db->LastFailure().find("Syntax error"), std::string::npos) << db->LastFailure();
  EXPECT_FALSE(db->Execute("update [Survey] set Name = 'y' where UniqueKey = 1; drop table Survey"));
  const ComError e = raisedBy([&] { db->OpenRecordset("select * from [Survey] where Name = \"" + value + "\"", 0, ""); });
  EXPECT_EQ(e.number(), db::kDbErrCommand);
  EXPECT_EQ(e.source(), "OVDB");
  EXPECT_TRUE(db->TableExists("Survey"));
  EXPECT_EQ(rowsText(db, "select Name, Note from [Survey] order by UniqueKey"),
            "O'Brien|\nsmith|x'); drop table Survey; --\nback\\slash's|\n");
}

TEST_P(Connection, OpenRecordsetRaisesForAnUnknownTableOrColumn) {
  const ComError e = raisedBy([&] { db->OpenRecordset("select * from [Missing]", 0, ""); });
  EXPECT_EQ(e.number(), db::kDbErrCommand);
  EXPECT_NE(e.description().find("Missing"), std::string::npos);
  EXPECT_THROW(db->OpenRecordset("select Nope from [Survey]", 0, ""), ComError);
  EXPECT_THROW(db->OpenRecordset("delete from [Survey]", 0, ""), ComError);
  EXPECT_EQ(surveyCount("1 = 1"), 3);
}

// Written back as often as asked, each time only the changed fields of its own row; a recordset
// of a join is read-only.
TEST_P(Connection, UpdateWritesChangedFieldsBackToTheRow) {
  auto rs = db->OpenRecordset("select recstatus,UniqueKey,Note from [Survey] where UniqueKey = 2 ", 1, "");
  ASSERT_EQ(rs->RecordCount(), 1);
  rs->SetFieldValue("recstatus", Variant(int16_t{0}));
  EXPECT_EQ(rs->FieldValue("RecStatus"), Variant(int16_t{0}));
  rs->Update();
  EXPECT_EQ(surveyCount("RecStatus = 0"), 2);
  EXPECT_EQ(surveyCount("UniqueKey = 2 and RecStatus = 0 and Name = 'smith'"), 1);
  EXPECT_EQ(rs->FieldValue("recstatus"), Variant(int16_t{0}));
  rs->SetFieldValue("NOTE", Variant(std::string("d")));
  rs->Update();
  EXPECT_EQ(rowsText(db, "select UniqueKey, RecStatus, Name, Note from [Survey] order by UniqueKey"),
            "1|1|O'Brien|\n2|0|smith|d\n3|0||\n");
  for (const char* join : {"select A.Name from [Survey] as A inner join [Survey] as B on A.UniqueKey = B.UniqueKey",
                           "select a.Name from Survey a, Survey b where a.UniqueKey = b.UniqueKey"}) {
    auto joined = db->OpenRecordset(join, 1, "");
    EXPECT_EQ(raisedBy([&] { joined->SetFieldValue("Name", Variant("x")); }).number(), db::kDbErrReadOnly) << join;
  }
}

TEST_P(Connection, UpdateWritesNullDatesAndBooleans) {
  auto rs = db->OpenRecordset("select * from [Survey] where UniqueKey = 1", 1, "");
  rs->SetFieldValue("Name", Variant(Null{}));
  rs->SetFieldValue("Born", Variant(makeDate(2001, 2, 3)));
  rs->SetFieldValue("Member", Variant(false));
  rs->Update();
  auto back = db->OpenRecordset("select * from [Survey] where UniqueKey = 1", 1, "");
  EXPECT_TRUE(back->FieldValue("Name").isNull());
  EXPECT_EQ(back->FieldValue("Born"), Variant(makeDate(2001, 2, 3)));
  EXPECT_EQ(back->FieldValue("Member"), Variant(false));
  EXPECT_EQ(surveyCount("Born = #2001-02-03#"), 1);
}

TEST_P(Connection, RollbackUndoesExecuteAndRecordsetUpdates) {
  db->BeginTrans();
  ASSERT_TRUE(db->Execute("delete from [Survey] where UniqueKey = 1"));
  auto rs = db->OpenRecordset("select recstatus from [Survey] where UniqueKey = 2", 1, "");
  rs->SetFieldValue("recstatus", Variant(int16_t{0}));
  rs->Update();
  EXPECT_EQ(surveyCount("1 = 1"), 2);
  db->RollbackTrans();
  EXPECT_EQ(surveyCount("1 = 1"), 3);
  EXPECT_EQ(surveyCount("RecStatus = 1"), 2);
}

// Levels nest; a statement that fails inside a transaction undoes only itself, and what the
// outermost level commits is there for the next connection.
TEST_P(Connection, TransactionsNestAFailingStatementUndoesOnlyItselfAndCommitKeepsChanges) {
  db->BeginTrans();
  ASSERT_TRUE(db->Execute("delete from [Survey] where UniqueKey = 1"));
  EXPECT_FALSE(db->Execute("insert into Nowhere (k) values (2)"));
  EXPECT_NE(db->LastFailure().find("Nowhere"), std::string::npos) << db->LastFailure();
  EXPECT_THROW(db->OpenRecordset("select nothing from [Survey]", 3, ""), ComError);
  EXPECT_TRUE(db->Execute("update [Survey] set Age = 8 where UniqueKey = 2"));
  db->BeginTrans();
  ASSERT_TRUE(db->Execute("delete from [Survey] where UniqueKey = 2"));
  db->RollbackTrans();
  db->CommitTrans();
  EXPECT_EQ(surveyCount("1 = 1"), 2);
  EXPECT_EQ(surveyCount("UniqueKey = 2"), 1);
  EXPECT_EQ(rowsText(entries().first(false), "select UniqueKey, Age from [Survey] order by UniqueKey"), "2|8\n3|\n");
  EXPECT_EQ(raisedBy([&] { db->CommitTrans(); }).number(), db::kDbErrNoTransaction);
}

TEST_P(Connection, CatalogueQuestions) {
  runAll(db, {"create table [viewSurvey] ([Name] text(50), [Type] text(20), [PageNumber] long, [DataTable] text(50))",
              "create table [Plain] ([ID] long not null, [Head Name] text)",
              "insert into PLAIN (id, [head name]) values (1, 'Grace')"});
  EXPECT_EQ(column(db, "select [plain].[HEAD NAME] from [Plain] where id = 1"), std::vector<std::string>{"Grace"});
  EXPECT_TRUE(db->TableExists("SURVEY"));
  EXPECT_FALSE(db->TableExists("Nothing"));
  std::string n = "survey";
  EXPECT_EQ(db->GetTableType(n), db::kTableTypeOru);
  n = "viewsurvey";
  EXPECT_EQ(db->GetTableType(n), db::kTableTypeView);
  n = "Plain";
  EXPECT_EQ(db->GetTableType(n), db::kTableTypeOther);
  n = "Nothing";
  EXPECT_THROW(db->GetTableType(n), ComError);

  auto tables = db->Tables();
  std::vector<std::string> names;
  for (const auto& t : tables) names.push_back(t->Name());
  ASSERT_EQ(names, (std::vector<std::string>{"Survey", "viewSurvey", "Plain"}));
  auto fields = tables[2]->Fields();
  ASSERT_EQ(fields->Count(), 2);
  auto items = fields->Items();
  EXPECT_EQ(items[0]->Name(), "ID");
  EXPECT_EQ(items[0]->DataType(), db::adInteger);
  EXPECT_FALSE(items[0]->Nullable());
  EXPECT_EQ(items[1]->Name(), "Head Name");
  EXPECT_EQ(items[1]->DataType(), db::adLongVarWChar);
  EXPECT_TRUE(items[1]->Nullable());
}

TEST_P(Connection, AutoFieldsAreTheKeyAndTheSystemColumnsOfFormTables) {
  ASSERT_TRUE(db->Execute("create table [Plain] ([ID] long, [RecStatus] long)"));
  auto tables = db->Tables();
  std::string f = "uniquekey";
  EXPECT_TRUE(tables[0]->IsAutoField(f));
  f = "RecStatus";
  EXPECT_TRUE(tables[0]->IsAutoField(f));
  f = "Name";
  EXPECT_FALSE(tables[0]->IsAutoField(f));
  f = "RecStatus";
  EXPECT_FALSE(tables[1]->IsAutoField(f));
}

// Every declared type reads back as its code, and the backup of a table (select-into) has the
// same structure, NOT NULL included, and the rows. A counter is NOT NULL on PostgreSQL (an
// identity column) but not on SQLite (its integer primary key is declared without NOT NULL).
TEST_P(Connection, DeclaredTypesReadBackAsTheirCodesAndSelectIntoCopiesThem) {
  const bool sqlite = GetParam() == Engine::Sqlite;
  struct Case {
    const char* jet;
    int32_t code;
    bool nullable;
  } cases[] = {
      {"short", db::adSmallInt, true},        {"long not null", db::adInteger, false},
      {"counter", db::adInteger, sqlite},     {"single", db::adSingle, true},
      {"double", db::adDouble, true},         {"currency", db::adCurrency, true},
      {"datetime", db::adDate, true},         {"yesno", db::adBoolean, true},
      {"text(40)", db::adVarWChar, true},     {"memo", db::adLongVarWChar, true},
      {"decimal(10,2)", db::adNumeric, true}, {"guid", db::adGUID, true},
      {"longbinary", db::adLongVarBinary, true},
  };
  std::string create = "create table Types (";
  for (size_t i = 0; i < std::size(cases); ++i) create += (i ? ", c" : "c") + std::to_string(i) + " " + cases[i].jet;
  runAll(db, {create + ")", "insert into Types (c1) values (5)", "select * into Survey_bk from [Survey]",
              "select * into Types_bk from Types"});
  auto tables = db->Tables();
  ASSERT_EQ(tables.size(), 4u);
  auto fields = tables[1]->Fields()->Items();
  ASSERT_EQ(fields.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(fields[i]->DataType(), cases[i].code) << cases[i].jet;
    EXPECT_EQ(fields[i]->Nullable(), cases[i].nullable) << cases[i].jet;
  }
  std::string counter = "c2";
  EXPECT_TRUE(tables[1]->IsAutoField(counter));
  std::string plain = "c1";
  EXPECT_FALSE(tables[1]->IsAutoField(plain));
  for (size_t from : {0u, 1u}) {
    auto a = tables[from]->Fields()->Items();
    auto b = tables[from + 2]->Fields()->Items();
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
      EXPECT_EQ(a[i]->Name(), b[i]->Name());
      EXPECT_EQ(a[i]->DataType(), b[i]->DataType()) << a[i]->Name();
      EXPECT_EQ(a[i]->Nullable(), b[i]->Nullable()) << a[i]->Name();
    }
  }
  EXPECT_EQ(column(db, "select c1 from Types_bk"), std::vector<std::string>{"5"});
  auto rs = db->OpenRecordset("select count(*) as N from Survey_bk where RecStatus = 0", 3, "");
  EXPECT_EQ(toLong(rs->FieldValue("N")), 1);
  EXPECT_FALSE(db->Execute("select * into Survey_bk from [Survey]"));  // it exists now
  EXPECT_FALSE(db->Execute("select * into [Bad] from [Missing]"));
  EXPECT_FALSE(db->TableExists("Bad"));
  EXPECT_TRUE(db->DropTable("survey_bk"));
  EXPECT_FALSE(db->DropTable("survey_bk"));
  EXPECT_FALSE(db->LastFailure().empty());
}

TEST_P(Connection, ViewsAreCheckedAndCanBeDroppedWhenMissing) {
  EXPECT_TRUE(db->DropView("QryTblDiff1"));
  EXPECT_FALSE(db->CreateView("QryTblDiff1", "select Nope from [Survey]"));
  EXPECT_FALSE(db->LastFailure().empty());
  ASSERT_TRUE(db->CreateView("QryTblDiff1", "select [Survey].[Name] as [Name~Main], Age from [Survey] where RecStatus = 1"));
  auto rs = db->OpenRecordset("select QryTblDiff1.[Name~Main] from [QryTblDiff1] where QryTblDiff1.[Name~Main] = 'SMITH'", 2, "");
  EXPECT_EQ(rs->RecordCount(), 1);
  EXPECT_FALSE(db->CreateView("QryTblDiff1", "select * from [Survey]"));
  EXPECT_TRUE(db->DropView("qrytbldiff1"));
  EXPECT_THROW(db->OpenRecordset("select * from QryTblDiff1", 0, ""), ComError);
}

// The second entry's tables reached from the first under the ORULINK_ prefix.
class Linked : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    runAll(entries().second(),
           {"create table [Survey] ([UniqueKey] counter, [RecStatus] long, [Name] text(50))",
            "create table [viewSurvey] ([Name] text(50), [Type] text(20), [PageNumber] long, [DataTable] text(50))",
            "insert into Survey (RecStatus, Name) values (1, 'linked')"});
    runAll(entries().first(false), {"create table [Survey] ([UniqueKey] counter, [RecStatus] long, [Name] text(50))",
                                    "insert into Survey (RecStatus, Name) values (1, 'local')"});
    db = entries().first();
  }
  db::DatabaseRef db;
};

TEST_P(Linked, LinkTablesAreReadableUnderThePrefix) {
  auto rs = db->OpenRecordset("select [ORULINK_Survey].[Name] from [ORULINK_Survey]", 2, "");
  ASSERT_EQ(rs->RecordCount(), 1);
  EXPECT_EQ(rs->FieldValue("Name"), Variant(std::string("linked")));
  EXPECT_TRUE(db->TableExists("orulink_survey"));
  EXPECT_TRUE(db->TableExists("ORULINK_viewSurvey"));
  EXPECT_FALSE(db->TableExists("viewSurvey"));
  std::string v = "ORULINK_viewSurvey";
  EXPECT_EQ(db->GetTableType(v), db::kTableTypeView);
  auto tables = db->Tables();
  ASSERT_EQ(tables.size(), 3u);
  EXPECT_EQ(tables[1]->Name(), "ORULINK_Survey");
  EXPECT_EQ(tables[1]->Fields()->Count(), 3);
  EXPECT_FALSE(entries().first(false)->TableExists("ORULINK_Survey"));  // without the link, an ordinary name
}

TEST_P(Linked, LinkTablesAreWritableAndJoinWithLocalTables) {
  ASSERT_TRUE(db->Execute("insert into ORULINK_Survey (RecStatus, Name) select RecStatus, Name from [Survey]"));
  ASSERT_TRUE(db->Execute("update orulink_survey set recstatus = 0 where Name = 'LINKED'"));
  auto rs = db->OpenRecordset("select recstatus, UniqueKey from [ORULINK_Survey] where Name = 'local'", 1, "");
  ASSERT_EQ(rs->RecordCount(), 1);
  rs->SetFieldValue("recstatus", Variant(int16_t{5}));
  rs->Update();
  auto j = db->OpenRecordset(
      "select [Survey].[Name] from [Survey] inner join [ORULINK_Survey] on [Survey].[Name] = [ORULINK_Survey].[Name] "
      "where [ORULINK_Survey].recstatus = 5", 2, "");
  EXPECT_EQ(j->RecordCount(), 1);
  ASSERT_TRUE(db->Execute("delete from [ORULINK_Survey] where RecStatus = 0"));
  db.reset();
  auto back = entries().second()->OpenRecordset("select Name, RecStatus from Survey", 3, "");
  ASSERT_EQ(back->RecordCount(), 1);
  EXPECT_EQ(back->FieldValue("Name"), Variant(std::string("local")));
  EXPECT_EQ(back->FieldValue("RecStatus"), Variant(int32_t{5}));
}

TEST_P(Linked, AStoredViewCanReadALinkTable) {
  ASSERT_TRUE(db->CreateView("QryTblDiff2", "select [ORULINK_Survey].[Name] from [ORULINK_Survey] where recstatus=1"))
      << db->LastFailure();
  auto rs = db->OpenRecordset("select QryTblDiff2.[Name] from [QryTblDiff2]", 2, "");
  ASSERT_EQ(rs->RecordCount(), 1);
  EXPECT_EQ(rs->FieldValue("name"), Variant(std::string("linked")));
  EXPECT_TRUE(db->Execute("select * into ORULINK_Survey_bk from [ORULINK_Survey]"));
  EXPECT_TRUE(db->TableExists("ORULINK_Survey_bk"));
  EXPECT_FALSE(db->TableExists("Survey_bk"));
}

OVT_ON_EVERY_ENGINE(Connection);
OVT_ON_EVERY_ENGINE(Linked);

}  // namespace
}  // namespace ovt::test
