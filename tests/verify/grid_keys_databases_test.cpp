// `ovtbldiff verify` on every engine with a grid matched on two key columns within its parent
// (the farm survey: Crop on PlotNo and CropNo within its Farm, key values that run together
// alike included): counts and records worked out by hand from the rows of the survey, every
// output format, and the long csv filled in and applied with `resolve`.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/tool_run.h"
#include "support/engines.h"
#include "support/farm_survey.h"
#include "support/temp_dir.h"

namespace ovt::test {
namespace {

using Json = nlohmann::json;

class VerifyGridKeys : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    fillFarmSurvey(entries().first(false), entries().second());
  }

  ToolRun verify(const std::string& args) {
    return runTool(dir_.path(), "verify '" + entries().firstLocation() + "' '" + entries().secondLocation() +
                                    "' --keys Farm=FarmNo Crop=PlotNo,CropNo " + args);
  }

  Json json() {
    ToolRun r = verify("--format json");
    EXPECT_EQ(r.code, 1) << r.err << r.out;
    Json j = Json::parse(r.out, nullptr, false);
    EXPECT_FALSE(j.is_discarded()) << r.out;
    return j;
  }

  std::string read(const std::string& name) {
    std::stringstream ss;
    ss << std::ifstream(dir_.file(name)).rdbuf();
    return ss.str();
  }

  TempDir dir_;
};

// "record[differs,...] ... | entry:record ..." of a table object of the JSON report.
std::string listed(const Json& t) {
  std::string out;
  for (const Json& c : t["conflicts"]) {
    out += c["record"].get<std::string>() + "[";
    for (const Json& d : c["differs"]) out += d.get<std::string>() + ",";
    out += "] ";
  }
  out += "|";
  for (const Json& u : t["unpaired"]) out += " " + std::to_string(u["entry"].get<int>()) + ":" + u["record"].get<std::string>();
  return out;
}

// "field:compared/differing ..." of a table object.
std::string fields(const Json& t) {
  std::string out;
  for (const Json& f : t["fields"])
    out += f["field"].get<std::string>() + ":" + std::to_string(f["compared"].get<int64_t>()) + "/" +
           std::to_string(f["differing"].get<int64_t>()) + " ";
  return out;
}

TEST_P(VerifyGridKeys, CountsAndRecordsWorkedOutByHand) {
  const Json j = json();
  ASSERT_EQ(j["forms"].size(), 1u) << j.dump();
  const Json& farm = j["forms"][0];
  EXPECT_EQ(farm["records"], Json({3, 2}));
  EXPECT_EQ(farm["matched"], 2);
  EXPECT_EQ(farm["missing"], Json({1, 0}));
  ASSERT_EQ(farm["grids"].size(), 1u);
  const Json& crop = farm["grids"][0];
  EXPECT_EQ(crop["table"], "Crop");
  EXPECT_EQ(crop["keys"], Json({"FarmNo", "PlotNo", "CropNo"}));
  EXPECT_FALSE(crop.contains("not_compared") && crop["not_compared"].is_string() &&
               !crop["not_compared"].get<std::string>().empty())
      << crop.dump();
  // Entry 1: three crops of 201, two of 202, one of 203; entry 2: three of 201, two of 202.
  // Pairs: 201 (1,1) and (1,2), 202 (1,1); (1,12) and (11,2) of 202 pair with nothing.
  EXPECT_EQ(crop["records"], Json({6, 5}));
  EXPECT_EQ(crop["deleted"], Json({0, 0}));
  EXPECT_EQ(crop["matched"], 3);
  EXPECT_EQ(crop["conflicting"], 2);
  EXPECT_EQ(crop["missing"], Json({3, 2}));
  EXPECT_EQ(fields(crop), "CropName:3/1 Yield:3/1 ");
  EXPECT_EQ(crop["values_compared"], 6);
  EXPECT_EQ(crop["values_differing"], 2);
  EXPECT_DOUBLE_EQ(crop["agreement"].get<double>(), 4.0 / 6.0);
  EXPECT_TRUE(crop["findings"].empty()) << crop["findings"].dump();
  EXPECT_EQ(listed(crop),
            "FarmNo=201;PlotNo=1;CropNo=1[Yield,] FarmNo=201;PlotNo=1;CropNo=2[CropName,] | "
            "1:FarmNo=201;PlotNo=2;CropNo=1 1:FarmNo=202;PlotNo=1;CropNo=12 1:FarmNo=203;PlotNo=1;CropNo=1 "
            "2:FarmNo=201;PlotNo=2;CropNo=2 2:FarmNo=202;PlotNo=11;CropNo=2");
  ASSERT_EQ(crop["conflicts"].size(), 2u);
  EXPECT_EQ(crop["conflicts"][0]["entry1"]["Yield"], 10);
  EXPECT_EQ(crop["conflicts"][0]["entry2"]["Yield"], 12);
  EXPECT_EQ(crop["conflicts"][1]["entry1"]["CropName"], "Beans");
  EXPECT_EQ(crop["conflicts"][1]["entry2"]["CropName"], "Peas");
  ASSERT_EQ(crop["unpaired"].size(), 5u);
  EXPECT_EQ(crop["unpaired"][1]["entry1"]["CropName"], "Kale");
  EXPECT_EQ(crop["unpaired"][4]["entry2"]["CropName"], "Yam");
}

