// The database component on PostgreSQL: locations, names resolved case-insensitively, the
// types of the data-entry system both ways, select-into, transactions whose failing statements
// undo only themselves, and recordset write-back.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "ovtbldiff/dbcomp/postgres.h"
#include "ovtbldiff/runtime/error.h"
#include "pgsql/connection.h"
#include "support/engines.h"
#include "support/raised.h"

namespace ovt::test {
namespace {

TEST(PgLocation, SchemaIsTheComponentsOwnSetting) {
  struct Case {
    const char* text;
    const char* conninfo;
    const char* schema;
  } cases[] = {
      {"postgresql://u@h/db", "postgresql://u@h/db", "public"},
      {"postgresql://u@h/db?schema=entry1", "postgresql://u@h/db", "entry1"},
      {"postgres://h/db?sslmode=disable&schema=e%32&connect_timeout=5", "postgres://h/db?sslmode=disable&connect_timeout=5", "e2"},
      {"host=/tmp dbname=survey", "host=/tmp dbname=survey", "public"},
      {"host=/tmp schema=entry2 dbname=survey", "host=/tmp dbname=survey", "entry2"},
      {"host = /tmp password='a b\\'c' schema = 'Entry Two'", "host = /tmp password='a b\\'c'", "Entry Two"},
  };
  for (const Case& c : cases) {
    db::pgsql::Location l = db::pgsql::parseLocation(c.text);
    EXPECT_EQ(l.conninfo, c.conninfo) << c.text;
    EXPECT_EQ(l.schema, c.schema) << c.text;
  }
  for (const char* yes : {"postgresql://h/db", "postgres://h", "host=/tmp", " dbname = x"})
    EXPECT_TRUE(db::IsPostgresLocation(yes)) << yes;
  for (const char* no : {"entry1.db", "/tmp/a=b.db", "", "=x", "dir/file"}) EXPECT_FALSE(db::IsPostgresLocation(no)) << no;
  const ComError e = raisedBy([] { db::pgsql::parseLocation("host=/tmp password='open"); });
  EXPECT_EQ(e.number(), static_cast<int32_t>(0x80004005u));
  EXPECT_EQ(e.source(), "OVDB");
  EXPECT_EQ(e.description(), "Bad PostgreSQL connection string: unterminated quote");
}

class PgDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OVT_NEED_PG();
    pair_ = std::make_unique<EntryPair>(Engine::Postgres);
    db_ = pair_->first();
  }
  std::string one(const std::string& sql) {
    VariantArray rows = db_->OpenRecordset(sql, 3, "")->GetRows();
    return rows.allocated() && rows.ubound(2) >= 0 ? concatText(rows.at(0, 0)) : "<none>";
  }
  std::unique_ptr<EntryPair> pair_;
  db::DatabaseRef db_;
};

TEST_F(PgDatabaseTest, NamesResolveCaseInsensitivelyAndTablesKeepTheirCase) {
  runAll(db_, {"create table House (HouseNo long, [Head Name] text(50))",
               "insert into HOUSE (houseno, [head name]) values (1, 'Grace')"});
  EXPECT_EQ(one("select [house].[HEAD NAME] from [House] where HOUSENO = 1"), "Grace");
  std::vector<std::string> names;
  for (const auto& t : db_->Tables()) names.push_back(t->Name());
  EXPECT_EQ(names, std::vector<std::string>{"House"});
  std::vector<std::string> fields;
  for (const auto& f : db_->Tables()[0]->Fields()->Items()) fields.push_back(f->Name());
  EXPECT_EQ(fields, (std::vector<std::string>{"HouseNo", "Head Name"}));
  EXPECT_TRUE(db_->TableExists("HOUSE"));
  EXPECT_FALSE(db_->TableExists("Houses"));
}

