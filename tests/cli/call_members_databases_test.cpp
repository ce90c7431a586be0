// `ovtbldiff call` reaching one member of each family on real databases of every engine (SQLite
// files, or PostgreSQL locations): a form entered into two entries (the second as the link
// tables), with what each member wrote into its by-reference arguments and into the entries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/entries_tool.h"
#include "ovtbldiff/dbcomp/sqlite.h"

namespace {

using ovt::test::catalogue;
using ovt::test::expectRun;
using ovt::test::statements;
using ovt::test::ToolRun;

// The same form in both entries: Survey with its catalogue viewSurvey, and the grid Kids
// (catalogue gvKids) whose records point to their Survey record through FKey.
const ovt::test::Statements kForm = statements({
    {"create table Survey (UniqueKey counter, RecStatus long, ID long, Name text(50), Age long)"},
    catalogue("viewSurvey", "Survey", {"Name TEXT", "Age LONG", "GridK GRID gvKids"}),
    {"create table Kids (UniqueKey counter, RecStatus long, FKey long, KidName text(50), KidAge long)"},
    catalogue("gvKids", "Kids", {"KidName TEXT", "KidAge LONG"}),
});

class CallMembers : public ovt::test::EntriesTool {
 protected:
  void SetUp() override {
    EntriesTool::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    fill(first_, statements({kForm, {"insert into Survey (UniqueKey, RecStatus, ID, Name, Age) values (100, 1, 5, 'Ann', 40)",
                                     "insert into Survey (UniqueKey, RecStatus, ID, Name, Age) values (101, 1, 6, 'Bob', 50)",
                                     "insert into Kids (RecStatus, FKey, KidName, KidAge) values (1, 100, 'k1', 3)",
                                     "insert into Kids (RecStatus, FKey, KidName, KidAge) values (1, 101, 'k3', 7)"}}));
    fill(second_, statements({kForm, {"insert into Survey (UniqueKey, RecStatus, ID, Name, Age) values (7, 1, 5, 'Anne', 40)",
                                      "insert into Kids (RecStatus, FKey, KidName, KidAge) values (1, 7, 'k1', 4)"}}));
  }

