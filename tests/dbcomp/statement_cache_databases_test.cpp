// The connections' statement caches on real databases of both engines: a statement that finds
// the prepared statement of an earlier one of its shape (a hit) reads and writes exactly what
// the same statement prepared from its text reads and writes (a connection without cache), for
// every kind of literal; a schema change between two statements of one shape gives the fresh
// result, and so do the table kinds and fields read after it; the cache stays within its
// bound; the trace shows the statements as received, and a trace listener hears the same.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ovtbldiff/dbcomp/postgres.h"
#include "ovtbldiff/dbcomp/sqlite.h"
#include "support/engines.h"

namespace ovt::test {
namespace {

constexpr const char* kTable =
    "create table T (ID long, Txt text(50), Memo memo, Num double, Whole long, Dt datetime, YN yesno)";
constexpr const char* kRows[] = {
    "insert into T values (1, 'abc', 'first', 2.5, 12, #2020-01-02#, True)",
    "insert into T values (2, 'O''Brien', 'quote', 0, 0, #2020-01-02 10:11:12#, False)",
    "insert into T values (3, 'Straße', 'été', -1, 2147483647, #1999-12-31#, True)",
    "insert into T values (4, '12', Null, 12, -5, Null, Null)",
    "insert into T values (5, Null, '', Null, Null, #2020-01-03#, False)",
};

// A value as read back: its variant type and text, Null and Empty marked.
std::string cell(const Variant& v) {
  if (v.isNull()) return "<null>";
  if (v.isEmpty()) return "<empty>";
  return std::to_string(static_cast<int>(v.type())) + ":" + toText(v);
}

// Every row of a recordset, its field names and types first.
std::string read(db::cDatabase& db, const std::string& jet) {
  db::RecordsetRef rs;
  try {
    rs = db.OpenRecordset(jet, 2, "");
  } catch (const ComError& e) {
    return "error " + std::to_string(e.number()) + " " + e.source() + ": " + e.description();
  }
  auto fields = rs->Recordset();
  std::string out;
  for (int i = 0; i < fields->Count(); ++i) out += fields->Name(i) + "/" + std::to_string(fields->Type(i)) + " ";
  for (; !rs->IsEOF(); rs->MoveNext()) {
    out += "\n";
    for (int i = 0; i < fields->Count(); ++i) out += cell(rs->FieldValue(fields->Name(i))) + " | ";
  }
  return out;
}

std::string replaced(std::string text, const std::string& literal) {
  for (size_t at; (at = text.find("{}")) != std::string::npos;) text.replace(at, 2, literal);
  return text;
}

class StatementCache : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (HasFatalFailure() || IsSkipped()) return;
    db_ = entries().first(false);
    runAll(db_, {kTable});
    for (const char* r : kRows) runAll(db_, {r});
  }
  // A connection whose cache holds `capacity` statements; 0 prepares every statement from its text.
  db::DatabaseRef cachedConnection(size_t capacity = 64, const std::string& trace = "", db::TraceListener listener = {}) {
    if (GetParam() == Engine::Sqlite) {
      db::SqliteOptions o;
      o.statementCache = capacity;
      o.traceFile = trace;
      o.traceListener = std::move(listener);
      return db::OpenSqlite(entries().firstLocation(), o);
    }
    db::PostgresOptions o;
    o.statementCache = capacity;
    o.traceFile = trace;
    o.traceListener = std::move(listener);
    return db::OpenPostgres(entries().firstLocation(), o);
  }
  db::DatabaseRef uncached() { return cachedConnection(0); }
  std::optional<size_t> cachedCount(const db::DatabaseRef& db) {
    return GetParam() == Engine::Sqlite ? db::SqliteCachedStatements(db) : db::PostgresCachedStatements(db);
  }
  db::DatabaseRef db_;
};

struct Shape {
  const char* statement;                 // "{}" stands for the literal
  std::vector<std::string> literals;     // run in this order on one connection
};

