#include "support/engines.h"

#include <unistd.h>

#include <atomic>

#include "ovtbldiff/dbcomp/postgres.h"
#include "ovtbldiff/dbcomp/sqlite.h"
#include "ovtbldiff/runtime/error.h"
#include "ovtbldiff/verify.h"

namespace ovt::test {

std::string engineName(Engine e) { return e == Engine::Sqlite ? "SQLite" : "PostgreSQL"; }

namespace {

std::string freshSchema(const char* which) {
  static std::atomic<int> counter{0};
  return "t" + std::to_string(getpid()) + "_" + std::to_string(++counter) + "_" + which;
}

std::string pgLocation(const std::string& schema) {
  return PgCluster::instance().connectionString() + " schema=" + schema;
}

}  // namespace

EntryPair::EntryPair(Engine engine) : engine_(engine) {
  if (engine_ == Engine::Postgres) {
    schemaA_ = freshSchema("a");
    schemaB_ = freshSchema("b");
  }
}

EntryPair::~EntryPair() {
  if (engine_ != Engine::Postgres || PgCluster::instance().connectionString().empty()) return;
  try {
    db::DatabaseRef db = db::OpenPostgres(pgLocation(schemaA_));
    db::RunPostgresStatement(db, "DROP SCHEMA IF EXISTS \"" + schemaA_ + "\", \"" + schemaB_ + "\" CASCADE");
  } catch (const ComError&) {
    // A schema left behind goes with the cluster at the end of the program.
  }
}

std::string EntryPair::firstLocation() const {
  return engine_ == Engine::Sqlite ? dir_.file("first.db") : pgLocation(schemaA_);
}

std::string EntryPair::secondLocation() const {
  return engine_ == Engine::Sqlite ? dir_.file("second.db") : pgLocation(schemaB_);
}

db::DatabaseRef EntryPair::first(bool linked, const std::string& trace) {
  if (linked && engine_ == Engine::Sqlite) second();  // the link file must exist before it is attached
  return openLocation(firstLocation(), linked ? secondLocation() : "", trace);
}

db::DatabaseRef EntryPair::second() {
  if (engine_ == Engine::Sqlite) return db::OpenSqlite(secondLocation());
  return db::OpenPostgres(secondLocation());
}

db::DatabaseRef openLocation(const std::string& location, const std::string& link, const std::string& trace,
                             bool literal, bool binary) {
  auto set = [&](auto& o) {
    o.traceFile = trace;
    o.binaryCompare = binary;
    o.literalStatements = literal;
  };
  if (db::IsPostgresLocation(location)) {
    db::PostgresOptions o;
    set(o);
    o.link = link;
    return db::OpenPostgres(location, o);
  }
  db::SqliteOptions o;
  set(o);
  o.linkFile = link;
  return db::OpenSqlite(location, o);
}

void copyTables(const std::string& file, const db::DatabaseRef& to) {
  auto from = db::OpenSqlite(file);
  for (const auto& t : from->Tables()) {
    std::string create, names;
    bool counted = false;
    for (const auto& f : t->Fields()->Items()) {
      const int32_t type = f->DataType();
      const bool counter = f->Name() == "UniqueKey";
      counted = counted || counter;
      const char* jet = counter ? "counter" : type == db::adInteger ? "long" : type == db::adDouble ? "double" : "text(200)";
      create += (create.empty() ? "" : ", ") + ("[" + f->Name() + "] ") + jet;
      names += (names.empty() ? "" : ", ") + ("[" + f->Name() + "]");
    }
    ASSERT_TRUE(to->Execute("create table [" + t->Name() + "] (" + create + ")")) << to->LastFailure();
    auto rs = from->OpenRecordset("select * from [" + t->Name() + "]", 3, "");
    for (; !rs->IsEOF(); rs->MoveNext()) {
      std::string values;
      for (const auto& f : t->Fields()->Items())
        values += (values.empty() ? "" : ", ") + verify::literal(rs->FieldValue(f->Name()));
      ASSERT_TRUE(to->Execute("insert into [" + t->Name() + "] (" + names + ") values (" + values + ")"))
          << to->LastFailure();
    }
    // New records (a record copied in) are numbered after the copied ones, as in the file.
    if (counted && db::IsPostgresLocation(to->Location()))
      db::RunPostgresStatement(to, "SELECT setval(pg_get_serial_sequence('\"" + t->Name() + "\"', 'UniqueKey'), "
                                   "(SELECT max(\"UniqueKey\") FROM \"" + t->Name() + "\"))");
  }
}

std::string rowsText(const db::DatabaseRef& db, const std::string& sql) {
  VariantArray all = db->OpenRecordset(sql, 3, "")->GetRows();
  std::string out;
  if (!all.allocated()) return out;
  for (int32_t r = 0; r <= all.ubound(2); ++r) {
    for (int32_t c = 0; c <= all.ubound(1); ++c) out += (c ? "|" : "") + concatText(all.at(c, r));
    out += "\n";
  }
  return out;
}

void runAll(const db::DatabaseRef& db, const std::vector<std::string>& statements) {
  for (const std::string& s : statements) ASSERT_TRUE(db->Execute(s)) << s << ": " << db->LastFailure();
}

const std::vector<std::string>& surveyStatements() {
  static const std::vector<std::string> statements = {
      "create table [Survey] ([UniqueKey] counter, [RecStatus] long, [Name] text(50), [Age] short, [Born] datetime, "
      "[Member] yesno, [Income] currency, [Note] memo)",
      "insert into [Survey] (RecStatus, Name, Age, Born, Member, Income, Note) "
      "values (1, \"O'Brien\", 40, #1985-03-01#, True, 12.5, null)",
      "insert into [Survey] (RecStatus, Name, Age, Born, Member, Income, Note) "
      "values (1, 'smith', 7, #12/5/2018 10:30:00#, False, 3, 'x')",
      "insert into [Survey] (RecStatus, Name, Age) values (0, null, null)"};
  return statements;
}

std::vector<std::string> column(const db::DatabaseRef& db, const std::string& sql) {
  std::vector<std::string> out;
  VariantArray rows = db->OpenRecordset(sql, 3, "")->GetRows();
  if (rows.allocated())
    for (int32_t r = 0; r <= rows.ubound(2); ++r) out.push_back(concatText(rows.at(0, r)));
  return out;
}

}  // namespace ovt::test
