// Decisions applied on real databases of every engine: into entry 1, entry 2 and a new verified
// copy; what remains different afterwards; the audit rows; records whose update fails; a
// second apply; a typed value with quotes and brackets; the dry run.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

#include <sys/wait.h>
#include <unistd.h>

#include "ovtbldiff/dbcomp/postgres.h"
#include "ovtbldiff/dbcomp/sqlite.h"
#include "ovtbldiff/decide.h"
#include "ovtbldiff/gateway.h"
#include "support/engines.h"
#include "support/farm_survey.h"
#include "support/form.h"

namespace ovt::test {
namespace {

using namespace ovt::decide;

const Statements kForm = statements({
    {"create table House (UniqueKey counter, RecStatus long, HouseNo long, HeadName text(60), Village text(40), "
     "Rooms long, WaterSource text(20))",
     "create table Member (UniqueKey counter, RecStatus long, FKey long, LineNo long, MemberName text(60), Age long)"},
    catalogue("viewHouse", "House",
              {"HouseNo NUMBER", "HeadName TEXT", "Village TEXT", "Rooms NUMBER", "WaterSource TEXT", "Members GRID 2 gvMember"}),
    catalogue("gvMember", "Member", {"LineNo NUMBER", "MemberName TEXT", "Age NUMBER"}),
});

// Entry 1: 108 only here; entry 2: 109 only there. 102 differs in Rooms and Village, 103 in
// HeadName, 104 in WaterSource; member 102/1 differs in Age, member 102/2 is in entry 1 only.
const Statements kEntry1 = {
    "insert into House (UniqueKey, RecStatus, HouseNo, HeadName, Village, Rooms, WaterSource) values "
    "(1, 1, 101, 'Achieng', 'Gatundu', 3, 'Tap'), (2, 1, 102, 'Peter', 'Thika', 2, 'River'), "
    "(3, 1, 103, 'Grace', 'Eldama', 4, 'Tap'), (4, 1, 104, 'Samuel', 'Eldama', 3, 'Borehole'), "
    "(5, 1, 108, 'David', 'Thika', 2, 'River')",
    "insert into Member (UniqueKey, RecStatus, FKey, LineNo, MemberName, Age) values "
    "(1, 1, 1, 1, 'Achieng', 34), (2, 1, 2, 1, 'Peter', 45), (3, 1, 2, 2, 'Lucy', 41), (4, 1, 5, 1, 'David', 44)",
};
const Statements kEntry2 = {
    "insert into House (UniqueKey, RecStatus, HouseNo, HeadName, Village, Rooms, WaterSource) values "
    "(51, 1, 101, 'Achieng', 'Gatundu', 3, 'Tap'), (52, 1, 102, 'Peter', 'Thika Town', 5, 'River'), "
    "(53, 1, 103, 'Gracie', 'Eldama', 4, 'Tap'), (54, 1, 104, 'Samuel', 'Eldama', 3, 'Tap'), "
    "(59, 1, 109, 'Rose', 'Kisumu', 2, 'Tap')",
    "insert into Member (UniqueKey, RecStatus, FKey, LineNo, MemberName, Age) values "
    "(91, 1, 51, 1, 'Achieng', 34), (92, 1, 52, 1, 'Peter', 46), (93, 1, 59, 1, 'Rose', 30), "
    "(94, 1, 59, 2, 'Tom', 5)",
};

// The differences of the two entries as first made, as listed: table|record|field|1|2.
const std::set<std::string> kAll = {
    "House|HouseNo=102|Village|Thika|Thika Town",  "House|HouseNo=102|Rooms|2|5",
    "House|HouseNo=103|HeadName|Grace|Gracie",     "House|HouseNo=104|WaterSource|Borehole|Tap",
    "House|HouseNo=108||(present)|(absent)",       "House|HouseNo=109||(absent)|(present)",
    "Member|HouseNo=102;LineNo=1|Age|45|46",       "Member|HouseNo=102;LineNo=2||(present)|(absent)",
};

Decision decided(const std::string& table, const std::string& record, const std::string& field, Choice c,
                 const std::string& typed = "") {
  Decision d;
  d.table = table;
  d.record = record;
  d.field = field;
  d.choice = c;
  d.typed = typed;
  return d;
}

class Decide : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    runAll(entries().second(), statements({kForm, kEntry2}));
    runAll(entries().first(false), statements({kForm, kEntry1}));
  }

