// The view and grid catalogue members on real databases of every engine: a form entered into
// two entries, its catalogue tables as the data-entry system writes them, the second entry also
// reachable as the link tables of the first.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "ovtbldiff/gateway.h"
#include "ovtbldiff/runtime/error.h"
#include "support/engines.h"
#include "support/raised.h"
#include "support/scripted_db.h"

namespace ovt {
namespace {

using Row = std::tuple<std::string, std::string, int, std::string>;  // Name, Type, PageNumber, DataTable

void run(const db::DatabaseRef& db, const std::string& sql) {
  ASSERT_TRUE(db->Execute(sql)) << sql << ": " << db->LastFailure();
}

void catalogue(const db::DatabaseRef& db, const std::string& view, const std::vector<Row>& rows) {
  run(db, "create table " + view + " (Name TEXT(50), Type TEXT(20), PageNumber SHORT, DataTable TEXT(50))");
  for (const auto& [name, type, page, table] : rows)
    run(db, "insert into " + view + " (Name, Type, PageNumber, DataTable) values ('" + name + "', '" + type +
                "', " + std::to_string(page) + ", '" + table + "')");
}

// The household form: grids Members (view gvMembers), Pets (gvPets) and Rooms (gvRooms); a
// Cars grid whose data-source row is missing.
void householdForm(const db::DatabaseRef& db, const std::string& memberAgeType, bool roomsHasSource) {
  std::vector<Row> rows = {{"DATA1", "SOURCE", 0, "House"}, {"HouseNo", "NUMBER", 1, ""},
                           {"Members", "GRID", 1, "DATA2"}, {"DATA2", "SOURCE", 0, "gvMembers"},
                           {"Pets", "GRID", 2, "DATA3"},    {"DATA3", "SOURCE", 0, "gvPets"},
                           {"Rooms", "GRID", 2, "DATA4"},   {"Cars", "GRID", 2, "DATA9"}};
  if (roomsHasSource) rows.push_back({"DATA4", "SOURCE", 0, "gvRooms"});
  catalogue(db, "viewHouse", rows);
  catalogue(db, "gvMembers", {{"DATA1", "SOURCE", 0, "Member"}, {"Name", "TEXT", 1, ""},
                              {"Age", memberAgeType, 1, ""}});
  catalogue(db, "gvPets", {{"DATA1", "SOURCE", 0, "Pet"}, {"Kind", "TEXT", 1, ""}});
  catalogue(db, "gvRooms", {{"Size", "NUMBER", 1, ""}});  // no data-source row of its own
}

StringArray list2(const std::vector<std::pair<std::string, std::string>>& rows) {
  std::vector<std::vector<std::string>> r;
  for (const auto& [a, b] : rows) r.push_back({a, b});
  return StringArray::of2(r);
}

class GridCatalogueOnFiles : public test::EngineTest {
 protected:
  void SetUp() override {
    test::EngineTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ext_ = entries().second();
    householdForm(ext_, "TEXT", true);
    db_ = entries().first();
    householdForm(db_, "NUMBER", true);
    gateway_.SetDB(db_);
  }
  db::DatabaseRef db_, ext_;
  cDataGetway gateway_;
};

TEST_P(GridCatalogueOnFiles, GridListSkipsAGridWithoutItsDataSourceRow) {
  StringArray grids{"old"};
  auto rec = std::make_shared<test::TracingDatabase>(db_);  // what the member asks, in order
  db::DatabaseRef arg = rec;
  EXPECT_TRUE(gateway_.GetOruGridList("viewHouse", grids, &arg));
  EXPECT_EQ(grids, list2({{"Members", "gvMembers"}, {"Pets", "gvPets"}, {"Rooms", "gvRooms"}}));
  EXPECT_EQ(rec->calls,
            (std::vector<std::string>{"TableExists: viewHouse", "OpenRecordset: " + test::gridListQuery("viewHouse")}));
  EXPECT_EQ(rec->options, std::vector<int32_t>{3});
  // The second entry through the link tables.
  StringArray linked;
  EXPECT_TRUE(gateway_.GetOruGridList("ORULINK_viewHouse", linked));
  EXPECT_EQ(linked, grids);
  // A view without grids.
  StringArray none{"old"};
  EXPECT_FALSE(gateway_.GetOruGridList("gvPets", none));
  EXPECT_EQ(none, list2({{"", ""}}));
}

TEST_P(GridCatalogueOnFiles, DataTableAndItsErrors) {
  EXPECT_EQ(gateway_.GetOruDataTable("viewHouse"), "House");
  EXPECT_EQ(gateway_.GetOruDataTable("ORULINK_gvPets"), "Pet");
  EXPECT_EQ(gateway_.GetOruDataTable("gvRooms"), "");
  run(db_, "create table House (UniqueKey COUNTER, RecStatus LONG, HouseNo LONG)");
  const std::vector<std::tuple<std::string, int32_t, std::string>> failing = {
      {"viewNowhere", static_cast<int32_t>(0x800402C8u), "Table:viewNowhere does not exist"},
      {"House", static_cast<int32_t>(0x800402C9u), "Table:House is not a Oru VIEW table"}};
  for (const auto& [view, number, description] : failing) {
    const ComError e = test::raisedBy([&] { gateway_.GetOruDataTable(view); });
    EXPECT_EQ(e.number(), number) << view;
    EXPECT_EQ(e.description(), description) << view;
  }
}

TEST_P(GridCatalogueOnFiles, ComparableGridsOfTwoFiles) {
  db_->SetViewName("viewHouse");
  ext_->SetViewName("viewHouse");
  db::DatabaseRef ext = ext_;
  StringArray list{"old"};
  EXPECT_TRUE(gateway_.GetOruComparableGridTblList(list, ext));
  // gvMembers differs (Age NUMBER against TEXT); gvRooms has no data-source row: "".
  EXPECT_EQ(list, list2({{"gvPets", "Pet"}, {"gvRooms", ""}}));
  EXPECT_EQ(ext, ext_);
  EXPECT_EQ(db_->ViewName(), "gvRooms");
  EXPECT_EQ(ext_->ViewName(), "gvRooms");
}

TEST_P(GridCatalogueOnFiles, AComparableGridViewThatIsNotACatalogueTable) {
  // gvPets of the first entry lacks the DataTable column, so the component does not take it
  // for a catalogue table; its variables can still be read and compared.
  run(db_, "drop table gvPets");
  run(db_, "create table gvPets (Name TEXT(50), Type TEXT(20), PageNumber SHORT, Source TEXT(50))");
  run(db_, "insert into gvPets (Name, Type, PageNumber) values ('Kind', 'TEXT', 1)");
  db_->SetViewName("viewHouse");
  ext_->SetViewName("viewHouse");
  db::DatabaseRef ext = ext_;
  StringArray list{"old"};
  const ComError e = test::raisedBy([&] { gateway_.GetOruComparableGridTblList(list, ext); });
  EXPECT_EQ(e.number(), static_cast<int32_t>(0x800402C9u));
  EXPECT_EQ(e.source(), "cDATAGateway:GetOruComparableGridTblList");
  EXPECT_EQ(e.description(), "Table:gvPets is not a Oru VIEW table");
  EXPECT_EQ(list, StringArray{"old"});
  EXPECT_EQ(db_->ViewName(), "gvPets");
  EXPECT_EQ(ext_->ViewName(), "gvPets");
}

OVT_ON_EVERY_ENGINE(GridCatalogueOnFiles);

}  // namespace
}  // namespace ovt
