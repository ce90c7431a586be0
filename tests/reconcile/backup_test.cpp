// BackupTable with a recording connection: the default name, dropping an earlier backup, the
// statement text, and the errors.
#include <gtest/gtest.h>

#include "ovtbldiff/gateway.h"
#include "support/scripted_db.h"

namespace ovt::test {
namespace {

struct BackupCase : ::testing::Test {
  std::shared_ptr<RecordingDatabase> db = std::make_shared<RecordingDatabase>();
  cDataGetway gw;
  void SetUp() override { gw.SetDB(db); }
};

TEST_F(BackupCase, DefaultNameAndStatement) {
  EXPECT_TRUE(gw.BackupTable("Survey"));
  EXPECT_EQ(db->calls, (std::vector<std::string>{"TableExists: Survey_bk",
                                                 "Execute: select * into Survey_bk from [Survey]"}));
}

TEST_F(BackupCase, EarlierBackupIsDroppedFirst) {
  db->existing["Old"] = true;
  EXPECT_TRUE(gw.BackupTable("Survey", "Old"));
  EXPECT_EQ(db->calls, (std::vector<std::string>{"TableExists: Old", "DropTable: Old",
                                                 "Execute: select * into Old from [Survey]"}));
}

TEST_F(BackupCase, FailingCopyRaises710) {
  db->executeResult = false;
  ComError e = raisedBy([&] { gw.BackupTable("Survey"); });
  EXPECT_EQ(e.number(), objectError(710));
  EXPECT_EQ(e.source(), "cDATAGateway:BackupTable");
  EXPECT_EQ(e.description(), "Backup Table Fail");
}

TEST_F(BackupCase, BackupNamedLikeTheSourceIsRefusedBeforeAnything) {
  db->existing["Survey"] = true;
  ComError e = raisedBy([&] { gw.BackupTable("Survey", "SURVEY"); });
  EXPECT_EQ(e.number(), objectError(710));
  EXPECT_EQ(e.source(), "cDATAGateway:BackupTable");
  EXPECT_TRUE(db->calls.empty());
}

TEST_F(BackupCase, ArgumentConnectionWinsAndNoConnectionFails) {
  auto other = std::make_shared<RecordingDatabase>();
  db::DatabaseRef ref = other;
  EXPECT_TRUE(gw.BackupTable("Survey", "", &ref));
  EXPECT_TRUE(db->calls.empty());
  EXPECT_EQ(other->calls.size(), 2u);
  gw.SetDB(nullptr);
  ComError e = raisedBy([&] { gw.BackupTable("Survey"); });
  EXPECT_EQ(e.number(), 91);
  EXPECT_EQ(e.source(), "cDATAGateway:BackupTable");
}

struct NoDrop : RecordingDatabase {
  bool DropTable(const std::string& name) override {
    RecordingDatabase::DropTable(name);
    return false;
  }
};

TEST(BackupDrop, RefusedDropRaises725AndCopiesNothing) {
  auto db = std::make_shared<NoDrop>();
  db->existing["Survey_bk"] = true;
  cDataGetway gw;
  gw.SetDB(db);
  ComError e = raisedBy([&] { gw.BackupTable("Survey"); });
  EXPECT_EQ(e.number(), objectError(725));
  EXPECT_EQ(e.source(), "cDATAGateway:BackupTable");
  EXPECT_EQ(e.description(), "Delete following table fails :Survey_bk");
  EXPECT_TRUE(db->statements.empty());
}

}  // namespace
}  // namespace ovt::test