TEST_F(PgDatabaseTest, DeclaredTypesReadBackAsTheirCodes) {
  struct Case {
    const char* jet;
    int32_t code;
    bool nullable;
  } cases[] = {
      {"short", db::adSmallInt, true},     {"long not null", db::adInteger, false},
      {"counter", db::adInteger, false},   {"single", db::adSingle, true},
      {"double", db::adDouble, true},      {"currency", db::adCurrency, true},
      {"datetime", db::adDate, true},      {"yesno", db::adBoolean, true},
      {"text(40)", db::adVarWChar, true},  {"memo", db::adLongVarWChar, true},
      {"decimal(10,2)", db::adNumeric, true}, {"guid", db::adGUID, true},
      {"longbinary", db::adLongVarBinary, true},
  };
  std::string create = "create table Types (";
  for (size_t i = 0; i < std::size(cases); ++i) create += (i ? ", c" : "c") + std::to_string(i) + " " + cases[i].jet;
  runAll(db_, {create + ")"});
  auto fields = db_->Tables()[0]->Fields()->Items();
  ASSERT_EQ(fields.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(fields[i]->DataType(), cases[i].code) << cases[i].jet;
    EXPECT_EQ(fields[i]->Nullable(), cases[i].nullable) << cases[i].jet;
  }
  // The backup of a table has the same structure, NOT NULL included.
  runAll(db_, {"select * into Types_bk from Types"});
  auto copy = db_->Tables()[1]->Fields()->Items();
  ASSERT_EQ(copy.size(), fields.size());
  for (size_t i = 0; i < copy.size(); ++i) {
    EXPECT_EQ(copy[i]->Name(), fields[i]->Name());
    EXPECT_EQ(copy[i]->DataType(), fields[i]->DataType()) << cases[i].jet;
    EXPECT_EQ(copy[i]->Nullable(), fields[i]->Nullable()) << cases[i].jet;
  }
  std::string counter = "c2";
  EXPECT_TRUE(db_->Tables()[0]->IsAutoField(counter));
  std::string plain = "c1";
  EXPECT_FALSE(db_->Tables()[0]->IsAutoField(plain));
}

TEST_F(PgDatabaseTest, ValuesReadAsTheirTypes) {
  runAll(db_, {"create table V (s short, l long, d double, c currency, t datetime, b yesno, x text(10))",
               "insert into V values (7, 70000, 1.5, 2.25, #2026-12-07 10:30:00#, True, 'abc')"});
  db::RecordsetRef rs = db_->OpenRecordset("select * from V", 3, "");
  auto as = [&](const char* field, auto sample) {
    const Variant v = rs->FieldValue(field);
    const auto* p = v.get<decltype(sample)>();
    EXPECT_NE(p, nullptr) << field << " reads as another type";
    return p ? *p : sample;
  };
  EXPECT_EQ(as("s", int16_t{0}), 7);
  EXPECT_EQ(as("l", int32_t{0}), 70000);
  EXPECT_EQ(as("d", 0.0), 1.5);
  EXPECT_EQ(as("c", Currency{}).scaled, 22500);
  EXPECT_EQ(as("t", Date{}).serial, 46363.4375);
  EXPECT_EQ(as("b", false), true);
  EXPECT_EQ(as("X", std::string()), "abc");
  EXPECT_EQ(rs->RecordCount(), 1);
}

TEST_F(PgDatabaseTest, AFailingStatementInsideATransactionUndoesOnlyItself) {
  runAll(db_, {"create table T (k long)"});
  db_->BeginTrans();
  EXPECT_TRUE(db_->Execute("insert into T (k) values (1)"));
  EXPECT_FALSE(db_->Execute("insert into Nowhere (k) values (2)"));
  EXPECT_NE(db_->LastFailure().find("Nowhere"), std::string::npos) << db_->LastFailure();
  EXPECT_THROW(db_->OpenRecordset("select nothing from T", 3, ""), ComError);
  EXPECT_TRUE(db_->Execute("insert into T (k) values (3)"));
  db_->BeginTrans();
  EXPECT_TRUE(db_->Execute("insert into T (k) values (4)"));
  db_->RollbackTrans();
  db_->CommitTrans();
  EXPECT_EQ(one("select count(*) from T"), "2");
  EXPECT_EQ(one("select sum(k) from T"), "4");
  const ComError e = raisedBy([&] { db_->CommitTrans(); });
  EXPECT_EQ(e.number(), db::kDbErrNoTransaction);
}

