// The tool on real databases of every engine, fed what a person might type: values that would
// widen a statement, misspelt names, a backup aimed at a table that is no backup, deletions
// that match nothing, records that fail for a reason only the engine knows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/entries_tool.h"

namespace {

using ovt::test::catalogue;
using ovt::test::expectRun;
using ovt::test::statements;
using ovt::test::ToolRun;

// A form House (catalogue viewHouse, key HouseNo) with the grid Member (gvMember), and an
// ordinary table Plain, in both entries.
const ovt::test::Statements kTables = statements({
    {"create table House (UniqueKey counter, RecStatus long, HouseNo long, HeadName text(50))"},
    catalogue("viewHouse", "House", {"HeadName TEXT", "GridM GRID gvMember"}),
    {"create table Member (UniqueKey counter, RecStatus long, FKey long, LineNo long, MemberName text(50))"},
    catalogue("gvMember", "Member", {"LineNo LONG", "MemberName TEXT"}),
});

class Hardening : public ovt::test::EntriesTool {
 protected:
  void SetUp() override {
    EntriesTool::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    fill(first_, statements({kTables,
                             {"create table Plain (HouseNo long, HeadName text(50))",
                              "insert into Plain values (1, 'Ann')", "insert into Plain values (2, 'Bob')",
                              "insert into Plain values (3, 'Cy')",
                              "insert into House (UniqueKey, RecStatus, HouseNo, HeadName) values (10, 1, 101, 'Ann')",
                              "insert into House (UniqueKey, RecStatus, HouseNo, HeadName) values (11, 1, 102, 'Bob')",
                              "insert into House (UniqueKey, RecStatus, HouseNo, HeadName) values (12, 1, 103, 'Cy')",
                              "insert into Member (RecStatus, FKey, LineNo, MemberName) values (1, 10, 1, 'Ann')",
                              "insert into Member (RecStatus, FKey, LineNo, MemberName) values (1, 10, 2, 'Al')",
                              "insert into Member (RecStatus, FKey, LineNo, MemberName) values (1, 11, 1, 'Bob')"}}));
    fill(second_, statements({kTables,
                              {"create table Plain (HouseNo long, HeadName text(50) not null)",
                               "insert into Plain values (1, 'Ann')",
                               "insert into House (UniqueKey, RecStatus, HouseNo, HeadName) values (20, 1, 101, 'Anne')",
                               "insert into House (UniqueKey, RecStatus, HouseNo, HeadName) values (21, 1, 102, 'Bob')",
                               "insert into Member (RecStatus, FKey, LineNo, MemberName) values (1, 20, 1, 'Ann')"}}));
  }

