// What only the PostgreSQL database component has: locations, the link tables' schema, the
// statements prepared on the server, the exchanges a record costs, the level commands of a
// failed transaction, a connection lost. What both engines do alike is in
// tests/dbcomp/connection_databases_test.cpp.
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

TEST_F(PgDatabaseTest, LinkTablesMustBeASecondSchemaOfTheSameDatabase) {
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