// Reads: one connection runs every literal of a shape in turn (the first prepares, the others
// reuse), and each result equals the uncached connection's.
TEST_P(StatementCache, HitsReadWhatStatementsPreparedFromTheirTextRead) {
  const std::vector<Shape> shapes = {
      {"select ID, Txt from T where Txt = {} order by ID",
       {"'abc'", "'ABC'", "'O''Brien'", "\"O'Brien\"", "'Straße'", "'STRASSE'", "''", "'12'", "12", "Null"}},
      {"select ID from T where Memo = {} order by ID", {"'été'", "'ÉTÉ'", "''", "'first'"}},
      {"select ID from T where Num = {} order by ID", {"2.5", "0", "12", "-1", "'12'", "2.50", "1e1", "Null"}},
      {"select ID from T where Whole = {} order by ID",
       {"12", "2147483647", "9007199254740993", "9223372036854775807", "99999999999999999999", "'12'", "0"}},
      {"select ID from T where Num > -{} order by ID", {"1", "0.5", "True"}},
      {"select ID from T where Dt = {} order by ID",
       {"#2020-01-02#", "#1/2/2020 10:11:12#", "#2020-01-02 10:11:12#", "#12/31/99#", "Null"}},
      {"select ID from T where YN = {} order by ID", {"True", "False", "-1", "0", "Null"}},
      {"select ID, {} as Lit, Txt & {} as Joined from T where ID = 1",
       {"'x'", "5", "2.5", "#2020-01-02#", "True", "False", "Null", "'Ärger'", "''"}},
      {"select ID from T where Txt like {} order by ID", {"'a*'", "'O''B*'", "'[ab]*'", "'*ß*'", "'?2'", "Null"}},
      {"select ID from T where Txt in ({}, 'abc') order by ID", {"'12'", "'straße'", "12", "Null"}},
      {"select ID from T where ID between {} and 4 order by ID", {"2", "1", "'3'"}},
      {"select count(*) as N from T where Txt <> {}", {"'abc'", "'ABC'", "Null"}},
      {"select top 2 ID from T where ID > {} order by ID", {"0", "2", "4"}},
      {"select ID, Whole from T where ID < 5 order by {} desc", {"1", "2", "1"}},
      {"select ID from T where iif(Whole > {}, True, False) order by ID", {"0", "11", "-6"}},
      {"select ID, mid(Txt, {}, 2) as Part from T order by ID", {"1", "2", "Null"}},
      {"select Nothing from T where ID = {}", {"1", "2"}},
  };
  db::DatabaseRef plain = uncached();
  db::DatabaseRef cached = cachedConnection();
  for (const Shape& shape : shapes) {
    for (const std::string& literal : shape.literals) {
      const std::string jet = replaced(shape.statement, literal);
      EXPECT_EQ(read(*cached, jet), read(*plain, jet)) << engineName(GetParam()) << ": " << jet;
    }
  }
  // Statements that differ in the values of texts, whole numbers, dates and Yes/No share one plan.
  db::DatabaseRef shared = cachedConnection();
  for (const char* jet : {"select ID from T where Txt = 'abc' and Whole > 1 and Dt < #2030-01-01# and YN <> True",
                          "select ID from T where Txt = 'O''Brien' and Whole > 5 and Dt < #1/2/2020# and YN <> False",
                          "select ID from T where Txt = 'Straße' and Whole > 0 and Dt < #2020-01-02 10:11:12# and YN <> True"})
    EXPECT_EQ(read(*shared, jet), read(*plain, jet)) << jet;
  EXPECT_EQ(*cachedCount(shared), 1u);
}

