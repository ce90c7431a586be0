// Table look-ups and table kinds inside transactions on real databases of both engines: what a
// connection keeps of them while its transaction goes on never outlives a change of the table,
// made by the connection itself (committed, or undone by a rollback of an inner level) or by
// another connection outside any transaction; inner levels with nothing in them, and levels
// rolled back after a failing statement, leave exactly what they leave without such keeping.
#include <gtest/gtest.h>

#include <string>

#include "ovtbldiff/dbcomp/postgres.h"
#include "support/engines.h"

namespace ovt::test {
namespace {

constexpr const char* kFormTable = "create table T (UniqueKey counter, RecStatus long, ID long)";
constexpr const char* kViewTable = "create table T (Name text(50), Type text(50), PageNumber long, DataTable text(50))";

class TransactionLookUps : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (HasFatalFailure() || IsSkipped()) return;
    db_ = entries().first(false);
  }
  int32_t kind(const db::DatabaseRef& db) {
    std::string name = "T";
    return db->GetTableType(name);
  }
  db::DatabaseRef db_;
};

TEST_P(TransactionLookUps, TheConnectionsOwnChangesAreSeenAtOnce) {
  runAll(db_, {kFormTable});
  db_->BeginTrans();
  EXPECT_EQ(kind(db_), db::kTableTypeOru);
  EXPECT_TRUE(db_->TableExists("T"));
  EXPECT_FALSE(db_->TableExists("U"));
  // Dropped and made again with the columns of a view table, in the same transaction.
  ASSERT_TRUE(db_->DropTable("T"));
  EXPECT_FALSE(db_->TableExists("T"));
  runAll(db_, {kViewTable, "create table U (k long)"});
  EXPECT_TRUE(db_->TableExists("T"));
  EXPECT_TRUE(db_->TableExists("U"));
  EXPECT_EQ(kind(db_), db::kTableTypeView);
  // An inner level that changes the table and is rolled back: the earlier table is back.
  db_->BeginTrans();
  ASSERT_TRUE(db_->DropTable("T"));
  runAll(db_, {kFormTable});
  EXPECT_EQ(kind(db_), db::kTableTypeOru);
  db_->RollbackTrans();
  EXPECT_EQ(kind(db_), db::kTableTypeView);
  EXPECT_EQ(db_->Tables().size(), 2u);
  db_->CommitTrans();
  EXPECT_EQ(kind(db_), db::kTableTypeView);
  EXPECT_TRUE(db_->TableExists("U"));
}

TEST_P(TransactionLookUps, AnotherConnectionsChangesAreSeenOutsideTransactions) {
  runAll(db_, {kFormTable});
  db::DatabaseRef other = openLocation(entries().firstLocation());
  // Asked in a transaction that ended, then changed by the other connection.
  db_->BeginTrans();
  EXPECT_EQ(kind(db_), db::kTableTypeOru);
  EXPECT_FALSE(db_->TableExists("U"));
  db_->CommitTrans();
  ASSERT_TRUE(other->DropTable("T"));
  runAll(other, {kViewTable, "create table U (k long)"});
  EXPECT_EQ(kind(db_), db::kTableTypeView);
  EXPECT_TRUE(db_->TableExists("U"));
  ASSERT_TRUE(other->DropTable("U"));
  EXPECT_FALSE(db_->TableExists("U"));
  // And in the next transaction.
  db_->BeginTrans();
  EXPECT_FALSE(db_->TableExists("U"));
  EXPECT_EQ(kind(db_), db::kTableTypeView);
  db_->CommitTrans();
  ASSERT_TRUE(other->DropTable("T"));
  runAll(other, {kFormTable});
  db_->BeginTrans();
  EXPECT_EQ(kind(db_), db::kTableTypeOru);
  db_->RollbackTrans();
}

// Records written one inner level each, as the members write them: levels with nothing in them,
// levels committed, levels rolled back after a failing statement.
TEST_P(TransactionLookUps, InnerLevelsKeepExactlyWhatTheyCommitted) {
  runAll(db_, {"create table R (k long)"});
  db_->BeginTrans();
  db_->BeginTrans();
  db_->CommitTrans();  // nothing in it
  db_->BeginTrans();
  db_->RollbackTrans();  // nothing in it
  for (int k = 1; k <= 6; ++k) {
    db_->BeginTrans();
    EXPECT_TRUE(db_->Execute("insert into R (k) values (" + std::to_string(k) + ")"));
    if (k % 3 == 0) {
      EXPECT_FALSE(db_->Execute("insert into Nowhere (k) values (1)"));
      db_->RollbackTrans();
    } else {
      db_->CommitTrans();
    }
  }
  db_->BeginTrans();
  db_->BeginTrans();
  EXPECT_TRUE(db_->Execute("insert into R (k) values (10)"));
  db_->CommitTrans();
  db_->RollbackTrans();  // the outer inner level takes the committed one with it
  db_->BeginTrans();
  db_->CommitTrans();
  db_->CommitTrans();
  EXPECT_EQ(column(db_, "select k from R order by k"), (std::vector<std::string>{"1", "2", "4", "5"}));
  EXPECT_THROW(db_->CommitTrans(), ComError);
}

OVT_ON_EVERY_ENGINE(TransactionLookUps);

}  // namespace
}  // namespace ovt::test
