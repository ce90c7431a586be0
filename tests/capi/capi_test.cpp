// The C interface on real databases of every engine: a member's result, its by-reference
// outputs and its error record, the same output line as `ovtbldiff call`, input faults, and
// the thread rule.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "cli/tool_run.h"
#include "ovtbldiff/ovtbldiff.h"
#include "support/engines.h"

namespace {

using ovt::test::runAll;

// A text the interface returned, freed with ovt_free.
using Text = std::unique_ptr<char, decltype(&ovt_free)>;

class CInterface : public ovt::test::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    runAll(entries().first(false), {"create table T (ID long, Name text(20), Age long)",
                                    "insert into T values (1, 'Ann', 40)", "insert into T values (2, 'Bob', 50)",
                                    "insert into T values (3, 'Cy', 60)"});
    runAll(entries().second(), {"create table T (ID long, Name text(20), Age long)",
                                "insert into T values (1, 'Ann', 40)", "insert into T values (2, 'Bobby', 50)"});
    ASSERT_EQ(ovt_create(&g_), OVT_OK);
    ASSERT_EQ(ovt_set_db(g_, entries().firstLocation().c_str(), entries().secondLocation().c_str(), nullptr), OVT_OK);
  }
  void TearDown() override { EXPECT_EQ(ovt_release(g_), OVT_OK); }

  // Calls a member; the status and the output line.
  std::pair<int, std::string> call(const char* member, const char* args) {
    char* out = nullptr;
    int status = ovt_call(g_, member, args, &out);
    Text text(out, ovt_free);
    return {status, out ? std::string(out) : std::string("(null)")};
  }

  ovt_gateway* g_ = nullptr;
};

TEST_P(CInterface, ConflictsComeBackAsTheToolPrintsThem) {
  const char* args =
      R"({"Table1Name":"T","Table2Name":"ORULINK_T","MatchKeys":["ID"],"CompareFields":["Name"],"eSqlType":1,"OruType":false})";
  auto [status, out] = call("GetTblDiffRecRS", args);
  ASSERT_EQ(status, OVT_OK) << out;
  EXPECT_EQ(ovt_error_number(), 0);
  EXPECT_NE(out.find(R"("rows":[[2,"Bob"]])"), std::string::npos) << out;
  EXPECT_EQ(out.rfind(R"({"member":"GetTblDiffRecRS","result":{"fields":)", 0), 0u) << out;

  // The tool, given the same call on the same entries, prints the same line.
  ovt::test::TempDir dir;
  const std::string db = R"({"database":")" + entries().firstLocation() + R"(","link":")" +
                         entries().secondLocation() + R"("})";
  ovt::test::ToolRun r = ovt::test::runTool(dir.path(), "call --db '" + db + "' GetTblDiffRecRS '" + args + "'");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, out + "\n");
}

TEST_P(CInterface, ByReferenceOutputsAndMatchedCounts) {
  auto [status, out] = call("TotalMatchedRec",
                            R"({"Table1Name":"T","Table2Name":"ORULINK_T","MatchKeys":["ID"],"OruType":false})");
  ASSERT_EQ(status, OVT_OK) << out;
  EXPECT_NE(out.find(R"("result":2)"), std::string::npos) << out;
  // The connection stored in DB comes back through the by-reference oDB.
  EXPECT_NE(out.find(R"("oDB":{"omitted":true})"), std::string::npos) << out;
  auto [s2, out2] = call("TotalMatchedRec", R"(["T","ORULINK_T",["ID"],false,{"database":null}])");
  ASSERT_EQ(s2, OVT_OK) << out2;
  EXPECT_NE(out2.find(R"("oDB":")" + entries().firstLocation() + "\""), std::string::npos) << out2;
}

