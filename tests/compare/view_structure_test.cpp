#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/scripted_db.h"
#include "ovtbldiff/gateway.h"

namespace ovt {
namespace {

using test::raisedBy;
using test::gridCountQuery;
using test::variableQuery;
using test::Rows;
using test::ScriptedDatabase;

using Vars = std::vector<std::pair<std::string, std::string>>;

// A connection set to view `name` whose catalogue answers with these variables and grids.
std::shared_ptr<ScriptedDatabase> viewDb(const std::string& name, const Vars& vars, int grids) {
  auto db = std::make_shared<ScriptedDatabase>();
  db->SetViewName(name);
  Rows r{{"Name", "Type"}, {}, {}};
  for (const auto& [n, t] : vars) r.records.push_back({Variant(n), Variant(t)});
  db->answers[variableQuery(name)] = r;
  db->answers[gridCountQuery(name)] = Rows{{"GridCount"}, {}, {{Variant(int32_t{grids})}}};
  return db;
}

struct Outcome {
  std::string report;
  StringArray common;
};

Outcome compareViews(const std::shared_ptr<ScriptedDatabase>& a,
                     const std::shared_ptr<ScriptedDatabase>& b) {
  cDataGetway g;
  g.SetDB(a);
  db::DatabaseRef ext = b;
  Outcome o{"", StringArray{"before"}};
  o.report = g.CompareViewsStructure(ext, o.common);
  return o;
}

TEST(CompareViewsStructure, ReportsByCase) {
  struct Case {
    const char* what;
    Vars v1;
    int g1;
    Vars v2;
    int g2;
    std::string report;
    StringArray common;
  };
  const std::vector<Case> cases = {
      {"different variable counts only",
       {{"A", "TEXT"}, {"a", "TEXT"}}, 0,
       {{"A", "TEXT"}}, 0,
       "Total fields of V1 : 2;Total fields of V2 : 1;Total grids of V1 : 0;Total grids of V2 : 0;",
       StringArray{"A", "a"}},
      {"type conflict only",
       {{"A", "TEXT"}}, 0,
       {{"A", "DATE"}}, 0,
       "Total fields of V1 : 1;Total fields of V2 : 1;Total grids of V1 : 0;Total grids of V2 : 0;"
       "Conflict field dataType for A: TEXT <--> DATE;***",
       StringArray{""}},
      {"variables only in one view each",
       {{"X", "TEXT"}}, 0,
       {{"Y", "TEXT"}, {"Z", "TEXT"}}, 0,
       "Total fields of V1 : 1;Total fields of V2 : 2;Total grids of V1 : 0;Total grids of V2 : 0;"
       "Unmatched field: X;***;Unmatched field: Y;Unmatched field: Z",
       StringArray{""}},
      {"only the first partner counts",
       {{"A", "TEXT"}}, 0,
       {{"a", "DATE"}, {"A", "TEXT"}}, 0,
       "Total fields of V1 : 1;Total fields of V2 : 2;Total grids of V1 : 0;Total grids of V2 : 0;"
       "Conflict field dataType for A: TEXT <--> DATE;***",
       StringArray{""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Outcome o = compareViews(viewDb("V1", c.v1, c.g1), viewDb("V2", c.v2, c.g2));
    EXPECT_EQ(o.report, c.report);
    EXPECT_EQ(o.common, c.common);
  }
}

TEST(CompareViewsStructure, AViewWithoutVariablesIsReportedAndLeavesCommonFields) {
  for (int first = 0; first < 2; ++first) {
    SCOPED_TRACE(first);
    auto a = viewDb("Empty1", first ? Vars{} : Vars{{"A", "TEXT"}}, 1);
    auto b = viewDb("Empty2", Vars{}, 1);
    Outcome o = compareViews(a, b);
    EXPECT_EQ(o.report, std::string("err: view has no variable : ") + (first ? "Empty1" : "Empty2"));
    EXPECT_EQ(o.common, StringArray{"before"});
    // Both variable queries ran; no grid was counted.
    EXPECT_EQ(a->statements, std::vector<std::string>{variableQuery(a->ViewName())});
    EXPECT_EQ(b->statements, std::vector<std::string>{variableQuery("Empty2")});
  }
}

TEST(CompareViewsStructure, FailuresCarryTheTableComparisonSource) {
  cDataGetway g;
  StringArray common{"before"};
  db::DatabaseRef none;

  // No DB property.
  ComError e = raisedBy([&] {
    db::DatabaseRef ext = viewDb("V", {{"A", "TEXT"}}, 0);
    g.CompareViewsStructure(ext, common);
  });
  EXPECT_EQ(e.number(), 91);
  EXPECT_EQ(e.source(), "cDATAGateway:CompareTablesStructure");
  EXPECT_EQ(e.description(), "Object variable or With block variable not set");

  // No extDB.
  g.SetDB(viewDb("V", {{"A", "TEXT"}}, 0));
  e = raisedBy([&] { g.CompareViewsStructure(none, common); });
  EXPECT_EQ(e.number(), 91);
  EXPECT_EQ(e.source(), "cDATAGateway:CompareTablesStructure");

  // A query the database cannot run keeps its own number and description.
  auto broken = std::make_shared<ScriptedDatabase>();
  broken->SetViewName("Gone");
  db::DatabaseRef ext = broken;
  e = raisedBy([&] { g.CompareViewsStructure(ext, common); });
  EXPECT_EQ(e.number(), 3131);
  EXPECT_EQ(e.source(), "cDATAGateway:CompareTablesStructure");
  EXPECT_EQ(e.description(), "Syntax error in FROM clause.");
  EXPECT_EQ(common, StringArray{"before"});
}

TEST(CompareViewsStructure, CommonFieldsWrittenBeforeAFailureStay) {
  // The second shared variable's name is Null: it cannot become text, after the first
  // shared one was stored.
  auto a = viewDb("V1", {{"A", "TEXT"}}, 0);
  a->answers[variableQuery("V1")].records.push_back({Variant(Null{}), Variant("TEXT")});
  auto b = viewDb("V2", {{"A", "TEXT"}}, 0);
  b->answers[variableQuery("V2")].records.push_back({Variant(Null{}), Variant("TEXT")});
  cDataGetway g;
  g.SetDB(a);
  db::DatabaseRef ext = b;
  StringArray common{"x", "y", "z"};
  ComError e = raisedBy([&] { g.CompareViewsStructure(ext, common); });
  EXPECT_EQ(e.number(), 94);
  EXPECT_EQ(e.source(), "cDATAGateway:CompareTablesStructure");
  // The array grew for the second entry before its name failed to convert.
  EXPECT_EQ(common.elements(), (std::vector<std::string>{"A", ""}));
}

}  // namespace
}  // namespace ovt