  std::string everything(const std::string& where) {
    return rows(where, "select * from Plain order by HouseNo") + rows(where, "select * from House order by UniqueKey") +
           rows(where, "select * from Member order by UniqueKey");
  }
  std::string one() const { return "'" + first_ + "'"; }
};

// A value is checked against its key column's type before any statement runs: it can no
// longer become part of the statement's condition.
TEST_P(Hardening, TypedValuesCannotWidenTheStatementTheyGoInto) {
  const std::string before1 = everything(first_), before2 = everything(second_);
  struct Case {
    std::string args, input, value, column;
  } cases[] = {
      {"delete " + one() + " Plain --plain --keys HouseNo --value '0 or 1=1'", "", "0 or 1=1", "HouseNo"},
      {"delete " + one() + " Plain --plain --keys HeadName --value 'x\" or \"1\"=\"1'", "", "x\" or \"1\"=\"1", "HeadName"},
      {"delete " + one() + " House --keys HouseNo --value '101 or 1=1'", "", "101 or 1=1", "HouseNo"},
      {"copy " + one() + " House ORULINK_House --keys HouseNo --value '103 or 1=1'", "", "103 or 1=1", "HouseNo"},
      {"copy " + one() + " House ORULINK_House --keys HouseNo --from -", "HouseNo\n103\n1e5x\n", "1e5x", "HouseNo"},
      {"copy " + one() + " House ORULINK_House --keys HouseNo --from -", "HouseNo\n103\n1234567890123456789\n",
       "1234567890123456789", "HouseNo"},
      {"copy " + one() + " House ORULINK_House --keys HouseNo --from -", "HouseNo\n+-103\n", "+-103", "HouseNo"},
      {"copy " + one() + " House ORULINK_House --keys HouseNo --from -", "HouseNo\n10.5\n", "10.5", "HouseNo"},
      {"copy " + one() + " House ORULINK_House --keys HouseNo --from -",
       R"({"columns": ["entry", "HouseNo"], "rows": [[1, "102; delete from House"]]})", "102; delete from House", "HouseNo"},
      {"copy-child " + one() + " House ORULINK_House Member ORULINK_Member --child-view gvMember --parent-keys HouseNo "
       "--child-key LineNo --from -",
       "HouseNo,LineNo,FKey\n101,0 or 1=1,10\n", "0 or 1=1", "LineNo"},
      {"copy-child " + one() + " House ORULINK_House Member ORULINK_Member --child-view gvMember --parent-keys HouseNo "
       "--child-key LineNo --from -",
       "HouseNo,LineNo,FKey\n101,2,10 or 1=1\n", "10 or 1=1", "FKey"},
      {"parent " + one() + " House '10 or 1=1' --keys HouseNo", "", "10 or 1=1", "UniqueKey"},
  };
  for (const Case& c : cases) {
    ToolRun r = linked(c.args, c.input);
    EXPECT_EQ(r.code, 2) << c.args << "\n" << r.out << r.err;
    EXPECT_NE(r.err.find("\"" + c.value + "\""), std::string::npos) << c.args << "\n" << r.err;
    EXPECT_NE(r.err.find(c.column), std::string::npos) << c.args << "\n" << r.err;
    EXPECT_EQ(r.out, "") << c.args;
  }
  EXPECT_EQ(everything(first_), before1);
  EXPECT_EQ(everything(second_), before2);
  // Values that fit their columns still go through.
  ToolRun ok = linked("copy " + one() + " House ORULINK_House --keys HouseNo --value ' 103 ' --format csv");
  EXPECT_EQ(ok.code, 0) << ok.out << ok.err;
  EXPECT_EQ(rows(second_, "select HeadName from House where HouseNo = 103"), "Cy\n");
  ToolRun text = linked("delete " + one() + " Plain --plain --keys HeadName --value \"Bob\" --format csv");
  EXPECT_EQ(text.code, 0) << text.out << text.err;
  EXPECT_EQ(rows(first_, "select HouseNo from Plain order by HouseNo"), "1\n3\n");
}

// Names are looked up before any statement runs, and the message names the entry, whether
// entry 2 is the link tables or named on its own.
TEST_P(Hardening, MisspeltNamesAreRefusedBeforeAnyStatement) {
  const std::string trace = dir_.file("names.trace"), two = "'" + second_ + "'";
  struct Case {
    std::string args, message;
    bool alone = false;  // entry 2 named on the command line, not attached as the link tables
  } cases[] = {
      {"diff " + one() + " House " + two + " Member --keys HouseNo", "no column HouseNo in table Member (entry 2)", true},
      {"diff " + one() + " House " + two + " House --keys HouseNumber",
       "no column HouseNumber in table House (entry 1)", true},
      {"diff " + one() + " House " + two + " House --keys HouseNo --fields HeadName,Waters",
       "no column Waters in table House (entry 1)", true},
      {"diff " + one() + " House " + two + " Hose --keys HouseNo", "no table Hose (entry 2)", true},
      {"diff " + one() + " House ORULINK_House --keys HouseNumber", "no column HouseNumber in table House (entry 1)"},
      {"diff " + one() + " House ORULINK_House --keys HouseNo --fields HeadNme", "no column HeadNme in table House (entry 1)"},
      {"diff " + one() + " House ORULINK_Houses --keys HouseNo", "no table Houses (entry 2)"},
      {"count " + one() + " House ORULINK_House --keys HouseNumber", "no column HouseNumber in table House (entry 1)"},
      {"keys " + one() + " House --keys HouseNumber", "no column HouseNumber in table House"},
      {"grid-diff " + one() + " House Member ORULINK_House ORULINK_Member --parent-keys HouseNo --child-key Line",
       "no column Line in table Member (entry 1)"},
      {"copy " + one() + " House ORULINK_House --keys HouseNo --fields HeadNam --value 101",
       "no column HeadNam in table House (source)"},
      {"delete " + one() + " House --keys HouseNumber --value 101", "no column HouseNumber in table House"},
  };
  for (const Case& c : cases) {
    std::remove(trace.c_str());
    ToolRun r = c.alone ? tool(c.args + " --trace '" + trace + "'") : linked(c.args + " --trace '" + trace + "'");
    EXPECT_EQ(r.code, 2) << c.args << "\n" << r.out << r.err;
    EXPECT_EQ(r.err, "ovtbldiff: " + c.message + "\n") << c.args;
    const std::string ran = ovt::test::readFile(trace);
    EXPECT_EQ(ran.find("jet: "), std::string::npos) << c.args << ": a statement ran\n" << ran;
  }
  // The entry 2 column is checked as well.
  fill(second_, {"create table Other (HouseNo long, Name text(20))"});
  ToolRun r = linked("diff " + one() + " House ORULINK_Other --keys HouseNo --fields HeadName");
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, "ovtbldiff: no column HeadName in table Other (entry 2)\n");
}

