// resolve on the demo: the spreadsheet route from the long csv into entry 2 and into a new
// verified copy, what diff shows afterwards, a second run, and the refusals.
#include <map>
#include <regex>
#include <vector>

#include "cli/demo_fixture.h"
#include "cli/entries_tool.h"
#include "ovtbldiff/dbcomp/postgres.h"
#include "support/engines.h"

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

// The README's spreadsheet route on every engine: the demo's entries copied into the engine's
// two entries, the decisions file made from verify's long csv with its choose column filled
// line by line; lines without a choice stay out of `choices` and so stay undecided.
class SpreadsheetRoute : public EntriesTool {
 protected:
  void SetUp() override {
    EntriesTool::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    demo();
    copy_ = GetParam() == Engine::Postgres ? first_ + "v" : dir_.file("verified.db");
  }
  void TearDown() override {
    // The verified copy's schema goes with the entries' schemas.
    if (GetParam() == Engine::Postgres && !first_.empty())
      db::RunPostgresStatement(openLocation(first_),
                               "DROP SCHEMA IF EXISTS \"" + copy_.substr(copy_.rfind("schema=") + 7) + "\" CASCADE");
  }

  ToolRun run(const std::string& args) { return tool(args); }
  static std::string q(const std::string& s) { return "'" + s + "'"; }
  std::string contents(const std::string& location) {
    return rows(location, "select * from House order by UniqueKey") + "--\n" +
           rows(location, "select * from Member order by UniqueKey");
  }

  std::string decisionsFromVerify(const std::map<std::string, std::string>& choices) {
    ToolRun v = run("verify " + both() + " --survey d/survey.toml --format csv");
    EXPECT_EQ(v.code, 1) << v.err;
    std::vector<std::string> lines = v.lines();
    EXPECT_EQ(lines.size(), 12u) << v.out;
    std::string csv = lines.empty() ? "" : lines[0] + "\n";
    for (size_t i = 1; i < lines.size(); ++i) {
      const std::string& l = lines[i];
      size_t third = l.find(',', l.find(',', l.find(',') + 1) + 1);  // after table,record,field
      auto c = choices.find(l.substr(0, third));
      csv += l + (c == choices.end() ? "" : c->second) + "\n";
    }
    std::ofstream(dir_.file("decisions.csv")) << csv;
    return csv;
  }
  ToolRun resolveInto(const std::string& into) {
    return run("resolve " + both() + " --keys House=HouseNo Member=LineNo --decisions decisions.csv --reviewer ann "
               "--into " + q(into));
  }

  std::string copy_;
};

TEST_P(SpreadsheetRoute, EveryDifferenceDecidedBothEntriesResolvedThenVerifyAgrees) {
  const std::string csv = decisionsFromVerify({{"House,HouseNo=103,Rooms", "2"},
                                               {"House,HouseNo=105,HeadName", "1"},
                                               {"House,HouseNo=107,Village", "=Thika"},
                                               {"House,HouseNo=107,WaterSource", "2"},
                                               {"House,HouseNo=108,", "keep"},
                                               {"House,HouseNo=109,", "keep"},
                                               {"Member,HouseNo=102;LineNo=3,Age", "2"},
                                               {"Member,HouseNo=105;LineNo=1,MemberName", "1"},
                                               {"Member,HouseNo=104;LineNo=3,", "keep"},
                                               {"Member,HouseNo=108;LineNo=1,", "keep"},
                                               {"Member,HouseNo=109;LineNo=1,", "keep"}});
  // Unpaired lines carry present/missing, grid records their parent's key first.
  EXPECT_NE(csv.find("\nHouse,HouseNo=108,,present,missing,keep\n"), std::string::npos) << csv;
  EXPECT_NE(csv.find("\nMember,HouseNo=102;LineNo=3,Age,9,10,2\n"), std::string::npos) << csv;
  ToolRun two = resolveInto("2");
  EXPECT_EQ(two.code, 0) << two.out << two.err;
  ToolRun one = resolveInto("1");
  EXPECT_EQ(one.code, 0) << one.out << one.err;
  ToolRun v = run("verify " + both() + " --survey d/survey.toml");
  EXPECT_EQ(v.code, 0) << v.out << v.err;
  EXPECT_NE(v.out.find("House: 9 matched, 0 conflicting, 0 missing in entry 2, 0 missing in entry 1; 36 of 36 "
                       "values agree (100.0%)"),
            std::string::npos)
      << v.out;
  EXPECT_NE(v.out.find("House / grid Members (Member): 15 matched, 0 conflicting"), std::string::npos) << v.out;
  EXPECT_NE(v.out.find("The entries agree."), std::string::npos) << v.out;
  EXPECT_EQ(rows(second_,
                 "select HeadName, Village, WaterSource, Rooms from House where HouseNo in (105, 107) "
                 "order by HouseNo"),
            "Fatuma Hassan|Malindi|Tap|2\nMary Njeri|Thika|Borehole|3\n");
}