  db::DatabaseRef open(const std::string& location, const std::string& link = "") {
    return openLocation(location, link);
  }
  std::string one() { return entries().firstLocation(); }
  std::string two() { return entries().secondLocation(); }
  std::string copyLocation() {
    std::string l = one();
    return GetParam() == Engine::Postgres ? l + "copy" : l.substr(0, l.size() - 3) + "_copy.db";
  }

  Survey survey(const db::DatabaseRef& conn) {
    MembersOf<cDataGetway> m(gw_);
    return discoverSurvey(m, conn, keys_);
  }

  // Sides for a target: "1", "2" or "copy".
  Sides sides(const std::string& target) {
    Sides s;
    s.targetPrefix = "";
    s.sourcePrefix = "ORULINK_";
    if (target == "1") {
      s.writer = open(one(), two());
      s.sourceEntry = 2;
      s.entry1 = s.entry2 = s.writer;
      s.entry2Prefix = "ORULINK_";
    } else if (target == "2") {
      s.writer = open(two(), one());
      s.sourceEntry = 1;
      s.entry1 = s.entry2 = s.writer;
      s.entry1Prefix = "ORULINK_";
    } else {
      makeCopy(open(copyLocation(), one()));
      s.writer = open(copyLocation(), two());
      s.sourceEntry = 2;
      s.entry1 = open(one());
      s.entry2 = s.writer;
      s.entry2Prefix = "ORULINK_";
    }
    s.targetName = target;
    return s;
  }

  ApplyResult applyInto(const std::string& target, const std::vector<Decision>& ds, bool dry = false) {
    Sides s = sides(target);
    MembersOf<cDataGetway> m(gw_);
    ApplyOptions o;
    o.reviewer = "tester";
    o.dryRun = dry;
    return apply(m, survey(s.writer), s, ds, o);
  }

  // What differs between `location` (as entry 1) and `other` (as entry 2).
  std::set<std::string> differences(const std::string& location, const std::string& other) {
    db::DatabaseRef c = open(location, other);
    MembersOf<cDataGetway> m(gw_);
    std::set<std::string> out;
    for (const Difference& d : listDifferences(m, survey(c), c))
      out.insert(d.table + "|" + d.record + "|" + d.field + "|" + d.entry1 + "|" + d.entry2);
    return out;
  }

  std::vector<std::string> rows(const std::string& location, const std::string& sql) {
    std::vector<std::string> out;
    db::DatabaseRef c = open(location);
    db::RecordsetRef rs = c->OpenRecordset(sql, 3, "");
    if (rs->IsBOF() && rs->IsEOF()) return out;
    VariantArray all = rs->GetRows();
    for (int32_t r = 0; r <= all.ubound(2); ++r) {
      std::string line;
      for (int32_t k = 0; k <= all.ubound(1); ++k) line += (k ? "|" : "") + valueText(all.at(k, r));
      out.push_back(line);
    }
    return out;
  }
  std::string one(const std::string& location, const std::string& sql) {
    auto r = rows(location, sql);
    return r.empty() ? "<none>" : r[0];
  }

  // An update of house 103 fails in `location` (a trigger that aborts it).
  void failUpdatesOf103(const std::string& location) {
    db::DatabaseRef c = open(location);
    if (GetParam() == Engine::Sqlite) {
      db::RunSqliteScript(c,
                          "CREATE TRIGGER no103 BEFORE UPDATE ON House WHEN old.HouseNo = 103 "
                          "BEGIN SELECT RAISE(ABORT, 'house 103 is locked'); END;");
    } else {
      db::RunPostgresStatement(c,
                               "CREATE FUNCTION no103() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                               "IF OLD.\"HouseNo\" = 103 THEN RAISE EXCEPTION 'house 103 is locked'; END IF; "
                               "RETURN NEW; END $$");
      db::RunPostgresStatement(c, "CREATE TRIGGER no103 BEFORE UPDATE ON \"House\" FOR EACH ROW EXECUTE FUNCTION no103()");
    }
  }

