// The tool and `call` given bytes and numbers a person or a file can hold: text that is not
// UTF-8 (in a database value, on the command line, in a script line) and array bounds at the
// edge of the 32-bit range. Nothing aborts: JSON is written with replacement characters and
// the raw bytes, a malformed script line is reported and the script goes on.
#include <nlohmann/json.hpp>

#include "cli/demo_fixture.h"
#include "ovtbldiff/dbcomp/sqlite.h"

namespace {

using ovt::test::DemoTest;
using ovt::test::ToolRun;
using Json = nlohmann::json;

class BadBytes : public DemoTest {
 protected:
  void SetUp() override {
    DemoTest::SetUp();
    // The head of house 103 becomes "\xFF" "A" in entry 1: a byte that starts no UTF-8 sequence.
    auto db = ovt::db::OpenSqlite(dir_.file("d/entry1.db"));
    ovt::db::RunSqliteScript(db, "UPDATE House SET HeadName = CAST(X'FF41' AS TEXT) WHERE HouseNo = 103");
  }
};

TEST_F(BadBytes, JsonOutputsReplaceInvalidTextAndKeepTheBytes) {
  ToolRun diff = linked("diff d/entry1.db House ORULINK_House --keys HouseNo --format json");
  ASSERT_EQ(diff.code, 1) << diff.err;
  Json j = Json::parse(diff.out);
  EXPECT_EQ(j["rows"][0][2], "\xEF\xBF\xBD" "A");
  EXPECT_EQ(j["raw"], Json::parse(R"([{"row": 0, "column": "HeadName", "hex": "ff41"}])"));
  // The copy has run when its report is written: the report must reach the caller.
  ToolRun copy = linked("copy d/entry1.db House ORULINK_House --keys HeadName --from - --grids none --format json",
                        "HeadName\n\xff" "A\n");
  ASSERT_EQ(copy.code, 0) << copy.err;
  Json c = Json::parse(copy.out);
  EXPECT_EQ(c["rows"], Json::parse("[[\"\xEF\xBF\xBD" "A\", \"copied\"]]"));
  EXPECT_EQ(c["raw"], Json::parse(R"([{"row": 0, "column": "HeadName", "hex": "ff41"}])"));
  EXPECT_EQ(rows("entry2.db", "select count(*) from House where HouseNo = 103"), "2\n");
  // Bytes from the command line.
  ToolRun typed = run("delete d/entry2.db House --keys HeadName --value \xff" "B --format json");
  EXPECT_EQ(typed.code, 1) << typed.err;
  EXPECT_EQ(Json::parse(typed.out)["rows"], Json::parse("[[\"\xEF\xBF\xBD" "B\", \"no record matched\"]]"));
  ToolRun table = run("parent d/entry1.db House 3 --keys HouseNo --fields HeadName --format json");
  EXPECT_EQ(table.code, 0) << table.err;
  EXPECT_EQ(Json::parse(table.out)["rows"][0][1], "\xEF\xBF\xBD" "A");
}

TEST_F(BadBytes, CallReportsInvalidTextAndMalformedLinesAndGoesOn) {
  ToolRun one = run("call --db '{\"database\": \"d/entry1.db\"}' ShowParent "
                    "'{\"ParentTableName\": \"House\", \"MatchKeys\": [\"HouseNo\"], \"CommonFlds\": [\"HeadName\"], "
                    "\"FkeyValue\": \"3\", \"ParentInfo\": {\"unallocated\": true}}'");
  ASSERT_EQ(one.code, 0) << one.err;
  EXPECT_EQ(Json::parse(one.out)["byref"]["ParentInfo"], Json::parse("[\"103\", \"\xEF\xBF\xBD" "A\"]"));
  ToolRun script = run("call --script -",
                       "{\"member\": \"GetFldType\", \"args\": {\"eDataType\": 3}}\n"
                       "{\"member\": \"GetFldType\", \"args\": {\"eDataType\": \"\xff\"}}\n"
                       "{\"member\": \"Get\xc3\"}\n"
                       "{\"member\": \"GetFldType\", \"args\": [202]}\n");
  EXPECT_EQ(script.code, 2) << script.err;
  auto lines = script.lines();
  ASSERT_EQ(lines.size(), 4u) << script.out;
  EXPECT_EQ(lines[0], R"({"member":"GetFldType","result":"Jet Long","byref":{},"error":null})");
  EXPECT_EQ(Json::parse(lines[1])["line"], 2);
  EXPECT_EQ(Json::parse(lines[2])["line"], 3);
  EXPECT_EQ(lines[3], R"({"member":"GetFldType","result":"Jet Text","byref":{},"error":null})");
}

TEST_F(DemoTest, CallArrayBoundsAtTheEdgeOfTheRangeRaiseOverflow) {
  const std::string common = R"("oTable1": {"table": "House", "database": "d/entry1.db"}, )"
                             R"("oTable2": {"table": "House", "database": "d/entry2.db"}, "CommonFields": )";
  for (const std::string& array : {std::string(R"({"array": ["a", "b"], "lbound": 2147483647})"),
                                   std::string(R"({"array": [["a", "b"]], "lbound": [0, 2147483647]})"),
                                   std::string(R"({"array": ["a"], "lbound": 4294967296})"),
                                   std::string(R"({"array": ["a"], "lbound": -2147483649})")}) {
    ToolRun r = run("call CompareTablesStructure '{" + common + array + "}'");
    EXPECT_EQ(r.code, 3) << array << "\n" << r.out << r.err;
    ASSERT_FALSE(r.out.empty()) << array;
    EXPECT_EQ(Json::parse(r.out)["error"]["number"], 6) << array << "\n" << r.out;
  }
  // The last bound that fits is fine.
  ToolRun edge = run("call CompareTablesStructure '{" + common + R"({"array": ["a"], "lbound": 2147483647}})" + "'");
  EXPECT_EQ(edge.code, 3) << edge.out << edge.err;  // the member cannot grow it: error 9, nothing written
  Json e = Json::parse(edge.out);
  EXPECT_EQ(e["error"]["number"], 9);
  EXPECT_EQ(e["byref"]["CommonFields"], Json::parse(R"({"array": ["a"], "lbound": 2147483647})"));
}

// A member that raises before writing leaves its by-reference array as it was.
TEST_F(DemoTest, StructureComparisonThatRaisesLeavesCommonFieldsAsTheyWere) {
  const std::string lb1 = R"({"array": ["x", "y"], "lbound": 1})";
  ToolRun t = run(R"(call CompareTablesStructure '{"oTable1": {"table": "House", "database": "d/entry1.db"}, )"
                  R"("oTable2": {"table": "House", "database": "d/entry2.db"}, "CommonFields": )" + lb1 + "}'");
  EXPECT_EQ(t.code, 3) << t.out << t.err;
  Json j = Json::parse(t.out);
  EXPECT_EQ(j["error"]["number"], 9);
  EXPECT_EQ(j["byref"]["CommonFields"], Json::parse(lb1));
  ToolRun v = run(R"(call --db '{"database": "d/entry1.db", "view": "viewHouse"}' CompareViewsStructure )"
                  R"('{"extDB": {"database": "d/entry2.db", "view": "viewHouse"}, "CommonFields": )" + lb1 + "}'");
  EXPECT_EQ(v.code, 3) << v.out << v.err;
  Json k = Json::parse(v.out);
  EXPECT_EQ(k["error"]["number"], 9);
  EXPECT_EQ(k["byref"]["CommonFields"], Json::parse(lb1));
}

// Found by the record reader's fuzz driver: a JSON file whose rows or columns are not lists of
// values is refused as usage, not left to an exception.
TEST_F(DemoTest, RecordFilesOfAnotherShapeAreRefused) {
  for (const std::string& file : {std::string(R"({"columns": ["HouseNo"], "rows": ["x"]})"),
                                  std::string(R"({"columns": [1], "rows": [[1]]})"),
                                  std::string(R"({"columns": "HouseNo", "rows": [[1]]})"),
                                  std::string(R"([{"columns": ["HouseNo"], "rows": [[1]]}])")}) {
    ToolRun r = linked("copy d/entry1.db House ORULINK_House --keys HouseNo --from -", file);
    EXPECT_EQ(r.code, 2) << file << "\n" << r.err;
    EXPECT_EQ(r.err.rfind("ovtbldiff: ", 0), 0u) << r.err;
  }
}

}  // namespace
