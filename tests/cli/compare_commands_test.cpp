// The comparison and catalogue subcommands (structure, keys, count, diff, grid-diff, parent,
// grids) run as built on the demo database: output and exit code.
#include <fstream>

#include <nlohmann/json.hpp>

#include "cli/demo_fixture.h"

namespace {

using ovt::test::DemoTest;
using ovt::test::expectRun;
using ovt::test::ToolRun;

TEST_F(DemoTest, DemoRefusesToOverwriteWithoutForce) {
  ToolRun again = run("demo d");
  EXPECT_EQ(again.code, 2);
  EXPECT_NE(again.err.find("entry1.db exists (use --force to replace it)"), std::string::npos) << again.err;
  EXPECT_EQ(run("demo d --force").code, 0);
  EXPECT_EQ(rows("entry1.db", "select count(*) from House"), "8\n");
  EXPECT_EQ(rows("entry2.db", "select HouseNo from House where UniqueKey = 509"), "109\n");
}

TEST_F(DemoTest, DiffShowsBothEntriesOfEachConflictAligned) {
  ToolRun r = linked("diff d/entry1.db House ORULINK_House --keys HouseNo");
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_EQ(r.out,
            "3 conflicts between House (entry 1) and ORULINK_House (entry 2) on HouseNo\n"
            "entry  HouseNo  HeadName         Village       Rooms  WaterSource\n"
            "-----  -------  ---------------  ------------  -----  -----------\n"
            "1      103      Grace Wanjiru    Gatundu       4 *    River\n"
            "2      103      Grace Wanjiru    Gatundu       5 *    River\n"
            "\n"
            "1      105      Fatuma Hassan *  Malindi       2      Tap\n"
            "2      105      Fatma Hassan *   Malindi       2      Tap\n"
            "\n"
            "1      107      Mary Njeri       Thika *       3      Tap *\n"
            "2      107      Mary Njeri       Thika Town *  3      Borehole *\n"
            "(* the value differs between the two entries)\n"
            "Compared fields: HeadName, Village, Rooms, WaterSource\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(DemoTest, DiffCsvJsonAndChosenFields) {
  expectRun(linked("diff d/entry1.db House ORULINK_House --keys HouseNo --fields Rooms --format csv"), 1,
            "entry,HouseNo,Rooms\n1,103,4\n2,103,5\n");
  ToolRun js = linked("diff d/entry1.db House ORULINK_House --keys HouseNo --format json");
  EXPECT_EQ(js.code, 1);
  auto j = nlohmann::json::parse(js.out);
  EXPECT_EQ(j["columns"], nlohmann::json::parse(R"(["entry","HouseNo","HeadName","Village","Rooms","WaterSource"])"));
  ASSERT_EQ(j["rows"].size(), 6u);
  EXPECT_EQ(j["rows"][5], nlohmann::json::parse(R"([2,107,"Mary Njeri","Thika Town",3,"Borehole"])"));
  EXPECT_EQ(j["differs"], nlohmann::json::parse(
                              R"([["Rooms"],["Rooms"],["HeadName"],["HeadName"],["Village","WaterSource"],["Village","WaterSource"]])"));
}

TEST_F(DemoTest, MissingRecordsInEachDirectionAndNoDifference) {
  struct Case {
    std::string args;
    int code;
    std::string csv;
  } cases[] = {
      {"diff d/entry1.db House ORULINK_House --keys HouseNo --missing", 1,
       "entry,HouseNo,HeadName,Village,Rooms,WaterSource\n1,108,David Kamau,Thika,2,River\n"},
      // Swapped tables: the rows come from entry 2 and say so.
      {"diff d/entry1.db ORULINK_House House --keys HouseNo --missing", 1,
       "entry,HouseNo,HeadName,Village,Rooms,WaterSource\n2,109,Rose Akinyi,Kisumu Ndogo,2,Tap\n"},
      {"diff d/entry1.db House ORULINK_House --keys HouseNo --fields Sex", 2, ""},
      {"diff d/entry1.db House ORULINK_House --keys HouseNo --fields Village --plain", 1,
       "entry,HouseNo,Village\n1,107,Thika\n2,107,Thika Town\n"},
  };
  for (const Case& c : cases) {
    ToolRun r = linked(c.args + " --format csv");
    EXPECT_EQ(r.code, c.code) << c.args << "\n" << r.err;
    if (c.code != 2) {
      EXPECT_EQ(r.out, c.csv) << c.args;
    }
  }
  ASSERT_EQ(run("backup d/entry1.db House --to HouseCopy").code, 0);
  expectRun(run("diff d/entry1.db House HouseCopy --keys HouseNo"), 0,
            "0 conflicts between House (entry 1) and HouseCopy (entry 2) on HouseNo\n"
            "Compared fields: HeadName, Village, Rooms, WaterSource\n");
}

TEST_F(DemoTest, LibraryErrorsReachStandardErrorWithNumberSourceAndDescription) {
  // House and Member share only system fields, so there is nothing to compare.
  ToolRun r = run("diff d/entry1.db House Member --keys UniqueKey");
  EXPECT_EQ(r.code, 3);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "ovtbldiff: error -2147220780 (0x800402D4)\n  source: cDATAGateway:GetTblDiffRecRs\n"
                   "  description: There are no fields to compare.\n");
  ToolRun view = run("grids d/entry1.db viewNone");
  EXPECT_EQ(view.code, 3);
  EXPECT_NE(view.err.find("(0x800402C7)"), std::string::npos) << view.err;
  EXPECT_NE(view.err.find("description: Table:viewNone does not exist"), std::string::npos) << view.err;
}

TEST_F(DemoTest, LangChoosesThePhraseLanguageAndTraceRecordsTheStatements) {
  ToolRun de = run("diff d/entry1.db House Member --keys UniqueKey --lang German");
  EXPECT_EQ(de.code, 3);
  EXPECT_EQ(de.err, "ovtbldiff: error -2147220780 (0x800402D4)\n  source: cDATAGateway:GetTblDiffRecRs\n"
                    "  description: Es gibt keine Felder zum Vergleichen.\n");

  ToolRun r = linked("count d/entry1.db House ORULINK_House --keys HouseNo --trace trace.log");
  EXPECT_EQ(r.code, 0) << r.err;
  const std::string trace = dir_.read("trace.log");
  // The counting statement sent, as the trace received it, before translation.
  EXPECT_NE(trace.find("jet: select count(*) as n from [House] where [House].[HouseNo] in (select [House].[HouseNo] "
                       "from [House] inner join [ORULINK_House] on [House].[HouseNo] = [ORULINK_House].[HouseNo] and "
                       "[House].[RecStatus] = [ORULINK_House].[RecStatus] where [House].[RecStatus] = 1)\n"),
            std::string::npos)
      << trace;
}

TEST_F(DemoTest, GridDiffConflictsAndMissing) {
  const std::string args =
      "grid-diff d/entry1.db House Member ORULINK_House ORULINK_Member --parent-keys HouseNo --child-key LineNo";
  expectRun(linked(args + " --format csv"), 1,
            "entry,HouseNo,LineNo,MemberName,Sex,Age,FKey\n"
            "1,102,3,Kevin Mwangi,M,9,2\n2,102,3,Kevin Mwangi,M,10,502\n"
            "1,105,1,Fatuma Hassan,F,29,5\n2,105,1,Fatma Hassan,F,29,505\n");
  ToolRun t = linked(args);
  // The parent keys of each entry differ by nature and are not marked.
  EXPECT_NE(t.out.find("1      102      3       Kevin Mwangi     M    9 *   2\n"), std::string::npos) << t.out;
  expectRun(linked(args + " --missing --format csv"), 1,
            "entry,HouseNo,LineNo,MemberName,Sex,Age,FKey\n1,104,3,Faith Kiprop,F,6,4\n1,108,1,David Kamau,M,44,8\n");
  ASSERT_EQ(run("backup d/entry1.db House --to HouseCopy").code, 0);
  ASSERT_EQ(run("backup d/entry1.db Member --to MemberCopy").code, 0);
  ToolRun same = run("grid-diff d/entry1.db House Member HouseCopy MemberCopy --parent-keys HouseNo --child-key LineNo");
  EXPECT_EQ(same.code, 0) << same.out << same.err;
}

TEST_F(DemoTest, StructureOfTablesAndForms) {
  expectRun(linked("structure d/entry1.db House ORULINK_House"), 0,
            "Structure of House and ORULINK_House: the same\n"
            "Common fields: UniqueKey, RecStatus, HouseNo, HeadName, Village, Rooms, WaterSource\n");
  ToolRun noAuto = linked("structure d/entry1.db House ORULINK_House --no-auto --format json");
  EXPECT_EQ(noAuto.code, 0);
  EXPECT_EQ(nlohmann::json::parse(noAuto.out)["notes"][0], "Common fields: HouseNo, HeadName, Village, Rooms, WaterSource");
  expectRun(run("structure d/entry1.db House Member --format csv"), 1,
            "part,item\nHouse,Unmatched field HouseNo\nHouse,Unmatched field HeadName\n"
            "House,Unmatched field Village\nHouse,Unmatched field Rooms\nHouse,Unmatched field WaterSource\n"
            "Member,Unmatched field FKey\nMember,Unmatched field LineNo\nMember,Unmatched field MemberName\n"
            "Member,Unmatched field Sex\nMember,Unmatched field Age\n");
  expectRun(run("structure --views d/entry1.db viewHouse d/entry2.db viewHouse"), 0,
            "Structure of viewHouse and viewHouse: the same\n"
            "Common fields: HouseNo, HeadName, Village, Rooms, WaterSource\n");
  ToolRun grid = run("structure --views d/entry1.db viewHouse d/entry2.db gvMember --format csv");
  EXPECT_EQ(grid.code, 1);
  EXPECT_NE(grid.out.find("viewHouse,Total grids of viewHouse : 1\n"), std::string::npos) << grid.out;
  EXPECT_NE(grid.out.find("gvMember,Unmatched field: LineNo\n"), std::string::npos) << grid.out;
  EXPECT_EQ(run("structure d/entry1.db House").code, 2);
}

TEST_F(DemoTest, KeysCountParentAndGrids) {
  expectRun(run("keys d/entry1.db House --keys HouseNo --format csv"), 0,
            "check,keys,result\nnever empty,HouseNo,yes\nunique,HouseNo,yes\n");
  expectRun(run("keys d/entry1.db Member --keys LineNo --format csv"), 1,
            "check,keys,result\nnever empty,LineNo,yes\nunique,LineNo,no\n");
  EXPECT_EQ(run("keys d/entry1.db Member --keys FKey,LineNo --format csv").code, 0);

  expectRun(linked("count d/entry1.db House ORULINK_House --keys HouseNo --format csv"), 0,
            "table1,table2,keys,matched\nHouse,ORULINK_House,HouseNo,7\n");

  expectRun(run("parent d/entry1.db House 4 --keys HouseNo --fields HeadName,Village --format csv"), 0,
            "HouseNo,HeadName,Village\n104,Samuel Kiprop,Eldama\n");
  expectRun(run("parent d/entry1.db House 99 --keys HouseNo"), 1, "Parent record 99 of House: not found\n");

  expectRun(run("grids d/entry1.db viewHouse --format csv"), 0, "grid,grid view\nMembers,gvMember\n");
  expectRun(run("grids d/entry1.db viewHouse d/entry2.db viewHouse --format csv"), 0,
            "grid view,data table\ngvMember,Member\n");
  ToolRun noGrid = run("grids d/entry1.db gvMember");
  EXPECT_EQ(noGrid.out, "Grids of gvMember\n(no grid)\n");
}

}  // namespace
