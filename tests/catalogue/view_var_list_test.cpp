// GetOruViewVarList over a real form catalogue of every engine.
#include <gtest/gtest.h>

#include "ovtbldiff/gateway.h"
#include "support/engines.h"
#include "support/raised.h"

namespace ovt {
namespace {

class ViewVarList : public test::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    db_ = entries().first(false);
    ASSERT_TRUE(db_->Execute("create table viewHouse (Name TEXT(50), Type TEXT(20), PageNumber SHORT, DataTable TEXT(50))"));
    for (const char* row : {"('DATA1','SOURCE',0,'House')", "('HouseNo','TEXT',1,'')", "('Members','GRID',1,'')",
                            "('Rooms','NUMBER',2,'')", "('Title','TEXTONLY',1,'')"})
      ASSERT_TRUE(db_->Execute(std::string("insert into viewHouse (Name, Type, PageNumber, DataTable) values ") + row));
    ASSERT_TRUE(db_->Execute("create table Empty (Name TEXT(50), Type TEXT(20), PageNumber SHORT, DataTable TEXT(50))"));
    gateway_.SetDB(db_);
  }
  db::DatabaseRef db_;
  cDataGetway gateway_;
};

TEST_P(ViewVarList, ListsDataItemsInCatalogueOrder) {
  StringArray list;
  EXPECT_TRUE(gateway_.GetOruViewVarList("viewHouse", list));
  ASSERT_EQ(list.ubound(1), 1);
  EXPECT_EQ(list.at(0, 0), "HouseNo");
  EXPECT_EQ(list.at(1, 0), "Rooms");
}

TEST_P(ViewVarList, TrueEvenWhenTheReaderFindsNoVariable) {
  StringArray list;
  EXPECT_TRUE(gateway_.GetOruViewVarList("Empty", list));
}

TEST_P(ViewVarList, MissingTableRaises706WithItsOwnSource) {
  StringArray list{"kept"};
  const ComError e = test::raisedBy([&] { gateway_.GetOruViewVarList("viewNone", list); });
  EXPECT_EQ(e.number(), static_cast<int32_t>(0x800402C2u));
  EXPECT_EQ(e.source(), "cDATAGateway:GetOruViewVarList");
  EXPECT_EQ(e.description(), "Table does not exist:viewNone");
  EXPECT_EQ(list.at(0), "kept");
}

TEST_P(ViewVarList, AnArgumentConnectionWinsOverTheStoredOne) {
  cDataGetway other;
  StringArray list;
  EXPECT_TRUE(other.GetOruViewVarList("viewHouse", list, &db_));
  db::DatabaseRef nothing;
  const ComError e = test::raisedBy([&] { other.GetOruViewVarList("viewHouse", list, &nothing); });
  EXPECT_EQ(e.number(), 91);
  EXPECT_EQ(e.source(), "cDATAGateway:GetOruViewVarList");
}

OVT_ON_EVERY_ENGINE(ViewVarList);

}  // namespace
}  // namespace ovt