TEST_P(Hardening, BackupNeverReplacesATableThatIsNoBackup) {
  const std::string members = rows(first_, "select * from Member order by UniqueKey");
  ToolRun r = tool("backup " + one() + " House --to Member");
  EXPECT_EQ(r.code, 2) << r.out << r.err;
  EXPECT_NE(r.err.find("Member"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("--replace"), std::string::npos) << r.err;
  EXPECT_EQ(rows(first_, "select * from Member order by UniqueKey"), members);
  // A missing source is refused before anything is dropped.
  ToolRun b = tool("backup " + one() + " House");
  ASSERT_EQ(b.code, 0) << b.out << b.err;
  const std::string backup = rows(first_, "select * from House_bk order by UniqueKey");
  ASSERT_NE(backup, "");
  for (const std::string& args : {"backup " + one() + " Hose --to House_bk", "backup " + one() + " Hose --to House_bk --replace"}) {
    ToolRun m = tool(args);
    EXPECT_EQ(m.code, 2) << args << m.out << m.err;
    EXPECT_EQ(m.err.rfind("ovtbldiff: no table Hose in ", 0), 0u) << args << m.err;
    EXPECT_EQ(rows(first_, "select * from House_bk order by UniqueKey"), backup) << args;
  }
  // An earlier backup of the same table is replaced as before; another table only when asked.
  for (const char* again : {" House", " House --to House_bk_monday", " House --to Member --replace"})
    EXPECT_EQ(tool("backup " + one() + again).code, 0) << again;
  EXPECT_EQ(rows(first_, "select HouseNo from Member order by HouseNo"), "101\n102\n103\n");
}

TEST_P(Hardening, DeleteCountsTheRowsEachStatementChanged) {
  expectRun(tool("delete " + one() + " Plain --plain --keys HeadName --value \"O'Brien\" --format csv"), 1,
            "HeadName,result\nO'Brien,no record matched\n");
  expectRun(tool("delete " + one() + " Plain --plain --keys HouseNo --value 2 --format csv"), 0,
            "HouseNo,result\n2,deleted (1 row)\n");
  expectRun(tool("delete " + one() + " House --keys HouseNo --value 101 --value 109 --format csv"), 1,
            "HouseNo,result\n101,marked deleted (1 row; grid Member: 2 rows)\n109,no record matched\n");
  EXPECT_EQ(rows(first_, "select RecStatus from Member where FKey = 10"), "0\n0\n");
}

TEST_P(Hardening, DiffCountsRecordsWithoutAKey) {
  fill(first_, {"insert into House (UniqueKey, RecStatus, HouseNo, HeadName) values (13, 1, null, 'Dee')"});
  fill(second_, {"insert into Plain (HouseNo, HeadName) values (null, 'x')"});
  ToolRun r = linked("diff " + one() + " House ORULINK_House --keys HouseNo");
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_NE(r.out.find("1 record of House (entry 1) has no value in HouseNo and is not compared\n"), std::string::npos)
      << r.out;
  ToolRun p = linked("diff " + one() + " Plain ORULINK_Plain --keys HouseNo --fields HeadName --missing --format json");
  EXPECT_NE(p.out.find("1 record of ORULINK_Plain (entry 2) has no value in HouseNo and is not compared"),
            std::string::npos)
      << p.out;
}

// A record that fails says why, in the engine's words, after the member's own message.
TEST_P(Hardening, FailedRecordsCarryTheEngineReason) {
  fill(first_, {"insert into Plain (HouseNo, HeadName) values (4, null)"});
  ToolRun r = linked("copy " + one() + " Plain ORULINK_Plain --plain --keys HouseNo --fields HeadName --value 3 --value 4 --format csv");
  EXPECT_EQ(r.code, 1) << r.out << r.err;
  auto lines = r.lines();
  ASSERT_EQ(lines.size(), 3u) << r.out;
  EXPECT_EQ(lines[1], "3,copied");
  EXPECT_EQ(lines[2].rfind("4,", 0), 0u) << lines[2];
  const size_t reason = lines[2].find(" [engine: ");
  ASSERT_NE(reason, std::string::npos) << lines[2];
  std::string lower;
  for (char c : lines[2].substr(reason)) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_NE(lower.find("null"), std::string::npos) << lines[2];
  EXPECT_EQ(rows(second_, "select HouseNo from Plain order by HouseNo"), "1\n3\n");
}

OVT_ON_EVERY_ENGINE(Hardening);

}  // namespace
