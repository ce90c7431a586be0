// `ovtbldiff verify` on real databases of every engine: the demo survey and a survey with two
// grids, key problems, a form in one entry only and a structure difference. Every count of the
// JSON report is checked against values worked out by hand from the rows below; the long csv
// and the xlsx workbook are read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/browser.h"
#include "cli/entries_tool.h"
#include "ovtbldiff/ovtbldiff.h"
#include "ovtbldiff/dbcomp/sqlite.h"
#include "ovtbldiff/verify.h"
#include "support/engines.h"
#include "support/farm_survey.h"
#include "support/temp_dir.h"

namespace {

using Json = nlohmann::json;
using ovt::test::catalogue;
using ovt::test::expectRun;
using ovt::test::statements;
using ovt::test::ToolRun;

class Verify : public ovt::test::EntriesTool {
 protected:
  Json json(const std::string& args, int expectedCode = 1) {
    ToolRun r = tool("verify " + both() + " " + args + " --format json");
    EXPECT_EQ(r.code, expectedCode) << r.err << r.out;
    try {
      return Json::parse(r.out);
    } catch (const std::exception& e) {
      ADD_FAILURE() << e.what() << "\n" << r.out;
      return Json();
    }
  }
  std::string read(const std::string& name) { return dir_.read(name); }

  // The workbook `name` as openpyxl reads it: its sheets, the counts of the summary row whose
  // title is `title`, and the highlighted cells of `sheet` as (entry, column, value).
  std::string workbook(const std::string& name, const std::string& title, const std::string& sheet) {
    std::ofstream(dir_.file("read.py")) << R"py(import openpyxl, sys
wb = openpyxl.load_workbook(sys.argv[1])
print(wb.sheetnames)
s = wb["Summary"]
for row in s.iter_rows(values_only=True):
    if row[0] == sys.argv[2]:
        print(row[2:10])
        break
h = wb[sys.argv[3]]
marked = []
for row in h.iter_rows():
    for c in row:
        if c.fill is not None and c.fill.fill_type == "solid":
            marked.append((row[1].value, h.cell(row=2, column=c.column).value, c.value))
print(marked)
)py";
    const std::string out = dir_.file("read.txt");
    EXPECT_EQ(std::system(("/usr/bin/python3 '" + dir_.file("read.py") + "' '" + dir_.file(name) + "' '" + title +
                           "' '" + sheet + "' > '" + out + "'")
                              .c_str()),
              0);
    return read("read.txt");
  }
};

// The counts of a table object: records, deleted, matched, conflicting, missing, values.
struct Counts {
  std::vector<int64_t> records, deleted;
  int64_t matched, conflicting;
  std::vector<int64_t> missing;
  int64_t compared, differing;
};

void expectCounts(const Json& t, const Counts& c) {
  SCOPED_TRACE(t.value("table", std::string("?")));
  EXPECT_EQ(t["records"], Json(c.records));
  EXPECT_EQ(t["deleted"], Json(c.deleted));
  EXPECT_EQ(t["matched"], c.matched);
  EXPECT_EQ(t["conflicting"], c.conflicting);
  EXPECT_EQ(t["missing"], Json(c.missing));
  EXPECT_EQ(t["values_compared"], c.compared);
  EXPECT_EQ(t["values_differing"], c.differing);
  EXPECT_DOUBLE_EQ(t["agreement"].get<double>(), double(c.compared - c.differing) / double(c.compared));
}

// "field:compared/differing" for each field, in order.
std::string fields(const Json& t) {
  std::string out;
  for (const Json& f : t["fields"])
    out += f["field"].get<std::string>() + ":" + std::to_string(f["compared"].get<int64_t>()) + "/" +
           std::to_string(f["differing"].get<int64_t>()) + " ";
  return out;
}

// "record[differs,...]" per conflict and "entry:record" per unpaired record.
std::string listed(const Json& t) {
  std::string out;
  for (const Json& c : t["conflicts"]) {
    out += c["record"].get<std::string>() + "[";
    for (const Json& d : c["differs"]) out += d.get<std::string>() + ",";
    out += "] ";
  }
  out += "| ";
  // Records without partner in key order of each engine (Null sorts first or last): sorted here.
  std::vector<std::string> unpaired;
  for (const Json& u : t["unpaired"]) unpaired.push_back(std::to_string(u["entry"].get<int>()) + ":" + u["record"].get<std::string>());
  std::sort(unpaired.begin(), unpaired.end());
  for (const std::string& u : unpaired) out += u + " ";
  return out;
}