// Writes: the same statements through the cache and without it give the same stored values and
// the same failures.
TEST_P(StatementCache, HitsWriteWhatStatementsPreparedFromTheirTextWrite) {
  runAll(db_, {"create table W (ID long, Txt text(50), Num double, Dt datetime, YN yesno, Req text(10) not null)"});
  const std::vector<std::string> values = {
      "'plain', 1, #2020-01-02#, True, 'r'",     "'O''Brien', 2.5, #1/2/2020 10:11:12#, False, 'r'",
      "'Ärger ß', -3, Null, Null, 'r'",          "Null, Null, #2020-01-02#, True, ''",
      "'12', 12, #2020-01-02#, -1, 'r'",         "'', 0, #2020-01-02#, 0, 'r'",
      "'x', 1, #2020-01-02#, True, Null",        "'y', 'text', #2020-01-02#, True, 'r'",
  };
  // One run: the outcomes of the statements, then the rows they left (removed afterwards).
  auto write = [&](db::cDatabase& db) {
    std::vector<std::string> outcomes;
    int id = 0;
    for (const std::string& v : values) {
      const bool ran = db.Execute("insert into W (ID, Txt, Num, Dt, YN, Req) values (" + std::to_string(++id) + ", " + v + ")");
      outcomes.push_back(ran ? "ran" : "failed: " + db.LastFailure());
      const bool changed = db.Execute("update W set Txt = Txt & 'z', Num = Num + 1 where ID = " + std::to_string(id));
      outcomes.push_back(changed ? "ran" : "failed: " + db.LastFailure());
    }
    outcomes.push_back(read(db, "select ID, Txt, Num, Dt, YN, Req from W order by ID"));
    EXPECT_TRUE(db.Execute("delete from W where ID > 0"));
    return outcomes;
  };
  db::DatabaseRef plain = uncached();
  db::DatabaseRef cached = cachedConnection();
  EXPECT_EQ(write(*cached), write(*plain));
  // Once more through the warm cache: every statement a hit.
  EXPECT_EQ(write(*cached), write(*plain));
}

// Statements of one shape whose values fail in different ways (a text too long for its column, a
// number too large for it, a text that is no number or date, a division by zero), also where no
// row is touched, succeed and fail through the cache exactly as from their text, with the same
// messages, outside a transaction and inside one; and leave the same rows.
TEST_P(StatementCache, HitsFailWhereStatementsPreparedFromTheirTextFail) {
  runAll(db_, {"create table V (ID long, Txt text(5), Small short, Num double, Dt datetime, YN yesno)",
               "insert into V values (1, 'a', 1, 1, #2020-01-02#, True)"});
  const std::vector<Shape> shapes = {
      {"update V set Txt = {} where ID = -1", {"'ab'", "'abcdefgh'", "'abc'", "'abcdefghij'", "Null"}},
      {"update V set Txt = {} where ID = 1", {"'ab'", "'abcdefgh'", "'b'", "''"}},
      {"update V set Small = {} where ID = -1", {"1", "100000", "2", "3000000000", "'4'", "'x'"}},
      {"update V set Small = {} where ID = 1", {"'7'", "'x'", "'8'", "'1e3'", "40000", "9"}},
      {"update V set Num = 1 / {} where ID = -1", {"2", "0", "4", "0"}},
      {"update V set Num = Num + {} where ID = 1", {"2", "'3'", "'three'", "4"}},
      {"update V set Dt = {} where ID = 1", {"#2020-01-03#", "'2021-05-06'", "'no date'", "#1999-12-31 23:59:59#"}},
      {"update V set YN = {} where ID = 1", {"True", "5", "False", "-1", "'yes'"}},
      {"insert into V (ID, Txt) values ({}, 'n')", {"2", "3000000000", "3", "'x'", "'4'"}},
      {"delete from V where Txt = {} and ID = -1", {"'a'", "'abcdefgh'", "12", "Null"}},
      {"delete from V where Small = {} and ID > 1", {"100000", "'x'", "3000000000", "1"}},
  };
  const std::vector<Shape> reads = {
      {"select ID, {} as Lit from V where ID = 1", {"'x'", "5", "3000000000", "#2020-01-02#", "Null", "True", "'é'"}},
      {"select ID from V where Small = {}", {"1", "100000", "'x'", "'1'", "3000000000"}},
      {"select ID from V where Dt > {}", {"#2019-01-01#", "'2019-01-01'", "'no date'", "#2030-01-01#"}},
      {"select ID, Txt & {} as J from V where ID = 1", {"'x'", "5", "Null", "#2020-01-02#", "True"}},
      {"select ID from V where Num / {} > 0 and ID = -1", {"1", "0", "2"}},
  };
  auto run = [&](db::cDatabase& db, bool transaction) {
    std::vector<std::string> outcomes;
    if (transaction) db.BeginTrans();
    for (const Shape& shape : shapes)
      for (const std::string& literal : shape.literals) {
        const std::string jet = replaced(shape.statement, literal);
        outcomes.push_back(jet + ": " + (db.Execute(jet) ? "ran" : "failed: " + db.LastFailure()));
      }
    for (const Shape& shape : reads)
      for (const std::string& literal : shape.literals) outcomes.push_back(read(db, replaced(shape.statement, literal)));
    if (transaction) db.CommitTrans();
    outcomes.push_back(read(db, "select * from V order by ID"));
    EXPECT_TRUE(db.Execute("delete from V where ID > 1"));
    EXPECT_TRUE(db.Execute("update V set Txt = 'a', Small = 1, Num = 1, Dt = #2020-01-02#, YN = True where ID = 1"));
    return outcomes;
  };
  db::DatabaseRef plain = uncached();
  db::DatabaseRef cached = cachedConnection();
  for (const bool transaction : {false, true, false}) {
    const std::vector<std::string> expected = run(*plain, transaction);
    const std::vector<std::string> got = run(*cached, transaction);
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], expected[i]) << engineName(GetParam());
  }
}