  cDataGetway gw_;
  std::vector<std::string> keys_ = {"House=HouseNo", "Member=LineNo"};
};

// Decisions on every difference but two (102's Village and member 102/2 stay undecided).
std::vector<Decision> reviewed() {
  return {
      decided("House", "HouseNo=102", "Village", Choice::Undecided),
      decided("House", "HouseNo=102", "Rooms", Choice::Entry2),
      decided("House", "HouseNo=103", "HeadName", Choice::Entry1),
      decided("House", "HouseNo=104", "WaterSource", Choice::Entry2),
      decided("House", "HouseNo=108", "", Choice::Keep),
      decided("House", "HouseNo=109", "", Choice::Delete),
      decided("Member", "HouseNo=102;LineNo=1", "Age", Choice::Entry1),
      decided("Member", "HouseNo=102;LineNo=2", "", Choice::Undecided),
  };
}

TEST_P(Decide, ListsEveryDifferenceWithBothValues) { EXPECT_EQ(differences(one(), two()), kAll); }

TEST_P(Decide, FieldsLeftOutOfTheComparisonAreNotListed) {
  db::DatabaseRef c = open(one(), two());
  MembersOf<cDataGetway> m(gw_);
  Survey s = survey(c);
  for (TableKeys& t : s.tables) {
    if (t.table == "House") t.ignore = {"village"};
    if (t.table == "Member") t.compare = {"MemberName"};
  }
  std::set<std::string> listed;
  for (const Difference& d : listDifferences(m, s, c))
    listed.insert(d.table + "|" + d.record + "|" + d.field + "|" + d.entry1 + "|" + d.entry2);
  std::set<std::string> expected = kAll;
  expected.erase("House|HouseNo=102|Village|Thika|Thika Town");
  expected.erase("Member|HouseNo=102;LineNo=1|Age|45|46");
  EXPECT_EQ(listed, expected);
}

TEST_P(Decide, AppliedIntoBothEntriesOnlyTheUndecidedRemain) {
  ApplyResult r1 = applyInto("1", reviewed());
  EXPECT_EQ(r1.failed(), 0u);
  EXPECT_EQ(r1.undecided.size(), 2u);
  // Into entry 1: Rooms of 102 and WaterSource of 104 from entry 2; 108 kept (already there);
  // 109 stays absent (already); the rest already as decided.
  EXPECT_EQ(r1.changed(), 2u);
  EXPECT_EQ(differences(one(), two()),
            (std::set<std::string>{"House|HouseNo=102|Village|Thika|Thika Town",
                                   "House|HouseNo=103|HeadName|Grace|Gracie", "House|HouseNo=108||(present)|(absent)",
                                   "House|HouseNo=109||(absent)|(present)", "Member|HouseNo=102;LineNo=1|Age|45|46",
                                   "Member|HouseNo=102;LineNo=2||(present)|(absent)"}));
  ApplyResult r2 = applyInto("2", reviewed());
  EXPECT_EQ(r2.failed(), 0u) << (r2.failed() ? r2.records[0].message : "");
  for (const RecordOutcome& r : r2.records) EXPECT_TRUE(r.ok) << r.record << ": " << r.message;
  // Into entry 2: HeadName of 103, Age of 102/1, 108 copied across (with its member), 109 deleted.
  EXPECT_EQ(r2.changed(), 4u);
  EXPECT_EQ(differences(one(), two()), (std::set<std::string>{"House|HouseNo=102|Village|Thika|Thika Town",
                                                              "Member|HouseNo=102;LineNo=2||(present)|(absent)"}));
  EXPECT_EQ(one(two(), "select MemberName from Member where FKey in (select UniqueKey from House where HouseNo = "
                       "108 and RecStatus <> 0) and RecStatus <> 0"),
            "David");
  EXPECT_EQ(one(two(), "select RecStatus from House where HouseNo = 109"), "0");
}