TEST_P(Verify, DemoCountsAgainstTheHandCountedValues) {
  demo();
  const Json j = json("--survey d/survey.toml");
  ASSERT_TRUE(j.is_object());
  EXPECT_EQ(j["entries"], Json({first_, second_}));
  EXPECT_EQ(j["agrees"], false);
  ASSERT_EQ(j["forms"].size(), 1u);
  const Json& house = j["forms"][0];
  EXPECT_EQ(house["form"], "viewHouse");
  EXPECT_EQ(house["table"], "House");
  EXPECT_EQ(house["keys"], Json({"HouseNo"}));
  // 101..107 in both; 103 Rooms, 105 HeadName, 107 Village and WaterSource differ; 108 and 109 alone.
  expectCounts(house, {{8, 8}, {0, 0}, 7, 3, {1, 1}, 28, 4});
  EXPECT_EQ(fields(house), "HeadName:7/1 Village:7/1 Rooms:7/1 WaterSource:7/1 ");
  EXPECT_EQ(listed(house),
            "HouseNo=103[Rooms,] HouseNo=105[HeadName,] HouseNo=107[Village,WaterSource,] | 1:HouseNo=108 2:HouseNo=109 ");
  // Both entries side by side, as objects keyed by column.
  EXPECT_EQ(house["conflicts"][0]["entry1"]["Rooms"], 4);
  EXPECT_EQ(house["conflicts"][0]["entry2"]["Rooms"], 5);
  EXPECT_EQ(house["unpaired"][1]["entry2"]["HeadName"], "Rose Akinyi");
  EXPECT_TRUE(house["unpaired"][1]["entry1"].is_null());

  ASSERT_EQ(house["grids"].size(), 1u);
  const Json& members = house["grids"][0];
  EXPECT_EQ(members["grid"], "Members");
  EXPECT_EQ(members["table"], "Member");
  EXPECT_EQ(members["keys"], Json({"HouseNo", "LineNo"}));
  // 14 and 13 members; 12 pairs; Kevin's age and Fatma's name differ; Faith and 108's David
  // have no partner in entry 2, 109's Rose none in entry 1.
  expectCounts(members, {{14, 13}, {0, 0}, 12, 2, {2, 1}, 36, 2});
  EXPECT_EQ(fields(members), "MemberName:12/1 Sex:12/0 Age:12/1 ");
  EXPECT_EQ(listed(members),
            "HouseNo=102;LineNo=3[Age,] HouseNo=105;LineNo=1[MemberName,] | "
            "1:HouseNo=104;LineNo=3 1:HouseNo=108;LineNo=1 2:HouseNo=109;LineNo=1 ");
  EXPECT_EQ(members["conflicts"][0]["entry1"]["Age"], 9);
  EXPECT_EQ(members["conflicts"][0]["entry2"]["Age"], 10);
}

// The C interface's verification writes the object the tool writes, on every engine; a
// setting naming nothing is refused as input, with the text the tool prints.
TEST_P(Verify, CInterfaceGivesTheToolsObject) {
  demo();
  const Json expected = json("--survey d/survey.toml --ignore House.Village");
  ovt_gateway* g = nullptr;
  ASSERT_EQ(ovt_create(&g), OVT_OK);
  auto verify = [&](const Json& request, std::string& out) {
    char* text = nullptr;
    const int status = ovt_verify(g, request.dump().c_str(), &text);
    out = text ? text : "";
    ovt_free(text);
    return status;
  };
  std::string out;
  ASSERT_EQ(verify({{"entry1", first_},
                    {"entry2", second_},
                    {"survey", dir_.file("d/survey.toml")},
                    {"tables", {{"House", {{"ignore", {"Village"}}}}}}},
                   out),
            OVT_OK)
      << ovt_error_description();
  EXPECT_EQ(Json::parse(out), expected);
  EXPECT_EQ(expected["forms"][0]["conflicting"], 3);  // 107 still differs in its water source

  const ToolRun refused = tool("verify " + both() + " --keys House=HouseNumber");
  EXPECT_EQ(refused.code, 2);
  EXPECT_EQ(verify({{"entry1", first_}, {"entry2", second_}, {"tables", {{"House", {{"keys", "HouseNumber"}}}}}}, out),
            OVT_BAD_INPUT);
  EXPECT_EQ(out, "");
  EXPECT_EQ(ovt_error_number(), 5);
  EXPECT_EQ("ovtbldiff: " + std::string(ovt_error_description()) + "\n", refused.err);
  EXPECT_EQ(verify({{"entry1", first_}}, out), OVT_BAD_INPUT);
  EXPECT_EQ(ovt_verify(g, "{", nullptr), OVT_BAD_INPUT);
  EXPECT_EQ(ovt_release(g), OVT_OK);
}

TEST_P(Verify, DemoSummaryAndLongCsv) {
  demo();
  ToolRun r = tool("verify " + both() + " --survey d/survey.toml");
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_NE(r.out.find("The entries differ."), std::string::npos) << r.out;
  // House: 8 and 8 records, 7 matched, 3 conflicting, 1 missing each way, 24 of 28 values agree.
  std::string house;
  for (const std::string& l : r.lines())
    if (house.empty() && l.rfind("House ", 0) == 0) house = l;
  std::istringstream words(house);
  std::string w, all;
  while (words >> w) all += w + " ";
  EXPECT_EQ(all, "House HouseNo 8 8 7 3 1 1 28 24 85.7% ") << r.out;
  EXPECT_NE(r.out.find("Conflicts in House (3)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("House: 7 matched, 3 conflicting, 1 missing in entry 2, 1 missing in entry 1; 24 of 28 values "
                       "agree (85.7%)\n"),
            std::string::npos)
      << r.out;

  r = tool("verify " + both() + " --survey d/survey.toml --format csv --output long.csv");
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_EQ(read("long.csv"),
            "table,record,field,entry1,entry2,choose\n"
            "House,HouseNo=103,Rooms,4,5,\n"
            "House,HouseNo=105,HeadName,Fatuma Hassan,Fatma Hassan,\n"
            "House,HouseNo=107,Village,Thika,Thika Town,\n"
            "House,HouseNo=107,WaterSource,Tap,Borehole,\n"
            "House,HouseNo=108,,present,missing,\n"
            "House,HouseNo=109,,missing,present,\n"
            "Member,HouseNo=102;LineNo=3,Age,9,10,\n"
            "Member,HouseNo=105;LineNo=1,MemberName,Fatuma Hassan,Fatma Hassan,\n"
            "Member,HouseNo=104;LineNo=3,,present,missing,\n"
            "Member,HouseNo=108;LineNo=1,,present,missing,\n"
            "Member,HouseNo=109;LineNo=1,,missing,present,\n");
}