// Between two statements of one shape the schema changes: the second reads the fresh schema.
TEST_P(StatementCache, ASchemaChangeBetweenTwoStatementsOfOneShapeGivesTheFreshResult) {
  db::DatabaseRef cached = cachedConnection();
  db::DatabaseRef plain = uncached();
  runAll(cached, {"create table S (ID long, V text(10))", "insert into S (ID, V) values (1, 'a')",
                  "insert into S (ID, V) values (2, 'B')"});
  const std::string q = "select * from S where V = 'b' and ID > ";
  EXPECT_EQ(read(*cached, q + "0"), read(*plain, q + "0"));
  // Recreated with other types: V now a number, compared without the text collation.
  ASSERT_TRUE(cached->DropTable("S"));
  runAll(cached, {"create table S (ID long, V long, W text(5))", "insert into S (ID, V, W) values (1, 7, 'w')"});
  EXPECT_EQ(read(*cached, "select * from S where V = 7 and ID > 0"), read(*plain, "select * from S where V = 7 and ID > 0"));
  // A column added by another connection, outside this one's knowledge.
  runAll(plain, {"drop table S", "create table S (ID long, V text(10), Extra long)",
                 "insert into S (ID, V, Extra) values (3, 'b', 9)"});
  EXPECT_EQ(read(*cached, q + "1"), read(*plain, q + "1"));
  EXPECT_NE(read(*cached, q + "1").find("Extra"), std::string::npos);
  // A column dropped (the table made anew by another connection, as select-into would).
  runAll(plain, {"select ID, V into S2 from S", "drop table S", "select ID, V into S from S2"});
  EXPECT_EQ(read(*cached, q + "2"), read(*plain, q + "2"));
  EXPECT_EQ(read(*cached, q + "2").find("Extra"), std::string::npos);
  // Writes of one shape after the table changed under them.
  ASSERT_TRUE(cached->Execute("insert into S (ID, V) values (10, 'k')"));
  runAll(plain, {"drop table S", "create table S (ID long, V long)"});
  EXPECT_EQ(cached->Execute("insert into S (ID, V) values (11, 'k')"), plain->Execute("insert into S (ID, V) values (12, 'k')"));
  EXPECT_EQ(read(*cached, "select * from S order by ID"), read(*plain, "select * from S order by ID"));
  // A view recreated with another definition, by this connection and by the other.
  const std::string v = "select * from VS where ID > 0 order by ID";
  ASSERT_TRUE(cached->CreateView("VS", "select ID, V from S"));
  const std::string before = read(*cached, v);
  cached->DropView("VS");
  ASSERT_TRUE(cached->CreateView("VS", "select ID, V, ID * 2 as Twice from S"));
  EXPECT_NE(read(*cached, v), before);
  EXPECT_NE(read(*cached, v).find("Twice"), std::string::npos);
}

// A table recreated with other types under a statement of a known shape, by SQL outside the
// dialect (a script, another program): the cache must not run the old plan.
TEST_P(StatementCache, ATableRecreatedByAnotherProgramIsReadFresh) {
  db::DatabaseRef cached = cachedConnection();
  runAll(cached, {"create table R (ID long, V text(10))", "insert into R (ID, V) values (1, 'Abc')"});
  const std::string q = "select V from R where V = 'abc' and ID = ";
  ASSERT_NE(read(*cached, q + "1").find("Abc"), std::string::npos);
  if (GetParam() == Engine::Sqlite) {
    db::RunSqliteScript(uncached(), "DROP TABLE R; CREATE TABLE R (ID INTEGER, V BLOB); INSERT INTO R VALUES (1, 'abc');");
  } else {
    db::DatabaseRef other = uncached();
    db::RunPostgresStatement(other, "DROP TABLE \"R\"");
    db::RunPostgresStatement(other, "CREATE TABLE \"R\" (\"ID\" integer, \"V\" bytea)");
  }
  EXPECT_EQ(read(*cached, q + "1"), read(*uncached(), q + "1"));
}

