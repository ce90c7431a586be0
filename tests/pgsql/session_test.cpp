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

// A statement prepared on the server runs in place of its text (which errors name), alone or
// between commands sent with it; a value the server cannot read as its parameter's type raises
// PreparedNotRun and runs nothing, while failures of the statement's own work do not.
TEST(PgSession, PreparedStatementsRunInPlaceOfTheirTextAndRefusedValuesSayWhy) {
  OVT_NEED_PG();
  Session s(test::PgCluster::instance().connectionString());
  s.execute("drop table if exists prep");
  s.execute("create table prep (id integer primary key, v varchar(5))");
  s.prepare("prep_insert", "insert into prep values ($1, $2)", {23, 0});
  s.prepare("prep_select", "select v from prep where id = $1", {23});
  const db::pgsql::Prepared first{"prep_insert", {"1", "a"}}, second{"prep_insert", {"2", std::nullopt}};
  EXPECT_EQ(s.execute("the insert", {}, "", "", &first), 1);
  s.execute("begin");
  EXPECT_EQ(s.execute("the insert", {}, "RELEASE SAVEPOINT p", "SAVEPOINT p", &second), 1);
  s.execute("commit");
  auto outcome = [&](const db::pgsql::Prepared& p, bool query) -> std::string {
    try {
      if (query) {
        std::vector<std::string> got;
        s.query("the select", {}, [](const std::vector<Column>&) {}, [&](const std::vector<Cell>& r) { got.push_back(r[0].value_or("<null>")); },
                "", "", &p);
        return got.empty() ? "no rows" : got[0];
      }
      return std::to_string(s.execute("the insert", {}, "", "", &p)) + " rows";
    } catch (const db::pgsql::PreparedNotRun& e) {
      return "refused: " + e.description();
    } catch (const ComError& e) {
      return "failed: " + e.description();
    }
  };
  EXPECT_EQ(outcome({"prep_select", {"1"}}, true), "a");
  EXPECT_EQ(outcome({"prep_select", {"2"}}, true), "<null>");
  EXPECT_EQ(outcome({"prep_select", {"x"}}, true).rfind("refused: invalid input syntax for type integer: \"x\"", 0), 0u);
  EXPECT_EQ(outcome({"prep_insert", {"99999999999", "b"}}, false).rfind("refused: value \"99999999999\" is out of range", 0), 0u);
  const std::string taken = outcome({"prep_insert", {"1", "b"}}, false);
  EXPECT_EQ(taken.rfind("failed: duplicate key value violates unique constraint", 0), 0u) << taken;
  EXPECT_NE(taken.find(" in: the insert"), std::string::npos) << taken;
  EXPECT_EQ(outcome({"prep_insert", {"3", "too long"}}, false),
            "failed: value too long for type character varying(5) in: the insert");
  EXPECT_EQ(rowsOf(s, "select id from prep order by id"), (std::vector<std::vector<Cell>>{{"1"}, {"2"}}));
  // What the statement stands on changed: analysed again, it fails before running.
  s.execute("alter table prep rename column v to w");
  EXPECT_EQ(outcome({"prep_select", {"1"}}, true).rfind("refused: column \"v\" does not exist", 0), 0u);
  // A text the server cannot prepare raises as the text would.
  EXPECT_THROW(s.prepare("prep_bad", "select nothing from prep"), ComError);
}

TEST(PgSession, ARefusedConnectionRaises) {
  ComError e = raisedBy([] { Session s("host=/nonexistent-socket-dir user=ovt dbname=postgres connect_timeout=2"); });
  EXPECT_EQ(e.number(), db::pgsql::kErrFailure);
  EXPECT_EQ(e.source(), "OVDB");
  EXPECT_EQ(e.description().rfind("cannot connect to PostgreSQL: ", 0), 0u) << e.description();
}

}  // namespace
}  // namespace ovt