TEST_P(Verify, DemoWorkbookReadBack) {
  demo();
  ToolRun r = tool("verify " + both() + " --survey d/survey.toml --format xlsx --output v.xlsx");
  ASSERT_EQ(r.code, 1) << r.err;
  // openpyxl reads the workbook: sheets, the House summary row, and the highlighted cells.
  EXPECT_EQ(workbook("v.xlsx", "House", "House"),
            "['Summary', 'House', 'Member']\n"
            "(8, 8, 7, 3, 1, 1, 28, 4)\n"
            "[(1, 'Rooms', 4), (2, 'Rooms', 5), (1, 'HeadName', 'Fatuma Hassan'), (2, 'HeadName', 'Fatma Hassan'), "
            "(1, 'Village', 'Thika'), (1, 'WaterSource', 'Tap'), (2, 'Village', 'Thika Town'), (2, 'WaterSource', 'Borehole')]\n");
}

// The second survey: form Farm (keys Region, FarmNo) with the grids Crops (key CropNo) and
// Animals (key Kind); entry 2's Farm has a field Phone more; form Visit only in entry 1.
const ovt::test::Statements kFarmForm = statements({
    catalogue("viewFarm", "Farm",
              {"Region TEXT", "FarmNo NUMBER", "Owner TEXT", "Acres NUMBER", "Crops GRID 2 gvCrop", "Animals GRID 3 gvAnimal"}),
    catalogue("gvCrop", "Crop", {"CropNo NUMBER", "CropName TEXT", "Area NUMBER"}),
    catalogue("gvAnimal", "Animal", {"Kind TEXT", "Heads NUMBER"}),
    {"create table Crop (UniqueKey long, RecStatus long, FKey long, CropNo long, CropName text(20), Area long)",
     "create table Animal (UniqueKey long, RecStatus long, FKey long, Kind text(20), Heads long)"},
});

class VerifyFarm : public Verify {
 protected:
  void SetUp() override {
    Verify::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    fill(second_, kFarmForm);
    fill(first_, statements({kFarmForm, catalogue("viewVisit", "Visit", {"VisitNo NUMBER"}), {
        "create table Farm (UniqueKey long, RecStatus long, Region text(10), FarmNo long, Owner text(20), Acres long)",
        "insert into Farm values (1, 1, 'North', 1, 'Ann', 10)",
        "insert into Farm values (2, 1, 'North', 2, 'Bob', 20)",
        "insert into Farm values (3, 1, 'North', 2, 'Bob', 20)",  // the same keys twice
        "insert into Farm values (4, 1, 'South', 1, 'Cid', 30)",
        "insert into Farm values (5, 0, 'South', 2, 'Dee', 40)",  // marked deleted
        "insert into Crop values (1, 1, 1, 1, 'Maize', 2)",
        "insert into Crop values (2, 1, 1, 2, 'Beans', 1)",
        "insert into Crop values (3, 1, 4, 1, 'Rice', 3)",
        "insert into Crop values (4, 0, 4, 3, 'Sorghum', 1)",  // marked deleted
        "insert into Animal values (1, 1, 1, 'cow', 3)",
        "insert into Animal values (2, 1, 2, 'goat', 5)",
        "create table Visit (UniqueKey long, RecStatus long, VisitNo long)",
    }}));
    fill(second_, {
        "insert into viewFarm values ('Phone', 'TEXT', 1, '')",
        "create table Farm (UniqueKey long, RecStatus long, Region text(10), FarmNo long, Owner text(20), Acres long, "
        "Phone text(20))",
        "insert into Farm values (11, 1, 'North', 1, 'Ann', 12, '555')",  // Acres differs
        "insert into Farm values (12, 1, 'North', 2, 'BOB', 20, null)",   // differs in case only
        "insert into Farm values (13, 1, 'South', 1, 'Cid', 30, null)",
        "insert into Farm values (14, 1, 'South', null, 'Eve', 50, null)",  // empty key
        "insert into Farm values (15, 1, 'South', 2, 'Dee', 40, null)",  // active here, deleted in entry 1
        "insert into Crop values (11, 1, 11, 1, 'Maize', 2)",
        "insert into Crop values (12, 1, 11, 2, 'Beans', 4)",  // Area differs
        "insert into Crop values (13, 1, 13, 1, 'Rice', 3)",
        "insert into Crop values (14, 1, 13, 2, 'Tea', 1)",  // only here
        "insert into Animal values (11, 1, 11, 'Cow', 4)",  // key in another case; Heads differs
        "insert into Animal values (12, 1, 12, 'goat', 5)",
    });
  }
  const std::string keys_ = "--keys Farm=Region,FarmNo --keys Crop=CropNo --keys Animal=Kind";
};

