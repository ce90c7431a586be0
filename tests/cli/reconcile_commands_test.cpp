// The reconciling subcommands (copy, copy-child, delete, backup) run as built on the demo
// database: records from the command line and from diff results, --dry-run leaving the files
// as they were, per-record outcomes and exit codes.
#include <chrono>
#include <thread>

#include <nlohmann/json.hpp>

#include "cli/demo_fixture.h"

namespace {

using ovt::test::DemoTest;
using ovt::test::expectRun;
using ovt::test::ToolRun;

const char* kConflicts = "diff d/entry1.db House ORULINK_House --keys HouseNo --format csv";

TEST_F(DemoTest, CopyDryRunPrintsTheStatementsAndChangesNothing) {
  const std::string before1 = contents("entry1.db"), before2 = contents("entry2.db");
  ToolRun diff = linked(kConflicts);
  ASSERT_EQ(diff.code, 1);
  ToolRun r = linked("copy d/entry1.db House ORULINK_House --keys HouseNo --from - --dry-run", diff.out);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.rfind("Dry run: the statements below ran inside a transaction that was rolled back.\n", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("  Execute: update ORULINK_House set HeadName = \"Grace Wanjiru\", Village = \"Gatundu\", Rooms = 4, "
                       "WaterSource = \"River\", recstatus=1 where UniqueKey=503  => 1 rows changed\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("103      would be copied\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  Execute: insert into ORULINK_Member([LineNo],[MemberName],[Sex],[Age],recstatus,FKey) select "
                       "[LineNo],[MemberName],[Sex],[Age],1,507 from [Member] where FKey = 7  => 2 rows changed\n"),
            std::string::npos);
  // The look-ups that prepared the call (the comparable grids) are not part of the dry run.
  EXPECT_EQ(r.out.find("GridViewName"), std::string::npos);
  // The records' own commits are not shown as if they happened.
  EXPECT_EQ(r.out.find("CommitTrans"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Rolled back: none of these statements changed the database.\n"
                       "Copy from House to ORULINK_House (dry run, rolled back): 3 of 3 records would be copied\n"
                       "HouseNo  result\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(contents("entry1.db"), before1);
  EXPECT_EQ(contents("entry2.db"), before2);
  EXPECT_EQ(linked(kConflicts).out, diff.out);
}

TEST_F(DemoTest, CopyEveryConflictFromEntryOneToEntryTwoIsOnePipeline) {
  ToolRun diff = linked(kConflicts);
  ToolRun copy = linked("copy d/entry1.db House ORULINK_House --keys HouseNo --from -", diff.out);
  EXPECT_EQ(copy.code, 0) << copy.err;
  EXPECT_EQ(copy.out, "Copy from House to ORULINK_House: 3 of 3 records copied\n"
                      "HouseNo  result\n-------  ------\n103      copied\n105      copied\n107      copied\n"
                      "Copied fields: HeadName, Village, Rooms, WaterSource\nGrids: gvMember (Member)\n");
  // Not on a terminal: no progress line.
  EXPECT_EQ(copy.err, "");
  ToolRun after = linked("diff d/entry1.db House ORULINK_House --keys HouseNo");
  EXPECT_EQ(after.code, 0) << after.out;
  // The records kept their keys in entry 2; their members were replaced by entry 1's.
  EXPECT_EQ(rows("entry2.db", "select UniqueKey, HeadName, Village, WaterSource from House where HouseNo in (105, 107) order by HouseNo"),
            "505|Fatuma Hassan|Malindi|Tap\n507|Mary Njeri|Thika|Tap\n");
  EXPECT_EQ(rows("entry2.db", "select LineNo, MemberName, RecStatus from Member where FKey = 505"), "1|Fatuma Hassan|1\n");
  // Copying back the other way from a JSON result works the same.
  ToolRun js = linked("diff d/entry1.db House ORULINK_House --keys HouseNo --missing --format json");
  std::ofstream(dir_.file("missing.json")) << js.out;
  expectRun(linked("copy d/entry1.db House ORULINK_House --keys HouseNo --from missing.json --format csv"), 0,
            "HouseNo,result\n108,copied\n");
  EXPECT_EQ(rows("entry2.db", "select M.MemberName from Member M inner join House H on M.FKey = H.UniqueKey where H.HouseNo = 108"),
            "David Kamau\n");
}

TEST_F(DemoTest, CopyReportsFailedRecordsAndBadInput) {
  ToolRun r = linked("copy d/entry1.db House ORULINK_House --keys HouseNo --value 103 --value 999 --grids none --format csv");
  EXPECT_EQ(r.code, 1) << r.err;
  auto lines = r.lines();
  ASSERT_EQ(lines.size(), 3u) << r.out;
  EXPECT_EQ(lines[1], "103,copied");
  EXPECT_EQ(lines[2].rfind("999,", 0), 0u) << lines[2];
  EXPECT_NE(lines[2], "999,copied");
  // Entry 2's members of 103 stay as they were without grids.
  EXPECT_EQ(rows("entry2.db", "select UniqueKey from Member where FKey = 503"), "906\n");
  EXPECT_EQ(linked("copy d/entry1.db House ORULINK_House --keys HouseNo --value 103,1").code, 2);
  EXPECT_EQ(linked("copy d/entry1.db House ORULINK_House --keys HouseNo").code, 2);
  ToolRun noCol = linked("copy d/entry1.db House ORULINK_House --keys HouseNo --from -", "entry,Village\n1,Thika\n");
  EXPECT_EQ(noCol.code, 2);
  EXPECT_NE(noCol.err.find("no column \"HouseNo\""), std::string::npos) << noCol.err;
  ToolRun missing = linked("copy d/entry1.db House ORULINK_Nowhere --keys HouseNo --value 103");
  EXPECT_EQ(missing.code, 2);
  EXPECT_EQ(missing.err, "ovtbldiff: no table ORULINK_Nowhere (destination)\n");
}

TEST_F(DemoTest, CopyChildFromAGridDiffResult) {
  ToolRun diff = linked("grid-diff d/entry1.db House Member ORULINK_House ORULINK_Member --parent-keys HouseNo "
                        "--child-key LineNo --missing --format csv");
  ASSERT_EQ(diff.code, 1);
  const std::string cmd = "copy-child d/entry1.db House ORULINK_House Member ORULINK_Member --child-view gvMember "
                          "--parent-keys HouseNo --child-key LineNo --from - --format csv";
  const std::string before = contents("entry2.db");
  ToolRun dry = linked(cmd + " --dry-run", diff.out);
  EXPECT_EQ(dry.code, 1);
  EXPECT_EQ(contents("entry2.db"), before);
  expectRun(linked(cmd, diff.out), 1,
            "HouseNo,LineNo,FKey,result\n104,3,4,copied\n"
            "108,1,8,\"Destination Parent Record does not exist, can't copy this child. Query: select UniqueKey "
            "from [ORULINK_House] where recstatus = 1 and HouseNo=108\"\n");
  EXPECT_EQ(rows("entry2.db", "select LineNo, MemberName, Age, RecStatus from Member where FKey = 504 order by LineNo"),
            "1|Samuel Kiprop|38|1\n2|Ann Kiprop|35|1\n3|Faith Kiprop|6|1\n");
}

TEST_F(DemoTest, DeleteMarksRecordsAndTheirGridDryRunLeavesThem) {
  const std::string before = contents("entry2.db");
  ToolRun dry = run("delete d/entry2.db House --keys HouseNo --value 109 --dry-run");
  EXPECT_EQ(dry.code, 0) << dry.err;
  EXPECT_NE(dry.out.find("  Execute: update Member set recstatus = 0 where FKey = 509  => 1 rows changed\n"), std::string::npos)
      << dry.out;
  EXPECT_EQ(contents("entry2.db"), before);
  expectRun(run("delete d/entry2.db House --keys HouseNo --value 109 --value 999 --format csv"), 1,
            "HouseNo,result\n109,marked deleted (1 row; grid Member: 1 row)\n999,no record matched\n");
  EXPECT_EQ(rows("entry2.db", "select RecStatus from House where HouseNo = 109"), "0\n");
  EXPECT_EQ(rows("entry2.db", "select RecStatus from Member where FKey = 509"), "0\n");
  // A deleted record no longer counts: entry 1 misses nothing now.
  ToolRun missing = linked("diff d/entry1.db ORULINK_House House --keys HouseNo --missing");
  EXPECT_EQ(missing.code, 0) << missing.out;
}

TEST_F(DemoTest, PhysicalDeleteAndBackup) {
  expectRun(run("backup d/entry1.db House --dry-run"), 0,
            "Dry run: the statements below ran inside a transaction that was rolled back.\n"
            "  Execute: select * into House_bk from [House]  => 8 rows copied\n"
            "Rolled back: none of these statements changed the database.\n"
            "Backup of House to House_bk (dry run, rolled back)\n");
  EXPECT_EQ(rows("entry1.db", "select count(*) from sqlite_master where name = 'House_bk'"), "0\n");
  expectRun(run("backup d/entry1.db House --to HouseCopy"), 0, "Backup of House written to HouseCopy\n");
  EXPECT_EQ(rows("entry1.db", "select count(*) from HouseCopy"), "8\n");
  EXPECT_EQ(run("backup d/entry1.db House --to house").code, 2);
  expectRun(run("delete d/entry1.db HouseCopy --keys HouseNo --value 101 --value 102 --plain --format csv"), 0,
            "HouseNo,result\n101,deleted (1 row)\n102,deleted (1 row)\n");
  EXPECT_EQ(rows("entry1.db", "select count(*) from HouseCopy"), "6\n");
  EXPECT_EQ(rows("entry1.db", "select count(*) from House"), "8\n");
}

TEST_F(DemoTest, ManyRecordsGoInBatchesWithOneOutcomeEach) {
  // 60 records, most without a partner: every one gets its own outcome line, in order.
  std::string input = "HouseNo\n";
  for (int i = 0; i < 60; ++i) input += std::to_string(101 + i) + "\n";
  ToolRun r = linked("copy d/entry1.db House ORULINK_House --keys HouseNo --from - --grids none --format json", input);
  EXPECT_EQ(r.code, 1);
  auto j = nlohmann::json::parse(r.out);
  ASSERT_EQ(j["rows"].size(), 60u);
  EXPECT_EQ(j["rows"][59][0], 160);
  EXPECT_EQ(j["rows"][7][1], "copied");
  EXPECT_NE(j["rows"][8][1], "copied");
  EXPECT_EQ(j["title"], "Copy from House to ORULINK_House: 8 of 60 records copied, 52 failed");
  EXPECT_EQ(r.err, "");
}

// Another program holds the write lock of entry 2 for a while: the record fails as the database
// is busy, is tried again after a pause, and is copied once the lock is gone.
TEST_F(DemoTest, ARecordThatMetABusyDatabaseIsTriedAgain) {
  auto holder = ovt::db::OpenSqlite(dir_.file("d/entry2.db"));
  ovt::db::RunSqliteScript(holder, "BEGIN IMMEDIATE");
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ovt::db::RunSqliteScript(holder, "COMMIT");
  });
  ToolRun r = linked("copy d/entry1.db House ORULINK_House --keys HouseNo --value 103 --grids none");
  release.join();
  EXPECT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("103      copied\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("1 record failed at first and ran again on its own (transient failures retried); 1 of them "
                       "then succeeded\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(rows("entry2.db", "select Rooms from House where HouseNo = 103"), "4\n");
}

}  // namespace