TEST_P(VerifyGridKeys, EveryFormat) {
  ToolRun r = verify("");
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_NE(r.out.find("Farm / grid Crops (Crop): 3 matched, 2 conflicting, 3 missing in entry 2, 2 missing in entry 1; "
                       "4 of 6 values agree (66.7%)\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("1      201     1       2       Beans *   4\n2      201     1       2       Peas *    4\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("2      202     11      2       Yam       6\n"), std::string::npos) << r.out;

  r = verify("--format html --output v.html");
  EXPECT_EQ(r.code, 1) << r.err;
  const std::string html = read("v.html");
  for (const char* text : {"Kale", "Yam", "Sorghum", "Peas"}) EXPECT_NE(html.find(text), std::string::npos) << text;

  r = verify("--format xlsx --output v.xlsx");
  ASSERT_EQ(r.code, 1) << r.err;
  // openpyxl reads the workbook: the grid's summary row and its highlighted cells.
  std::ofstream(dir_.file("read.py")) << R"py(import openpyxl, sys
wb = openpyxl.load_workbook(sys.argv[1])
print(wb.sheetnames)
for row in wb["Summary"].iter_rows(values_only=True):
    if row[0] is not None and "(Crop)" in str(row[0]):
        print(row[2:10])
h = wb["Crop"]
marked = []
for row in h.iter_rows():
    for c in row:
        if c.fill is not None and c.fill.fill_type == "solid":
            marked.append((row[1].value, h.cell(row=2, column=c.column).value, c.value))
print(marked)
)py";
  const std::string out = dir_.file("read.txt");
  ASSERT_EQ(std::system(("/usr/bin/python3 '" + dir_.file("read.py") + "' '" + dir_.file("v.xlsx") + "' > '" + out + "'").c_str()), 0);
  EXPECT_EQ(read("read.txt"),
            "['Summary', 'Farm', 'Crop']\n"
            "(6, 5, 3, 2, 3, 2, 6, 2)\n"
            "[(1, 'Yield', 10), (2, 'Yield', 12), (1, 'CropName', 'Beans'), (2, 'CropName', 'Peas')]\n");
}

TEST_P(VerifyGridKeys, LongCsvFilledInAndResolved) {
  ToolRun r = verify("--format csv --output long.csv");
  ASSERT_EQ(r.code, 1) << r.err;
  ASSERT_EQ(read("long.csv"),
            "table,record,field,entry1,entry2,choose\n"
            "Farm,FarmNo=203,,present,missing,\n"
            "Crop,FarmNo=201;PlotNo=1;CropNo=1,Yield,10,12,\n"
            "Crop,FarmNo=201;PlotNo=1;CropNo=2,CropName,Beans,Peas,\n"
            "Crop,FarmNo=201;PlotNo=2;CropNo=1,,present,missing,\n"
            "Crop,FarmNo=202;PlotNo=1;CropNo=12,,present,missing,\n"
            "Crop,FarmNo=203;PlotNo=1;CropNo=1,,present,missing,\n"
            "Crop,FarmNo=201;PlotNo=2;CropNo=2,,missing,present,\n"
            "Crop,FarmNo=202;PlotNo=11;CropNo=2,,missing,present,\n");
  // The reviewer decides three lines: entry 1's yield, entry 2's plot 2 crop 2 deleted, and
  // 202's plot 11 crop 2 (which runs together with plot 1 crop 12) deleted too.
  std::ofstream(dir_.file("filled.csv")) << "table,record,field,entry1,entry2,choose\n"
                                            "Farm,FarmNo=203,,present,missing,\n"
                                            "Crop,FarmNo=201;PlotNo=1;CropNo=1,Yield,10,12,1\n"
                                            "Crop,FarmNo=201;PlotNo=1;CropNo=2,CropName,Beans,Peas,\n"
                                            "Crop,FarmNo=201;PlotNo=2;CropNo=1,,present,missing,\n"
                                            "Crop,FarmNo=202;PlotNo=1;CropNo=12,,present,missing,\n"
                                            "Crop,FarmNo=203;PlotNo=1;CropNo=1,,present,missing,\n"
                                            "Crop,FarmNo=201;PlotNo=2;CropNo=2,,missing,present,delete\n"
                                            "Crop,FarmNo=202;PlotNo=11;CropNo=2,,missing,present,delete\n";
  r = runTool(dir_.path(), "resolve '" + entries().firstLocation() + "' '" + entries().secondLocation() +
                               "' --keys Farm=FarmNo Crop=PlotNo,CropNo --decisions filled.csv --into 2 "
                               "--reviewer csv --format csv");
  EXPECT_EQ(r.code, 1) << r.err << r.out;  // lines left undecided
  EXPECT_NE(r.out.find("Crop,FarmNo=201;PlotNo=1;CropNo=1,Yield,12,10,1,changed\n"), std::string::npos) << r.out;

  // What verify shows now is exactly what was left undecided.
  r = verify("--format csv --output after.csv");
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_EQ(read("after.csv"),
            "table,record,field,entry1,entry2,choose\n"
            "Farm,FarmNo=203,,present,missing,\n"
            "Crop,FarmNo=201;PlotNo=1;CropNo=2,CropName,Beans,Peas,\n"
            "Crop,FarmNo=201;PlotNo=2;CropNo=1,,present,missing,\n"
            "Crop,FarmNo=202;PlotNo=1;CropNo=12,,present,missing,\n"
            "Crop,FarmNo=203;PlotNo=1;CropNo=1,,present,missing,\n");
  const Json j = json();
  const Json& crop = j["forms"][0]["grids"][0];
  EXPECT_EQ(crop["records"], Json({6, 3}));
  EXPECT_EQ(crop["deleted"], Json({0, 2}));
  EXPECT_EQ(crop["matched"], 3);
  EXPECT_EQ(crop["conflicting"], 1);
  EXPECT_EQ(crop["missing"], Json({3, 0}));
  EXPECT_EQ(fields(crop), "CropName:3/1 Yield:3/0 ");
}

OVT_ON_EVERY_ENGINE(VerifyGridKeys);

}  // namespace
}  // namespace ovt::test