const Json* findTable(const Json& list, const std::string& table) {
  for (const Json& t : list)
    if (t["table"] == table) return &t;
  return nullptr;
}

std::string findingTexts(const Json& list, const std::string& kind) {
  std::string out;
  for (const Json& f : list)
    if (f["kind"] == kind) out += (f["entry"].is_null() ? std::string("-") : std::to_string(f["entry"].get<int>())) + " " +
                                  f["text"].get<std::string>() + "\n";
  return out;
}

TEST_P(VerifyFarm, TwoGridsKeyProblemsOneSidedFormAndStructure) {
  const Json j = json(keys_);
  ASSERT_TRUE(j.is_object());
  EXPECT_EQ(findingTexts(j["findings"], "form"), "1 form viewVisit is only in entry 1\n");
  ASSERT_EQ(j["forms"].size(), 1u);
  const Json& farm = j["forms"][0];
  EXPECT_EQ(farm["keys"], Json({"Region", "FarmNo"}));
  // Entry 1: 4 active (2 and 3 share their keys), 1 deleted. Entry 2: 5 active. Pairs: 1-11,
  // 2-12, 3-12, 4-13; only 1-11 differs (Acres). Entry 2's 14 (no FarmNo) and 15 (its partner
  // is deleted in entry 1) have no partner.
  expectCounts(farm, {{4, 5}, {1, 0}, 4, 1, {0, 2}, 8, 1});
  EXPECT_EQ(fields(farm), "Owner:4/0 Acres:4/1 ");
  EXPECT_EQ(listed(farm), "Region=North;FarmNo=1[Acres,] | 2:Region=South;FarmNo= 2:Region=South;FarmNo=2 ");
  EXPECT_EQ(farm["conflicts"][0]["entry2"]["Acres"], 12);
  const std::string keys = findingTexts(farm["findings"], "keys");
  EXPECT_EQ(keys,
            "1 Farm (entry 1): 1 key value used by more than one record: Region=North;FarmNo=2 (2 records)\n"
            "2 Farm (entry 2): 1 record with an empty key (Region, FarmNo): UniqueKey=14\n");
  const std::string structure = findingTexts(farm["findings"], "structure");
  EXPECT_NE(structure.find("form viewFarm: "), std::string::npos) << structure;
  EXPECT_NE(structure.find("table Farm: "), std::string::npos) << structure;
  EXPECT_NE(structure.find("Phone"), std::string::npos) << structure;

  ASSERT_EQ(farm["grids"].size(), 2u);
  const Json* crop = findTable(farm["grids"], "Crop");
  const Json* animal = findTable(farm["grids"], "Animal");
  ASSERT_TRUE(crop && animal);
  EXPECT_EQ((*crop)["keys"], Json({"Region", "FarmNo", "CropNo"}));
  // Crops: 3 and 4 active under active parents, 1 deleted in entry 1; 3 pairs, Beans' Area differs; Tea only in entry 2.
  expectCounts(*crop, {{3, 4}, {1, 0}, 3, 1, {0, 1}, 6, 1});
  EXPECT_EQ(fields(*crop), "CropName:3/0 Area:3/1 ");
  EXPECT_EQ(listed(*crop), "Region=North;FarmNo=1;CropNo=2[Area,] | 2:Region=South;FarmNo=1;CropNo=2 ");
  // Animals: cow and Cow pair (keys compare as text does), Heads differs; goat agrees.
  expectCounts(*animal, {{2, 2}, {0, 0}, 2, 1, {0, 0}, 2, 1});
  EXPECT_EQ(fields(*animal), "Heads:2/1 ");
  EXPECT_EQ(listed(*animal), "Region=North;FarmNo=1;Kind=cow[Heads,] | ");
  EXPECT_EQ((*animal)["conflicts"][0]["entry2"]["Heads"], 4);
}

TEST_P(VerifyFarm, EmptyKeysCountedWithTheRecordsAndListed) {
  // Entry 1: a deleted farm without Region (not an empty key: only active records need one)
  // and an active crop without CropNo. Entry 2: besides 14 (no FarmNo), a deleted farm without
  // Region, which is no empty key either, and a farm whose status is Null, which is one.
  fill(first_, {"insert into Farm values (6, 0, null, 7, 'Old', 1)", "insert into Crop values (5, 1, 1, null, 'Yam', 1)"});
  fill(second_, {"insert into Farm values (16, 0, null, 8, 'Old', 1, null)",
                 "insert into Farm values (17, null, 'East', 9, 'Fay', 2, null)"});
  const Json j = json(keys_);
  ASSERT_TRUE(j.is_object());
  const Json& farm = j["forms"][0];
  EXPECT_EQ(farm["records"], Json({4, 5}));
  EXPECT_EQ(farm["deleted"], Json({2, 2}));
  EXPECT_EQ(findingTexts(farm["findings"], "keys"),
            "1 Farm (entry 1): 1 key value used by more than one record: Region=North;FarmNo=2 (2 records)\n"
            "2 Farm (entry 2): 2 records with an empty key (Region, FarmNo): UniqueKey=14, UniqueKey=17\n");
  const Json* crop = findTable(farm["grids"], "Crop");
  ASSERT_TRUE(crop);
  EXPECT_EQ((*crop)["records"], Json({4, 4}));
  EXPECT_EQ((*crop)["deleted"], Json({1, 0}));
  EXPECT_EQ(findingTexts((*crop)["findings"], "keys"), "1 Crop (entry 1): 1 record with an empty key (CropNo): UniqueKey=5\n");
  const Json* animal = findTable(farm["grids"], "Animal");
  ASSERT_TRUE(animal);
  EXPECT_EQ(findingTexts((*animal)["findings"], "keys"), "");
}

