#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "compare/diff_support.h"
#include "ovtbldiff/gateway.h"

namespace ovt {
namespace {

using test::raisedBy;
using test::FixedRecordset;
using test::TracingDatabase;

TEST(ShowParentText, KeysThenFurtherFieldsUnbracketedValueUnquoted) {
  auto rec = std::make_shared<TracingDatabase>();
  rec->answer = std::make_shared<FixedRecordset>(
      std::map<std::string, Variant>{{"HouseNo", int32_t{12}}, {"Village", Variant(Null{})}, {"Head", "Ann"}});
  cDataGetway g;
  g.SetDB(rec);
  StringArray keys{"HouseNo"}, more{"Village", "Head"}, info;
  EXPECT_TRUE(g.ShowParent("House", keys, more, "17", info));
  EXPECT_EQ(rec->statements.at(0), "select HouseNo,Village,Head from [House] where UniqueKey = 17");
  EXPECT_EQ(rec->options.at(0), 3);
  EXPECT_EQ(info, (StringArray{"12", "", "Ann"}));
}

TEST(ShowParentText, FurtherListStartingWithEmptyIsIgnoredWhole) {
  auto rec = std::make_shared<TracingDatabase>();
  rec->answer = std::make_shared<FixedRecordset>(std::map<std::string, Variant>{{"K1", "a"}, {"K2", "b"}});
  cDataGetway g;
  g.SetDB(rec);
  StringArray keys{"K1", "K2"}, single{""}, leadingEmpty{"", "Village"}, info;
  EXPECT_TRUE(g.ShowParent("P", keys, single, "1", info));
  EXPECT_EQ(info, (StringArray{"a", "b"}));
  EXPECT_TRUE(g.ShowParent("P", keys, leadingEmpty, "1", info));
  EXPECT_EQ(rec->statements.at(0), "select K1,K2 from [P] where UniqueKey = 1");
  EXPECT_EQ(rec->statements.at(1), rec->statements.at(0));
}

TEST(ShowParentCalls, EmptyKeyRaises700BeforeAnyQuery) {
  auto rec = std::make_shared<TracingDatabase>();
  cDataGetway g;
  g.SetDB(rec);
  StringArray keys{"A", "B", "", ""}, more{""}, info{"untouched"};
  ComError e = raisedBy([&] { g.ShowParent("P", keys, more, "1", info); });
  EXPECT_EQ(e.number(), static_cast<int32_t>(0x800402BCu));
  EXPECT_EQ(e.source(), "cDATAGateway:ShowParent");
  EXPECT_EQ(e.description(), "MatchKeys has an empty field name :2");
  EXPECT_TRUE(rec->calls.empty());
  EXPECT_EQ(info, (StringArray{"untouched"}));
}

TEST(ShowParentCalls, NoRecordGivesFalseAndSingleEmptyElement) {
  auto rec = std::make_shared<TracingDatabase>();  // answers with an empty recordset
  cDataGetway g;
  g.SetDB(rec);
  StringArray keys{"K"}, more{"X", "Y"}, info{"a", "b", "c"};
  EXPECT_FALSE(g.ShowParent("P", keys, more, "99", info));
  EXPECT_EQ(info, (StringArray{""}));
}

TEST(ShowParentCalls, OtherFailuresCarryTheMemberSource) {
  cDataGetway g;
  StringArray keys{"K"}, more{""}, info;
  ComError noDb = raisedBy([&] { g.ShowParent("P", keys, more, "1", info); });
  EXPECT_EQ(noDb.number(), 91);
  EXPECT_EQ(noDb.source(), "cDATAGateway:ShowParent");

  auto rec = std::make_shared<TracingDatabase>();
  g.SetDB(rec);
  StringArray none = StringArray::of({});
  ComError empty = raisedBy([&] { g.ShowParent("P", none, more, "1", info); });
  EXPECT_EQ(empty.number(), 5);
  EXPECT_EQ(empty.source(), "cDATAGateway:ShowParent");
  EXPECT_TRUE(rec->calls.empty());

  rec->failure = std::make_unique<ComError>(-2147217865, "OVDB", "no such table: P");
  ComError db = raisedBy([&] { g.ShowParent("P", keys, more, "1", info); });
  EXPECT_EQ(db.number(), -2147217865);
  EXPECT_EQ(db.source(), "cDATAGateway:ShowParent");
  EXPECT_EQ(db.description(), "no such table: P");
}

}  // namespace
}  // namespace ovt
