#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "compare/diff_support.h"
#include "ovtbldiff/gateway.h"

namespace ovt {
namespace {

using test::raisedBy;
using test::FixedRecordset;
using test::TracingDatabase;

std::shared_ptr<TracingDatabase> answering(const std::string& field, Variant value, int32_t count = 1) {
  auto rec = std::make_shared<TracingDatabase>();
  rec->answer = std::make_shared<FixedRecordset>(std::map<std::string, Variant>{{field, value}}, count);
  return rec;
}

TEST(QualifiedMatchKeyText, OruAndPlainStatements) {
  auto rec = answering("TotalNull", int32_t{0});
  cDataGetway g;
  g.SetDB(rec);
  bool oru = true, plain = false;
  EXPECT_TRUE(g.IsQualifiedMatchKey("ID", "A", oru));
  EXPECT_TRUE(g.IsQualifiedMatchKey("ID", "A", plain));
  ASSERT_EQ(rec->statements.size(), 2u);
  EXPECT_EQ(rec->statements[0],
            "select count(*) as TotalNull from [A] where ([ID] is null and Recstatus = 1) OR Recstatus is null");
  EXPECT_EQ(rec->statements[1], "select count(*) as TotalNull from [A] where [ID] is null");
  EXPECT_EQ(rec->options, (std::vector<int32_t>{0, 0}));
  EXPECT_TRUE(oru);
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

TEST(MatchKeyUniqueText, WorkedExamples) {
  auto rec = std::make_shared<TracingDatabase>();
  cDataGetway g;
  g.SetDB(rec);
  StringArray two{"K1", "K2"}, one{"ID"};
  bool oru = true, plain = false;
  std::string a = "A";
  EXPECT_TRUE(g.IsMatchKeyUnique(two, oru, &a));
  EXPECT_TRUE(g.IsMatchKeyUnique(one, plain, &a));
  ASSERT_EQ(rec->statements.size(), 2u);
  EXPECT_EQ(rec->statements[0],
            "select [K1],[K2] from [A] where recstatus =1 group by [K1],[K2] having count(*)>1");
  EXPECT_EQ(rec->statements[1], "select [ID] from [A] group by [ID] having count(*)>1");
  EXPECT_EQ(rec->options, (std::vector<int32_t>{3, 3}));
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

TEST(TotalMatchedText, WorkedExamples) {
  auto rec = answering("totalrec", int32_t{4});
  cDataGetway g;
  g.SetDB(rec);
  StringArray one{"ID"}, two{"K1", "K2"};
  EXPECT_EQ(g.TotalMatchedRec("A", "B", one, true), 4);
  EXPECT_EQ(g.TotalMatchedRec("A", "B", two, false), 4);
  ASSERT_EQ(rec->statements.size(), 2u);
  EXPECT_EQ(rec->statements[0],
            "select count(*) as totalrec from [A] where [A].[ID]  in (select [A].[ID]  from [A] inner "
            "join [B] on ([A].[ID] = [B].[ID])  and ([A].recstatus = [B].recstatus)where  "
            "[A].recstatus = 1 )");
  EXPECT_EQ(rec->statements[1],
            "select count(*) as totalrec from [A] where [A].[K1] & [A].[K2]  in (select [A].[K1] & "
            "[A].[K2]  from [A] inner join [B] on ([A].[K1] = [B].[K1]) and ([A].[K2] = [B].[K2]) )");
  EXPECT_EQ(rec->options, (std::vector<int32_t>{3, 3}));
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

TEST(TotalMatchedCalls, ArgumentIsFilledInAndCountAbove32767Overflows) {
  auto stored = answering("totalrec", int32_t{32768});
  cDataGetway g;
  g.SetDB(stored);
  StringArray keys{"ID"};
  db::DatabaseRef mine;
  ComError e = raisedBy([&] { g.TotalMatchedRec("A", "B", keys, false, &mine); });
  EXPECT_EQ(e.number(), 6);
  EXPECT_EQ(e.source(), "cDATAGateway:TotalMatchedRec");
  EXPECT_EQ(mine, stored);

  auto full = answering("totalrec", int32_t{32767});
  db::DatabaseRef arg = full;
  EXPECT_EQ(g.TotalMatchedRec("A", "B", keys, false, &arg), 32767);

  StringArray none = StringArray::of({});
  ComError empty = raisedBy([&] { g.TotalMatchedRec("A", "B", none, false); });
  EXPECT_EQ(empty.number(), 5);
  EXPECT_EQ(empty.source(), "cDATAGateway:TotalMatchedRec");
}

}  // namespace
}  // namespace ovt
