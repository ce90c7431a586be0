// The SQLite database component on real files: recordsets, statements, transactions,
// catalogue questions, link tables, the trace and the failure paths.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "ovtbldiff/dbcomp/sqlite.h"
#include "ovtbldiff/runtime/error.h"
#include "sqlite/connection.h"
#include "support/raised.h"
#include "support/temp_dir.h"

namespace ovt::db {
namespace {

class SqliteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db = OpenSqlite(dir.file("main.db"));
    ASSERT_TRUE(db->Execute(
        "create table [Survey] ([UniqueKey] counter, [RecStatus] long, [Name] text(50), [Age] short, "
        "[Born] datetime, [Member] yesno, [Income] currency, [Note] memo)"));
    ASSERT_TRUE(db->Execute("insert into [Survey] (RecStatus, Name, Age, Born, Member, Income, Note) "
                            "values (1, \"O'Brien\", 40, #1985-03-01#, True, 12.5, null)"));
    ASSERT_TRUE(db->Execute("insert into [Survey] (RecStatus, Name, Age, Born, Member, Income, Note) "
                            "values (1, 'smith', 7, #12/5/2018 10:30:00#, False, 3, 'x')"));
    ASSERT_TRUE(db->Execute("insert into [Survey] (RecStatus, Name, Age) values (0, null, null)"));
  }

  int64_t count(const std::string& where) {
    auto rs = db->OpenRecordset("select count(*) as N from [Survey] where " + where, 3, "");
    return toLong(rs->FieldValue("n"));
  }

  test::TempDir dir;
  DatabaseRef db;
};

TEST_F(SqliteTest, RecordsetCountsPositionsAndReadsByNameOrAliasInAnyCase) {
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
  const ComError none = test::raisedBy([&] { rs->FieldValue("Who"); });
  EXPECT_EQ(none.number(), kDbErrNoCurrentRecord);
  EXPECT_EQ(none.source(), "OVDB");
  rs->MoveFirst();
  EXPECT_EQ(rs->FieldValue("who"), Variant(std::string("O'Brien")));
}

TEST_F(SqliteTest, EmptyResultIsBothBofAndEof) {
  auto rs = db->OpenRecordset("select * from [Survey] where Age > 100", 0, "");
  EXPECT_EQ(rs->RecordCount(), 0);
  EXPECT_TRUE(rs->IsBOF());
  EXPECT_TRUE(rs->IsEOF());
}

TEST_F(SqliteTest, ValuesComeAsTheVariantsOfTheirDeclaredTypes) {
  auto rs = db->OpenRecordset("select * from [Survey] order by UniqueKey", 1, "");
  EXPECT_EQ(rs->FieldValue("Born"), Variant(makeDate(1985, 3, 1)));
  EXPECT_EQ(rs->FieldValue("Member"), Variant(true));
  EXPECT_EQ(rs->FieldValue("Income"), Variant(Currency{125000}));
  EXPECT_TRUE(rs->FieldValue("Note").isNull());
  rs->MoveNext();
  EXPECT_EQ(rs->FieldValue("Born"), Variant(makeDate(2018, 12, 5, 10, 30, 0)));
  EXPECT_EQ(rs->FieldValue("Member"), Variant(false));
  EXPECT_EQ(rs->FieldValue("Income"), Variant(Currency{30000}));
}

