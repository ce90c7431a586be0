// CopyChild with a scripted connection: checks, parent lookups, the insert and the revival
// with its shortened condition, and the messages of children that cannot be copied.
#include <gtest/gtest.h>

#include "ovtbldiff/gateway.h"
#include "support/scripted_db.h"

namespace ovt::test {
namespace {

struct CopyChildCase : ::testing::Test {
  std::shared_ptr<ScriptedDatabase> db = std::make_shared<ScriptedDatabase>();
  cDataGetway gw;
  std::string childView = "gvKids";
  StringArray parentKeys = keys({{"ID", "3"}});
  VariantArray parentValues = values({{int32_t{5}}});
  StringArray childKeys = keys({{"KidNo", "3"}, {"FKey", "3"}});
  StringArray childValues = StringArray::of2({{"1", "100"}});
  StringArray errMsg = messages(1);

  void SetUp() override {
    db->existing["Survey"] = true;
    db->existing["Survey2"] = true;
    gw.SetDB(db);
  }
  bool run() {
    return gw.CopyChild("Survey", "Survey2", "Kids", "Kids2", childView, parentKeys, parentValues,
                        childKeys, childValues, errMsg);
  }
};

TEST_F(CopyChildCase, ChecksRaiseDestinationFirstAndChangeNothing) {
  db->existing["Survey"] = false;
  db->existing["Survey2"] = false;
  ComError e = raisedBy([&] { run(); });
  EXPECT_EQ(e.number(), objectError(704));
  EXPECT_EQ(e.source(), "cDATAGateway:CopyChild");
  EXPECT_EQ(e.description(), "Table does not exist: Survey2");
  db->existing["Survey2"] = true;
  e = raisedBy([&] { run(); });
  EXPECT_EQ(e.number(), objectError(705));
  EXPECT_EQ(e.description(), "Table does not exist: Survey");
  EXPECT_TRUE(db->work().empty());
  EXPECT_EQ(errMsg.at(0), "untouched");
}

// Without a readable variable list there is no column to copy: every child fails and no
// statement is sent.
TEST_F(CopyChildCase, NoColumnListReportsEveryChild) {
  parentValues = values({{int32_t{5}}, {int32_t{6}}});
  childValues = StringArray::of2({{"1", "100"}, {"2", "101"}});
  errMsg = messages(2);
  EXPECT_TRUE(run());
  EXPECT_TRUE(db->statements.empty());
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ(errMsg.at(i).rfind("Copy child fails : ", 0), 0u) << errMsg.at(i);
}

TEST_F(CopyChildCase, NoConnectionFailsWithObjectNotSet) {
  gw.SetDB(nullptr);
  ComError e = raisedBy([&] { run(); });
  EXPECT_EQ(e.number(), 91);
}

}  // namespace
}  // namespace ovt::test