  // The connection to both entries, tied to one object for the whole script.
  std::string joined() const {
    return R"({"database":")" + first_ + R"(","link":")" + second_ + R"(","same":"entries"})";
  }
  std::string q(const std::string& file) const { return "\"" + file + "\""; }
};

TEST_P(CallMembers, OneMemberOfEachFamilyWithWhatItWroteBack) {
  const std::string c = joined();
  ToolRun r = tool("call --script -",
      // Record comparison: key check, count (oDB filled in from DB), conflicts, missing, grids, parent.
      R"({"member":"IsQualifiedMatchKey","db":)" + c + R"(,"args":{"ColumnName":"ID","TableName":"Survey","OruType":true}})" "\n"
      R"({"member":"TotalMatchedRec","args":{"Table1Name":"Survey","Table2Name":"ORULINK_Survey","MatchKeys":["ID"],"OruType":true,"oDB":{"database":null}}})" "\n"
      R"({"member":"GetTblDiffRecRS","args":{"Table1Name":"Survey","Table2Name":"ORULINK_Survey","MatchKeys":["ID"],"CompareFields":["Name","Age"],"eSqlType":1,"OruType":true}})" "\n"
      R"({"member":"GetTblDiffRecRS","args":{"Table1Name":"Survey","Table2Name":"ORULINK_Survey","MatchKeys":["ID"],"CompareFields":["Name","Age"],"eSqlType":2,"OruType":true}})" "\n"
      R"({"member":"GetTblDiffGridRS","args":{"ParentTbl1Name":"Survey","ChildTbl1Name":"Kids","ParentTbl2Name":"ORULINK_Survey","ChildTbl2Name":"ORULINK_Kids","ChildMatchKey":"KidName","ParentMatchKeys":["ID"],"eSqlType":1}})" "\n"
      R"({"member":"GetTblDiffGridRS","args":{"ParentTbl1Name":"Survey","ChildTbl1Name":"Kids","ParentTbl2Name":"ORULINK_Survey","ChildTbl2Name":"ORULINK_Kids","ChildMatchKey":"KidName","ParentMatchKeys":["ID"],"eSqlType":2}})" "\n"
      R"({"member":"ShowParent","args":{"ParentTableName":"Survey","MatchKeys":["ID"],"CommonFlds":["Name"],"FkeyValue":"101","ParentInfo":{"unallocated":true}}})" "\n"
      // Structure: two table objects taken from the same connection (equal counts: no totals).
      R"({"member":"CompareTablesStructure","args":{"oTable1":{"table":"Survey","in":)" + c +
          R"(},"oTable2":{"table":"ORULINK_Kids","in":)" + c + R"(},"CommonFields":{"unallocated":true}}})" "\n"
      // Catalogue.
      R"({"member":"GetOruDataTable","args":{"ViewName":"viewSurvey"}})" "\n"
      R"({"member":"GetOruViewVarList","args":{"ViewName":"viewSurvey","VariableList":{"unallocated":true}}})" "\n"
      R"({"member":"GetOruGridList","args":{"ViewName":"viewSurvey","GridList":{"unallocated":true}}})" "\n"
      // Reconciliation: a backup, then entry 2's record 5 marked deleted.
      R"({"member":"BackupTable","args":{"SourceTableName":"Survey","BackupTableName":"SurveyBak"}})" "\n"
      R"({"member":"DeleteRec","args":{"TableName":"ORULINK_Survey","MatchFld":[["ID","3"]],"MatchFldValue":[[5]],"OruType":true,"ErrMsg":["untouched"]}})" "\n");
  ASSERT_EQ(r.code, 0) << r.out << r.err;
  std::vector<std::string> out = r.lines();
  const std::vector<std::string> want = {
      R"({"member":"IsQualifiedMatchKey","result":true,"byref":{"OruType":true,"oExtDB":{"omitted":true}},"error":null})",
      R"({"member":"TotalMatchedRec","result":1,"byref":{"MatchKeys":["ID"],"oDB":)" + q(first_) + R"(},"error":null})",
      R"({"member":"GetTblDiffRecRS","result":{"fields":[{"name":"ID","type":3},{"name":"Name","type":202},{"name":"Age","type":3}],"rows":[[5,"Ann",40]]},"byref":{"MatchKeys":["ID"],"CompareFields":["Name","Age"],"oDB":{"omitted":true}},"error":null})",
      R"({"member":"GetTblDiffRecRS","result":{"fields":[{"name":"ID","type":3},{"name":"Name","type":202},{"name":"Age","type":3}],"rows":[[6,"Bob",50]]},"byref":{"MatchKeys":["ID"],"CompareFields":["Name","Age"],"oDB":{"omitted":true}},"error":null})",
      R"({"member":"GetTblDiffGridRS","result":{"fields":[{"name":"ID","type":3},{"name":"KidName","type":202},{"name":"KidAge","type":3},{"name":"FKey","type":3}],"rows":[[5,"k1",3,100]]},"byref":{"ParentMatchKeys":["ID"]},"error":null})",
      R"({"member":"GetTblDiffGridRS","result":{"fields":[{"name":"ID","type":3},{"name":"KidName","type":202},{"name":"KidAge","type":3},{"name":"FKey","type":3}],"rows":[[6,"k3",7,101]]},"byref":{"ParentMatchKeys":["ID"]},"error":null})",
      R"({"member":"ShowParent","result":true,"byref":{"MatchKeys":["ID"],"CommonFlds":["Name"],"ParentInfo":["6","Bob"]},"error":null})",
      R"({"member":"CompareTablesStructure","result":"Unmatched field ID;Unmatched field Name;Unmatched field Age;***;Unmatched field FKey;Unmatched field KidName;Unmatched field KidAge","byref":{"oTable1":{"table":"Survey"},"oTable2":{"table":"ORULINK_Kids"},"CommonFields":["UniqueKey","RecStatus"],"eSelectFields":{"omitted":true}},"error":null})",
      R"({"member":"GetOruDataTable","result":"Survey","byref":{"DB":{"omitted":true}},"error":null})",
      R"({"member":"GetOruViewVarList","result":true,"byref":{"VariableList":[["Name","TEXT"],["Age","LONG"]],"DB":{"omitted":true}},"error":null})",
      R"({"member":"GetOruGridList","result":true,"byref":{"GridList":[["GridK","gvKids"]],"DB":{"omitted":true}},"error":null})",
      R"({"member":"BackupTable","result":true,"byref":{"extDB":{"omitted":true}},"error":null})",
      R"({"member":"DeleteRec","result":true,"byref":{"MatchFld":[["ID","3"]],"MatchFldValue":[[5]],"OruType":true,"ErrMsg":["untouched"],"oExtDB":{"omitted":true}},"error":null})",
  };
  ASSERT_EQ(out.size(), want.size()) << r.out;
  for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(out[i], want[i]) << "line " << i + 1;
  // What the reconciling members did to the files.
  EXPECT_EQ(column(first_, "select ID from SurveyBak order by ID"), (std::vector<std::string>{"5", "6"}));
  EXPECT_EQ(column(second_, "select RecStatus from Survey where ID = 5"), (std::vector<std::string>{"0"}));
  EXPECT_EQ(column(first_, "select RecStatus from Survey order by ID"), (std::vector<std::string>{"1", "1"}));
}

TEST_P(CallMembers, RecordCopyReplacesTheStoredDatabase) {
  const std::string other = dir_.file("other.db");
  ovt::db::OpenSqlite(other);
  ToolRun r = tool("call --script -",
      R"({"member":"DB","db":{"database":")" + other + R"("}})" "\n"
      R"({"member":"CopyRec","args":{"SourceTableName":"Survey","DestTableName":"ORULINK_Survey","MatchFld":[["ID","3"]],"MatchFldValue":[[6]],"CommonFldName":["Name","Age"],"OruType":true,"CommonGridViews":[["gvKids","Kids"]],"ErrMsg":["untouched"],"oDB":)" +
          joined() + "}}\n"
      R"({"member":"DB"})" "\n");
  ASSERT_EQ(r.code, 0) << r.out << r.err;
  std::vector<std::string> out = r.lines();
  ASSERT_EQ(out.size(), 3u) << r.out;
  EXPECT_EQ(out[0], R"({"member":"DB","result":)" + q(other) + R"(,"byref":{},"error":null})");
  EXPECT_EQ(out[1], R"({"member":"CopyRec","result":true,"byref":{"MatchFld":[["ID","3"]],"MatchFldValue":[[6]],"CommonFldName":["Name","Age"],"OruType":true,"CommonGridViews":[["gvKids","Kids"]],"ErrMsg":["untouched"],"oDB":)" +
                        q(first_) + R"(},"error":null})");
  EXPECT_EQ(out[2], R"({"member":"DB","result":)" + q(first_) + R"(,"byref":{},"error":null})");
  // Bob arrived in entry 2 under a key of its own, with his grid record.
  EXPECT_EQ(column(second_, "select Name from Survey order by ID"), (std::vector<std::string>{"Anne", "Bob"}));
  EXPECT_EQ(column(second_, "select K.KidName from Kids K inner join Survey S on K.FKey = S.UniqueKey where S.ID = 6"),
            (std::vector<std::string>{"k3"}));
}

TEST_P(CallMembers, ComparableGridsLeaveTheirViewOnBothConnections) {
  const std::string db1 = R"({"database":")" + first_ + R"(","view":"viewSurvey","same":"one"})";
  const std::string db2 = R"({"database":")" + second_ + R"(","view":"viewSurvey","same":"two"})";
  const std::string again2 = R"({"database":")" + second_ + R"(","same":"two"})";
  ToolRun r = tool("call --script -",
      R"({"member":"CompareViewsStructure","db":)" + db1 + R"(,"args":{"extDB":)" + db2 + R"(,"CommonFields":{"unallocated":true}}})" "\n"
      R"({"member":"GetOruComparableGridTblList","args":{"ComparableGridDataTblList":{"unallocated":true},"extDB":)" + again2 + "}}\n"
      // No view named: the connections still name the grid view the list left set.
      R"({"member":"CompareViewsStructure","args":{"extDB":)" + again2 + R"(,"CommonFields":{"unallocated":true}}})" "\n");
  ASSERT_EQ(r.code, 0) << r.out << r.err;
  std::vector<std::string> out = r.lines();
  ASSERT_EQ(out.size(), 3u) << r.out;
  EXPECT_NE(out[0].find(R"("CommonFields":["Name","Age"])"), std::string::npos) << out[0];
  EXPECT_NE(out[1].find(R"("result":true)"), std::string::npos) << out[1];
  EXPECT_NE(out[1].find(R"("ComparableGridDataTblList":[["gvKids","Kids"]])"), std::string::npos) << out[1];
  EXPECT_NE(out[2].find(R"("CommonFields":["KidName","KidAge"])"), std::string::npos) << out[2];
}

// The subcommands take the same locations: the conflicts and the missing records of the two
// entries, and a record copied from one to the other.
TEST_P(CallMembers, SubcommandsTakeTheLocationsOfEitherEngine) {
  ToolRun diff = linked("diff '" + first_ + "' Survey ORULINK_Survey --keys ID --format csv");
  EXPECT_EQ(diff.code, 1) << diff.err;
  EXPECT_EQ(diff.out, "entry,ID,Name,Age\n1,5,Ann,40\n2,5,Anne,40\n");
  expectRun(linked("diff '" + first_ + "' Survey ORULINK_Survey --keys ID --missing --format csv"), 1,
            "entry,ID,Name,Age\n1,6,Bob,50\n");
  ToolRun copy = linked("copy '" + first_ + "' Survey ORULINK_Survey --keys ID --value 6");
  EXPECT_EQ(copy.code, 0) << copy.out << copy.err;
  EXPECT_EQ(column(second_, "select Name from Survey order by ID"), (std::vector<std::string>{"Anne", "Bob"}));
}

OVT_ON_EVERY_ENGINE(CallMembers);

}  // namespace
