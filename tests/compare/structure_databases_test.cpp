// Structure comparison on real databases of every engine: table objects and view catalogues as
// the database component reports them, the worked reports among them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ovtbldiff/gateway.h"
#include "ovtbldiff/runtime/error.h"
#include "support/engines.h"
#include "support/raised.h"
#include "support/scripted_db.h"

namespace ovt {
namespace {

const char* kCatalogue = "(Name TEXT(50), Type TEXT(20), PageNumber SHORT, DataTable TEXT(50))";

class StructureOnFiles : public test::EngineTest {
 protected:
  void SetUp() override {
    test::EngineTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    db_ = entries().first(false);
    gateway_.SetDB(db_);
  }
  void run(const db::DatabaseRef& db, const std::string& sql) {
    ASSERT_TRUE(db->Execute(sql)) << sql << ": " << db->LastFailure();
  }
  db::TableRef table(const db::DatabaseRef& db, const std::string& name) {
    for (const db::TableRef& t : db->Tables())
      if (t->Name() == name) return t;
    ADD_FAILURE() << "no table " << name;
    return nullptr;
  }
  // Compares two tables of the first file; the report, and CommonFields in `common`.
  std::string compareTables(const std::string& a, const std::string& b, StringArray& common,
                            int32_t select = TableDiffAllFields) {
    db::TableRef t1 = table(db_, a), t2 = table(db_, b);
    return gateway_.CompareTablesStructure(t1, t2, common, &select);
  }
  // A catalogue table named `view` holding (name, type, page) rows.
  void catalogue(const db::DatabaseRef& db, const std::string& view,
                 const std::vector<std::tuple<std::string, std::string, int>>& rows) {
    run(db, "create table " + view + " " + kCatalogue);
    for (const auto& [name, type, page] : rows)
      run(db, "insert into " + view + " (Name, Type, PageNumber, DataTable) values ('" + name + "', '" + type +
                  "', " + std::to_string(page) + ", '')");
  }
  std::string compareViews(const std::string& v1, const db::DatabaseRef& ext, const std::string& v2,
                           StringArray& common) {
    db_->SetViewName(v1);
    ext->SetViewName(v2);
    db::DatabaseRef e = ext;
    return gateway_.CompareViewsStructure(e, common);
  }

