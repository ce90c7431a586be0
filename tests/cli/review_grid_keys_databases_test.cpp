// review and resolve on both engines with a grid matched on two key columns: its records are
// listed under their parent, the forms show the verification's counts, the grid's among them,
// and decisions on it are applied.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/entries_tool.h"
#include "cli/review_server.h"
#include "ovtbldiff/decide.h"
#include "support/farm_survey.h"

namespace ovt::test {
namespace {

using Json = nlohmann::json;

class ReviewGridKeys : public EntriesTool {
 protected:
  void SetUp() override {
    EntriesTool::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    fillFarmSurvey(entries().first(false), entries().second());
    if (HasFatalFailure()) return;
    ASSERT_EQ(server_.start(dir_.path(), {first_, second_, "--keys",
                                          "Farm=FarmNo", "Crop=PlotNo,CropNo", "--review", dir_.file("farm.review"),
                                          "--reviewer", "http"}),
              "");
  }

  Json call(const std::string& path, const Json& body = Json(), const std::string& status = "HTTP/1.1 200 OK") {
    HttpAnswer a = server_.api(path, body.is_null() ? "" : body.dump());
    EXPECT_EQ(a.status, status) << path << " " << a.body;
    return Json::parse(a.body, nullptr, false);
  }

  std::set<std::string> items(const Json& state) {
    std::set<std::string> out;
    for (const Json& i : state["items"])
      out.insert(i["table"].get<std::string>() + "|" + i["record"].get<std::string>() + "|" +
                 i["field"].get<std::string>() + "|" + i["entry1"].get<std::string>() + "|" +
                 i["entry2"].get<std::string>() + "|" + i["parent_record"].get<std::string>());
    return out;
  }

  std::string one(const std::string& sql) {
    VariantArray all = openLocation(second_)->OpenRecordset(sql, 3, "")->GetRows();
    return all.allocated() ? decide::valueText(all.at(0, 0)) : "<none>";
  }

