// The generic view catalogue reader over a real catalogue table of every engine.
#include <gtest/gtest.h>

#include "ovtbldiff/runtime/error.h"
#include "support/engines.h"

namespace ovt::db {
namespace {

class ViewTest : public test::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    db = entries().first(false);
    ASSERT_TRUE(db->Execute("create table [viewHouse] ([Name] text(50), [Type] text(20), [PageNumber] long, [DataTable] text(50))"));
    const char* rows[] = {
        "'DATA1', 'SOURCE', 0, 'House'", "'Village', 'TEXT', 1, null",  "'Title', 'TEXTONLY', 1, null",
        "'HouseNo', 'NUMBER', 1, null",  "'Members', 'GRID', 2, 'viewMember'", "'Box', 'group', 2, null",
        "'Age', 'NUMBER', 2, null",      "'Copy', 'MIRROR', 3, null",   "'Link', 'RELATE', 3, null",
        "'Notes', 'MEMO', 3, null",      "'Hidden', 'TEXT', 0, null"};
    for (const char* r : rows) ASSERT_TRUE(db->Execute(std::string("insert into viewHouse values (") + r + ")"));
    ASSERT_TRUE(db->Execute("create table [viewEmpty] ([Name] text(50), [Type] text(20), [PageNumber] long, [DataTable] text(50))"));
    ASSERT_TRUE(db->Execute("insert into viewEmpty values ('DATA1', 'SOURCE', 0, 'Empty')"));
  }
  DatabaseRef db;
};

TEST_P(ViewTest, VariablesAreTheDataItemsOfLaterPagesInCatalogueOrder) {
  ViewRef v = NewView();
  v->SetDatabase(db);
  v->SetViewName("viewHouse");
  StringArray list;
  ASSERT_TRUE(v->GetVariableList(list));
  ASSERT_EQ(list.ubound(1), 3);
  ASSERT_EQ(list.ubound(2), 1);
  const char* names[] = {"Village", "HouseNo", "Age", "Notes"};
  const char* types[] = {"TEXT", "NUMBER", "NUMBER", "MEMO"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(list.at(i, 0), names[i]);
    EXPECT_EQ(list.at(i, 1), types[i]);
  }
}

TEST_P(ViewTest, AViewWithoutVariablesAnswersFalseWithOneEmptyRow) {
  ViewRef v = NewView();
  v->SetDatabase(db);
  v->SetViewName("viewEmpty");
  StringArray list = StringArray::of({"old"});
  EXPECT_FALSE(v->GetVariableList(list));
  ASSERT_EQ(list.dims(), 2);
  EXPECT_EQ(list.ubound(1), 0);
  EXPECT_EQ(list.at(0, 0), "");
  EXPECT_EQ(list.at(0, 1), "");
}

TEST_P(ViewTest, FailuresAreRaised) {
  ViewRef v = NewView();
  StringArray list;
  v->SetViewName("viewHouse");
  try {
    v->GetVariableList(list);
    FAIL() << "no database";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), 91);
  }
  v->SetDatabase(db);
  v->SetViewName("viewMissing");
  try {
    v->GetVariableList(list);
    FAIL() << "missing table";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), kDbErrCommand);
    EXPECT_EQ(e.source(), "OVDB");
  }
}

OVT_ON_EVERY_ENGINE(ViewTest);

}  // namespace
}  // namespace ovt::db
