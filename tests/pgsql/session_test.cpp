// The libpq session on a throwaway cluster: one statement per call, streamed rows, errors
// with number, source and description.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/raised.h"
#include "ovtbldiff/runtime/error.h"
#include "pgsql/session.h"
#include "support/pg_cluster.h"

namespace ovt {
namespace {

using ::ovt::test::raisedBy;

using db::pgsql::Cell;
using db::pgsql::Column;
using db::pgsql::Session;

std::vector<std::vector<Cell>> rowsOf(Session& s, const std::string& sql, std::vector<Column>* cols = nullptr) {
  std::vector<std::vector<Cell>> rows;
  s.query(
      sql, {}, [&](const std::vector<Column>& c) { if (cols) *cols = c; },
      [&](const std::vector<Cell>& r) { rows.push_back(r); });
  return rows;
}

TEST(PgSession, RunsStatementsAndStreamsRows) {
  OVT_NEED_PG();
  Session s(test::PgCluster::instance().connectionString());
  EXPECT_GE(s.serverVersion(), 150000);
  s.execute("drop table if exists t");
  EXPECT_EQ(s.execute("create table t (id integer, name text)"), 0);
  EXPECT_EQ(s.execute("insert into t values (1, 'Ann'), (2, null), (3, 'O''Brien')"), 3);
  std::vector<Column> cols;
  auto rows = rowsOf(s, "select id, name from t order by id", &cols);
  ASSERT_EQ(cols.size(), 2u);
  EXPECT_EQ(cols[0].name, "id");
  EXPECT_EQ(cols[0].typeOid, 23u);  // int4
  EXPECT_EQ(cols[1].typeOid, 25u);  // text
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0], (std::vector<Cell>{"1", "Ann"}));
  EXPECT_EQ(rows[1], (std::vector<Cell>{"2", std::nullopt}));
  EXPECT_EQ(rows[2], (std::vector<Cell>{"3", "O'Brien"}));
  EXPECT_EQ(s.execute("update t set name = 'x' where id > 1"), 2);
  // A query without rows still describes its columns.
  cols.clear();
  EXPECT_TRUE(rowsOf(s, "select id from t where id < 0", &cols).empty());
  EXPECT_EQ(cols.size(), 1u);
}

TEST(PgSession, RefusesASecondStatementAndRunsNeitherPart) {
  OVT_NEED_PG();
  Session s(test::PgCluster::instance().connectionString());
  s.execute("drop table if exists victim");
  s.execute("create table victim (id integer)");
  s.execute("insert into victim values (1)");
  // A value that broke out of its literal: the server refuses the whole text.
  ComError e = raisedBy([&] { s.execute("select 'a'; delete from victim"); });
  EXPECT_EQ(e.source(), "OVDB");
  EXPECT_NE(e.description().find("cannot insert multiple commands into a prepared statement"), std::string::npos)
      << e.description();
  ComError q = raisedBy([&] { rowsOf(s, "select 1; delete from victim"); });
  EXPECT_EQ(q.source(), "OVDB");
  EXPECT_EQ(rowsOf(s, "select count(*) from victim"), (std::vector<std::vector<Cell>>{{"1"}}));
}

TEST(PgSession, ErrorsCarryNumberSourceAndStatement) {
  OVT_NEED_PG();
  Session s(test::PgCluster::instance().connectionString());
  ComError missing = raisedBy([&] { s.execute("select * from no_such_table"); });
  EXPECT_EQ(missing.number(), db::pgsql::kErrSyntax);
  EXPECT_EQ(missing.source(), "OVDB");
  EXPECT_EQ(missing.description(),
            "relation \"no_such_table\" does not exist\nLINE 1: select * from no_such_table\n"
            "                      ^ in: select * from no_such_table");
  ComError division = raisedBy([&] { rowsOf(s, "select 1 / 0"); });
  EXPECT_EQ(division.number(), db::pgsql::kErrFailure);
  EXPECT_EQ(division.description(), "division by zero in: select 1 / 0");
  // The session is usable after a failure, also one in the middle of a streamed result.
  ComError late = raisedBy([&] { rowsOf(s, "select 10 / (3 - g) from generate_series(1, 5) g"); });
  EXPECT_EQ(late.number(), db::pgsql::kErrFailure);
  EXPECT_EQ(rowsOf(s, "select 42"), (std::vector<std::vector<Cell>>{{"42"}}));
  // An exception thrown while reading rows leaves the session usable too.
  EXPECT_THROW(s.query("select g from generate_series(1, 1000) g", {}, [](const std::vector<Column>&) {},
                       [](const std::vector<Cell>&) { throw std::runtime_error("stop"); }),
               std::runtime_error);
  EXPECT_EQ(rowsOf(s, "select 7"), (std::vector<std::vector<Cell>>{{"7"}}));
}

TEST(PgSession, AStatementSentWhileRowsStreamInIsRefusedAndNoRowIsLost) {
  OVT_NEED_PG();
  Session s(test::PgCluster::instance().connectionString());
  int rows = 0;
  std::string refused;
  s.query("select g from generate_series(1, 50) g", {}, [](const std::vector<Column>&) {},
          [&](const std::vector<Cell>&) {
            ++rows;
            if (rows == 1) refused = raisedBy([&] { s.rows("select 1"); }).description();
          });
  EXPECT_EQ(rows, 50);
  EXPECT_EQ(refused, "The session is still reading the rows of another query; not sent: select 1");
  EXPECT_EQ(s.rows("select 2").size(), 1u);
}

TEST(PgSession, ARefusedConnectionRaises) {
  ComError e = raisedBy([] { Session s("host=/nonexistent-socket-dir user=ovt dbname=postgres connect_timeout=2"); });
  EXPECT_EQ(e.number(), db::pgsql::kErrFailure);
  EXPECT_EQ(e.source(), "OVDB");
  EXPECT_EQ(e.description().rfind("cannot connect to PostgreSQL: ", 0), 0u) << e.description();
}

}  // namespace
}  // namespace ovt