TEST_P(VerifyFarm, IgnoredFieldsNoKeysAndCaseSensitivity) {
  // Without keys the tables are reported, not compared.
  Json j = json("");
  ASSERT_TRUE(j.is_object());
  EXPECT_EQ(j["forms"][0]["not_compared"], "not compared: no match keys");
  EXPECT_EQ(j["forms"][0]["grids"][0]["not_compared"], "not compared: its form is not compared");

  // Ignoring Acres and Area leaves Farm and Crops without differing values.
  j = json(keys_ + " --ignore Farm.Acres,Crop.Area");
  const Json& farm = j["forms"][0];
  expectCounts(farm, {{4, 5}, {1, 0}, 4, 0, {0, 2}, 4, 0});
  EXPECT_EQ(listed(farm), "| 2:Region=South;FarmNo= 2:Region=South;FarmNo=2 ");
  const Json* crop = findTable(farm["grids"], "Crop");
  ASSERT_TRUE(crop);
  expectCounts(*crop, {{3, 4}, {1, 0}, 3, 0, {0, 1}, 3, 0});
  EXPECT_EQ(listed(*crop), "| 2:Region=South;FarmNo=1;CropNo=2 ");

  // Case-sensitive: Bob and BOB differ in both pairs of North 2.
  j = json(keys_ + " --case-sensitive");
  EXPECT_EQ(fields(j["forms"][0]), "Owner:4/2 Acres:4/1 ");
  EXPECT_EQ(j["forms"][0]["conflicting"], 3);
}

TEST_P(VerifyFarm, SurveyFileAndMistakesOfTheUser) {
  std::ofstream(dir_.file("farm.json")) << R"({"tables": {"Farm": {"keys": ["Region", "FarmNo"], "ignore": "Acres"},
      "Crop": {"keys": "CropNo"}, "Animal": {"keys": ["Kind"], "compare": ["Heads"]}}})";
  Json j = json("--survey farm.json");
  ASSERT_TRUE(j.is_object());
  EXPECT_EQ(fields(j["forms"][0]), "Owner:4/0 ");

  ToolRun r = tool("verify " + both() + " --keys Farm=Region,FarmNumber");
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("no column FarmNumber in table Farm (entry 1)"), std::string::npos) << r.err;
  r = tool("verify " + both() + " --keys Farms=Region");
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("no form of both entries has the data table Farms"), std::string::npos) << r.err;
  std::ofstream(dir_.file("bad.toml")) << "[tables.Farm]\nkeys = [1]\n";
  r = tool("verify " + both() + " --survey bad.toml");
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("bad.toml: tables.Farm.keys: every element must be a text"), std::string::npos) << r.err;
  r = tool("verify " + both() + " --format xlsx");
  EXPECT_EQ(r.code, 2);
}

TEST_P(Verify, ManyConflictsWithTwoKeyColumnsPairInBatches) {
  // 600 records keyed by two columns, every one conflicting: more than one batch of partners.
  auto a = ovt::test::openLocation(first_), b = ovt::test::openLocation(second_);
  for (auto* db : {&a, &b}) {
    ovt::test::runAll(*db, statements({catalogue("viewBig", "Big", {}),
                                       {"create table Big (UniqueKey long, RecStatus long, Zone text(5), No long, Val long)"}}));
    (*db)->BeginTrans();
    for (int i = 0; i < 600; ++i)
      ASSERT_TRUE((*db)->Execute("insert into Big values (" + std::to_string(i) + ", 1, '" + (i % 2 ? "b" : "a") + "', " +
                                 std::to_string(i / 2) + ", " + std::to_string(db == &a ? i : i + 1) + ")"));
    (*db)->CommitTrans();
  }
  const Json j = json("--keys Big=Zone,No");
  ASSERT_TRUE(j.is_object());
  const Json& big = j["forms"][0];
  expectCounts(big, {{600, 600}, {0, 0}, 600, 600, {0, 0}, 600, 600});
  ASSERT_EQ(big["conflicts"].size(), 600u);
  for (const Json& c : big["conflicts"]) {
    ASSERT_EQ(c["entry2"]["Val"].get<int64_t>(), c["entry1"]["Val"].get<int64_t>() + 1) << c.dump();
    ASSERT_EQ(c["entry2"]["No"], c["entry1"]["No"]);
    ASSERT_EQ(c["entry2"]["Zone"], c["entry1"]["Zone"]);
  }
}