// Inside a transaction: a table another connection recreates before this transaction used it,
// and one this connection recreates itself (through its own SQL or the component) after using
// it, read as without the cache; so does one whose nested transaction was rolled back (its hold
// on the table given back) before another connection recreated it. A PostgreSQL transaction
// reads the catalogue as its snapshot has it, with or without the cache: there the reads are
// compared with those of a connection without cache going through the same transactions.
TEST_P(StatementCache, InsideATransactionTablesChangedSinceReadAsWithoutTheCache) {
  const bool pg = GetParam() == Engine::Postgres;
  db::DatabaseRef cached = cachedConnection();
  db::DatabaseRef twin = uncached();
  db::DatabaseRef other = uncached();
  // A change that waited for a lock this test forgot would fail instead of hanging.
  if (pg) db::RunPostgresStatement(other, "SET lock_timeout = '10s'");
  runAll(cached, {"create table A (ID long, V text(10))", "insert into A (ID, V) values (1, 'a')",
                  "create table B (ID long, V text(10))", "insert into B (ID, V) values (1, '7')",
                  "create table C (ID long)", "insert into C (ID) values (1)"});
  const std::string qa = "select ID, V from A where V = 'A' and ID > 0", qb = "select ID, V from B where V = '7' and ID > 0",
                    qc = "select ID from C where ID > 0";
  auto recreateB = [&](const db::DatabaseRef& by, const std::string& type, const std::string& value) {
    if (pg) {
      db::RunPostgresStatement(by, "DROP TABLE \"B\"");
      db::RunPostgresStatement(by, "CREATE TABLE \"B\" (\"ID\" integer, \"V\" " + type + ")");
      db::RunPostgresStatement(by, "INSERT INTO \"B\" VALUES (1, " + value + ")");
    } else {
      db::RunSqliteScript(by, "DROP TABLE B; CREATE TABLE B (ID INTEGER, V " + type + "); INSERT INTO B VALUES (1, " +
                                  value + ");");
    }
  };
  // The shapes used in turn (each table held by the transaction and checked for after), by this
  // connection and, on PostgreSQL, by its twin.
  auto use = [&](std::initializer_list<std::string> queries) {
    for (int pass = 0; pass < 2; ++pass)
      for (const std::string& q : queries) {
        read(*cached, q);
        if (pg) read(*twin, q);
      }
  };
  auto begin = [&] {
    cached->BeginTrans();
    if (pg) twin->BeginTrans();
  };
  auto commit = [&] {
    cached->CommitTrans();
    if (pg) twin->CommitTrans();
  };
  // What a connection without cache reads: the twin's read in the same transactions, or once
  // the transactions are over another connection's.
  auto uncachedRead = [&](const std::string& q) { return read(*(pg ? twin : other), q); };
  use({qa, qb, qc});

  // Another connection, before this transaction read anything.
  begin();
  recreateB(other, "integer", "7");
  EXPECT_EQ(read(*cached, qb), uncachedRead(qb));
  commit();
  EXPECT_EQ(read(*cached, qb), read(*other, qb));
  EXPECT_NE(read(*cached, qb).find("V/3 "), std::string::npos);

  // B back to text, its statement known as such: a rendering for a text V compares it in the
  // text collation, which a number column refuses.
  auto textB = [&] {
    recreateB(other, "text", "'7'");
    EXPECT_EQ(read(*cached, qb), read(*other, qb));
  };

  // This connection, through its own SQL, while the transaction holds the table (what it reads
  // is compared once it is committed).
  textB();
  cached->BeginTrans();
  for (const std::string& q : {qa, qb, qc, qa, qb, qc}) read(*cached, q);
  recreateB(cached, "integer", "7");
  std::string inside = read(*cached, qb);
  cached->CommitTrans();
  EXPECT_EQ(inside, read(*other, qb));
  EXPECT_NE(inside.find("V/3 "), std::string::npos);

  // Through the component.
  textB();
  cached->BeginTrans();
  for (const std::string& q : {qa, qb, qc, qa, qb, qc}) read(*cached, q);
  ASSERT_TRUE(cached->DropTable("B"));
  runAll(cached, {"create table B (ID long, V long)", "insert into B (ID, V) values (1, 7)"});
  inside = read(*cached, qb);
  cached->CommitTrans();
  EXPECT_EQ(inside, read(*other, qb));
  EXPECT_NE(inside.find("V/3 "), std::string::npos);

  // A nested transaction used B and was rolled back: B is another connection's to change.
  textB();
  begin();
  if (pg) use({qa, qc});
  cached->BeginTrans();
  if (pg) twin->BeginTrans();
  use({qa, qb, qc});
  cached->RollbackTrans();
  if (pg) twin->RollbackTrans();
  if (!pg) commit();  // the file is another connection's to change only between transactions
  recreateB(other, "integer", "7");
  if (!pg) begin();
  EXPECT_EQ(read(*cached, qb), uncachedRead(qb));
  commit();
  EXPECT_EQ(read(*cached, qb), read(*other, qb));
  EXPECT_NE(read(*cached, qb).find("V/3 "), std::string::npos);
}

