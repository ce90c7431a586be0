// Fault injection over multi-record CopyRec and DeleteRec: the k-th statement fails, for every
// k. Each record's transaction then ends either committed with its ErrMsg entry untouched, or
// rolled back with a message; the result says whether every record committed, and no
// statement of a record names another record's key.
#include <gtest/gtest.h>

#include "ovtbldiff/gateway.h"
#include "support/scripted_db.h"

namespace ovt::test {
namespace {

void expectWholeRecords(const std::vector<std::vector<std::string>>& blocks, const StringArray& errMsg,
                        bool result, const std::vector<std::vector<std::string>>& foreignKeys, int k) {
  bool all = true;
  ASSERT_EQ(blocks.size(), foreignKeys.size()) << "k=" << k;
  for (size_t i = 0; i < blocks.size(); ++i) {
    const std::string& end = blocks[i].back();
    ASSERT_TRUE(end == "CommitTrans" || end == "RollbackTrans") << "k=" << k << " record " << i;
    const bool committed = end == "CommitTrans";
    all = all && committed;
    EXPECT_EQ(errMsg.at(static_cast<int32_t>(i)) == "untouched", committed) << "k=" << k << " record " << i;
    for (const std::string& call : blocks[i])
      for (const std::string& foreign : foreignKeys[i])
        EXPECT_EQ(call.find(foreign), std::string::npos) << "k=" << k << ": " << call;
  }
  EXPECT_EQ(result, all) << "k=" << k;
}

TEST(FaultInjection, CopyRecAppliesEachRecordWholeOrNotAtAll) {
  int total = 0;
  for (int k = 0;; ++k) {
    auto db = std::make_shared<FaultyScriptedDatabase>();
    db->failAt = k;
    for (const char* t : {"A", "B", "viewA", "viewB"}) db->existing[t] = true;
    db->tableTypes["A"] = 0;
    db->tableTypes["B"] = 0;
    // Record 5 exists in B (key 7, source key 100); record 6 does not (source key 101, new 55).
    db->answers["select * from [B] where [ID] = 5 "] = Rows{{"UniqueKey"}, {3}, {{Variant(int32_t{7})}}};
    db->answers["select [Name],UniqueKey from [A] where [ID] = 5 "] =
        Rows{{"Name", "UniqueKey"}, {202, 3}, {{Variant("x"), Variant(int32_t{100})}}};
    db->answers["select * from [B] where [ID] = 6 "] = Rows{{"UniqueKey"}, {3}, {}};
    db->answers["select UniqueKey from [A] where [ID] = 6 "] = Rows{{"UniqueKey"}, {3}, {{Variant(int32_t{101})}}};
    db->answers["select UniqueKey from [B] where [ID] = 6 "] = Rows{{"UniqueKey"}, {3}, {{Variant(int32_t{55})}}};
    cDataGetway gw;
    StringArray matchFld = keys({{"ID", "3"}});
    VariantArray vals = values({{int32_t{5}}, {int32_t{6}}});
    StringArray common{"Name"};
    StringArray grids = StringArray::of2({{"", ""}});
    StringArray errMsg = messages(2);
    bool oru = true;
    db::DatabaseRef ref = db;
    const bool result = gw.CopyRec("A", "B", matchFld, vals, common, oru, grids, errMsg, &ref);
    expectWholeRecords(transactions(db->work()), errMsg, result,
                       {{"= 6", "101", "55"}, {"= 5", "100", "=7"}}, k);
    if (k == 0) {
      EXPECT_TRUE(result);
      total = db->seen;
    }
    if (k > total) break;
  }
  EXPECT_EQ(total, 7);
}

TEST(FaultInjection, DeleteRecMarksEachRecordWholeOrNotAtAll) {
  int total = 0;
  for (int k = 0;; ++k) {
    auto db = std::make_shared<FaultyScriptedDatabase>();
    db->failAt = k;
    for (const char* t : {"S", "viewS", "gvK"}) db->existing[t] = true;
    db->tableTypes["S"] = 0;
    db->tableTypes["gvK"] = 1;
    db->answers[gridListQuery("viewS")] = Rows{{"GridName", "GridViewName"}, {202, 202}, {{Variant("G"), Variant("gvK")}}};
    db->answers[dataTableQuery("gvK")] = Rows{{"DataTable"}, {202}, {{Variant("K")}}};
    db->answers["select recstatus,UniqueKey from [S] where ID = 5 "] =
        Rows{{"recstatus", "UniqueKey"}, {2, 3}, {{Variant(int16_t{1}), Variant(int32_t{70})}}};
    db->answers["select recstatus,UniqueKey from [S] where ID = 6 "] =
        Rows{{"recstatus", "UniqueKey"}, {2, 3}, {{Variant(int16_t{1}), Variant(int32_t{71})}}};
    cDataGetway gw;
    gw.SetDB(db);
    StringArray matchFld = keys({{"ID", "3"}});
    VariantArray vals = values({{int32_t{5}}, {int32_t{6}}});
    StringArray errMsg = messages(2);
    bool oru = true;
    const bool result = gw.DeleteRec("S", matchFld, vals, oru, errMsg);
    expectWholeRecords(transactions(db->work()), errMsg, result, {{"= 6", "71"}, {"= 5", "70"}}, k);
    if (k == 0) {
      EXPECT_TRUE(result);
      total = db->seen;
    }
    if (k > total) break;
  }
  EXPECT_EQ(total, 8);
}

}  // namespace
}  // namespace ovt::test