TEST_F(SqliteTest, ValuesOfEverySizeComeBackUnchanged) {
  RunSqliteScript(db, "CREATE TABLE S (I, T, R, B); INSERT INTO S VALUES (-5, '', 0.25, x'00ff'), "
                      "(100000, printf('%.300c', 'y'), -1e300, NULL), (9000000000, 'é', 3, 'z'), (-128, NULL, NULL, 127)");
  auto rs = db->OpenRecordset("select * from [S]", 0, "");
  VariantArray a = rs->GetRows();
  EXPECT_EQ(a.at(0, 0), Variant(int32_t{-5}));
  EXPECT_EQ(a.at(0, 1), Variant(int32_t{100000}));
  EXPECT_EQ(a.at(0, 2), Variant(9000000000.0));
  EXPECT_EQ(a.at(0, 3), Variant(int32_t{-128}));
  EXPECT_EQ(a.at(1, 0), Variant(std::string()));
  EXPECT_EQ(a.at(1, 1), Variant(std::string(300, 'y')));
  EXPECT_EQ(a.at(1, 2), Variant(std::string("é")));
  EXPECT_TRUE(a.at(1, 3).isNull());
  EXPECT_EQ(a.at(2, 0), Variant(0.25));
  EXPECT_EQ(a.at(2, 1), Variant(-1e300));
  EXPECT_EQ(a.at(3, 0), Variant(std::string("\x00\xff", 2)));
  EXPECT_EQ(a.at(3, 3), Variant(int32_t{127}));
}

TEST_F(SqliteTest, GetRowsIsColumnThenRecord) {
  auto rs = db->OpenRecordset("select UniqueKey, Name from [Survey] where RecStatus = 1 order by UniqueKey", 3, "");
  VariantArray a = rs->GetRows();
  ASSERT_EQ(a.ubound(1), 1);
  ASSERT_EQ(a.ubound(2), 1);
  EXPECT_EQ(a.at(0, 0), Variant(int32_t{1}));
  EXPECT_EQ(a.at(0, 1), Variant(int32_t{2}));
  EXPECT_EQ(a.at(1, 1), Variant(std::string("smith")));
}

TEST_F(SqliteTest, UnderlyingFieldsGiveNamesAndTypeCodesByPosition) {
  auto rs = db->OpenRecordset("select * from [Survey]", 2, "");
  auto f = rs->Recordset();
  ASSERT_EQ(f->Count(), 8);
  const std::vector<std::pair<std::string, int32_t>> want = {
      {"UniqueKey", adInteger}, {"RecStatus", adInteger}, {"Name", adVarWChar}, {"Age", adSmallInt},
      {"Born", adDate},         {"Member", adBoolean},    {"Income", adCurrency}, {"Note", adLongVarWChar}};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(f->Name(i), want[static_cast<size_t>(i)].first);
    EXPECT_EQ(f->Type(i), want[static_cast<size_t>(i)].second) << i;
  }
  EXPECT_THROW(f->Name(8), ComError);
}

TEST_F(SqliteTest, TextComparisonIgnoresCaseAndNullIsNeverEqual) {
  EXPECT_EQ(count("Name = 'SMITH'"), 1);
  EXPECT_EQ(count("Name = \"o'brien\""), 1);
  EXPECT_EQ(count("Name <> 'smith'"), 1);  // the Null name is not selected
  EXPECT_EQ(count("Name in ('SMITH', 'nobody')"), 1);
  EXPECT_EQ(count("Name is null"), 1);
}

TEST_F(SqliteTest, BinaryCompareOptionComparesExactly) {
  auto bin = OpenSqlite(dir.file("main.db"), SqliteOptions{"", "", true});
  auto rs = bin->OpenRecordset("select count(*) as N from [Survey] where Name = 'SMITH'", 3, "");
  EXPECT_EQ(toLong(rs->FieldValue("N")), 0);
}

TEST_F(SqliteTest, DoubleQuotedTextIsALiteralEvenWhenAColumnHasThatName) {
  EXPECT_EQ(count("Name = \"Name\""), 0);
  ASSERT_TRUE(db->Execute("update [Survey] set Note = \"Name\" where UniqueKey = 1"));
  auto rs = db->OpenRecordset("select Note from [Survey] where UniqueKey = 1", 3, "");
  EXPECT_EQ(rs->FieldValue("Note"), Variant(std::string("Name")));
}

