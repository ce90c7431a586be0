// End-to-end tests of `ovtbldiff call`: the built executable run on real SQLite files.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>

#include "ovtbldiff/dbcomp/sqlite.h"

namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int code;
  std::string out;
};

class CallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("ovtbldiff_cli_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs the tool with its own registry and configuration, standard input from `input`.
  ToolRun run(const std::string& args, const std::string& input = "") {
    fs::path in = dir_ / "stdin.txt";
    std::ofstream(in) << input;
    std::string cmd = "OVT_REGISTRY='" + (dir_ / "registry.ini").string() + "' OVT_CONFIG='" +
                      (dir_ / "none.ini").string() + "' '" OVT_BINARY_DIR "/ovtbldiff' " + args + " < '" +
                      in.string() + "' 2>/dev/null";
    ToolRun r{0, ""};
    FILE* p = popen(cmd.c_str(), "r");
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    int st = pclose(p);
    r.code = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
  }

  std::string makeDb() {
    std::string file = (dir_ / "entries.db").string();
    auto db = ovt::db::OpenSqlite(file);
    EXPECT_TRUE(db->Execute("create table E1 (ID integer, Name text)"));
    EXPECT_TRUE(db->Execute("create table E2 (ID integer, Name text)"));
    EXPECT_TRUE(db->Execute("insert into E1 values (1, 'Ann')"));
    EXPECT_TRUE(db->Execute("insert into E1 values (2, 'Bob')"));
    EXPECT_TRUE(db->Execute("insert into E2 values (1, 'Ann')"));
    EXPECT_TRUE(db->Execute("insert into E2 values (2, 'Bop')"));
    return file;
  }

  fs::path dir_;
};

TEST_F(CallTest, ListShowsTheMemberTableInOrder) {
  ToolRun r = run("call --list");
  ASSERT_EQ(r.code, 0);
  EXPECT_NE(r.out.find(" 1  60030013  Function IsQualifiedMatchKey(ByVal ColumnName As String, ByVal TableName As "
                       "String, ByRef OruType As Boolean, Optional ByRef oExtDB As cDatabase = Nothing) As Boolean"),
            std::string::npos);
  EXPECT_NE(r.out.find("17  68030012  Property Set DB(ByVal value As cDatabase)"), std::string::npos);
  EXPECT_NE(r.out.find("19  60030023  Function GetTblDiffRecRS("), std::string::npos);
}

TEST_F(CallTest, SingleCallAndMissingDatabaseError) {
  ToolRun ok = run("call GetFldType '{\"eDataType\": 202}'");
  EXPECT_EQ(ok.code, 0);
  EXPECT_EQ(ok.out, "{\"member\":\"GetFldType\",\"result\":\"Jet Text\",\"byref\":{},\"error\":null}\n");
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
              "{\"member\":\"GetFldType\",\"args\":[99999999999]}\n{\"member\":\"GetFldType\",\"args\":[3]}\n");
  EXPECT_EQ(r.code, 2);
  std::istringstream lines(r.out);
  std::string l;
  std::vector<std::string> out;
  while (std::getline(lines, l)) out.push_back(l);
  ASSERT_EQ(out.size(), 5u);
  EXPECT_NE(out[0].find("\"line\":1,\"malformed\""), std::string::npos);
  EXPECT_NE(out[1].find("unknown member"), std::string::npos);
  EXPECT_NE(out[2].find("unknown parameter \\\"zz\\\""), std::string::npos);
  EXPECT_NE(out[3].find("\"number\":6,\"hex\":\"0x00000006\""), std::string::npos);  // overflow as a host sees it
  EXPECT_NE(out[4].find("\"error\":null"), std::string::npos);
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
  std::istringstream lines(r.out);
  std::string l;
  std::vector<std::string> out;
  while (std::getline(lines, l)) out.push_back(l);
  ASSERT_EQ(out.size(), 5u) << r.out;
  EXPECT_EQ(out[0], "{\"member\":\"DB\",\"result\":null,\"byref\":{},\"error\":null}");
  EXPECT_NE(out[1].find("\"result\":2,"), std::string::npos) << out[1];
  // The conflicting record of entry 1, and oDB filled in from the stored DB.
  EXPECT_NE(out[2].find("\"rows\":[[2,\"Bob\"]]"), std::string::npos) << out[2];
  EXPECT_EQ(out[2].find("\"oDB\":null"), std::string::npos) << out[2];
  EXPECT_NE(out[3].find("entries.db"), std::string::npos) << out[3];
  EXPECT_NE(out[4].find("0x800402C3"), std::string::npos) << out[4];
  EXPECT_EQ(r.code, 3);
}

}  // namespace