TEST_P(Decide, AuditHoldsOneRowPerChangedValue) {
  ApplyResult r = applyInto("2", reviewed());
  ASSERT_EQ(r.failed(), 0u);
  EXPECT_EQ(rows(two(), "select reviewer, table_name, record_key, field_name, value_before, value_after, chosen_from "
                        "from ovt_audit order by audit_no"),
            (std::vector<std::string>{
                // Record by record: member 102/1 is applied with its parent 102, decided first.
                "tester|Member|HouseNo=102;LineNo=1|Age|46|45|1",
                "tester|House|HouseNo=103|HeadName|Gracie|Grace|1",
                "tester|House|HouseNo=108||(absent)|(present)|1",
                "tester|House|HouseNo=109||(present)|(deleted)|1",
            }));
  const std::string when = one(two(), "select applied_at from ovt_audit");
  EXPECT_EQ(when.size(), 19u) << when;
}

TEST_P(Decide, ApplyingTwiceChangesNothingTheSecondTime) {
  ASSERT_EQ(applyInto("2", reviewed()).changed(), 4u);
  const auto before = rows(two(), "select * from House order by UniqueKey");
  const auto members = rows(two(), "select * from Member order by UniqueKey");
  ApplyResult again = applyInto("2", reviewed());
  EXPECT_EQ(again.changed(), 0u);
  EXPECT_EQ(again.failed(), 0u);
  EXPECT_EQ(rows(two(), "select * from House order by UniqueKey"), before);
  EXPECT_EQ(rows(two(), "select * from Member order by UniqueKey"), members);
  EXPECT_EQ(rows(two(), "select count(*) from ovt_audit"), (std::vector<std::string>{"4"}));
}

TEST_P(Decide, IntoANewCopyEntry1StaysAsItWas) {
  const auto entry1 = rows(one(), "select * from House order by UniqueKey");
  std::vector<Decision> ds = reviewed();
  ds[5] = decided("House", "HouseNo=109", "", Choice::Keep);  // 109: copied into the copy instead
  ApplyResult r = applyInto("copy", ds);
  for (const RecordOutcome& o : r.records) EXPECT_TRUE(o.ok) << o.record << ": " << o.message;
  EXPECT_EQ(rows(one(), "select * from House order by UniqueKey"), entry1);
  // The copy against entry 2: decided from entry 1 where entry 2 differs, and the undecided.
  EXPECT_EQ(differences(copyLocation(), two()),
            (std::set<std::string>{"House|HouseNo=102|Village|Thika|Thika Town",
                                   "House|HouseNo=103|HeadName|Grace|Gracie", "House|HouseNo=108||(present)|(absent)",
                                   "Member|HouseNo=102;LineNo=1|Age|45|46",
                                   "Member|HouseNo=102;LineNo=2||(present)|(absent)"}));
  // 109 copied in with its members under a new key of the copy's own.
  EXPECT_EQ(rows(copyLocation(), "select m.MemberName from Member as m inner join House as h on m.FKey = h.UniqueKey "
                                 "where h.HouseNo = 109 order by m.LineNo"),
            (std::vector<std::string>{"Rose", "Tom"}));
  EXPECT_EQ(rows(copyLocation(), "select count(*) from House where UniqueKey = 6"), (std::vector<std::string>{"1"}));
  EXPECT_EQ(rows(copyLocation(), "select count(*) from ovt_audit"), (std::vector<std::string>{"3"}));
}

TEST_P(Decide, ARecordWhoseUpdateFailsIsLeftWholeAndTheOthersApplied) {
  failUpdatesOf103(two());
  std::vector<Decision> ds = {
      decided("House", "HouseNo=103", "Village", Choice::Typed, "Nakuru"),  // would run first, then roll back
      decided("House", "HouseNo=103", "HeadName", Choice::Entry1),
      decided("House", "HouseNo=102", "Rooms", Choice::Typed, "many"),  // not a number: refused
      decided("House", "HouseNo=102", "Village", Choice::Entry1),
      decided("House", "HouseNo=104", "WaterSource", Choice::Entry1),
  };
  ApplyResult r = applyInto("2", ds);
  ASSERT_EQ(r.records.size(), 3u);
  EXPECT_FALSE(r.records[0].ok);
  EXPECT_NE(r.records[0].message.find("house 103 is locked"), std::string::npos) << r.records[0].message;
  EXPECT_FALSE(r.records[1].ok);
  EXPECT_EQ(r.records[1].message,
            "value \"many\" for field Rooms of House HouseNo=102 is refused: the column takes a whole number");
  EXPECT_TRUE(r.records[2].ok) << r.records[2].message;
  EXPECT_EQ(one(two(), "select HeadName, Village from House where HouseNo = 103"), "Gracie|Eldama");
  EXPECT_EQ(one(two(), "select Rooms, Village from House where HouseNo = 102"), "5|Thika Town");
  EXPECT_EQ(one(two(), "select WaterSource from House where HouseNo = 104"), "Borehole");
  EXPECT_EQ(rows(two(), "select record_key, field_name from ovt_audit"),
            (std::vector<std::string>{"HouseNo=104|WaterSource"}));
}

