// End-to-end tests of `ovtbldiff call`: the built executable run on real SQLite files.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "cli/tool_run.h"
#include "ovtbldiff/dbcomp/sqlite.h"
#include "support/temp_dir.h"

namespace {

using ovt::test::expectRun;
using ovt::test::ToolRun;

class CallTest : public ::testing::Test {
 protected:
  ToolRun run(const std::string& args, const std::string& input = "") {
    return ovt::test::runTool(dir_.path(), args, input);
  }

  std::string makeDb() {
    std::string file = dir_.file("entries.db");
    auto db = ovt::db::OpenSqlite(file);
    EXPECT_TRUE(db->Execute("create table E1 (ID integer, Name text)"));
    EXPECT_TRUE(db->Execute("create table E2 (ID integer, Name text)"));
    EXPECT_TRUE(db->Execute("insert into E1 values (1, 'Ann')"));
    EXPECT_TRUE(db->Execute("insert into E1 values (2, 'Bob')"));
    EXPECT_TRUE(db->Execute("insert into E2 values (1, 'Ann')"));
    EXPECT_TRUE(db->Execute("insert into E2 values (2, 'Bop')"));
    return file;
  }

  ovt::test::TempDir dir_;
};

// Every line of the member list: position, dispatch id and name in interface order (whole
// signatures for the first member and the DB setter).
TEST_F(CallTest, ListHasEveryMemberInInterfaceOrder) {
  const std::vector<std::pair<std::string, std::string>> members = {
      {"60030013", "Function IsQualifiedMatchKey(ByVal ColumnName As String, ByVal TableName As String, ByRef OruType "
                   "As Boolean, Optional ByRef oExtDB As cDatabase = Nothing) As Boolean"},
      {"60030014", "Function CopyChild("},
      {"60030015", "Function GetOruViewVarList("}, {"60030016", "Function TotalMatchedRec("},
      {"60030017", "Function ShowParent("}, {"60030018", "Function GetOruComparableGridTblList("},
      {"60030019", "Function GetTblDiffGridRS("}, {"6003001A", "Function CompareViewsStructure("},
      {"6003001B", "Function BackupTable("}, {"6003001C", "Function GetOruGridList("},
      {"6003001D", "Function GetOruDataTable("}, {"6003001E", "Function DeleteRec("},
      {"6003001F", "Function CopyRec("}, {"60030020", "Function GetFldType("},
      {"60030021", "Function IsMatchKeyUnique("}, {"60030022", "Function CompareTablesStructure("},
      {"68030012", "Property Set DB(ByVal value As cDatabase)"}, {"68030012", "Property Get DB()"},
      {"60030023", "Function GetTblDiffRecRS("}};
  ToolRun r = run("call --list");
  ASSERT_EQ(r.code, 0);
  std::vector<std::string> lines = r.lines();
  ASSERT_EQ(lines.size(), members.size() + 1) << r.out;
  EXPECT_EQ(lines[0], "OVTblDiffData 2.0 class cDataGetway interface _cDataGetway");
  const std::regex line(R"(^ *(\d+)  ([0-9A-F]{8})  (.*)$)");
  for (size_t i = 0; i < members.size(); ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i + 1], m, line)) << lines[i + 1];
    EXPECT_EQ(m[1].str(), std::to_string(i + 1));
    EXPECT_EQ(m[2].str(), members[i].first) << lines[i + 1];
    EXPECT_EQ(m[3].str().rfind(members[i].second, 0), 0u) << lines[i + 1];
  }
}

TEST_F(CallTest, SingleCallAndMissingDatabaseError) {
  expectRun(run("call GetFldType '{\"eDataType\": 202}'"), 0,
            "{\"member\":\"GetFldType\",\"result\":\"Jet Text\",\"byref\":{},\"error\":null}\n");
  ToolRun err = run("call GetTblDiffRecRS '{\"Table1Name\":\"a\",\"Table2Name\":\"b\",\"MatchKeys\":[\"k\"],"
                "\"CompareFields\":[\"x\"],\"eSqlType\":1,\"OruType\":true}'");
  EXPECT_EQ(err.code, 3);
  EXPECT_NE(err.out.find("\"oDB\":{\"omitted\":true}"), std::string::npos);
  EXPECT_NE(err.out.find("{\"number\":-2147220781,\"hex\":\"0x800402D3\",\"source\":\"cDATAGateway:GetTblDiffRecRs\","
                         "\"description\":\"Need to set oDB or the DB property\"}"),
            std::string::npos);
}