TEST_P(Verify, CountAboveTheSixteenBitRange) {
  // 40,000 records in each entry, all paired: the tool's count is 64-bit.
  for (const std::string& loc : {first_, second_}) {
    auto db = ovt::test::openLocation(loc);
    ovt::test::runAll(db, {"create table D (d long)", "create table N (UniqueKey long, RecStatus long, K long)"});
    for (int d = 0; d < 10; ++d) ASSERT_TRUE(db->Execute("insert into D values (" + std::to_string(d) + ")"));
    ovt::test::runAll(db, {"insert into N (UniqueKey, RecStatus, K) select a.d*10000+b.d*1000+c.d*100+e.d*10+f.d, 1, "
                           "a.d*10000+b.d*1000+c.d*100+e.d*10+f.d from D as a, D as b, D as c, D as e, D as f where a.d < 4"});
  }
  expectRun(tool("count '" + first_ + "' N ORULINK_N --keys K --oru --format csv --link '" + second_ + "'"), 0,
            "table1,table2,keys,matched\nN,ORULINK_N,K,40000\n");
}

TEST_P(Verify, HtmlSummaryAsTheBrowserRendersIt) {
  demo();
  ToolRun r = tool("verify " + both() + " --survey d/survey.toml --format html --output v.html --label Clerk1 --label Clerk2");
  ASSERT_EQ(r.code, 1) << r.err;
  const std::string page = read("v.html");
  EXPECT_EQ(page.find("http"), std::string::npos);
  EXPECT_EQ(page.find("src="), std::string::npos);
  EXPECT_EQ(page.find("<link"), std::string::npos);
  const std::string b = ovt::test::chromium();
  if (b.empty()) GTEST_SKIP() << "chromium is not installed";
  // A probe appended to a copy reads the rendered summary rows, the drawn bar widths and the
  // highlight of a differing value back into the dumped DOM.
  std::ofstream(dir_.file("probe.html"))
      << page
      << "<script>const rows=[...document.querySelectorAll('#summary tbody tr')].map(r=>[...r.cells].map(c=>c.innerText).join('|'));"
         "const bars=[...document.querySelectorAll('rect.bar')].map(x=>x.dataset.field+'='+Math.round(x.getBBox().width));"
         "const d=getComputedStyle(document.querySelector('td.differs')).backgroundColor;"
         "const p=document.createElement('pre');p.id='probe';p.textContent=rows.join('\\n')+'\\n'+bars.join(' ')+'\\n'+d+'\\n'+"
         "document.querySelector('h1').innerText;document.body.appendChild(p);</script>\n";
  ASSERT_TRUE(ovt::test::dumpDom(b, dir_.file("probe.html"), dir_.file("profile"), dir_.file("dom.html")));
  const std::string out = read("dom.html");
  const size_t at = out.find("<pre id=\"probe\">");
  ASSERT_NE(at, std::string::npos) << out;
  const std::string probe = out.substr(at + 16, out.find("</pre>", at) - at - 16);
  EXPECT_EQ(probe,
            "House|HouseNo|8|8|7|3|1|1|28|24|85.7%\n"
            "House / grid Members (Member)|HouseNo,LineNo|14|13|12|2|2|1|36|34|94.4%\n"
            "House.HeadName=343 House.Village=343 House.Rooms=343 House.WaterSource=343 Member.MemberName=367 "
            "Member.Sex=400 Member.Age=367\n"
            "rgb(255, 210, 127)\n"
            "Verification of Clerk1 (" + first_ + ") and Clerk2 (" + second_ + ")");
}

TEST_P(Verify, GridKeyUsedTwiceWithinAParent) {
  demo();
  // Entry 2 keys Brian Otieno (house 101, line 2) twice.
  fill(second_, {"insert into Member values (999, 1, 501, 2, 'Brian Otieno', 'M', 12)"});
  const Json j = json("--survey d/survey.toml");
  ASSERT_TRUE(j.is_object());
  const Json& members = j["forms"][0]["grids"][0];
  EXPECT_EQ(members["records"], Json({14, 14}));
  EXPECT_EQ(findingTexts(members["findings"], "keys"),
            "2 Member (entry 2): 1 key value used by more than one record: HouseNo=101;LineNo=2 (2 records)\n");
  EXPECT_EQ(findingTexts(j["forms"][0]["findings"], "keys"), "");
}

// The farm survey whose grid Crop is matched on two columns within its farm, PlotNo and
// CropNo (202's plot 1 crop 12 and plot 11 crop 2 run together alike): the grid member pairs
// on one column, so its records are listed by verify's own statements.
class VerifyGridKeys : public Verify {
 protected:
  void SetUp() override {
    Verify::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ovt::test::fillFarmSurvey(entries().first(false), entries().second());
  }
  const std::string keys_ = "--keys Farm=FarmNo Crop=PlotNo,CropNo";
};