TEST_P(CInterface, AnErrorOfAMemberLeavesItsRecord) {
  auto [status, out] = call("TotalMatchedRec",
                            R"({"Table1Name":"T","Table2Name":"NoSuchTable","MatchKeys":["ID"],"OruType":false})");
  ASSERT_EQ(status, OVT_RAISED) << out;
  EXPECT_NE(ovt_error_number(), 0);
  EXPECT_NE(std::string(ovt_error_description()), "");
  // The record is the one the output line carries.
  const nlohmann::json error = nlohmann::json::parse(out)["error"];
  EXPECT_EQ(error["number"], ovt_error_number());
  EXPECT_EQ(error["source"], ovt_error_source());
  EXPECT_EQ(error["description"], ovt_error_description());
  // The next call that succeeds clears it.
  ASSERT_EQ(call("GetFldType", "[3]").first, OVT_OK);
  EXPECT_EQ(ovt_error_number(), 0);
  EXPECT_STREQ(ovt_error_description(), "");
}

OVT_ON_EVERY_ENGINE(CInterface);

TEST(CInterfaceInput, FaultsOfTheInputAreError5WithoutOutput) {
  ovt_gateway* g = nullptr;
  ASSERT_EQ(ovt_create(&g), OVT_OK);
  struct Case {
    const char* member;
    const char* args;
    const char* says;
  } cases[] = {
      {"GetFldType", "[3", "malformed JSON"},
      {"NoSuchMember", nullptr, "unknown member \"NoSuchMember\""},
      {"GetFldType", R"({"Nope":1})", "unknown parameter \"Nope\""},
      {nullptr, nullptr, "no member name"},
  };
  for (const Case& c : cases) {
    char* out = reinterpret_cast<char*>(1);
    EXPECT_EQ(ovt_call(g, c.member, c.args, &out), OVT_BAD_INPUT) << c.says;
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(ovt_error_number(), 5);
    EXPECT_NE(std::string(ovt_error_description()).find(c.says), std::string::npos) << ovt_error_description();
  }
  EXPECT_EQ(ovt_call(nullptr, "GetFldType", "[3]", nullptr), OVT_BAD_INPUT);
  EXPECT_EQ(ovt_set_db(g, "/nonexistent/entry.db", nullptr, nullptr), OVT_BAD_INPUT);
  EXPECT_NE(std::string(ovt_error_description()).find("/nonexistent/entry.db"), std::string::npos);
  EXPECT_EQ(ovt_set_db(g, nullptr, nullptr, nullptr), OVT_OK);  // Nothing
  EXPECT_EQ(ovt_release(g), OVT_OK);
  EXPECT_EQ(ovt_release(nullptr), OVT_OK);
}

TEST(CInterfaceInput, MembersVersionAndTheThreadRule) {
  EXPECT_STREQ(ovt_version(), "2.0");
  ovt_gateway* g = nullptr;
  ASSERT_EQ(ovt_create(&g), OVT_OK);
  char* members = nullptr;
  ASSERT_EQ(ovt_members(g, &members), OVT_OK);
  Text m(members, ovt_free);
  EXPECT_NE(std::string(members).find(R"({"name":"GetFldType","kind":"method","result":"String","params":[)"),
            std::string::npos)
      << members;

  int status = -1, releaseStatus = -1;
  int32_t number = 0;
  std::string description;
  std::thread other([&] {
    char* out = nullptr;
    status = ovt_call(g, "GetFldType", "[3]", &out);
    ovt_free(out);
    number = ovt_error_number();
    description = ovt_error_description();
    releaseStatus = ovt_release(g);
  });
  other.join();
  EXPECT_EQ(status, OVT_RAISED);
  EXPECT_EQ(static_cast<uint32_t>(number), 0x8001010Eu);
  EXPECT_EQ(description, "The application called an interface that was marshalled for a different thread.");
  EXPECT_EQ(releaseStatus, OVT_RAISED);  // kept for its own thread
  char* out = nullptr;
  EXPECT_EQ(ovt_call(g, "GetFldType", "[3]", &out), OVT_OK);
  ovt_free(out);
  EXPECT_EQ(ovt_release(g), OVT_OK);
}

}  // namespace