TEST_F(PgDatabaseTest, UpdateWritesBackTwiceToTheSameRow) {
  runAll(db_, {"create table T (k long, v text(10))", "insert into T values (1, 'a')", "insert into T values (2, 'b')"});
  db::RecordsetRef rs = db_->OpenRecordset("select v from T where k = 2", 2, "");
  rs->SetFieldValue("v", Variant(std::string("c")));
  rs->Update();
  rs->SetFieldValue("V", Variant(std::string("d")));
  rs->Update();
  EXPECT_EQ(one("select v from T where k = 2"), "d");
  EXPECT_EQ(one("select v from T where k = 1"), "a");
  db::RecordsetRef joined = db_->OpenRecordset("select a.v from T a, T b where a.k = b.k", 2, "");
  const ComError e = raisedBy([&] { joined->SetFieldValue("v", Variant(std::string("x"))); });
  EXPECT_EQ(e.number(), db::kDbErrReadOnly);
}

TEST_F(PgDatabaseTest, LinkTablesAreASecondSchemaOfTheSameDatabase) {
  runAll(pair_->second(), {"create table House (HouseNo long)", "insert into House values (9)"});
  EXPECT_EQ(one("select HouseNo from ORULINK_House"), "9");
  EXPECT_TRUE(db_->Execute("insert into orulink_house (HouseNo) values (10)"));
  EXPECT_EQ(one("select count(*) from ORULINK_House"), "2");
  std::vector<std::string> names;
  for (const auto& t : db_->Tables()) names.push_back(t->Name());
  EXPECT_EQ(names, std::vector<std::string>{"ORULINK_House"});
  db::PostgresOptions other;
  other.link = "host=/elsewhere dbname=other schema=x";
  const ComError e = raisedBy([&] { db::OpenPostgres(pair_->firstLocation(), other); });
  EXPECT_EQ(e.number(), static_cast<int32_t>(0x80004005u));
  EXPECT_EQ(e.description(),
            "The link tables must be another schema of the same PostgreSQL database: host=/elsewhere dbname=other schema=x");
}

// Inside a transaction, statements of a known shape run prepared on the server; however many
// shapes come and go, the session holds at most twice the cache's capacity of them.
TEST_F(PgDatabaseTest, StatementsPreparedOnTheServerStayWithinTwiceTheCacheBound) {
  db::PostgresOptions o;
  o.statementCache = 4;
  db::DatabaseRef db = db::OpenPostgres(pair_->firstLocation(), o);
  runAll(db, {"create table T (k long)", "insert into T values (1)"});
  db::RunPostgresStatement(db, "CREATE TEMP VIEW prepared_here AS SELECT count(*) AS n FROM pg_prepared_statements "
                               "WHERE name LIKE 'ovt\\_plan\\_%'");
  auto prepared = [&] {
    VariantArray rows = db->OpenRecordset("select n from prepared_here", 3, "")->GetRows();
    return std::stoi(concatText(rows.at(0, 0)));
  };
  int most = 0;
  db->BeginTrans();
  for (int i = 0; i < 30; ++i) {
    // A shape of its own (the number after TOP stays in the text); its second run is a hit.
    for (int n = 2; n <= 4; ++n)
      EXPECT_EQ(db->OpenRecordset("select top " + std::to_string(i + 1) + " k from T where k < " + std::to_string(n), 3, "")
                    ->RecordCount(),
                1);
    most = std::max(most, prepared());
  }
  db->CommitTrans();
  EXPECT_GT(most, 0);
  EXPECT_LE(most, 8);
}

TEST_F(PgDatabaseTest, ATextThatBreaksOutOfItsLiteralRunsNoSecondStatement) {
  runAll(db_, {"create table T (v text(50))"});
  EXPECT_TRUE(db_->Execute("insert into T (v) values ('x''); drop table T; --')"));
  EXPECT_EQ(one("select v from T"), "x'); drop table T; --");
  EXPECT_FALSE(db_->Execute("insert into T (v) values ('y'); drop table T"));
  EXPECT_TRUE(db_->TableExists("T"));
}