TEST_P(VerifyGridKeys, CountsAndRecordsWorkedOutByHand) {
  const Json j = json(keys_);
  ASSERT_EQ(j["forms"].size(), 1u) << j.dump();
  const Json& farm = j["forms"][0];
  expectCounts(farm, {{3, 2}, {0, 0}, 2, 0, {1, 0}, 2, 0});
  ASSERT_EQ(farm["grids"].size(), 1u);
  const Json& crop = farm["grids"][0];
  EXPECT_EQ(crop["table"], "Crop");
  EXPECT_EQ(crop["keys"], Json({"FarmNo", "PlotNo", "CropNo"}));
  EXPECT_TRUE(crop["not_compared"].is_null()) << crop.dump();
  EXPECT_TRUE(crop["findings"].empty()) << crop["findings"].dump();
  // Entry 1: three crops of 201, two of 202, one of 203; entry 2: three of 201, two of 202.
  // Pairs: 201 (1,1) with Yield 10/12 and (1,2) with CropName Beans/Peas, 202 (1,1) alike.
  expectCounts(crop, {{6, 5}, {0, 0}, 3, 2, {3, 2}, 6, 2});
  EXPECT_EQ(fields(crop), "CropName:3/1 Yield:3/1 ");
  EXPECT_EQ(listed(crop),
            "FarmNo=201;PlotNo=1;CropNo=1[Yield,] FarmNo=201;PlotNo=1;CropNo=2[CropName,] | "
            "1:FarmNo=201;PlotNo=2;CropNo=1 1:FarmNo=202;PlotNo=1;CropNo=12 1:FarmNo=203;PlotNo=1;CropNo=1 "
            "2:FarmNo=201;PlotNo=2;CropNo=2 2:FarmNo=202;PlotNo=11;CropNo=2 ");
  // The whole object: both entries' values of each conflict, each unpaired record's.
  EXPECT_EQ(crop, Json::parse(R"({"agreement": 0.6666666666666666, "conflicting": 2, "deleted": [0, 0],
    "conflicts": [
      {"record": "FarmNo=201;PlotNo=1;CropNo=1", "differs": ["Yield"],
       "entry1": {"FarmNo": 201, "PlotNo": 1, "CropNo": 1, "CropName": "Maize", "Yield": 10},
       "entry2": {"FarmNo": 201, "PlotNo": 1, "CropNo": 1, "CropName": "Maize", "Yield": 12}},
      {"record": "FarmNo=201;PlotNo=1;CropNo=2", "differs": ["CropName"],
       "entry1": {"FarmNo": 201, "PlotNo": 1, "CropNo": 2, "CropName": "Beans", "Yield": 4},
       "entry2": {"FarmNo": 201, "PlotNo": 1, "CropNo": 2, "CropName": "Peas", "Yield": 4}}],
    "fields": [{"field": "CropName", "compared": 3, "differing": 1}, {"field": "Yield", "compared": 3, "differing": 1}],
    "findings": [], "grid": "Crops", "keys": ["FarmNo", "PlotNo", "CropNo"], "matched": 3, "missing": [3, 2],
    "not_compared": null, "records": [6, 5], "table": "Crop", "view": "gvCrop",
    "unpaired": [
      {"entry": 1, "record": "FarmNo=201;PlotNo=2;CropNo=1", "entry2": null,
       "entry1": {"FarmNo": 201, "PlotNo": 2, "CropNo": 1, "CropName": "Maize", "Yield": 7}},
      {"entry": 1, "record": "FarmNo=202;PlotNo=1;CropNo=12", "entry2": null,
       "entry1": {"FarmNo": 202, "PlotNo": 1, "CropNo": 12, "CropName": "Kale", "Yield": 1}},
      {"entry": 1, "record": "FarmNo=203;PlotNo=1;CropNo=1", "entry2": null,
       "entry1": {"FarmNo": 203, "PlotNo": 1, "CropNo": 1, "CropName": "Rice", "Yield": 2}},
      {"entry": 2, "record": "FarmNo=201;PlotNo=2;CropNo=2", "entry1": null,
       "entry2": {"FarmNo": 201, "PlotNo": 2, "CropNo": 2, "CropName": "Sorghum", "Yield": 5}},
      {"entry": 2, "record": "FarmNo=202;PlotNo=11;CropNo=2", "entry1": null,
       "entry2": {"FarmNo": 202, "PlotNo": 11, "CropNo": 2, "CropName": "Yam", "Yield": 6}}],
    "values_compared": 6, "values_differing": 2})"));
}

// A key used twice within its farm: the key finding names it, and the counts come from the
// counting statements over all pairs (entry 1's two plot 1 crop 1 both pair with entry 2's).
TEST_P(VerifyGridKeys, RepeatedKeysFoundAndCountedOverPairs) {
  ASSERT_TRUE(entries().first(false)->Execute(
      "insert into Crop (RecStatus, FKey, PlotNo, CropNo, CropName, Yield) values (1, 1, 1, 1, 'Maize', 12)"));
  const Json j = json(keys_);
  const Json& crop = j["forms"][0]["grids"][0];
  expectCounts(crop, {{7, 5}, {0, 0}, 4, 2, {3, 1}, 8, 2});
  EXPECT_EQ(fields(crop), "CropName:4/1 Yield:4/1 ");
  EXPECT_EQ(findingTexts(crop["findings"], "keys"),
            "1 Crop (entry 1): 1 key value used by more than one record: FarmNo=201;PlotNo=1;CropNo=1 (2 records)\n");
  EXPECT_EQ(listed(crop),
            "FarmNo=201;PlotNo=1;CropNo=1[Yield,] FarmNo=201;PlotNo=1;CropNo=2[CropName,] | "
            "1:FarmNo=201;PlotNo=2;CropNo=1 1:FarmNo=202;PlotNo=1;CropNo=12 1:FarmNo=203;PlotNo=1;CropNo=1 "
            "2:FarmNo=201;PlotNo=2;CropNo=2 2:FarmNo=202;PlotNo=11;CropNo=2 ");
}

