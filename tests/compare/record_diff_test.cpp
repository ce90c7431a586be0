#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "compare/diff_support.h"
#include "ovtbldiff/gateway.h"

namespace ovt {
namespace {

using test::raisedBy;
using test::TracingDatabase;

StringArray fieldsF(int count) {
  std::vector<std::string> f;
  for (int i = 0; i < count; ++i) f.push_back("F" + std::to_string(i));
  return StringArray::of(f);
}

size_t occurrences(const std::string& s, const std::string& what) {
  size_t n = 0;
  for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
  return n;
}

struct Sent {
  std::string statement;
  int32_t option = -1;
};

// Runs GetTblDiffRecRS on A and B through a recording connection given as oDB.
Sent sent(StringArray keys, StringArray fields, int32_t type, bool oru) {
  auto rec = std::make_shared<TracingDatabase>();
  cDataGetway g;
  db::DatabaseRef conn = rec;
  g.GetTblDiffRecRS("A", "B", keys, fields, type, oru, &conn);
  EXPECT_EQ(rec->statements.size(), 1u);
  if (rec->statements.empty()) return {};
  return {rec->statements[0], rec->options[0]};
}

struct WorkedExample {
  std::vector<std::string> keys, fields;
  int32_t type;
  bool oru;
  int32_t option;
  std::string statement;
};

TEST(RecordDifferenceText, WorkedExamples) {
  const std::vector<WorkedExample> examples = {
      {{"ID"}, {"X", "Y"}, 1, true, 1,
       "select [A].[ID], [A].[X], [A].[Y] from [A] where [A].[ID]  in (select [A].[ID]  from [A] "
       "inner join [B] on [A].[ID] = [B].[ID]  and [A].recstatus = [B].recstatus  where  "
       "[A].[X]& [A].[Y]<> [B].[X]& [B].[Y]) and [A].recstatus = 1  order by [A].[ID]"},
      {{"ID"}, {"X", "Y"}, 2, true, 0,
       "select [A].[ID], [A].[X], [A].[Y] from [A] where [A].[ID]  not in (select [A].[ID]  from "
       "[A] inner join [B] on [A].[ID] = [B].[ID]  and [A].recstatus = [B].recstatus ) and "
       "[A].recstatus = 1  order by [A].[ID]"},
      {{"K1", "K2"}, {"X"}, 1, false, 1,
       "select [A].[K1], [A].[K2], [A].[X] from [A] where [A].[K1] & [A].[K2]  in (select "
       "[A].[K1] & [A].[K2]  from [A] inner join [B] on [A].[K1] = [B].[K1] and [A].[K2] = "
       "[B].[K2]  where [A].[X]<>[B].[X]) order by [A].[K1], [A].[K2]"},
      {{"K1", "K2"}, {"X"}, 2, false, 0,
       "select [A].[K1], [A].[K2], [A].[X] from [A] where [A].[K1] & [A].[K2]  not in (select "
       "[A].[K1] & [A].[K2]  from [A] inner join [B] on [A].[K1] = [B].[K1] and [A].[K2] = "
       "[B].[K2] ) order by [A].[K1], [A].[K2]"},
  };
  for (const WorkedExample& ex : examples) {
    Sent s = sent(StringArray::of(ex.keys), StringArray::of(ex.fields), ex.type, ex.oru);
    EXPECT_EQ(s.statement, ex.statement);
    EXPECT_EQ(s.option, ex.option);
  }
}

TEST(RecordDifferenceText, OneFieldIsPlainComparisonTwoAreConcatenated) {
  std::string one = sent({"ID"}, {"X"}, 1, false).statement;
  EXPECT_NE(one.find(" where [A].[X]<>[B].[X])"), std::string::npos);
  EXPECT_EQ(one.find("&"), std::string::npos);
  std::string two = sent({"ID"}, {"X", "Y"}, 1, false).statement;
  EXPECT_NE(two.find(" where  [A].[X]& [A].[Y]<> [B].[X]& [B].[Y])"), std::string::npos);
}

TEST(RecordDifferenceText, GroupsOf31FieldsUpTo260ThenOneTailGroup) {
  std::string s31 = sent({"ID"}, fieldsF(31), 1, false).statement;
  EXPECT_EQ(occurrences(s31, " OR "), 0u);
  EXPECT_NE(s31.find(" [A].[F30]<> [B].[F0]&"), std::string::npos);

  std::string s32 = sent({"ID"}, fieldsF(32), 1, false).statement;
  EXPECT_EQ(occurrences(s32, " OR "), 1u);
  EXPECT_NE(s32.find(" [B].[F30] OR  [A].[F31]<> [B].[F31]) order by [A].[ID]"), std::string::npos);

  // Indexes 0..260: the last index closes a group, so no trailing " OR " remains.
  std::string s261 = sent({"ID"}, fieldsF(261), 1, false).statement;
  EXPECT_EQ(occurrences(s261, " OR "), 8u);
  EXPECT_NE(s261.find(" [B].[F260]) order by"), std::string::npos);

  std::string s262 = sent({"ID"}, fieldsF(262), 1, false).statement;
  EXPECT_EQ(occurrences(s262, " OR "), 9u);  // ten groups
  for (int end : {30, 60, 90, 120, 150, 180, 210, 240, 260}) {
    std::string boundary = " [B].[F" + std::to_string(end) + "] OR  [A].[F" + std::to_string(end + 1) + "]";
    EXPECT_NE(s262.find(boundary), std::string::npos) << boundary;
  }
  EXPECT_NE(s262.find(" [B].[F240] OR  [A].[F241]&"), std::string::npos);
  EXPECT_NE(s262.find(" OR  [A].[F261]<> [B].[F261]) order by"), std::string::npos);

  // Everything after 260 stays in one group, however many fields there are.
  std::string s300 = sent({"ID"}, fieldsF(300), 1, false).statement;
  EXPECT_EQ(occurrences(s300, " OR "), 9u);
  EXPECT_NE(s300.find(" [A].[F298]& [A].[F299]<> [B].[F261]&"), std::string::npos);
}

TEST(RecordDifferenceText, PlainTablesMentionNoRecordStatus) {
  for (int32_t type : {1, 2}) {
    std::string s = sent({"K1", "K2"}, {"X", "Y"}, type, false).statement;
    EXPECT_EQ(s.find("recstatus"), std::string::npos) << s;
  }
}

TEST(RecordDifferenceCalls, OtherQueryTypeOpensNothing) {
  auto rec = std::make_shared<TracingDatabase>();
  cDataGetway g;
  g.SetDB(rec);
  StringArray keys{"ID"}, fields{"X"};
  EXPECT_EQ(g.GetTblDiffRecRS("A", "B", keys, fields, 3, true), nullptr);
  EXPECT_TRUE(rec->calls.empty());
}

TEST(RecordDifferenceCalls, SingleEmptyFieldIsRejectedBeforeAnyStatement) {
  auto rec = std::make_shared<TracingDatabase>();
  cDataGetway g;
  g.SetDB(rec);
  StringArray keys{"ID"}, empty{""};
  ComError e = raisedBy([&] { g.GetTblDiffRecRS("A", "B", keys, empty, 1, true); });
  EXPECT_EQ(e.number(), objectError(724));
  EXPECT_EQ(e.number(), static_cast<int32_t>(0x800402D4u));
  EXPECT_EQ(e.source(), "cDATAGateway:GetTblDiffRecRs");
  EXPECT_EQ(e.description(), "There are no fields to compare.");
  EXPECT_TRUE(rec->calls.empty());
  // One field that is not empty is fine; so is "" among other fields (it is just a name).
  StringArray one{"X"}, withEmpty{"", "X"};
  EXPECT_NO_THROW(g.GetTblDiffRecRS("A", "B", keys, one, 1, true));
  EXPECT_NO_THROW(g.GetTblDiffRecRS("A", "B", keys, withEmpty, 1, true));
}

TEST(RecordDifferenceCalls, NoConnectionAnywhereRaises723) {
  cDataGetway g;
  StringArray keys{"ID"}, fields{"X"};
  db::DatabaseRef nothing;
  for (db::DatabaseRef* arg : {static_cast<db::DatabaseRef*>(nullptr), &nothing}) {
    ComError e = raisedBy([&] { g.GetTblDiffRecRS("A", "B", keys, fields, 1, true, arg); });
    EXPECT_EQ(e.number(), static_cast<int32_t>(0x800402D3u));
    EXPECT_EQ(e.source(), "cDATAGateway:GetTblDiffRecRs");
    EXPECT_EQ(e.description(), "Need to set oDB or the DB property");
  }
  EXPECT_EQ(nothing, nullptr);
}

TEST(RecordDifferenceCalls, NothingArgumentIsFilledFromStoredConnection) {
  auto stored = std::make_shared<TracingDatabase>();
  cDataGetway g;
  g.SetDB(stored);
  StringArray keys{"ID"}, fields{"X"};
  db::DatabaseRef mine;
  g.GetTblDiffRecRS("A", "B", keys, fields, 2, false, &mine);
  EXPECT_EQ(mine, stored);
  EXPECT_EQ(stored->statements.size(), 1u);
  // The filled-in argument stays filled when the call fails afterwards.
  db::DatabaseRef again;
  StringArray noKeys = StringArray::of({});
  EXPECT_THROW(g.GetTblDiffRecRS("A", "B", noKeys, fields, 1, false, &again), ComError);
  EXPECT_EQ(again, stored);
  // A given argument wins over the stored connection.
  auto other = std::make_shared<TracingDatabase>();
  db::DatabaseRef given = other;
  g.GetTblDiffRecRS("A", "B", keys, fields, 1, false, &given);
  EXPECT_EQ(given, other);
  EXPECT_EQ(other->statements.size(), 1u);
  EXPECT_EQ(stored->statements.size(), 1u);
}

TEST(RecordDifferenceHandler, GenericFailureBecomesTooManyFieldsKeepingSource) {
  auto rec = std::make_shared<TracingDatabase>();
  cDataGetway g;
  g.SetDB(rec);
  StringArray keys{"ID"}, fields{"X"};
  rec->failure = std::make_unique<ComError>(kGenericFailure, "OVDB", "expression tree too large");
  ComError e = raisedBy([&] { g.GetTblDiffRecRS("A", "B", keys, fields, 1, true); });
  EXPECT_EQ(e.number(), kGenericFailure);
  EXPECT_EQ(e.source(), "OVDB");
  EXPECT_EQ(e.description(), "Too many fields to compare! Select less fields and try again.");

  rec->failure = std::make_unique<ComError>(-2147217865, "OVDB", "no such table: A");
  e = raisedBy([&] { g.GetTblDiffRecRS("A", "B", keys, fields, 2, true); });
  EXPECT_EQ(e.number(), -2147217865);
  EXPECT_EQ(e.source(), "OVDB");
  EXPECT_EQ(e.description(), "no such table: A");
}

TEST(RecordDifferenceHandler, BadArraysFailWithRuntimeErrors) {
  auto rec = std::make_shared<TracingDatabase>();
  cDataGetway g;
  g.SetDB(rec);
  StringArray fields{"X"}, noKeys = StringArray::of({}), unallocated;
  ComError empty = raisedBy([&] { g.GetTblDiffRecRS("A", "B", noKeys, fields, 1, true); });
  EXPECT_EQ(empty.number(), 5);
  ComError unset = raisedBy([&] { g.GetTblDiffRecRS("A", "B", unallocated, fields, 1, true); });
  EXPECT_EQ(unset.number(), 9);
  StringArray many = fieldsF(32768);
  StringArray keys{"ID"};
  ComError overflow = raisedBy([&] { g.GetTblDiffRecRS("A", "B", keys, many, 1, true); });
  EXPECT_EQ(overflow.number(), 6);
  EXPECT_EQ(overflow.description(), "Overflow");
  EXPECT_TRUE(rec->calls.empty());
}

}  // namespace
}  // namespace ovt