TEST_P(Decide, ATypedValueWithQuotesAndBracketsIsStoredAsTyped) {
  const std::string typed = "O'Brien \"[Jr]\"; drop table House; -- ]]'";
  ApplyResult r = applyInto("1", {decided("House", "HouseNo=103", "HeadName", Choice::Typed, typed)});
  ASSERT_EQ(r.failed(), 0u) << r.records[0].message;
  EXPECT_EQ(one(one(), "select HeadName from House where HouseNo = 103"), typed);
  EXPECT_EQ(rows(one(), "select count(*) from House"), (std::vector<std::string>{"5"}));
  EXPECT_EQ(one(one(), "select value_after, chosen_from from ovt_audit"), typed + "|typed");
}

TEST_P(Decide, DryRunReportsTheChangesAndKeepsNothing) {
  const auto before = rows(two(), "select * from House order by UniqueKey");
  ApplyResult r = applyInto("2", reviewed(), true);
  EXPECT_EQ(r.changed(), 4u);
  EXPECT_EQ(rows(two(), "select * from House order by UniqueKey"), before);
  EXPECT_FALSE(open(two())->TableExists("ovt_audit"));
}

// Forwards to the gateway, and ends the process as a kill would when a grid record is to be
// copied.
class KilledAtCopyChild : public MembersOf<cDataGetway> {
 public:
  using MembersOf::MembersOf;
  bool CopyChild(std::string, std::string, std::string, std::string, std::string&, StringArray&, VariantArray&,
                 StringArray&, StringArray&, StringArray&) override {
    _exit(9);
  }
};

TEST_P(Decide, AnApplyKilledInTheMiddleOfARecordLeavesItUnchanged) {
  const std::vector<Decision> ds = {
      decided("House", "HouseNo=103", "HeadName", Choice::Entry1),  // committed before the kill
      decided("House", "HouseNo=102", "Rooms", Choice::Entry1),     // updated, then the kill
      decided("Member", "HouseNo=102;LineNo=2", "", Choice::Keep),
  };
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    cDataGetway gw;
    KilledAtCopyChild m(gw);
    Sides s = sides("2");
    ApplyOptions o;
    o.reviewer = "killed";
    apply(m, survey(s.writer), s, ds, o);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 9);
  EXPECT_EQ(one(two(), "select HeadName from House where HouseNo = 103"), "Grace");
  EXPECT_EQ(one(two(), "select Rooms from House where HouseNo = 102"), "5");
  EXPECT_EQ(rows(two(), "select record_key from ovt_audit"), (std::vector<std::string>{"HouseNo=103"}));
  EXPECT_EQ(differences(one(), two()).count("Member|HouseNo=102;LineNo=2||(present)|(absent)"), 1u);
}

TEST_P(Decide, AGridRecordMarkedDeletedKeepsItsRow) {
  ApplyResult r = applyInto("1", {decided("Member", "HouseNo=102;LineNo=2", "", Choice::Delete)});
  ASSERT_EQ(r.failed(), 0u) << r.records[0].message;
  EXPECT_EQ(r.changed(), 1u);
  EXPECT_EQ(rows(one(), "select MemberName, RecStatus from Member where FKey = 2 order by LineNo"),
            (std::vector<std::string>{"Peter|1", "Lucy|0"}));
  EXPECT_EQ(differences(one(), two()).count("Member|HouseNo=102;LineNo=2||(present)|(absent)"), 0u);
}

OVT_ON_EVERY_ENGINE(Decide);

class DecideGridKeys : public Decide {
 protected:
  void SetUp() override {
    Decide::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    keys_ = {"Farm=FarmNo", "Crop=PlotNo,CropNo"};
    fillFarmSurvey(entries().first(false), entries().second());
  }
};