TEST_F(SqliteTest, ConcatenationFollowsTheDialectsNullAndNumberRules) {
  ASSERT_TRUE(db->Execute("create table [N] ([A] double, [B] text(10), [C] long)"));
  ASSERT_TRUE(db->Execute("insert into [N] (A, B, C) values (1.0, null, 2)"));
  ASSERT_TRUE(db->Execute("insert into [N] (A, B, C) values (null, null, null)"));
  ASSERT_TRUE(db->Execute("insert into [N] (A, B, C) values (0.5, 'x', -3)"));
  auto rs = db->OpenRecordset("select [A] & [B] & [C] as T from [N]", 3, "");
  EXPECT_EQ(rs->FieldValue("T"), Variant(std::string("12")));
  rs->MoveNext();
  EXPECT_TRUE(rs->FieldValue("T").isNull());
  rs->MoveNext();
  EXPECT_EQ(rs->FieldValue("T"), Variant(std::string("0.5x-3")));
}

TEST_F(SqliteTest, GroupComparisonIsCaseInsensitiveAndNullWhenASideIsAllNull) {
  ASSERT_TRUE(db->Execute("create table [P] ([ID] long, [X] text(10), [Y] text(10))"));
  ASSERT_TRUE(db->Execute("create table [Q] ([ID] long, [X] text(10), [Y] text(10))"));
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

TEST_F(SqliteTest, TrueAndFalseAreMinusOneAndZero) {
  EXPECT_EQ(count("Member = True"), 1);
  EXPECT_EQ(count("Member = False"), 1);
  auto rs = db->OpenRecordset("select Member from [Survey] where UniqueKey = 1", 3, "");
  EXPECT_EQ(rs->FieldValue("Member"), Variant(true));
  auto raw = db->OpenRecordset("select Member + 0 as M from [Survey] where UniqueKey = 1", 3, "");
  EXPECT_EQ(raw->FieldValue("M"), Variant(int32_t{-1}));
}

TEST_F(SqliteTest, DateLiteralsCompareWithStoredDates) {
  EXPECT_EQ(count("Born = #1985-03-01#"), 1);
  EXPECT_EQ(count("Born = #3/1/1985#"), 1);
  EXPECT_EQ(count("Born > #1/1/2000#"), 1);
}

TEST_F(SqliteTest, ExecuteAnswersFalseWithAReasonAndChangesNothing) {
  EXPECT_FALSE(db->Execute("update [Nowhere] set A = 1"));
  EXPECT_NE(db->LastFailure().find("Nowhere"), std::string::npos);
  EXPECT_FALSE(db->Execute("updat [Survey] set Age = 1"));
  EXPECT_FALSE(db->LastFailure().empty());
  EXPECT_FALSE(db->Execute("select * from [Survey]"));
  EXPECT_TRUE(db->Execute("delete from [Survey] where UniqueKey = 3"));
  EXPECT_EQ(db->LastFailure(), "");
}

TEST_F(SqliteTest, AStackedStatementIsRefusedAndNothingRuns) {
  // A value that breaks out of its literal must not run a second statement.
  const std::string value = "x\"; drop table Survey; --";
  EXPECT_FALSE(db->Execute("update [Survey] set Name = \"" + value + "\" where UniqueKey = 1"));
  EXPECT_NE(db->LastFailure().find("Syntax error"), std::string::npos);
  EXPECT_TRUE(db->TableExists("Survey"));
  EXPECT_EQ(count("Name = \"O'Brien\""), 1);
  const ComError e = test::raisedBy([&] { db->OpenRecordset("select * from [Survey] where Name = \"" + value + "\"", 0, ""); });
  EXPECT_EQ(e.number(), kDbErrCommand);
  EXPECT_EQ(e.source(), "OVDB");
  EXPECT_TRUE(db->TableExists("Survey"));
}

TEST_F(SqliteTest, OpenRecordsetRaisesForAnUnknownTableOrColumn) {
  const ComError e = test::raisedBy([&] { db->OpenRecordset("select * from [Missing]", 0, ""); });
  EXPECT_EQ(e.number(), kDbErrCommand);
  EXPECT_NE(e.description().find("Missing"), std::string::npos);
  EXPECT_THROW(db->OpenRecordset("select Nope from [Survey]", 0, ""), ComError);
  EXPECT_THROW(db->OpenRecordset("delete from [Survey]", 0, ""), ComError);
  EXPECT_EQ(count("1 = 1"), 3);
}

TEST_F(SqliteTest, UpdateWritesChangedFieldsBackToTheRow) {
  auto rs = db->OpenRecordset("select recstatus,UniqueKey from [Survey] where UniqueKey = 2 ", 1, "");
  ASSERT_EQ(rs->RecordCount(), 1);
  rs->SetFieldValue("recstatus", Variant(int16_t{0}));
  EXPECT_EQ(rs->FieldValue("RecStatus"), Variant(int16_t{0}));
  rs->Update();
  EXPECT_EQ(count("RecStatus = 0"), 2);
  EXPECT_EQ(count("UniqueKey = 2 and RecStatus = 0 and Name = 'smith'"), 1);
  EXPECT_EQ(rs->FieldValue("recstatus"), Variant(int16_t{0}));
}

TEST_F(SqliteTest, UpdateWritesNullDatesAndBooleans) {
  auto rs = db->OpenRecordset("select * from [Survey] where UniqueKey = 1", 1, "");
  rs->SetFieldValue("Name", Variant(Null{}));
  rs->SetFieldValue("Born", Variant(makeDate(2001, 2, 3)));
  rs->SetFieldValue("Member", Variant(false));
  rs->Update();
  auto back = db->OpenRecordset("select * from [Survey] where UniqueKey = 1", 1, "");
  EXPECT_TRUE(back->FieldValue("Name").isNull());
  EXPECT_EQ(back->FieldValue("Born"), Variant(makeDate(2001, 2, 3)));
  EXPECT_EQ(back->FieldValue("Member"), Variant(false));
  EXPECT_EQ(count("Born = #2001-02-03#"), 1);
}

TEST_F(SqliteTest, AJoinedRecordsetIsReadOnly) {
  auto rs = db->OpenRecordset("select A.Name from [Survey] as A inner join [Survey] as B on A.UniqueKey = B.UniqueKey", 1, "");
  EXPECT_EQ(test::raisedBy([&] { rs->SetFieldValue("Name", Variant("x")); }).number(), kDbErrReadOnly);
}

TEST_F(SqliteTest, RollbackUndoesExecuteAndRecordsetUpdates) {
  db->BeginTrans();
  ASSERT_TRUE(db->Execute("delete from [Survey] where UniqueKey = 1"));
  auto rs = db->OpenRecordset("select recstatus from [Survey] where UniqueKey = 2", 1, "");
  rs->SetFieldValue("recstatus", Variant(int16_t{0}));
  rs->Update();
  EXPECT_EQ(count("1 = 1"), 2);
  db->RollbackTrans();
  EXPECT_EQ(count("1 = 1"), 3);
  EXPECT_EQ(count("RecStatus = 1"), 2);
}

TEST_F(SqliteTest, TransactionsNestAndCommitKeepsChanges) {
  db->BeginTrans();
  ASSERT_TRUE(db->Execute("delete from [Survey] where UniqueKey = 1"));
  db->BeginTrans();
  ASSERT_TRUE(db->Execute("delete from [Survey] where UniqueKey = 2"));
  db->RollbackTrans();
  db->CommitTrans();
  EXPECT_EQ(count("1 = 1"), 2);
  EXPECT_EQ(count("UniqueKey = 2"), 1);
  auto again = OpenSqlite(dir.file("main.db"));
  auto rs = again->OpenRecordset("select count(*) as N from Survey", 3, "");
  EXPECT_EQ(toLong(rs->FieldValue("N")), 2);
  EXPECT_EQ(test::raisedBy([&] { db->CommitTrans(); }).number(), kDbErrNoTransaction);
}

// A reader of the file refuses the outermost commit: the transaction stays open and the
// commit raises; a rollback then ends it (the release after undoing is refused in turn, so
// the connection rolls the whole transaction back) and the next transaction commits alone.
TEST_F(SqliteTest, ARollbackAfterARefusedCommitEndsTheTransaction) {
  sqlite3_busy_timeout(dynamic_cast<sqlite::SqliteDatabase&>(*db).handle(), 50);
  auto reader = OpenSqlite(dir.file("main.db"));
  reader->BeginTrans();
  ASSERT_EQ(toLong(reader->OpenRecordset("select count(*) as N from Survey", 3, "")->FieldValue("N")), 3);
  db->BeginTrans();
  ASSERT_TRUE(db->Execute("delete from [Survey] where UniqueKey = 1"));
  EXPECT_THROW(db->CommitTrans(), ComError);
  db->RollbackTrans();
  EXPECT_THROW(db->RollbackTrans(), ComError);  // none is open any more
  reader->CommitTrans();
  db->BeginTrans();
  ASSERT_TRUE(db->Execute("delete from [Survey] where UniqueKey = 2"));
  db->CommitTrans();
  auto again = OpenSqlite(dir.file("main.db"));
  EXPECT_EQ(toLong(again->OpenRecordset("select count(*) as N from Survey where UniqueKey = 1", 3, "")->FieldValue("N")), 1);
  EXPECT_EQ(toLong(again->OpenRecordset("select count(*) as N from Survey", 3, "")->FieldValue("N")), 2);
}

TEST_F(SqliteTest, CatalogueQuestions) {
  ASSERT_TRUE(db->Execute("create table [viewSurvey] ([Name] text(50), [Type] text(20), [PageNumber] long, [DataTable] text(50))"));
  ASSERT_TRUE(db->Execute("create table [Plain] ([ID] long not null, [Text] text)"));
  EXPECT_TRUE(db->TableExists("SURVEY"));
  EXPECT_FALSE(db->TableExists("Nothing"));
  std::string n = "survey";
  EXPECT_EQ(db->GetTableType(n), kTableTypeOru);
  n = "viewsurvey";
  EXPECT_EQ(db->GetTableType(n), kTableTypeView);
  n = "Plain";
  EXPECT_EQ(db->GetTableType(n), kTableTypeOther);
  n = "Nothing";
  EXPECT_THROW(db->GetTableType(n), ComError);

  auto tables = db->Tables();
  ASSERT_EQ(tables.size(), 3u);
  EXPECT_EQ(tables[0]->Name(), "Survey");
  EXPECT_EQ(tables[2]->Name(), "Plain");
  auto fields = tables[2]->Fields();
  ASSERT_EQ(fields->Count(), 2);
  auto items = fields->Items();
  EXPECT_EQ(items[0]->Name(), "ID");
  EXPECT_EQ(items[0]->DataType(), adInteger);
  EXPECT_FALSE(items[0]->Nullable());
  EXPECT_EQ(items[1]->DataType(), adLongVarWChar);
  EXPECT_TRUE(items[1]->Nullable());
}

TEST_F(SqliteTest, AutoFieldsAreTheKeyAndTheSystemColumnsOfFormTables) {
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

// A table made outside the component may declare COUNTER on an ordinary column, which the
// engine never fills: the component fills it, in its own file and as a link table.
TEST_F(SqliteTest, CounterColumnsTheEngineDoesNotFillAreFilled) {
  const std::string other = dir.file("other.db");
  for (const DatabaseRef& d : {db, OpenSqlite(other)})
    RunSqliteScript(d, "CREATE TABLE Outside (UniqueKey COUNTER, RecStatus INTEGER, Name TEXT);"
                       "INSERT INTO Outside VALUES (7, 1, 'kept')");
  SqliteOptions o;
  o.linkFile = other;
  DatabaseRef both = OpenSqlite(dir.file("main.db"), o);
  for (const std::string& t : {std::string("Outside"), std::string("ORULINK_Outside")}) {
    ASSERT_TRUE(both->Execute("insert into " + t + " (RecStatus, Name) values (1, 'a')")) << both->LastFailure();
    ASSERT_TRUE(both->Execute("insert into " + t + " (RecStatus, Name) select RecStatus, Name from " + t)) << both->LastFailure();
    VariantArray rows = both->OpenRecordset("select UniqueKey, Name from " + t + " order by UniqueKey", 3, "")->GetRows();
    ASSERT_EQ(rows.ubound(2), 3) << t;
    std::string keys;
    for (int32_t r = 0; r <= rows.ubound(2); ++r) keys += concatText(rows.at(0, r)) + " ";
    EXPECT_EQ(keys, "7 8 9 10 ") << t;
  }
}

TEST_F(SqliteTest, SelectIntoCopiesRowsAndDeclaredTypes) {
  ASSERT_TRUE(db->Execute("select * into Survey_bk from [Survey]"));
  auto tables = db->Tables();
  ASSERT_EQ(tables.size(), 2u);
  auto a = tables[0]->Fields()->Items();
  auto b = tables[1]->Fields()->Items();
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i]->Name(), b[i]->Name());
    EXPECT_EQ(a[i]->DataType(), b[i]->DataType()) << a[i]->Name();
    EXPECT_EQ(a[i]->Nullable(), b[i]->Nullable()) << a[i]->Name();
  }
  auto rs = db->OpenRecordset("select count(*) as N from Survey_bk where RecStatus = 0", 3, "");
  EXPECT_EQ(toLong(rs->FieldValue("N")), 1);
  EXPECT_FALSE(db->Execute("select * into Survey_bk from [Survey]"));  // it exists now
  EXPECT_FALSE(db->Execute("select * into [Bad] from [Missing]"));
  EXPECT_FALSE(db->TableExists("Bad"));
  EXPECT_TRUE(db->DropTable("survey_bk"));
  EXPECT_FALSE(db->DropTable("survey_bk"));
  EXPECT_FALSE(db->LastFailure().empty());
}