TEST_F(CallTest, MalformedLinesAreReportedAndTheRestRuns) {
  ToolRun r = run("call --script -",
              "not json\n{\"member\":\"Nope\"}\n{\"member\":\"GetFldType\",\"args\":{\"zz\":1}}\n"
              "{\"member\":\"GetFldType\",\"args\":[99999999999]}\n{\"member\":\"GetFldType\",\"args\":[3]}\n"
              "{\"member\":\"GetFldType\",\"args\":[\"abc\"]}\n{\"member\":\"GetTblDiffRecRS\",\"args\":{\"Table1Name\":\"a\"}}\n"
              "[1]\n");
  EXPECT_EQ(r.code, 2);
  std::vector<std::string> out = r.lines();
  ASSERT_EQ(out.size(), 8u) << r.out;
  EXPECT_NE(out[0].find("\"line\":1,\"malformed\""), std::string::npos);
  EXPECT_NE(out[1].find("unknown member"), std::string::npos);
  EXPECT_NE(out[2].find("unknown parameter \\\"zz\\\""), std::string::npos);
  EXPECT_NE(out[3].find("\"number\":6,\"hex\":\"0x00000006\""), std::string::npos);  // overflow as a host sees it
  EXPECT_NE(out[4].find("\"error\":null"), std::string::npos);
  // A wrong-typed value and a missing required argument fail as the platform's own errors.
  EXPECT_NE(out[5].find("{\"number\":13,\"hex\":\"0x0000000D\",\"source\":\"OVTblDiffData\",\"description\":\"Type mismatch\"}"),
            std::string::npos) << out[5];
  EXPECT_NE(out[6].find("\"number\":449,"), std::string::npos) << out[6];
  EXPECT_EQ(out[7], "{\"line\":8,\"malformed\":\"line 8: a line must be a JSON object\"}");
  EXPECT_NE(r.err.find("line 8: a line must be a JSON object"), std::string::npos) << r.err;
}

TEST_F(CallTest, ScriptCarriesTheStoredDatabaseBetweenLines) {
  std::string file = makeDb();
  std::string conn = "{\"database\":\"" + file + "\"}";
  ToolRun r = run("call --script -",
              "{\"member\":\"DB\"}\n"
              "{\"member\":\"TotalMatchedRec\",\"db\":" + conn +
                  ",\"args\":{\"Table1Name\":\"E1\",\"Table2Name\":\"E2\",\"MatchKeys\":[\"ID\"],\"OruType\":false}}\n"
                  "{\"member\":\"GetTblDiffRecRS\",\"args\":{\"Table1Name\":\"E1\",\"Table2Name\":\"E2\","
                  "\"MatchKeys\":[\"ID\"],\"CompareFields\":[\"Name\"],\"eSqlType\":1,\"OruType\":false,"
                  "\"oDB\":{\"database\":null}}}\n"
                  "{\"member\":\"DB\"}\n{\"member\":\"TotalMatchedRec\",\"db\":null,\"args\":[\"E1\",\"E2\",[\"ID\"],false]}\n");
  std::vector<std::string> out = r.lines();
  ASSERT_EQ(out.size(), 5u) << r.out;
  EXPECT_EQ(out[0], "{\"member\":\"DB\",\"result\":null,\"byref\":{},\"error\":null}");
  EXPECT_NE(out[1].find("\"result\":2,"), std::string::npos) << out[1];
  // The conflicting record of entry 1, and oDB filled in from the stored DB.
  EXPECT_NE(out[2].find("\"rows\":[[2,\"Bob\"]]"), std::string::npos) << out[2];
  EXPECT_EQ(out[2].find("\"oDB\":null"), std::string::npos) << out[2];
  EXPECT_EQ(out[3], "{\"member\":\"DB\",\"result\":\"" + file + "\",\"byref\":{},\"error\":null}");
  EXPECT_NE(out[4].find("0x800402C3"), std::string::npos) << out[4];
  EXPECT_EQ(r.code, 3);
}

}  // namespace