TEST_P(VerifyGridKeys, TableHtmlAndWorkbook) {
  ToolRun r = tool("verify " + both() + " " + keys_);
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_NE(r.out.find("Farm / grid Crops (Crop): 3 matched, 2 conflicting, 3 missing in entry 2, 2 missing in entry 1; "
                       "4 of 6 values agree (66.7%)\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("1      201     1       2       Beans *   4\n2      201     1       2       Peas *    4\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("2      202     11      2       Yam       6\n"), std::string::npos) << r.out;

  r = tool("verify " + both() + " " + keys_ + " --format html --output v.html");
  EXPECT_EQ(r.code, 1) << r.err;
  const std::string html = read("v.html");
  for (const char* text : {"Kale", "Yam", "Sorghum", "Peas"}) EXPECT_NE(html.find(text), std::string::npos) << text;

  r = tool("verify " + both() + " " + keys_ + " --format xlsx --output v.xlsx");
  ASSERT_EQ(r.code, 1) << r.err;
  EXPECT_EQ(workbook("v.xlsx", "Farm / grid Crops (Crop)", "Crop"),
            "['Summary', 'Farm', 'Crop']\n"
            "(6, 5, 3, 2, 3, 2, 6, 2)\n"
            "[(1, 'Yield', 10), (2, 'Yield', 12), (1, 'CropName', 'Beans'), (2, 'CropName', 'Peas')]\n");
}

TEST_P(VerifyGridKeys, LongCsvFilledInAndResolved) {
  ToolRun r = tool("verify " + both() + " " + keys_ + " --format csv --output long.csv");
  ASSERT_EQ(r.code, 1) << r.err;
  const std::string header = "table,record,field,entry1,entry2,choose\n";
  const std::string farm203 = "Farm,FarmNo=203,,present,missing,\n";
  const std::string beans = "Crop,FarmNo=201;PlotNo=1;CropNo=2,CropName,Beans,Peas,\n";
  const std::string entry1Only = "Crop,FarmNo=201;PlotNo=2;CropNo=1,,present,missing,\n"
                                 "Crop,FarmNo=202;PlotNo=1;CropNo=12,,present,missing,\n"
                                 "Crop,FarmNo=203;PlotNo=1;CropNo=1,,present,missing,\n";
  ASSERT_EQ(read("long.csv"), header + farm203 + "Crop,FarmNo=201;PlotNo=1;CropNo=1,Yield,10,12,\n" + beans +
                                  entry1Only + "Crop,FarmNo=201;PlotNo=2;CropNo=2,,missing,present,\n" +
                                  "Crop,FarmNo=202;PlotNo=11;CropNo=2,,missing,present,\n");
  // The reviewer decides three lines: entry 1's yield, and entry 2's plot 2 crop 2 and 202's
  // plot 11 crop 2 (whose keys run together like those of plot 1 crop 12) deleted.
  std::ofstream(dir_.file("filled.csv")) << header + farm203 + "Crop,FarmNo=201;PlotNo=1;CropNo=1,Yield,10,12,1\n" +
                                                beans + entry1Only +
                                                "Crop,FarmNo=201;PlotNo=2;CropNo=2,,missing,present,delete\n" +
                                                "Crop,FarmNo=202;PlotNo=11;CropNo=2,,missing,present,delete\n";
  r = tool("resolve " + both() + " " + keys_ + " --decisions filled.csv --into 2 --reviewer csv --format csv");
  EXPECT_EQ(r.code, 1) << r.err << r.out;  // lines left undecided
  EXPECT_EQ(r.out,
            "table,record,field,before,after,from,result\n"
            "Crop,FarmNo=201;PlotNo=2;CropNo=2,,(present),(deleted),1,changed\n"
            "Crop,FarmNo=201;PlotNo=1;CropNo=1,Yield,12,10,1,changed\n"
            "Crop,FarmNo=202;PlotNo=11;CropNo=2,,(present),(deleted),1,changed\n"
            "Farm,FarmNo=203,,present,missing,,undecided\n"
            "Crop,FarmNo=201;PlotNo=1;CropNo=2,CropName,Beans,Peas,,undecided\n"
            "Crop,FarmNo=201;PlotNo=2;CropNo=1,,present,missing,,undecided\n"
            "Crop,FarmNo=202;PlotNo=1;CropNo=12,,present,missing,,undecided\n"
            "Crop,FarmNo=203;PlotNo=1;CropNo=1,,present,missing,,undecided\n");

  // What verify shows now is exactly what was left undecided.
  r = tool("verify " + both() + " " + keys_ + " --format csv --output after.csv");
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_EQ(read("after.csv"), header + farm203 + beans + entry1Only);
  const Json j = json(keys_);
  expectCounts(j["forms"][0]["grids"][0], {{6, 3}, {0, 2}, 3, 1, {3, 0}, 6, 1});
}

OVT_ON_EVERY_ENGINE(Verify);
OVT_ON_EVERY_ENGINE(VerifyFarm);
OVT_ON_EVERY_ENGINE(VerifyGridKeys);

}  // namespace