  db::DatabaseRef db_;
  cDataGetway gateway_;
};

TEST_P(StructureOnFiles, SurveyWorkedReport) {
  run(db_, "create table Survey1 (UniqueKey LONG, Name TEXT(50), Age SHORT)");
  run(db_, "create table Survey2 (UNIQUEKEY LONG, Name MEMO, Pulse DOUBLE, Length DOUBLE)");
  StringArray common{"old"};
  EXPECT_EQ(compareTables("Survey1", "Survey2", common),
            "Total fields of Survey1: 3;Total fields of Survey2: 4;Conflict field dataType for Name: Jet Text <--> "
            "Jet Memo;Unmatched field Age;***;Unmatched field Pulse;Unmatched field Length");
  EXPECT_EQ(common, StringArray{"UniqueKey"});
}

TEST_P(StructureOnFiles, TableReportsByCase) {
  struct Case {
    const char* what;
    const char* t1;
    const char* t2;
    const char* report;
    std::vector<std::string> common;
  };
  const std::vector<Case> cases = {
      {"identical", "(ID LONG, Name TEXT(50), Born DATETIME)", "(ID LONG, Name TEXT(50), Born DATETIME)", "",
       {"ID", "Name", "Born"}},
      {"names equal up to case", "(ID LONG, Name TEXT(50))", "(id LONG, NAME TEXT(50))", "", {"ID", "Name"}},
      {"no shared field", "(A LONG)", "(B LONG)", "Unmatched field A;***;Unmatched field B", {""}},
      // A conflict only in table 1's section still leaves the marker before the empty section 2.
      {"type before nullability", "(ID LONG, X LONG NOT NULL)", "(ID LONG, X TEXT(10))",
       "Conflict field dataType for X: Jet Long <--> Jet Text;***", {"ID"}},
      {"nullability alone", "(ID LONG, X LONG NOT NULL)", "(ID LONG, X LONG)",
       "Conflict nullable for X: False <--> True;***", {"ID"}},
      {"same count, other names", "(ID LONG, A SHORT)", "(ID LONG, B SHORT)",
       "Unmatched field A;***;Unmatched field B", {"ID"}},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string a = "A" + std::to_string(n), b = "B" + std::to_string(n++);
    run(db_, "create table " + a + " " + c.t1);
    run(db_, "create table " + b + " " + c.t2);
    StringArray common;
    EXPECT_EQ(compareTables(a, b, common), c.report) << c.what;
    EXPECT_EQ(common, StringArray::of(c.common)) << c.what;
  }
}

TEST_P(StructureOnFiles, AutoFieldsLeftOutOnlyWhenAsked) {
  const std::string form = "(UniqueKey COUNTER, RecStatus LONG, FKey LONG, ID LONG, Name TEXT(50))";
  run(db_, "create table Kids1 " + form);
  run(db_, "create table Kids2 " + form);
  StringArray all, noAuto;
  EXPECT_EQ(compareTables("Kids1", "Kids2", all), "");
  EXPECT_EQ(all, StringArray::of({"UniqueKey", "RecStatus", "FKey", "ID", "Name"}));
  EXPECT_EQ(compareTables("Kids1", "Kids2", noAuto, TableDiffNoAutoFields), "");
  EXPECT_EQ(noAuto, StringArray::of({"ID", "Name"}));
}

TEST_P(StructureOnFiles, LinkTablesAreComparedUnderTheirPrefixedNames) {
  {
    auto other = entries().second();
    run(other, "create table House (HouseNo LONG, Village TEXT(50), Rooms SHORT)");
  }
  db_ = entries().first();
  run(db_, "create table House (HouseNo LONG, Village TEXT(50))");
  StringArray common;
  EXPECT_EQ(compareTables("House", "ORULINK_House", common),
            "Total fields of House: 2;Total fields of ORULINK_House: 3;***;Unmatched field Rooms");
  EXPECT_EQ(common, StringArray::of({"HouseNo", "Village"}));
}

TEST_P(StructureOnFiles, VisitWorkedReportAcrossTwoFiles) {
  db::DatabaseRef ext = entries().second();
  catalogue(db_, "Visit1",
            {{"DATA1", "SOURCE", 0}, {"AGE", "NUMBER", 1}, {"NAME", "TEXT", 1}, {"Drugs", "GRID", 2},
             {"SEX", "TEXT", 2}, {"Heading", "TEXTONLY", 1}});
  catalogue(ext, "Visit2",
            {{"DATA1", "SOURCE", 0}, {"AGE", "TEXT", 1}, {"NAME", "TEXT", 1}, {"PULSE", "NUMBER", 1},
             {"Drugs", "GRID", 1}, {"Group1", "GROUP", 1}});
  StringArray common{"old"};
  // Through recording connections: each is asked about its own view only, variables first.
  auto a = std::make_shared<test::TracingDatabase>(db_), b = std::make_shared<test::TracingDatabase>(ext);
  gateway_.SetDB(a);
  EXPECT_EQ(compareViews("Visit1", b, "Visit2", common),
            "Total fields of Visit1 : 3;Total fields of Visit2 : 3;Total grids of Visit1 : 1;Total grids of Visit2 : "
            "1;Conflict field dataType for AGE: NUMBER <--> TEXT;Unmatched field: SEX;***;Unmatched field: PULSE");
  EXPECT_EQ(common, StringArray{"NAME"});
  EXPECT_EQ(a->statements, (std::vector<std::string>{test::variableQuery("Visit1"), test::gridCountQuery("Visit1")}));
  EXPECT_EQ(b->statements, (std::vector<std::string>{test::variableQuery("Visit2"), test::gridCountQuery("Visit2")}));
  EXPECT_EQ(a->options, (std::vector<int32_t>{3, 3}));
}

TEST_P(StructureOnFiles, ViewReportsByCase) {
  db::DatabaseRef ext = entries().second();
  // Same variables up to case, same grids: nothing to report.
  catalogue(db_, "vA", {{"Age", "NUMBER", 1}, {"Name", "TEXT", 1}, {"G", "GRID", 1}});
  catalogue(ext, "vB", {{"NAME", "text", 3}, {"AGE", "number", 1}, {"H", "GRID", 2}});
  StringArray common;
  EXPECT_EQ(compareViews("vA", ext, "vB", common), "");
  EXPECT_EQ(common, StringArray::of({"Age", "Name"}));
  // Grids differing only in count: the four totals alone, ending in ";".
  catalogue(ext, "vC", {{"Age", "NUMBER", 1}, {"Name", "TEXT", 1}});
  EXPECT_EQ(compareViews("vA", ext, "vC", common),
            "Total fields of vA : 2;Total fields of vC : 2;Total grids of vA : 1;Total grids of vC : 0;");
  EXPECT_EQ(common, StringArray::of({"Age", "Name"}));
  // A view without variables (only page 0 and excluded types): the text, CommonFields untouched.
  catalogue(ext, "vEmpty", {{"DATA1", "SOURCE", 0}, {"Age", "NUMBER", 0}, {"G", "GRID", 1}, {"M", "MIRROR", 1},
                            {"R", "RELATE", 1}, {"T", "TEXTONLY", 1}, {"P", "GROUP", 1}});
  StringArray kept{"kept"};
  EXPECT_EQ(compareViews("vA", ext, "vEmpty", kept), "err: view has no variable : vEmpty");
  EXPECT_EQ(kept, StringArray{"kept"});
  // View 1 is examined first.
  catalogue(db_, "vNone", {{"DATA1", "SOURCE", 0}});
  EXPECT_EQ(compareViews("vNone", ext, "vEmpty", kept), "err: view has no variable : vNone");
  EXPECT_EQ(kept, StringArray{"kept"});
}

TEST_P(StructureOnFiles, AMissingViewFailsUnderTheTableComparisonSource) {
  db::DatabaseRef ext = entries().second();
  catalogue(db_, "vA", {{"Age", "NUMBER", 1}});
  StringArray common{"kept"};
  const ComError e = test::raisedBy([&] { compareViews("vA", ext, "vMissing", common); });
  EXPECT_EQ(e.source(), "cDATAGateway:CompareTablesStructure");
  EXPECT_NE(e.description().find("vMissing"), std::string::npos) << e.description();
  EXPECT_EQ(common, StringArray{"kept"});
}

// CommonFields handed in with lower bound 1 cannot be redimensioned from 0: both comparisons
// raise 9 and hand the array back as it came, its bounds and values kept.
TEST_P(StructureOnFiles, CommonFieldsOfLowerBoundOneRaiseNineAndStayWhole) {
  run(db_, "create table A1 (UniqueKey LONG, Name TEXT(50))");
  run(db_, "create table A2 (UniqueKey LONG, Name TEXT(50))");
  db::DatabaseRef ext = entries().second();
  catalogue(db_, "vA", {{"Age", "NUMBER", 1}});
  catalogue(ext, "vB", {{"Age", "NUMBER", 1}});
  auto fromOne = [] {
    StringArray a;
    a.redim(1, 2);
    a.at(1) = "x";
    a.at(2) = "y";
    return a;
  };
  auto expectWhole = [](const StringArray& a) {
    EXPECT_EQ(a.lbound(), 1);
    EXPECT_EQ(a.ubound(), 2);
    EXPECT_EQ(a.at(1), "x");
    EXPECT_EQ(a.at(2), "y");
  };
  StringArray tables = fromOne(), views = fromOne();
  EXPECT_EQ(test::raisedBy([&] { compareTables("A1", "A2", tables); }).number(), 9);
  expectWhole(tables);
  EXPECT_EQ(test::raisedBy([&] { compareViews("vA", ext, "vB", views); }).number(), 9);
  expectWhole(views);
}

OVT_ON_EVERY_ENGINE(StructureOnFiles);

}  // namespace
}  // namespace ovt