TEST_F(SqliteTest, ViewsAreCheckedAndCanBeDroppedWhenMissing) {
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

TEST_F(SqliteTest, TraceHoldsStatementsAsReceivedAndRunWithOutcomes) {
  const std::string path = dir.file("trace.txt");
  {
    auto t = OpenSqlite(dir.file("main.db"), SqliteOptions{"", path, false});
    t->OpenRecordset("select Name from [Survey] where Name = \"smith\"", 0, "");
    t->Execute("delete from [Survey] where UniqueKey = 3");
    t->Execute("delete from [Nowhere]");
  }
  const std::string text = test::readFile(path);
  EXPECT_NE(text.find("jet: select Name from [Survey] where Name = \"smith\""), std::string::npos);
  EXPECT_NE(text.find("'smith'"), std::string::npos);
  EXPECT_NE(text.find("=> 1 rows"), std::string::npos);
  EXPECT_NE(text.find("=> 1 rows changed"), std::string::npos);
  EXPECT_NE(text.find("error: no such table"), std::string::npos);
}

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto other = OpenSqlite(dir.file("other.db"));
    ASSERT_TRUE(other->Execute("create table [Survey] ([UniqueKey] counter, [RecStatus] long, [Name] text(50))"));
    ASSERT_TRUE(other->Execute("create table [viewSurvey] ([Name] text(50), [Type] text(20), [PageNumber] long, [DataTable] text(50))"));
    ASSERT_TRUE(other->Execute("insert into Survey (RecStatus, Name) values (1, 'linked')"));
    other.reset();
    auto main = OpenSqlite(dir.file("main.db"));
    ASSERT_TRUE(main->Execute("create table [Survey] ([UniqueKey] counter, [RecStatus] long, [Name] text(50))"));
    ASSERT_TRUE(main->Execute("insert into Survey (RecStatus, Name) values (1, 'local')"));
    main.reset();
    db = OpenSqlite(dir.file("main.db"), SqliteOptions{dir.file("other.db"), "", false});
  }
  test::TempDir dir;
  DatabaseRef db;
};

