// The database engines the member suites run on, from the same test code: SQLite files in a
// temporary folder, and schemas of the throwaway PostgreSQL cluster. A suite derives from
// EngineTest and is instantiated with OVT_ON_EVERY_ENGINE(Suite).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ovtbldiff/dbcomp/database.h"
#include "support/pg_cluster.h"
#include "support/temp_dir.h"

namespace ovt::test {

enum class Engine { Sqlite, Postgres };

std::string engineName(Engine e);

// Two entries of one survey on one engine, empty when made: "first" (the connection's own
// tables) and "second" (reached as the link tables, or opened on its own). Removed afterwards.
class EntryPair {
 public:
  explicit EntryPair(Engine engine);
  ~EntryPair();
  EntryPair(const EntryPair&) = delete;
  EntryPair& operator=(const EntryPair&) = delete;

  // The first entry, with the second as its link tables when `linked`.
  db::DatabaseRef first(bool linked = true, const std::string& trace = "");
  // The second entry on its own.
  db::DatabaseRef second();
  // Where each entry is: a file path, or a PostgreSQL location.
  std::string firstLocation() const;
  std::string secondLocation() const;
  Engine engine() const { return engine_; }

 private:
  Engine engine_;
  TempDir dir_;
  std::string schemaA_, schemaB_;
};

// Opens a connection on a location as the tool does: a PostgreSQL location, else a SQLite file;
// with the location of its link tables, a trace file, literal renderings only, binary text comparison.
db::DatabaseRef openLocation(const std::string& location, const std::string& link = "", const std::string& trace = "",
                             bool literal = false, bool binary = false);

// Copies every table of a SQLite file into `to` (types by their codes, values as literals):
// the demo's entries on any engine.
void copyTables(const std::string& file, const db::DatabaseRef& to);

// Every row of a query, one line per row, values separated by "|".
std::string rowsText(const db::DatabaseRef& db, const std::string& sql);

// Runs Jet-dialect statements (one per element) and fails the test on the first refused one.
void runAll(const db::DatabaseRef& db, const std::vector<std::string>& statements);

// The statements that make the Survey table of the connection tests: a form table of every
// declared type with three records (O'Brien, smith, and one of Nulls marked deleted).
const std::vector<std::string>& surveyStatements();

// The first column of every row of a query, as text ("" for Null), in order.
std::vector<std::string> column(const db::DatabaseRef& db, const std::string& sql);

class EngineTest : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    if (GetParam() == Engine::Postgres) OVT_NEED_PG();
    pair_ = std::make_unique<EntryPair>(GetParam());
  }
  EntryPair& entries() { return *pair_; }

 private:
  std::unique_ptr<EntryPair> pair_;
};

}  // namespace ovt::test

#define OVT_ON_EVERY_ENGINE(Suite)                                                            \
  INSTANTIATE_TEST_SUITE_P(Engines, Suite,                                                    \
                           ::testing::Values(::ovt::test::Engine::Sqlite, ::ovt::test::Engine::Postgres), \
                           [](const ::testing::TestParamInfo<::ovt::test::Engine>& i) {       \
                             return ::ovt::test::engineName(i.param);                         \
                           })
