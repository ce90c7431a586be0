// What only the SQLite database component has: untyped columns, a commit refused while another
// connection reads the file, COUNTER columns of tables made outside the component, the trace
// file, the link file and the engine's process settings.
// What both engines do alike is in tests/dbcomp/connection_databases_test.cpp.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "ovtbldiff/dbcomp/sqlite.h"
#include "ovtbldiff/runtime/error.h"
#include "sqlite/connection.h"
#include "support/engines.h"
#include "support/raised.h"
#include "support/temp_dir.h"

namespace ovt::db {
namespace {

class SqliteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db = OpenSqlite(dir.file("main.db"));
    test::runAll(db, test::surveyStatements());
  }

  test::TempDir dir;
  DatabaseRef db;
};

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

TEST_F(SqliteTest, AnAbsentLinkFileIsRefused) {
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