TEST_F(LinkTest, LinkTablesAreReadableUnderThePrefix) {
  auto rs = db->OpenRecordset("select [ORULINK_Survey].[Name] from [ORULINK_Survey]", 2, "");
  ASSERT_EQ(rs->RecordCount(), 1);
  EXPECT_EQ(rs->FieldValue("Name"), Variant(std::string("linked")));
  EXPECT_TRUE(db->TableExists("orulink_survey"));
  EXPECT_TRUE(db->TableExists("ORULINK_viewSurvey"));
  EXPECT_FALSE(db->TableExists("viewSurvey"));
  std::string v = "ORULINK_viewSurvey";
  EXPECT_EQ(db->GetTableType(v), kTableTypeView);
  auto tables = db->Tables();
  ASSERT_EQ(tables.size(), 3u);
  EXPECT_EQ(tables[1]->Name(), "ORULINK_Survey");
  EXPECT_EQ(tables[1]->Fields()->Count(), 3);
}

TEST_F(LinkTest, LinkTablesAreWritableAndJoinWithLocalTables) {
  ASSERT_TRUE(db->Execute("insert into ORULINK_Survey (RecStatus, Name) select RecStatus, Name from [Survey]"));
  ASSERT_TRUE(db->Execute("update ORULINK_Survey set recstatus = 0 where Name = 'LINKED'"));
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
  auto other = OpenSqlite(dir.file("other.db"));
  auto back = other->OpenRecordset("select Name, RecStatus from Survey", 3, "");
  ASSERT_EQ(back->RecordCount(), 1);
  EXPECT_EQ(back->FieldValue("Name"), Variant(std::string("local")));
  EXPECT_EQ(back->FieldValue("RecStatus"), Variant(int32_t{5}));
}

