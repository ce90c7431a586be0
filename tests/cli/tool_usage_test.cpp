// The tool as a new user meets it: entry 2 named as a file, the version, and one example at the
// end of each subcommand's help. (Misspelt names: Hardening.MisspeltNamesAreRefusedBeforeAnyStatement.)
#include "cli/demo_fixture.h"

namespace {

using ovt::test::DemoTest;
using ovt::test::expectRun;
using ovt::test::ToolRun;

TEST_F(DemoTest, DiffTakesEntryTwoAsAFileOrAsLinkTables) {
  for (const std::string& extra : {std::string(""), std::string(" --missing"), std::string(" --fields Rooms")}) {
    ToolRun natural = run("diff d/entry1.db House d/entry2.db House --keys HouseNo --format csv" + extra);
    ToolRun link = linked("diff d/entry1.db House ORULINK_House --keys HouseNo --format csv" + extra);
    EXPECT_EQ(natural.code, 1) << natural.err;
    EXPECT_EQ(natural.out, link.out) << extra;
    EXPECT_NE(natural.out, "") << extra;
  }
  // The first file is entry 1.
  ToolRun swapped = run("diff d/entry1.db House d/entry2.db House --keys HouseNo --missing --format csv");
  EXPECT_EQ(swapped.out, "entry,HouseNo,HeadName,Village,Rooms,WaterSource\n1,108,David Kamau,Thika,2,River\n");
  ToolRun twice = linked("diff d/entry1.db House d/entry2.db House --keys HouseNo");
  EXPECT_EQ(twice.code, 2);
  EXPECT_EQ(twice.err, "ovtbldiff: entry 2 is given twice: as d/entry2.db and as --link d/entry2.db\n");
  ToolRun prefixed = run("diff d/entry1.db House d/entry2.db ORULINK_House --keys HouseNo");
  EXPECT_EQ(prefixed.code, 2);
  EXPECT_EQ(run("diff d/entry1.db House --keys HouseNo").code, 2);
}

// The version, and every subcommand's help (a usage and one example at its end); a
// subcommand without its arguments, or given what it cannot take, is a usage error.
TEST_F(DemoTest, VersionHelpExamplesAndUsageErrors) {
  expectRun(run("--version"), 0, "ovtbldiff 2.0\n");
  for (const std::string name : {"structure", "keys", "count", "diff", "grid-diff", "parent", "grids", "copy",
                                 "copy-child", "delete", "backup", "demo", "call"}) {
    ToolRun h = run(name + " --help");
    EXPECT_EQ(h.code, 0) << name;
    EXPECT_NE(h.out.find("Example:\n  ovtbldiff " + name + " "), std::string::npos) << name << "\n" << h.out;
    if (name == "call") continue;
    EXPECT_NE(h.out.find("Usage:"), std::string::npos) << name << h.out;
    EXPECT_EQ(run(name).code, 2) << name;
  }
  EXPECT_NE(run("--help").out.find("grid-diff"), std::string::npos);
  EXPECT_EQ(run("diff d/entry1.db House House --keys HouseNo --format xml").code, 2);
  EXPECT_EQ(run("diff d/none.db House House --keys HouseNo").code, 2);
  EXPECT_EQ(run("diff d/entry1.db House Nowhere --keys HouseNo").code, 2);
}

}  // namespace