TEST_P(DecideGridKeys, AGridMatchedOnTwoColumnsIsListedAndDecided) {
  EXPECT_EQ(differences(one(), two()),
            (std::set<std::string>{"Crop|FarmNo=201;PlotNo=1;CropNo=1|Yield|10|12",
                                   "Crop|FarmNo=201;PlotNo=1;CropNo=2|CropName|Beans|Peas",
                                   "Crop|FarmNo=201;PlotNo=2;CropNo=1||(present)|(absent)",
                                   "Crop|FarmNo=201;PlotNo=2;CropNo=2||(absent)|(present)",
                                   "Crop|FarmNo=202;PlotNo=1;CropNo=12||(present)|(absent)",
                                   "Crop|FarmNo=202;PlotNo=11;CropNo=2||(absent)|(present)",
                                   "Farm|FarmNo=203||(present)|(absent)"}));
  const std::vector<Decision> ds = {
      decided("Crop", "FarmNo=201;PlotNo=1;CropNo=1", "Yield", Choice::Entry1),
      decided("Crop", "FarmNo=201;PlotNo=1;CropNo=2", "CropName", Choice::Typed, "Peas (mixed)"),
      decided("Crop", "FarmNo=201;PlotNo=2;CropNo=1", "", Choice::Keep),
      decided("Crop", "FarmNo=201;PlotNo=2;CropNo=2", "", Choice::Delete),
      decided("Crop", "FarmNo=202;PlotNo=1;CropNo=12", "", Choice::Entry1),
      decided("Farm", "FarmNo=203", "", Choice::Keep),
  };
  ApplyResult r = applyInto("2", ds);
  for (const RecordOutcome& o : r.records) EXPECT_TRUE(o.ok) << o.record << ": " << o.message;
  EXPECT_EQ(r.changed(), 6u);
  // Left: the typed name (entry 1 still has its own) and the undecided plot 11 crop 2.
  EXPECT_EQ(differences(one(), two()),
            (std::set<std::string>{"Crop|FarmNo=201;PlotNo=1;CropNo=2|CropName|Beans|Peas (mixed)",
                                   "Crop|FarmNo=202;PlotNo=11;CropNo=2||(absent)|(present)"}));
  auto crops = [&](int farm) {
    return rows(two(), "select c.PlotNo, c.CropNo, c.CropName, c.Yield, c.RecStatus from Crop as c inner join Farm as "
                       "f on c.FKey = f.UniqueKey where f.FarmNo = " + std::to_string(farm) +
                           " and f.RecStatus <> 0 order by c.PlotNo, c.CropNo");
  };
  EXPECT_EQ(crops(201), (std::vector<std::string>{"1|1|Maize|10|1", "1|2|Peas (mixed)|4|1", "2|1|Maize|7|1",
                                                  "2|2|Sorghum|5|0"}));
  EXPECT_EQ(crops(202), (std::vector<std::string>{"1|1|Tea|3|1", "1|12|Kale|1|1", "11|2|Yam|6|1"}));
  EXPECT_EQ(crops(203), (std::vector<std::string>{"1|1|Rice|2|1"}));
  EXPECT_EQ(rows(two(), "select table_name, record_key, field_name, value_before, value_after from ovt_audit "
                        "order by audit_no"),
            // Farm 201's grid records: whole records first, then values.
            (std::vector<std::string>{"Crop|FarmNo=201;PlotNo=2;CropNo=1||(absent)|(present)",
                                      "Crop|FarmNo=201;PlotNo=2;CropNo=2||(present)|(deleted)",
                                      "Crop|FarmNo=201;PlotNo=1;CropNo=1|Yield|12|10",
                                      "Crop|FarmNo=201;PlotNo=1;CropNo=2|CropName|Peas|Peas (mixed)",
                                      "Crop|FarmNo=202;PlotNo=1;CropNo=12||(absent)|(present)",
                                      "Farm|FarmNo=203||(absent)|(present)"}));
  // Again: nothing to do.
  EXPECT_EQ(applyInto("2", ds).changed(), 0u);
}

OVT_ON_EVERY_ENGINE(DecideGridKeys);

}  // namespace
}  // namespace ovt::test
