#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/scripted_db.h"
#include "ovtbldiff/gateway.h"

namespace ovt {
namespace {

using test::raisedBy;
using test::dataTableQuery;
using test::Rows;
using test::ScriptedDatabase;

std::shared_ptr<ScriptedDatabase> catalogueDb() {
  auto db = std::make_shared<ScriptedDatabase>();
  db->existing = {{"viewVisit", true}, {"Visit", true}, {"viewEmpty", true}, {"viewNull", true}};
  db->tableTypes = {{"viewVisit", 1}, {"Visit", 0}, {"viewEmpty", 1}, {"viewNull", 1}};
  db->answers[dataTableQuery("viewVisit")] = Rows{{"DataTable"}, {}, {{"Visit"}, {"Other"}}};
  db->answers[dataTableQuery("viewEmpty")] = Rows{{"DataTable"}, {}, {}};
  db->answers[dataTableQuery("viewNull")] = Rows{{"DataTable"}, {}, {{Variant(Null{})}}};
  return db;
}

TEST(GetOruDataTable, ReadsTheDataSourceRow) {
  auto db = catalogueDb();
  cDataGetway g;
  db::DatabaseRef arg = db;
  // The first record counts when several data-source rows answer.
  EXPECT_EQ(g.GetOruDataTable("viewVisit", &arg), "Visit");
  EXPECT_EQ(db->calls, (std::vector<std::string>{"TableExists: viewVisit", "GetTableType: viewVisit",
                                                 "OpenRecordset: " + dataTableQuery("viewVisit")}));
  EXPECT_EQ(db->options, std::vector<int32_t>{3});
  // No data-source row, or a Null DataTable: the empty string, without error.
  EXPECT_EQ(g.GetOruDataTable("viewEmpty", &arg), "");
  EXPECT_EQ(g.GetOruDataTable("viewNull", &arg), "");
}

TEST(GetOruDataTable, UsesTheStoredConnectionWhenTheArgumentIsNothing) {
  auto db = catalogueDb();
  cDataGetway g;
  g.SetDB(db);
  db::DatabaseRef nothing;
  EXPECT_EQ(g.GetOruDataTable("viewVisit", &nothing), "Visit");
  EXPECT_EQ(nothing, nullptr);
  EXPECT_EQ(g.GetOruDataTable("viewVisit"), "Visit");
}

TEST(GetOruDataTable, OtherFailuresAreSwallowed) {
  cDataGetway g;
  // No connection at all.
  EXPECT_EQ(g.GetOruDataTable("viewVisit"), "");
  // A query that cannot run.
  auto db = catalogueDb();
  db->existing["viewBroken"] = true;
  db->tableTypes["viewBroken"] = 1;
  db::DatabaseRef arg = db;
  EXPECT_EQ(g.GetOruDataTable("viewBroken", &arg), "");
}

TEST(GetOruDataTable, MissingAndNonViewTablesRaiseWithTheDefaultSource) {
  auto db = catalogueDb();
  cDataGetway g;
  db::DatabaseRef arg = db;
  ComError e = raisedBy([&] { g.GetOruDataTable("Nowhere", &arg); });
  EXPECT_EQ(e.number(), static_cast<int32_t>(0x800402C8u));
  EXPECT_EQ(e.source(), "OVTblDiffData");
  EXPECT_EQ(e.description(), "Table:Nowhere does not exist");

  e = raisedBy([&] { g.GetOruDataTable("Visit", &arg); });
  EXPECT_EQ(e.number(), static_cast<int32_t>(0x800402C9u));
  EXPECT_EQ(e.source(), "OVTblDiffData");
  EXPECT_EQ(e.description(), "Table:Visit is not a Oru VIEW table");
  EXPECT_TRUE(db->statements.empty());
}

}  // namespace
}  // namespace ovt
