#include "support/engines.h"

#include <unistd.h>

#include <atomic>

#include "ovtbldiff/dbcomp/postgres.h"
#include "ovtbldiff/dbcomp/sqlite.h"
#include "ovtbldiff/runtime/error.h"

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
  if (engine_ == Engine::Sqlite) {
    db::SqliteOptions o;
    if (linked) {
      second();  // the link file must exist before it is attached
      o.linkFile = secondLocation();
    }
    o.traceFile = trace;
    return db::OpenSqlite(firstLocation(), o);
  }
  db::PostgresOptions o;
  if (linked) o.link = secondLocation();
  o.traceFile = trace;
  return db::OpenPostgres(firstLocation(), o);
}

db::DatabaseRef EntryPair::second() {
  if (engine_ == Engine::Sqlite) return db::OpenSqlite(secondLocation());
  return db::OpenPostgres(secondLocation());
}

db::DatabaseRef openLocation(const std::string& location) {
  return db::IsPostgresLocation(location) ? db::OpenPostgres(location) : db::OpenSqlite(location);
}

void runAll(const db::DatabaseRef& db, std::initializer_list<std::string> statements) {
  for (const std::string& s : statements) ASSERT_TRUE(db->Execute(s)) << s << ": " << db->LastFailure();
}

}  // namespace ovt::test
