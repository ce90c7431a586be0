// resolve on the demo: the spreadsheet route from the long csv into entry 2 and into a new
// verified copy, what diff shows afterwards, a second run, and the refusals.
#include "cli/demo_fixture.h"

namespace ovt::test {
namespace {

const char* kDecisions =
    "table,record,field,entry1,entry2,choose\n"
    "House,HouseNo=103,Rooms,4,5,1\n"
    "House,HouseNo=105,HeadName,Fatuma Hassan,Fatma Hassan,\"=Fatuma \"\"Tuma\"\" [H]\"\n"
    "House,HouseNo=107,Village,Thika,Thika Town,2\n"
    "House,HouseNo=107,WaterSource,Tap,Borehole,\n"
    "House,HouseNo=108,,(present),(absent),1\n"
    "House,HouseNo=109,,(absent),(present),2\n"
    "Member,HouseNo=102;LineNo=3,Age,9,10,1\n"
    "Member,HouseNo=104;LineNo=3,,(present),(absent),keep\n";

class Resolve : public DemoTest {
 protected:
  ToolRun resolve(const std::string& into, const std::string& more = "") {
    std::ofstream(dir_.file("decisions.csv")) << kDecisions;
    return run("resolve d/entry1.db d/entry2.db --keys House=HouseNo Member=LineNo --decisions decisions.csv --into " +
               into + " --reviewer ann --format csv" + more);
  }
};

TEST_F(Resolve, IntoEntry2LeavesOnlyTheUndecidedAndTheChosenEntry2Values) {
  ToolRun r = resolve("2");
  EXPECT_EQ(r.code, 1) << r.err;  // one decision is missing
  EXPECT_EQ(r.out,
            "table,record,field,before,after,from,result\n"
            "House,HouseNo=103,Rooms,5,4,1,changed\n"
            "House,HouseNo=105,HeadName,Fatma Hassan,\"Fatuma \"\"Tuma\"\" [H]\",typed,changed\n"
            "House,HouseNo=107,,,,,already as decided\n"
            "House,HouseNo=108,,(absent),(present),1,changed\n"
            "House,HouseNo=109,,,,,already as decided\n"
            "Member,HouseNo=102;LineNo=3,Age,10,9,1,changed\n"
            "Member,HouseNo=104;LineNo=3,,(absent),(present),1,changed\n"
            "House,HouseNo=107,WaterSource,Tap,Borehole,,undecided\n");
  // What differs now: 105's typed head name, 107's undecided water source (its village was
  // chosen from entry 2), and 109, which entry 2 keeps as decided.
  ToolRun d = linked("diff d/entry1.db House ORULINK_House --keys HouseNo --format csv");
  EXPECT_EQ(d.code, 1);
  EXPECT_NE(d.out.find("105,"), std::string::npos) << d.out;
  EXPECT_NE(d.out.find("107,"), std::string::npos) << d.out;
  EXPECT_EQ(d.out.find("103,"), std::string::npos) << d.out;
  EXPECT_EQ(linked("diff d/entry1.db House ORULINK_House --keys HouseNo --missing --format csv").out.find("108"),
            std::string::npos);
  ToolRun g = linked("grid-diff d/entry1.db House Member ORULINK_House ORULINK_Member --parent-keys HouseNo "
                     "--child-key LineNo --missing");
  EXPECT_EQ(g.code, 0) << g.out;
  EXPECT_EQ(rows("entry2.db", "select count(*) from ovt_audit where reviewer = 'ann'"), "5\n");

  // Again: nothing changes, nothing is added to the audit.
  const std::string before = contents("entry2.db");
  ToolRun again = resolve("2");
  EXPECT_EQ(again.code, 1);
  EXPECT_EQ(again.out.find(",changed"), std::string::npos) << again.out;
  EXPECT_EQ(contents("entry2.db"), before);
  EXPECT_EQ(rows("entry2.db", "select count(*) from ovt_audit"), "5\n");
}

TEST_F(Resolve, IntoANewCopyEntry1AndEntry2StayAsTheyWere) {
  const std::string one = contents("entry1.db"), two = contents("entry2.db");
  ToolRun r = resolve("verified.db");
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_EQ(contents("entry1.db"), one);
  EXPECT_EQ(contents("entry2.db"), two);
  // The copy: entry 1 with 107's village from entry 2, 105's typed head name, and 109 copied in
  // (decided as entry 2 has it).
  auto v = ovt::db::OpenSqlite(dir_.file("verified.db"));
  auto value = [&](const std::string& sql) { return ovt::concatText(v->OpenRecordset(sql, 3, "")->FieldValue("X")); };
  EXPECT_EQ(value("select Village as X from House where HouseNo = 107"), "Thika Town");
  EXPECT_EQ(value("select HeadName as X from House where HouseNo = 105"), "Fatuma \"Tuma\" [H]");
  EXPECT_EQ(value("select HeadName as X from House where HouseNo = 109 and RecStatus <> 0"), "Rose Akinyi");
  EXPECT_EQ(value("select count(*) as X from House where RecStatus <> 0"), "9");
  EXPECT_EQ(value("select count(*) as X from ovt_audit"), "3");
  // A second run reuses the copy and changes nothing.
  ToolRun again = resolve("verified.db");
  EXPECT_EQ(again.out.find(",changed"), std::string::npos) << again.out;
}

TEST_F(Resolve, DryRunShowsTheStatementsAndKeepsNothing) {
  const std::string two = contents("entry2.db");
  ToolRun r = resolve("2", " --dry-run");
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_EQ(r.out.rfind("Dry run: the statements below ran inside a transaction that was rolled back.\n", 0), 0u);
  EXPECT_NE(r.out.find("update [House] set [Rooms] = 4 where [HouseNo] = 103 and RecStatus <> 0"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("House,HouseNo=103,Rooms,5,4,1,would change"), std::string::npos);
  EXPECT_EQ(contents("entry2.db"), two);
  EXPECT_EQ(rows("entry2.db", "select count(*) from sqlite_master where name = 'ovt_audit'"), "0\n");
}

TEST_F(Resolve, RefusedInputNamesTheLineOrTheValue) {
  std::ofstream(dir_.file("bad.csv")) << "table,record,field,entry1,entry2,choose\nHouse,HouseNo=103,Rooms,4,5,3\n";
  ToolRun r = run("resolve d/entry1.db d/entry2.db --keys House=HouseNo --decisions bad.csv --into 2");
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err,
            "ovtbldiff: bad.csv: line 2: choose \"3\" is not 1, 2, =VALUE (or empty to leave it undecided)\n");
  std::ofstream(dir_.file("typed.csv")) << "table,record,field,entry1,entry2,choose\n"
                                           "House,HouseNo=103,Rooms,4,5,=five\nHouse,HouseNo=105,HeadName,a,b,1\n";
  r = run("resolve d/entry1.db d/entry2.db --keys House=HouseNo --decisions typed.csv --into 2 --format csv");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out,
            "table,record,field,before,after,from,result\n"
            "House,HouseNo=103,,,,,\"failed: value \"\"five\"\" for field Rooms of House HouseNo=103 is refused: the "
            "column takes a whole number\"\n"
            "House,HouseNo=105,HeadName,Fatma Hassan,Fatuma Hassan,1,changed\n");
  r = run("resolve d/entry1.db d/entry2.db --keys House=HouseNumber --decisions typed.csv --into 2");
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, "ovtbldiff: no column HouseNumber in table House (entry 1)\n");
}

}  // namespace
}  // namespace ovt::test
