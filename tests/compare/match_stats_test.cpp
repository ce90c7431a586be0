#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "compare/diff_support.h"
#include "ovtbldiff/dbcomp/postgres.h"
#include "ovtbldiff/dbcomp/sqlite.h"
#include "ovtbldiff/gateway.h"

namespace ovt {
namespace {

using test::DiffFile;
using test::raisedBy;
using test::FixedRecordset;
using test::TracingDatabase;

std::shared_ptr<TracingDatabase> answering(const std::string& field, Variant value, int32_t count = 1) {
  auto rec = std::make_shared<TracingDatabase>();
  rec->answer = std::make_shared<FixedRecordset>(std::map<std::string, Variant>{{field, value}}, count);
  return rec;
}

TEST(QualifiedMatchKeyCalls, CountAboveZeroIsFalseAndArgumentBeatsStored) {
  auto stored = answering("TotalNull", int32_t{0});
  auto other = answering("TotalNull", int32_t{3});
  cDataGetway g;
  g.SetDB(stored);
  bool oru = false;
  db::DatabaseRef arg = other;
  EXPECT_FALSE(g.IsQualifiedMatchKey("ID", "A", oru, &arg));
  EXPECT_TRUE(stored->statements.empty());
  db::DatabaseRef nothing;
  EXPECT_TRUE(g.IsQualifiedMatchKey("ID", "A", oru, &nothing));
  EXPECT_EQ(nothing, nullptr);  // the argument is not filled in
}

TEST(QualifiedMatchKeyCalls, NoConnectionFailsThroughOwnHandler) {
  cDataGetway g;
  bool oru = true;
  ComError e = raisedBy([&] { g.IsQualifiedMatchKey("ID", "A", oru); });
  EXPECT_EQ(e.number(), 91);
  EXPECT_EQ(e.source(), "cDATAGateway:IsQualifiedMatchKey");
}

TEST(MatchKeyUniqueCalls, DefaultTableIsStoredViewNameAndStoredObjectIsRequired) {
  auto stored = std::make_shared<TracingDatabase>();
  stored->SetViewName("Survey");
  cDataGetway g;
  g.SetDB(stored);
  StringArray keys{"ID"};
  bool oru = false;
  std::string emptyName;
  EXPECT_TRUE(g.IsMatchKeyUnique(keys, oru));
  EXPECT_TRUE(g.IsMatchKeyUnique(keys, oru, &emptyName));
  EXPECT_EQ(stored->statements[0], "select [ID] from [Survey] group by [ID] having count(*)>1");
  EXPECT_EQ(stored->statements[1], stored->statements[0]);

  // Duplicates found: a record is in the result.
  auto dup = std::make_shared<TracingDatabase>();
  dup->answer = std::make_shared<FixedRecordset>(std::map<std::string, Variant>{}, 1);
  db::DatabaseRef arg = dup;
  std::string a = "A";
  EXPECT_FALSE(g.IsMatchKeyUnique(keys, oru, &a, &arg));
  EXPECT_EQ(dup->statements.at(0), "select [ID] from [A] group by [ID] having count(*)>1");

  cDataGetway bare;
  ComError e = raisedBy([&] { bare.IsMatchKeyUnique(keys, oru, &a, &arg); });
  EXPECT_EQ(e.number(), 91);
  EXPECT_EQ(e.source(), "cDATAGateway:IsMatchKeyUnique");
  EXPECT_EQ(dup->statements.size(), 1u);
}

TEST(TotalMatchedCalls, NoConnectionRaises707NamingTheDifferenceMember) {
  cDataGetway g;
  StringArray keys{"ID"};
  db::DatabaseRef nothing;
  ComError e = raisedBy([&] { g.TotalMatchedRec("A", "B", keys, true, &nothing); });
  EXPECT_EQ(e.number(), static_cast<int32_t>(0x800402C3u));
  EXPECT_EQ(e.source(), "cDATAGateway:GetTblDiffRecRs");
  EXPECT_EQ(e.description(), "Need to set oDB or the DB property");
}

TEST(TotalMatchedCalls, ArgumentBeatsStoredAndNoKeysRaises5) {
  cDataGetway g;
  g.SetDB(answering("totalrec", int32_t{1}));
  StringArray keys{"ID"};
  db::DatabaseRef arg = answering("totalrec", int32_t{32767});
  EXPECT_EQ(g.TotalMatchedRec("A", "B", keys, false, &arg), 32767);
  StringArray none = StringArray::of({});
  ComError empty = raisedBy([&] { g.TotalMatchedRec("A", "B", none, false); });
  EXPECT_EQ(empty.number(), 5);
  EXPECT_EQ(empty.source(), "cDATAGateway:TotalMatchedRec");
}

// --- On a real SQLite file ---------------------------------------------------------------

// Oru tables A and B with the key ID and a second key part K.
class MatchStatsOnFile : public test::DiffTest {
 protected:
  void SetUp() override {
    DiffTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    for (const char* t : {"A", "B"})
      f.run({std::string("create table [") + t +
             "] ([UniqueKey] counter, [RecStatus] long, [ID] long, [K] long, [Name] text(20))"});
    g.SetDB(f.rec);
  }
  void insert(const std::string& table, const std::vector<std::string>& rows) {
    for (const std::string& r : rows)
      f.run({"insert into " + table + " (RecStatus, ID, K, Name) values (" + r + ")"});
  }
  cDataGetway g;
};

TEST_P(MatchStatsOnFile, QualifiedKeyLooksAtActiveRecordsAndMissingStatus) {
  struct Case {
    const char* what;
    std::vector<std::string> rows;  // RecStatus, ID, K, Name
    bool oru, qualified;
  };
  const std::vector<Case> cases = {
      {"all filled", {"1, 1, 1, 'a'", "0, 2, 1, 'b'"}, true, true},
      {"Null only in a deleted record", {"1, 1, 1, 'a'", "0, null, 1, 'b'"}, true, true},
      {"the same, plain table", {"1, 1, 1, 'a'", "0, null, 1, 'b'"}, false, false},
      {"Null in an active record", {"1, null, 1, 'a'"}, true, false},
      {"a record without status", {"1, 1, 1, 'a'", "null, 2, 1, 'b'"}, true, false},
      {"no status, plain table", {"1, 1, 1, 'a'", "null, 2, 1, 'b'"}, false, true},
      {"no records", {}, true, true},
  };
  for (const Case& c : cases) {
    f.run({"delete from A"});
    insert("A", c.rows);
    bool oru = c.oru;
    EXPECT_EQ(g.IsQualifiedMatchKey("ID", "A", oru), c.qualified) << c.what;
  }
  // The statements as sent, Oru and plain, each with option 0; OruType is only read.
  bool oru = true, plain = false;
  g.IsQualifiedMatchKey("ID", "A", oru);
  g.IsQualifiedMatchKey("ID", "A", plain);
  EXPECT_EQ(std::vector<std::string>(f.rec->statements.end() - 2, f.rec->statements.end()),
            (std::vector<std::string>{
                "select count(*) as TotalNull from [A] where ([ID] is null and Recstatus = 1) OR Recstatus is null",
                "select count(*) as TotalNull from [A] where [ID] is null"}));
  EXPECT_EQ(f.rec->options.back(), 0);
  EXPECT_TRUE(oru);
  ComError e = raisedBy([&] { g.IsQualifiedMatchKey("ID", "Nowhere", oru); });
  EXPECT_EQ(e.number(), db::kDbErrCommand);
  EXPECT_EQ(e.source(), "cDATAGateway:IsQualifiedMatchKey");
  EXPECT_NE(e.description().find("Nowhere"), std::string::npos) << e.description();
}

TEST_P(MatchStatsOnFile, UniqueKeyIgnoresDuplicatesAmongInactiveRecordsOfOruTables) {
  struct Case {
    const char* what;
    std::vector<std::string> rows;
    std::vector<std::string> keys;
    bool oru, unique;
  };
  const std::vector<Case> cases = {
      {"distinct", {"1, 1, 1, 'a'", "1, 2, 1, 'b'"}, {"ID"}, true, true},
      {"active duplicate", {"1, 1, 1, 'a'", "1, 1, 2, 'b'"}, {"ID"}, true, false},
      {"duplicate in a deleted record", {"1, 1, 1, 'a'", "0, 1, 2, 'b'"}, {"ID"}, true, true},
      {"the same, plain table", {"1, 1, 1, 'a'", "0, 1, 2, 'b'"}, {"ID"}, false, false},
      {"two deleted duplicates", {"0, 1, 1, 'a'", "0, 1, 1, 'b'"}, {"ID", "K"}, true, true},
      {"second key part separates", {"1, 1, 1, 'a'", "1, 1, 2, 'b'"}, {"ID", "K"}, true, true},
      {"text key without case", {"1, 1, 1, 'Ann'", "1, 2, 1, 'ANN'"}, {"Name"}, false, false},
  };
  std::string a = "A";
  for (const Case& c : cases) {
    f.run({"delete from A"});
    insert("A", c.rows);
    StringArray keys = StringArray::of(c.keys);
    bool oru = c.oru;
    EXPECT_EQ(g.IsMatchKeyUnique(keys, oru, &a), c.unique) << c.what;
  }
  StringArray two{"ID", "K"};
  bool oru = true;
  EXPECT_TRUE(g.IsMatchKeyUnique(two, oru, &a));
  EXPECT_EQ(f.rec->statements.back(), "select [ID],[K] from [A] where recstatus =1 group by [ID],[K] having count(*)>1");
  EXPECT_EQ(f.rec->options.back(), 3);
  // Without a table name the stored connection's view name is the table.
  f.rec->SetViewName("A");
  StringArray id{"ID"};
  bool plain = false;
  EXPECT_TRUE(g.IsMatchKeyUnique(id, plain));
  EXPECT_EQ(f.rec->statements.back(), "select [ID] from [A] group by [ID] having count(*)>1");
}

TEST_P(MatchStatsOnFile, MatchedCountPairsOnKeyTextAndStatus) {
  struct Case {
    const char* what;
    std::vector<std::string> a, b;
    std::vector<std::string> keys;
    bool oru;
    int16_t count;
  };
  const std::vector<Case> cases = {
      {"nothing pairs", {"1, 1, 1, 'a'"}, {"1, 2, 1, 'a'"}, {"ID"}, true, 0},
      {"empty second table", {"1, 1, 1, 'a'"}, {}, {"ID"}, false, 0},
      {"two of three pair", {"1, 1, 1, 'a'", "1, 2, 1, 'b'", "1, 3, 1, 'c'"}, {"1, 1, 9, 'x'", "1, 3, 9, 'y'"},
       {"ID"}, true, 2},
      // The partner is deleted: no pair for an Oru table, a pair for a plain one.
      {"partner deleted, Oru", {"1, 1, 1, 'a'"}, {"0, 1, 1, 'a'"}, {"ID"}, true, 0},
      {"partner deleted, plain", {"1, 1, 1, 'a'"}, {"0, 1, 1, 'a'"}, {"ID"}, false, 1},
      // A deleted record of A with the key of an active matched one is counted as well.
      {"deleted twin counted", {"1, 1, 1, 'a'", "0, 1, 1, 'b'"}, {"1, 1, 1, 'x'"}, {"ID"}, true, 2},
      // Keys (1, 23) and (12, 3) join to the same text "123".
      {"concatenated keys collide", {"1, 1, 23, 'a'", "1, 12, 3, 'b'"}, {"1, 1, 23, 'x'"}, {"ID", "K"}, false, 2},
      {"both key parts must match", {"1, 1, 23, 'a'"}, {"1, 1, 24, 'x'"}, {"ID", "K"}, false, 0},
  };
  for (const Case& c : cases) {
    f.run({"delete from A", "delete from B"});
    insert("A", c.a);
    insert("B", c.b);
    StringArray keys = StringArray::of(c.keys);
    EXPECT_EQ(g.TotalMatchedRec("A", "B", keys, c.oru), c.count) << c.what;
  }
  // The statements as sent: two keys of plain tables (the last case), one key of Oru tables.
  EXPECT_EQ(f.rec->statements.back(),
            "select count(*) as totalrec from [A] where [A].[ID] & [A].[K]  in (select [A].[ID] & [A].[K]  from [A] "
            "inner join [B] on ([A].[ID] = [B].[ID]) and ([A].[K] = [B].[K]) )");
  StringArray id{"ID"};
  EXPECT_EQ(g.TotalMatchedRec("A", "B", id, true), 1);
  EXPECT_EQ(f.rec->statements.back(),
            "select count(*) as totalrec from [A] where [A].[ID]  in (select [A].[ID]  from [A] inner join [B] on "
            "([A].[ID] = [B].[ID])  and ([A].recstatus = [B].recstatus)where  [A].recstatus = 1 )");
  EXPECT_EQ(f.rec->options.back(), 3);
}

TEST_P(MatchStatsOnFile, MatchedCountAbove32767OverflowsTheWholeNumber) {
  // 32767 records pair, then one more.
  if (GetParam() == test::Engine::Sqlite)
    db::RunSqliteScript(f.file,
                        "with recursive n(i) as (select 1 union all select i + 1 from n where i < 32768) "
                        "insert into A (RecStatus, ID, K) select 1, i, 0 from n where i < 32768");
  else
    db::RunPostgresStatement(f.file, "insert into \"A\" (\"RecStatus\", \"ID\", \"K\") "
                                     "select 1, i, 0 from generate_series(1, 32767) i");
  f.run({"insert into B (RecStatus, ID, K) select RecStatus, ID, K from A"});
  StringArray keys{"ID"};
  EXPECT_EQ(g.TotalMatchedRec("A", "B", keys, true), 32767);
  insert("A", {"1, 32768, 0, null"});
  insert("B", {"1, 32768, 0, null"});
  db::DatabaseRef mine;
  ComError e = raisedBy([&] { g.TotalMatchedRec("A", "B", keys, true, &mine); });
  EXPECT_EQ(e.number(), 6);
  EXPECT_EQ(e.source(), "cDATAGateway:TotalMatchedRec");
  EXPECT_EQ(e.description(), "Overflow");
  EXPECT_EQ(mine, f.rec);

  ComError noTable = raisedBy([&] { g.TotalMatchedRec("A", "Nowhere", keys, false); });
  EXPECT_EQ(noTable.number(), db::kDbErrCommand);
  EXPECT_EQ(noTable.source(), "cDATAGateway:TotalMatchedRec");
  EXPECT_NE(noTable.description().find("Nowhere"), std::string::npos) << noTable.description();
}

}  // namespace
OVT_ON_EVERY_ENGINE(MatchStatsOnFile);

}  // namespace ovt