TEST_F(LinkTest, AStoredViewCanReadALinkTable) {
  ASSERT_TRUE(db->CreateView("QryTblDiff2", "select [ORULINK_Survey].[Name] from [ORULINK_Survey] where recstatus=1"))
      << db->LastFailure();
  auto rs = db->OpenRecordset("select QryTblDiff2.[Name] from [QryTblDiff2]", 2, "");
  ASSERT_EQ(rs->RecordCount(), 1);
  EXPECT_EQ(rs->FieldValue("name"), Variant(std::string("linked")));
  EXPECT_TRUE(db->Execute("select * into ORULINK_Survey_bk from [ORULINK_Survey]"));
  EXPECT_TRUE(db->TableExists("ORULINK_Survey_bk"));
  EXPECT_FALSE(db->TableExists("Survey_bk"));
}

TEST_F(LinkTest, WithoutALinkFileThePrefixIsAnOrdinaryName) {
  db.reset();
  auto plain = OpenSqlite(dir.file("main.db"));
  EXPECT_FALSE(plain->TableExists("ORULINK_Survey"));
  EXPECT_THROW(OpenSqlite(dir.file("main.db"), SqliteOptions{dir.file("absent.db"), "", false}), ComError);
}

// The memory-statistics switch is taken only before the engine starts: in a fresh process it is
// applied and connections then work as before; once a connection has opened, it is refused.
TEST(SqliteProcessSettings, MemoryStatisticsSwitchOnlyBeforeTheEngineStarts) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process, the engine not started
  EXPECT_EXIT(
      {
        if (!SqliteQuietMemoryStatistics()) std::exit(1);
        test::TempDir fresh;
        auto db = OpenSqlite(fresh.file("quiet.db"));
        db->Execute("create table [T] ([A] long, [B] text(20))");
        db->Execute("insert into [T] (A, B) values (7, 'seven')");
        auto rs = db->OpenRecordset("select B from [T] where A = 7", 2, "");
        std::exit(!rs->IsEOF() && rs->FieldValue("B") == Variant(std::string("seven")) ? 0 : 2);
      },
      ::testing::ExitedWithCode(0), "");
  test::TempDir dir;
  auto db = OpenSqlite(dir.file("started.db"));
  EXPECT_FALSE(SqliteQuietMemoryStatistics());
  EXPECT_TRUE(db->Execute("create table [T] ([A] long)"));
}

}  // namespace
}  // namespace ovt::db
