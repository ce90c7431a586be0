#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "compare/diff_support.h"
#include "ovtbldiff/gateway.h"

namespace ovt {
namespace {

using test::DiffFile;
using test::raisedBy;
using test::TracingDatabase;

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

// --- On a real SQLite file ---------------------------------------------------------------

class ShowParentOnFile : public test::DiffTest {};

TEST_P(ShowParentOnFile, ValuesOfTheParentRecordAsText) {
  f.run({"create table [House] ([UniqueKey] long, [RecStatus] long, [HouseNo] long, [Village] text(20), "
         "[Head] text(20), [Rooms] short)",
         "insert into House values (17, 1, 12, null, 'Ann', 3)",
         "insert into House values (18, 1, 13, 'Oak', 'Bob', null)",
         "insert into House values (18, 0, 14, 'Elm', 'Cid', 4)"});  // a second record with UniqueKey 18
  cDataGetway g;
  g.SetDB(f.rec);
  struct Case {
    const char* what;
    std::vector<std::string> keys, more;
    std::string fkey;
    bool found;
    std::vector<std::string> info;
  };
  const std::vector<Case> cases = {
      {"keys and further fields; Null is empty", {"HouseNo"}, {"Village", "Head", "Rooms"}, "17", true,
       {"12", "", "Ann", "3"}},
      {"further list of one empty name", {"HouseNo", "Head"}, {""}, "17", true, {"12", "Ann"}},
      {"further list starting with an empty name", {"HouseNo"}, {"", "Village"}, "17", true, {"12"}},
      {"the same name twice, any letter case", {"HouseNo"}, {"houseno"}, "17", true, {"12", "12"}},
      {"first of several records", {"HouseNo"}, {"Village", "Rooms"}, "18", true, {"13", "Oak", ""}},
      {"no such parent", {"HouseNo"}, {"Village"}, "99", false, {""}},
  };
  for (const Case& c : cases) {
    StringArray keys = StringArray::of(c.keys), more = StringArray::of(c.more), info{"old", "values"};
    EXPECT_EQ(g.ShowParent("House", keys, more, c.fkey, info), c.found) << c.what;
    EXPECT_EQ(info, StringArray::of(c.info)) << c.what;
  }
  EXPECT_EQ(f.rec->statements.at(0), "select HouseNo,Village,Head,Rooms from [House] where UniqueKey = 17");
  EXPECT_EQ(f.rec->options.at(0), 3);
}

TEST_P(ShowParentOnFile, QueriesTheEngineRefusesCarryTheMemberSource) {
  f.run({"create table [House] ([UniqueKey] long, [HouseNo] long, [Village] text(20))",
         "insert into House values (17, 12, 'Oak')"});
  cDataGetway g;
  g.SetDB(f.rec);
  struct Case {
    const char* what;
    std::string table;
    std::vector<std::string> more;
    std::string fkey;
  };
  const std::vector<Case> cases = {
      {"no such table", "Nowhere", {""}, "17"},
      {"no such field", "House", {"Nope"}, "17"},
      {"empty name after the first further one", "House", {"Village", ""}, "17"},
      {"empty key value", "House", {""}, ""},
  };
  for (const Case& c : cases) {
    StringArray keys{"HouseNo"}, more = StringArray::of(c.more), info{"kept"};
    ComError e = raisedBy([&] { g.ShowParent(c.table, keys, more, c.fkey, info); });
    EXPECT_EQ(e.number(), db::kDbErrCommand) << c.what;
    EXPECT_EQ(e.source(), "cDATAGateway:ShowParent") << c.what;
    EXPECT_FALSE(e.description().empty()) << c.what;
    EXPECT_EQ(info, StringArray{"kept"}) << c.what;
  }
}

}  // namespace
OVT_ON_EVERY_ENGINE(ShowParentOnFile);

}  // namespace ovt
