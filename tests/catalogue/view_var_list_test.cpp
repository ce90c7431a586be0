#include <gtest/gtest.h>

#include "ovtbldiff/dbcomp/sqlite.h"
#include "ovtbldiff/gateway.h"
#include "support/temp_dir.h"

namespace ovt {
namespace {

class ViewVarList : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = db::OpenSqlite(dir_.file("form.db"));
    ASSERT_TRUE(db_->Execute("create table viewHouse (Name TEXT(50), Type TEXT(20), PageNumber SHORT, DataTable TEXT(50))"));
    for (const char* row : {"('DATA1','SOURCE',0,'House')", "('HouseNo','TEXT',1,'')", "('Members','GRID',1,'')",
                            "('Rooms','NUMBER',2,'')", "('Title','TEXTONLY',1,'')"})
      ASSERT_TRUE(db_->Execute(std::string("insert into viewHouse (Name, Type, PageNumber, DataTable) values ") + row));
    ASSERT_TRUE(db_->Execute("create table Empty (Name TEXT(50), Type TEXT(20), PageNumber SHORT, DataTable TEXT(50))"));
    gateway_.SetDB(db_);
  }
  test::TempDir dir_;
  db::DatabaseRef db_;
  cDataGetway gateway_;
};

TEST_F(ViewVarList, ListsDataItemsInCatalogueOrder) {
  StringArray list;
  EXPECT_TRUE(gateway_.GetOruViewVarList("viewHouse", list));
  ASSERT_EQ(list.ubound(1), 1);
  EXPECT_EQ(list.at(0, 0), "HouseNo");
  EXPECT_EQ(list.at(1, 0), "Rooms");
}

TEST_F(ViewVarList, TrueEvenWhenTheReaderFindsNoVariable) {
  StringArray list;
  EXPECT_TRUE(gateway_.GetOruViewVarList("Empty", list));
}

TEST_F(ViewVarList, MissingTableRaises706WithItsOwnSource) {
  StringArray list{"kept"};
  try {
    gateway_.GetOruViewVarList("viewNone", list);
    FAIL() << "nothing raised";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), static_cast<int32_t>(0x800402C2u));
    EXPECT_EQ(e.source(), "cDATAGateway:GetOruViewVarList");
    EXPECT_EQ(e.description(), "Table does not exist:viewNone");
  }
  EXPECT_EQ(list.at(0), "kept");
}

TEST_F(ViewVarList, AnArgumentConnectionWinsOverTheStoredOne) {
  cDataGetway other;
  StringArray list;
  EXPECT_TRUE(other.GetOruViewVarList("viewHouse", list, &db_));
  db::DatabaseRef nothing;
  try {
    other.GetOruViewVarList("viewHouse", list, &nothing);
    FAIL() << "nothing raised";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), 91);
    EXPECT_EQ(e.source(), "cDATAGateway:GetOruViewVarList");
  }
}

}  // namespace
}  // namespace ovt