TEST_P(SpreadsheetRoute, ANewVerifiedCopyDiffersFromEntry2ExactlyByTheUndecided) {
  // Every difference decided as entry 2 has it, except 107's water source and the member 104/3.
  decisionsFromVerify({{"House,HouseNo=103,Rooms", "2"},
                       {"House,HouseNo=105,HeadName", "2"},
                       {"House,HouseNo=107,Village", "2"},
                       {"House,HouseNo=108,", "2"},
                       {"House,HouseNo=109,", "2"},
                       {"Member,HouseNo=102;LineNo=3,Age", "2"},
                       {"Member,HouseNo=105;LineNo=1,MemberName", "2"},
                       {"Member,HouseNo=108;LineNo=1,", "2"},
                       {"Member,HouseNo=109;LineNo=1,", "2"}});
  const std::string one = contents(first_), two = contents(second_);
  ToolRun r = resolveInto(copy_);
  EXPECT_EQ(r.code, 1) << r.out << r.err;  // two lines undecided
  EXPECT_EQ(contents(first_), one);
  EXPECT_EQ(contents(second_), two);
  ToolRun v = run("verify " + q(copy_) + " " + q(second_) + " --survey d/survey.toml --format csv");
  EXPECT_EQ(v.code, 1) << v.err;
  EXPECT_EQ(v.out,
            "table,record,field,entry1,entry2,choose\n"
            "House,HouseNo=107,WaterSource,Tap,Borehole,\n"
            "Member,HouseNo=104;LineNo=3,,present,missing,\n");
}

// The output of a dry run without the times its audit rows carry (two runs may straddle a second).
std::string withoutTimes(const std::string& out) {
  static const std::regex time("'\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d'");
  return std::regex_replace(out, time, "'TIME'");
}

TEST_P(SpreadsheetRoute, KeysComeFromTheSurveyFileAsVerifyTakesThem) {
  decisionsFromVerify({{"House,HouseNo=103,Rooms", "1"}, {"Member,HouseNo=102;LineNo=3,Age", "1"}});
  const std::string common = "resolve " + both() + " --decisions decisions.csv --into 2 --dry-run --format csv";
  ToolRun byKeys = run(common + " --keys House=HouseNo Member=LineNo");
  ToolRun bySurvey = run(common + " --survey d/survey.toml");
  EXPECT_EQ(bySurvey.code, 1) << bySurvey.err;  // lines left undecided
  EXPECT_EQ(withoutTimes(bySurvey.out), withoutTimes(byKeys.out));
  EXPECT_NE(bySurvey.out.find("House,HouseNo=103,Rooms,5,4,1,would change"), std::string::npos) << bySurvey.out;

  // --keys wins over the file for a table it names; a key the file misspells names itself
  // before review serves anything; no keys at all is a usage error.
  std::ofstream(dir_.file("bad.toml")) << "[tables.House]\nkeys = [\"HouseNumber\"]\n[tables.Member]\nkeys = \"LineNo\"\n";
  EXPECT_EQ(withoutTimes(run(common + " --survey bad.toml --keys House=HouseNo").out), withoutTimes(byKeys.out));
  for (const std::string& command :
       std::vector<std::string>{"review " + both() + " --review r.review --survey bad.toml", common + " --survey bad.toml"}) {
    ToolRun r = run(command);
    EXPECT_EQ(r.code, 2) << command;
    EXPECT_EQ(r.err, "ovtbldiff: no column HouseNumber in table House (entry 1)\n") << command;
    EXPECT_EQ(r.out, "") << command;
  }
  ToolRun none = run("review " + both() + " --review r.review");
  EXPECT_EQ(none.code, 2);
  EXPECT_EQ(none.err, "ovtbldiff: the match keys are needed: --keys TABLE=COL[,COL] or --survey FILE\n");
}

OVT_ON_EVERY_ENGINE(SpreadsheetRoute);

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