// A record as the members write it inside a group's transaction (an inner level, a look-up of
// the table, a query, an update) costs one exchange with the server per statement: the
// commands of the level travel with the statements, the table's look-up and kind are kept.
TEST_F(PgDatabaseTest, ARecordCostsOneExchangePerStatement) {
  runAll(db_, {"create table T (UniqueKey counter, RecStatus long, ID long, V text(10))"});
  for (int k = 1; k <= 30; ++k) runAll(db_, {"insert into T (RecStatus, ID, V) values (1, " + std::to_string(k) + ", 'a')"});
  auto record = [&](int k) {
    db_->BeginTrans();
    std::string name = "T";
    EXPECT_TRUE(db_->TableExists("T"));
    EXPECT_EQ(db_->GetTableType(name), db::kTableTypeOru);
    EXPECT_EQ(one("select UniqueKey from T where ID = " + std::to_string(k)), std::to_string(k));
    EXPECT_TRUE(db_->Execute("update T set V = 'b', recstatus=1 where UniqueKey=" + std::to_string(k)));
    db_->CommitTrans();
  };
  db_->BeginTrans();
  for (int k = 1; k <= 5; ++k) record(k);  // the statements' first runs prepare them
  const uint64_t before = db::PostgresRoundTrips(db_).value();
  for (int k = 6; k <= 25; ++k) record(k);
  EXPECT_EQ(db::PostgresRoundTrips(db_).value() - before, 40u);
  db_->CommitTrans();
  EXPECT_EQ(one("select count(*) from T where V = 'b'"), "25");
}

// The commands of the levels are the component's own: where the transaction has failed (here
// through SQL of the host's that undid a savepoint of the component's), each is refused by the
// call that sends it, as the server words it.
TEST_F(PgDatabaseTest, LevelCommandsInAFailedTransactionFailInTheirOwnCalls) {
  runAll(db_, {"create table R (k long)"});
  db_->BeginTrans();
  EXPECT_TRUE(db_->Execute("insert into R (k) values (1)"));
  db_->BeginTrans();
  EXPECT_THROW(db::RunPostgresStatement(db_, "ROLLBACK TO SAVEPOINT ovt_trans_1"), ComError);
  const std::string aborted = "current transaction is aborted, commands ignored until end of transaction block in: ";
  ComError e = raisedBy([&] { db_->BeginTrans(); });
  EXPECT_EQ(e.description(), aborted + "SAVEPOINT ovt_trans_2");
  EXPECT_EQ(e.number(), static_cast<int32_t>(0x80004005u));
  e = raisedBy([&] { db_->CommitTrans(); });
  EXPECT_EQ(e.description(), aborted + "RELEASE SAVEPOINT ovt_trans_1");
  db_->RollbackTrans();
  EXPECT_EQ(one("select count(*) from R"), "0");
}

// A connection lost while an inner level is open, before anything of the level reached the
// server: the next statement fails, and nothing of the transaction is committed.
TEST_F(PgDatabaseTest, AConnectionLostInsideAnInnerLevelCommitsNothing) {
  runAll(db_, {"create table R (k long)"});
  db_->BeginTrans();
  EXPECT_TRUE(db_->Execute("insert into R (k) values (1)"));
  db_->BeginTrans();
  EXPECT_TRUE(db_->Execute("insert into R (k) values (2)"));
  db_->CommitTrans();
  db_->BeginTrans();
  {
    db::pgsql::Session admin(PgCluster::instance().connectionString());
    admin.rows("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = current_database() AND "
               "pid <> pg_backend_pid() AND backend_type = 'client backend'");
  }
  EXPECT_FALSE(db_->Execute("insert into R (k) values (3)"));
  EXPECT_NE(db_->LastFailure().find("connection"), std::string::npos) << db_->LastFailure();
  EXPECT_THROW(db_->RollbackTrans(), ComError);
  EXPECT_THROW(db_->CommitTrans(), ComError);
  db::DatabaseRef again = pair_->first();
  VariantArray rows = again->OpenRecordset("select count(*) from R", 3, "")->GetRows();
  EXPECT_EQ(concatText(rows.at(0, 0)), "0");
}

}  // namespace
}  // namespace ovt::test