  ReviewServer server_;
};

TEST_P(ReviewGridKeys, ListedCountedDecidedAndApplied) {
  Json state = call("/api/state");
  EXPECT_EQ(items(state), (std::set<std::string>{"Crop|FarmNo=201;PlotNo=1;CropNo=1|Yield|10|12|FarmNo=201",
                                                 "Crop|FarmNo=201;PlotNo=1;CropNo=2|CropName|Beans|Peas|FarmNo=201",
                                                 "Crop|FarmNo=201;PlotNo=2;CropNo=1||(present)|(absent)|FarmNo=201",
                                                 "Crop|FarmNo=201;PlotNo=2;CropNo=2||(absent)|(present)|FarmNo=201",
                                                 "Crop|FarmNo=202;PlotNo=1;CropNo=12||(present)|(absent)|FarmNo=202",
                                                 "Crop|FarmNo=202;PlotNo=11;CropNo=2||(absent)|(present)|FarmNo=202",
                                                 "Farm|FarmNo=203||(present)|(absent)|"}));
  ASSERT_EQ(state["forms"].size(), 2u) << state["forms"].dump();
  const Json& farm = state["forms"][0];
  EXPECT_EQ(farm["table"], "Farm");
  EXPECT_EQ(farm["records"], Json({3, 2}));
  EXPECT_EQ(farm["matched"], 2);
  EXPECT_EQ(farm["conflicting"], 0);
  EXPECT_EQ(farm["missing"], Json({1, 0}));
  EXPECT_EQ(farm["values_compared"], 2);
  EXPECT_EQ(farm["values_differing"], 0);
  EXPECT_EQ(farm["unpaired"], 1);
  const Json& crop = state["forms"][1];
  EXPECT_EQ(crop["table"], "Crop");
  EXPECT_TRUE(crop["grid"].get<bool>());
  // Counted by verify as its JSON gives them; the crop under farm 203, which entry 2 lacks, is
  // among the missing but is decided with its farm, not on its own.
  EXPECT_FALSE(crop.contains("not_compared")) << crop.dump();
  EXPECT_EQ(crop["records"], Json({6, 5}));
  EXPECT_EQ(crop["matched"], 3);
  EXPECT_EQ(crop["conflicting"], 2);
  EXPECT_EQ(crop["missing"], Json({3, 2}));
  EXPECT_EQ(crop["values_compared"], 6);
  EXPECT_EQ(crop["values_differing"], 2);
  EXPECT_EQ(crop["differing_values"], 2);
  EXPECT_EQ(crop["unpaired"], 4);

  // A typed value that does not fit its column is refused at once and not kept.
  Json refused = call("/api/decide",
                      {{"table", "Crop"}, {"record", "FarmNo=201;PlotNo=1;CropNo=1"}, {"field", "Yield"},
                       {"choice", "typed"}, {"typed", "1); drop table Crop; --"}},
                      "HTTP/1.1 400 Bad Request");
  EXPECT_EQ(refused["error"],
            "value \"1); drop table Crop; --\" for field Yield of Crop FarmNo=201;PlotNo=1;CropNo=1 is refused: the "
            "column takes a whole number");
  call("/api/decide", {{"table", "Crop"}, {"record", "FarmNo=201;PlotNo=1;CropNo=1"}, {"field", "Yield"}, {"choice", "1"}});
  call("/api/decide", {{"table", "Crop"}, {"record", "FarmNo=201;PlotNo=1;CropNo=2"}, {"field", "CropName"},
                       {"choice", "typed"}, {"typed", "Peas 'mixed' [x]"}});
  call("/api/decide", {{"table", "Crop"}, {"record", "FarmNo=201;PlotNo=2;CropNo=2"}, {"field", ""}, {"choice", "delete"}});
  call("/api/decide", {{"table", "Crop"}, {"record", "FarmNo=202;PlotNo=1;CropNo=12"}, {"field", ""}, {"choice", "keep"}});
  EXPECT_EQ(call("/api/state")["decided"], 4);

  Json applied = call("/api/apply", {{"target", "2"}});
  EXPECT_EQ(applied["changed"], 4) << applied.dump();
  EXPECT_EQ(applied["failed"], 0) << applied.dump();
  const std::string crop201 = "from Crop as c inner join Farm as f on c.FKey = f.UniqueKey where f.FarmNo = 201 and ";
  EXPECT_EQ(one("select c.Yield " + crop201 + "c.PlotNo = 1 and c.CropNo = 1"), "10");
  EXPECT_EQ(one("select c.CropName " + crop201 + "c.PlotNo = 1 and c.CropNo = 2"), "Peas 'mixed' [x]");
  EXPECT_EQ(one("select c.RecStatus " + crop201 + "c.PlotNo = 2 and c.CropNo = 2"), "0");
  EXPECT_EQ(one("select count(*) from ovt_audit where reviewer = 'http'"), "4");

  // What is left: the typed name (entry 1 keeps its own) and the undecided records.
  EXPECT_EQ(items(call("/api/state")),
            (std::set<std::string>{"Crop|FarmNo=201;PlotNo=1;CropNo=2|CropName|Beans|Peas 'mixed' [x]|FarmNo=201",
                                   "Crop|FarmNo=201;PlotNo=2;CropNo=1||(present)|(absent)|FarmNo=201",
                                   "Crop|FarmNo=202;PlotNo=11;CropNo=2||(absent)|(present)|FarmNo=202",
                                   "Farm|FarmNo=203||(present)|(absent)|"}));
}

TEST_P(ReviewGridKeys, ResolvedFromAHandWrittenDecisionsFile) {
  std::ofstream(dir_.file("crops.csv")) << "table,record,field,entry1,entry2,choose\n"
                                           "Crop,FarmNo=201;PlotNo=1;CropNo=1,Yield,10,12,1\n"
                                           "Crop,FarmNo=201;PlotNo=2;CropNo=2,,missing,present,delete\n"
                                           "Crop,FarmNo=202;PlotNo=11;CropNo=2,,missing,present,\n";
  // One line left undecided.
  expectRun(tool("resolve " + both() + " --keys Farm=FarmNo Crop=PlotNo,CropNo --decisions crops.csv --into 2 "
                 "--reviewer csv --format csv"),
            1,
            "table,record,field,before,after,from,result\n"
            "Crop,FarmNo=201;PlotNo=2;CropNo=2,,(present),(deleted),1,changed\n"
            "Crop,FarmNo=201;PlotNo=1;CropNo=1,Yield,12,10,1,changed\n"
            "Crop,FarmNo=202;PlotNo=11;CropNo=2,,missing,present,,undecided\n");
  EXPECT_EQ(one("select count(*) from ovt_audit where reviewer = 'csv'"), "2");
}

OVT_ON_EVERY_ENGINE(ReviewGridKeys);

}  // namespace
}  // namespace ovt::test