// Inside a transaction a statement of a known shape that fails undoes only itself: the ones
// before and after it stay, as without the cache, and a rollback undoes them all.
TEST_P(StatementCache, InsideATransactionAFailingHitUndoesOnlyItself) {
  runAll(db_, {"create table F (ID long, Req text(10) not null)"});
  auto run = [&](db::cDatabase& db, bool commit) {
    std::vector<std::string> outcomes;
    db.BeginTrans();
    for (int id = 1; id <= 6; ++id) {
      // Every third record lacks its required value.
      const std::string value = id % 3 == 0 ? "Null" : "'r" + std::to_string(id) + "'";
      const bool ran = db.Execute("insert into F (ID, Req) values (" + std::to_string(id) + ", " + value + ")");
      outcomes.push_back(ran ? "ran" : "failed: " + db.LastFailure());
      outcomes.push_back(read(db, "select ID, Req from F where ID <= " + std::to_string(id) + " order by ID"));
    }
    if (commit) db.CommitTrans();
    else db.RollbackTrans();
    outcomes.push_back(read(db, "select ID, Req from F where ID > 0 order by ID"));
    EXPECT_TRUE(db.Execute("delete from F where ID > 0"));
    return outcomes;
  };
  // A query that fails while its rows come in (a division by zero on PostgreSQL), known and
  // not, between two writes.
  auto query = [&](db::cDatabase& db) {
    std::vector<std::string> outcomes;
    db.BeginTrans();
    for (int from = 1; from <= 3; ++from) {
      outcomes.push_back(read(db, "select ID, 100 / Whole as Q from T where ID >= " + std::to_string(from) + " order by ID"));
      outcomes.push_back(db.Execute("insert into F (ID, Req) values (" + std::to_string(from) + ", 'q')") ? "ran" : "failed");
    }
    db.CommitTrans();
    outcomes.push_back(read(db, "select ID, Req from F where ID > 0 order by ID"));
    EXPECT_TRUE(db.Execute("delete from F where ID > 0"));
    return outcomes;
  };
  db::DatabaseRef plain = uncached();
  db::DatabaseRef cached = cachedConnection();
  const std::vector<std::string> got = query(*cached);
  EXPECT_EQ(got, query(*plain));
  if (GetParam() == Engine::Postgres) {
    EXPECT_EQ(got[2].rfind("error", 0), 0u) << got[2];  // the second run of the query, a hit
  }
  for (const bool commit : {true, false, true}) {
    const std::vector<std::string> expected = run(*plain, commit);
    EXPECT_EQ(run(*cached, commit), expected);
    // Committed: every record but the failed ones; rolled back: none.
    EXPECT_EQ(expected.back().find("r3"), std::string::npos);
    EXPECT_EQ(expected.back().find("r5") != std::string::npos, commit);
  }
}

// Inside a transaction, whether a table exists follows this connection's own changes (through
// the component, its own SQL, a nested transaction rolled back) and another connection's made
// before the transaction read anything.
TEST_P(StatementCache, InsideATransactionTableExistsFollowsTheChanges) {
  const bool pg = GetParam() == Engine::Postgres;
  db::DatabaseRef cached = cachedConnection();
  db::DatabaseRef other = uncached();
  auto raw = [&](const db::DatabaseRef& by, const std::string& sql) {
    if (pg) db::RunPostgresStatement(by, sql);
    else db::RunSqliteScript(by, sql);
  };
  cached->BeginTrans();
  raw(other, "CREATE TABLE \"N4\" (\"ID\" integer)");
  EXPECT_TRUE(cached->TableExists("N4"));
  EXPECT_FALSE(cached->TableExists("N1"));
  ASSERT_TRUE(cached->Execute("create table N1 (ID long)"));
  EXPECT_TRUE(cached->TableExists("N1"));
  EXPECT_TRUE(cached->TableExists("n1"));
  ASSERT_TRUE(cached->DropTable("N1"));
  EXPECT_FALSE(cached->TableExists("N1"));
  EXPECT_FALSE(cached->TableExists("N2"));
  raw(cached, "CREATE TABLE \"N2\" (\"ID\" integer)");
  EXPECT_TRUE(cached->TableExists("N2"));
  cached->BeginTrans();
  EXPECT_FALSE(cached->TableExists("N3"));
  ASSERT_TRUE(cached->Execute("create table N3 (ID long)"));
  EXPECT_TRUE(cached->TableExists("N3"));
  cached->RollbackTrans();
  EXPECT_FALSE(cached->TableExists("N3"));
  EXPECT_TRUE(cached->TableExists("N2"));
  cached->CommitTrans();
  EXPECT_TRUE(other->TableExists("N2"));
  EXPECT_FALSE(other->TableExists("N3"));
}

TEST_P(StatementCache, StaysWithinItsBound) {
  db::DatabaseRef cached = cachedConnection(4);
  for (int i = 0; i < 30; ++i) {
    // Each statement has a shape of its own (the kept number after TOP differs).
    const std::string jet = "select top " + std::to_string(i + 1) + " ID from T where ID > " + std::to_string(i % 3);
    EXPECT_EQ(read(*cached, jet), read(*uncached(), jet));
    EXPECT_LE(*cachedCount(cached), 4u);
  }
  EXPECT_EQ(*cachedCount(cached), 4u);
  // A used plan stays while others come and go.
  for (int i = 0; i < 10; ++i) {
    read(*cached, "select ID from T where ID = " + std::to_string(i));
    read(*cached, "select Txt from T where ID = " + std::to_string(i));
  }
  EXPECT_EQ(*cachedCount(cached), 4u);
  EXPECT_EQ(*cachedCount(uncached()), 0u);
}

// The trace holds every statement as received, hits included, with the values it ran with.
TEST_P(StatementCache, TheTraceShowsEachStatementAsReceived) {
  TempDir dir;
  const std::string trace = dir.file("trace.txt");
  {
    db::DatabaseRef cached = cachedConnection(64, trace);
    read(*cached, "select Txt from T where ID = 1 and Txt <> 'it''s'");
    read(*cached, "select Txt from T where ID = 2 and Txt <> 'Ünïcode'");
    ASSERT_TRUE(cached->Execute("update T set Memo = 'one' where ID = 4"));
    ASSERT_TRUE(cached->Execute("update T set Memo = 'two' where ID = 5"));
  }
  std::ifstream in(trace);
  std::stringstream all;
  all << in.rdbuf();
  std::vector<std::string> received;
  for (std::string line; std::getline(all, line);)
    if (line.rfind("jet: ", 0) == 0) received.push_back(line.substr(5));
  EXPECT_EQ(received, (std::vector<std::string>{"select Txt from T where ID = 1 and Txt <> 'it''s'",
                                                "select Txt from T where ID = 2 and Txt <> 'Ünïcode'",
                                                "update T set Memo = 'one' where ID = 4",
                                                "update T set Memo = 'two' where ID = 5"}));
  EXPECT_NE(all.str().find("'Ünïcode'"), std::string::npos);
  EXPECT_NE(all.str().find("'it''s'"), std::string::npos);  // a quote in a value, doubled as written
  EXPECT_NE(all.str().find("'two'"), std::string::npos);
  EXPECT_NE(all.str().find("=> 1 rows changed"), std::string::npos);
}

// The line of the trace file that begins an outcome (an engine's reason may go on with details).
std::string firstLine(std::string_view text) { return std::string(text.substr(0, text.find('\n'))); }

// A trace listener hears every entry the trace file receives (operation, statement as received,
// outcome), hits, failures and transactions included, in order; without a trace file as well.
TEST_P(StatementCache, ATraceListenerHearsWhatTheTraceFileShows) {
  TempDir dir;
  const std::string trace = dir.file("trace.txt");
  std::vector<std::string> heard, alone;
  auto work = [](db::cDatabase& db) {
    db.BeginTrans();
    read(db, "select Txt from T where ID = 1");
    read(db, "select Txt from T where ID = 2");  // a hit
    EXPECT_TRUE(db.Execute("update T set Memo = 'x' where ID = 3"));
    EXPECT_FALSE(db.Execute("update T set Missing = 1 where ID = 3"));
    read(db, "select Nothing from T");
    db.CommitTrans();
  };
  {
    db::DatabaseRef both = cachedConnection(64, trace, [&](const db::TracedStatement& s) {
      heard.push_back(std::string(s.operation) + "|" + std::string(s.received) + "|" + firstLine(s.outcome));
    });
    work(*both);
    db::DatabaseRef listenerOnly = cachedConnection(64, "", [&](const db::TracedStatement& s) {
      alone.push_back(std::string(s.operation) + "|" + std::string(s.received) + "|" + firstLine(s.outcome));
    });
    work(*listenerOnly);
  }
  std::ifstream in(trace);
  std::vector<std::string> filed;
  std::string entry;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("-- ", 0) == 0) entry = line.substr(3) + "|";
    else if (line.rfind("jet: ", 0) == 0) entry += line.substr(5) + "|";
    else if (line.rfind("=> ", 0) == 0) filed.push_back(entry + line.substr(3));
  }
  ASSERT_EQ(filed.size(), 7u);
  EXPECT_EQ(heard, filed);
  EXPECT_EQ(alone, filed);
  EXPECT_EQ(heard[2], "OpenRecordset|select Txt from T where ID = 2|1 rows");
  EXPECT_EQ(heard[3], "Execute|update T set Memo = 'x' where ID = 3|1 rows changed");
  EXPECT_EQ(heard[4].rfind("Execute|update T set Missing = 1 where ID = 3|error: ", 0), 0u) << heard[4];
}

// The kind and the fields of a table follow its changes, by this connection or another, while
// statements of every kind run between them.
TEST_P(StatementCache, TableKindsAndFieldsFollowSchemaChangesByAnyone) {
  db::DatabaseRef cached = cachedConnection();
  db::DatabaseRef other = uncached();
  auto kind = [&](std::string name) { return cached->GetTableType(name); };
  auto fields = [&](const std::string& name) {
    std::string out;
    for (const db::TableRef& t : cached->Tables())
      if (t->Name() == name)
        for (const db::FieldRef& f : t->Fields()->Items()) out += f->Name() + " ";
    return out;
  };
  runAll(cached, {"create table K (ID long, Name text(10))"});
  read(*cached, "select * from K where ID = 1");
  EXPECT_EQ(kind("K"), db::kTableTypeOther);
  EXPECT_EQ(fields("K"), "ID Name ");
  runAll(other, {"drop table K", "create table K (UniqueKey long, RecStatus long, ID long)"});
  EXPECT_EQ(kind("K"), db::kTableTypeOru);
  EXPECT_EQ(fields("K"), "UniqueKey RecStatus ID ");
  ASSERT_TRUE(cached->DropTable("K"));
  runAll(cached, {"create table K (Name text(10), Type text(10), PageNumber long, DataTable text(10))"});
  EXPECT_EQ(kind("K"), db::kTableTypeView);
  EXPECT_EQ(fields("K"), "Name Type PageNumber DataTable ");
}

OVT_ON_EVERY_ENGINE(StatementCache);

}  // namespace
}  // namespace ovt::test
