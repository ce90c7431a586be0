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
using test::gridListQuery;
using test::dataTableQuery;
using test::gridCountQuery;
using test::variableQuery;
using test::Rows;
using test::ScriptedDatabase;

using Grids = std::vector<std::pair<std::string, std::string>>;

StringArray listOf(const Grids& rows) {
  std::vector<std::vector<std::string>> r;
  for (const auto& [a, b] : rows) r.push_back({a, b});
  return StringArray::of2(r);
}

void addGrids(ScriptedDatabase& db, const std::string& view, const Grids& grids) {
  db.existing[view] = true;
  db.tableTypes[view] = 1;
  Rows r{{"GridName", "GridViewName"}, {}, {}};
  for (const auto& [n, v] : grids) r.records.push_back({Variant(n), Variant(v)});
  db.answers[gridListQuery(view)] = r;
}

TEST(GetOruGridList, LinkTableNamesGoIntoTheStatementUnchanged) {
  auto db = std::make_shared<ScriptedDatabase>();
  addGrids(*db, "ORULINK_view Visit", {{"Drugs", "ORULINK_viewDrugs"}});
  cDataGetway g;
  db::DatabaseRef arg = db;
  StringArray list;
  EXPECT_TRUE(g.GetOruGridList("ORULINK_view Visit", list, &arg));
  EXPECT_EQ(db->statements.at(0),
            "select A.Name as GridName, B.Datatable as GridViewName from [ORULINK_view Visit] as A, "
            "[ORULINK_view Visit] as B where A.Type ='GRID' and A.Datatable = B.Name and "
            "B.PageNumber=0 and B.Type = 'SOURCE'");
  EXPECT_EQ(list, listOf({{"Drugs", "ORULINK_viewDrugs"}}));
}

TEST(GetOruGridList, Errors) {
  auto db = std::make_shared<ScriptedDatabase>();
  cDataGetway g;
  db::DatabaseRef arg = db;
  StringArray list{"kept"};
  // A missing catalogue: 711 as raised, with the default source.
  ComError e = raisedBy([&] { g.GetOruGridList("viewNone", list, &arg); });
  EXPECT_EQ(e.number(), static_cast<int32_t>(0x800402C7u));
  EXPECT_EQ(e.source(), "OVTblDiffData");
  EXPECT_EQ(e.description(), "Table:viewNone does not exist");
  EXPECT_EQ(list, StringArray{"kept"});

  // No connection.
  e = raisedBy([&] { g.GetOruGridList("viewNone", list); });
  EXPECT_EQ(e.number(), 91);
  EXPECT_EQ(e.source(), "cDATAGateway:GetOruGridList");

  // A Null grid view name cannot become text.
  db->existing["viewOdd"] = true;
  db->answers[gridListQuery("viewOdd")] =
      Rows{{"GridName", "GridViewName"}, {}, {{Variant("G1"), Variant("gv1")}, {Variant("G2"), Variant(Null{})}}};
  e = raisedBy([&] { g.GetOruGridList("viewOdd", list, &arg); });
  EXPECT_EQ(e.number(), 94);
  EXPECT_EQ(e.source(), "cDATAGateway:GetOruGridList");
  EXPECT_EQ(e.description(), "Invalid use of Null");
  EXPECT_EQ(list, listOf({{"G1", "gv1"}, {"G2", ""}}));

  // More records than the recordset counted: the surplus row fails rather than vanishing.
  db->existing["viewMore"] = true;
  db->answers[gridListQuery("viewMore")] =
      Rows{{"GridName", "GridViewName"}, {}, {{Variant("G1"), Variant("gv1")}, {Variant("G2"), Variant("gv2")}}};
  db->counts[gridListQuery("viewMore")] = 1;
  e = raisedBy([&] { g.GetOruGridList("viewMore", list, &arg); });
  EXPECT_EQ(e.number(), 9);
  EXPECT_EQ(e.source(), "cDATAGateway:GetOruGridList");
}

// A grid view's catalogue as the structure comparison and the data-table query read it.
void addGridView(ScriptedDatabase& db, const std::string& view, const std::string& varType,
                 const char* dataTable, int32_t tableType = 1) {
  db.existing[view] = true;
  db.tableTypes[view] = tableType;
  db.answers[variableQuery(view)] = Rows{{"Name", "Type"}, {}, {{Variant("DOSE"), Variant(varType)}}};
  db.answers[gridCountQuery(view)] = Rows{{"GridCount"}, {}, {{Variant(int32_t{0})}}};
  Rows source{{"DataTable"}, {}, {}};
  if (dataTable) source.records.push_back({Variant(dataTable)});
  db.answers[dataTableQuery(view)] = source;
}

struct TwoDatabases {
  std::shared_ptr<ScriptedDatabase> stored = std::make_shared<ScriptedDatabase>();
  std::shared_ptr<ScriptedDatabase> ext = std::make_shared<ScriptedDatabase>();
  TwoDatabases(const Grids& g1, const Grids& g2) {
    addGrids(*stored, "viewVisit1", g1);
    addGrids(*ext, "viewVisit2", g2);
    stored->SetViewName("viewVisit1");
    ext->SetViewName("viewVisit2");
  }
};

TEST(GetOruComparableGridTblList, KeepsSharedGridsOfEqualStructure) {
  TwoDatabases d({{"Drugs", "gvDrugs"}, {"Scores", "gvScores"}, {"Notes", "gvNotes1"},
                  {"Extra", "gvExtra"}, {"Labs", "gvLabs"}},
                 {{"LABS", "GVLABS"}, {"Scores", "gvScores"}, {"Notes", "gvNotes2"},
                  {"DRUGS", "GVDRUGS"}});
  addGridView(*d.stored, "gvDrugs", "NUMBER", "Drugs1");
  addGridView(*d.ext, "gvDrugs", "number", "Drugs2");
  addGridView(*d.stored, "gvScores", "NUMBER", "Scores1");
  addGridView(*d.ext, "gvScores", "TEXT", "Scores2");
  addGridView(*d.stored, "gvLabs", "TEXT", nullptr);  // no data-source row
  addGridView(*d.ext, "gvLabs", "TEXT", "Labs2");
  cDataGetway g;
  g.SetDB(d.stored);
  db::DatabaseRef ext = d.ext;
  StringArray list{"old"};
  EXPECT_TRUE(g.GetOruComparableGridTblList(list, ext));
  // The stored database's order and spelling; data tables as the stored database names them.
  EXPECT_EQ(list, listOf({{"gvDrugs", "Drugs1"}, {"gvLabs", ""}}));
  EXPECT_EQ(ext, d.ext);
  // Both connections are left on the last candidate.
  EXPECT_EQ(d.stored->ViewName(), "gvLabs");
  EXPECT_EQ(d.ext->ViewName(), "gvLabs");
  // The extDB only lists its grids and compares; data tables come from the stored database.
  EXPECT_EQ(d.ext->statements,
            (std::vector<std::string>{gridListQuery("viewVisit2"), variableQuery("gvDrugs"),
                                      gridCountQuery("gvDrugs"), variableQuery("gvScores"),
                                      gridCountQuery("gvScores"), variableQuery("gvLabs"),
                                      gridCountQuery("gvLabs")}));
  EXPECT_EQ(d.stored->statements.back(), dataTableQuery("gvLabs"));
}

TEST(GetOruComparableGridTblList, CandidatesThatAllDifferGiveTheEmptyListAndTrue) {
  TwoDatabases d({{"Drugs", "gvDrugs"}, {"Scores", "gvScores"}},
                 {{"Drugs", "gvDrugs"}, {"Scores", "gvScores"}});
  addGridView(*d.stored, "gvDrugs", "NUMBER", "Drugs1");
  addGridView(*d.ext, "gvDrugs", "DATE", "Drugs2");
  addGridView(*d.stored, "gvScores", "NUMBER", "Scores1");
  d.ext->existing["gvScores"] = true;
  d.ext->answers[variableQuery("gvScores")] = Rows{{"Name", "Type"}, {}, {}};  // no variable
  cDataGetway g;
  g.SetDB(d.stored);
  db::DatabaseRef ext = d.ext;
  StringArray list = listOf({{"a", "b"}, {"c", "d"}});
  EXPECT_TRUE(g.GetOruComparableGridTblList(list, ext));
  EXPECT_EQ(list, listOf({{"", ""}}));
  EXPECT_EQ(d.stored->ViewName(), "gvScores");
  EXPECT_EQ(d.ext->ViewName(), "gvScores");
}

TEST(GetOruComparableGridTblList, NoCandidateGivesFalseAndKeepsTheViews) {
  const std::vector<std::pair<Grids, Grids>> cases = {
      {{}, {{"Drugs", "gvDrugs"}}},
      {{{"Drugs", "gvDrugs"}}, {}},
      {{{"Drugs", "gvDrugs1"}}, {{"Drugs", "gvDrugs2"}}},  // same grid, other grid view
      {{{"Drugs", "gvDrugs"}}, {{"Pills", "gvDrugs"}}},    // same grid view, other grid
  };
  for (const auto& [g1, g2] : cases) {
    TwoDatabases d(g1, g2);
    cDataGetway g;
    g.SetDB(d.stored);
    db::DatabaseRef ext = d.ext;
    StringArray list{"old"};
    EXPECT_FALSE(g.GetOruComparableGridTblList(list, ext));
    EXPECT_EQ(list, listOf({{"", ""}}));
    EXPECT_EQ(d.stored->ViewName(), "viewVisit1");
    EXPECT_EQ(d.ext->ViewName(), "viewVisit2");
  }
}

TEST(GetOruComparableGridTblList, ErrorsOfInnerCallsArriveUnderItsOwnSource) {
  // A comparable grid view that is not a catalogue table: 713 from the data-table query.
  {
    TwoDatabases d({{"Drugs", "gvDrugs"}}, {{"Drugs", "gvDrugs"}});
    addGridView(*d.stored, "gvDrugs", "NUMBER", "Drugs1", 0);
    addGridView(*d.ext, "gvDrugs", "NUMBER", "Drugs2");
    cDataGetway g;
    g.SetDB(d.stored);
    db::DatabaseRef ext = d.ext;
    StringArray list{"old"};
    ComError e = raisedBy([&] { g.GetOruComparableGridTblList(list, ext); });
    EXPECT_EQ(e.number(), static_cast<int32_t>(0x800402C9u));
    EXPECT_EQ(e.source(), "cDATAGateway:GetOruComparableGridTblList");
    EXPECT_EQ(e.description(), "Table:gvDrugs is not a Oru VIEW table");
    EXPECT_EQ(list, StringArray{"old"});
    EXPECT_EQ(d.ext->ViewName(), "gvDrugs");
  }
  // The extDB view's catalogue is missing: 711 from the grid list.
  {
    TwoDatabases d({{"Drugs", "gvDrugs"}}, {});
    d.ext->existing.clear();
    cDataGetway g;
    g.SetDB(d.stored);
    db::DatabaseRef ext = d.ext;
    StringArray list;
    ComError e = raisedBy([&] { g.GetOruComparableGridTblList(list, ext); });
    EXPECT_EQ(e.number(), static_cast<int32_t>(0x800402C7u));
    EXPECT_EQ(e.source(), "cDATAGateway:GetOruComparableGridTblList");
    EXPECT_EQ(e.description(), "Table:viewVisit2 does not exist");
  }
  // A structure comparison that fails: its number and description, this member's source.
  {
    TwoDatabases d({{"Drugs", "gvDrugs"}}, {{"Drugs", "gvDrugs"}});
    addGridView(*d.stored, "gvDrugs", "NUMBER", "Drugs1");
    cDataGetway g;
    g.SetDB(d.stored);
    db::DatabaseRef ext = d.ext;
    StringArray list;
    ComError e = raisedBy([&] { g.GetOruComparableGridTblList(list, ext); });
    EXPECT_EQ(e.number(), 3131);
    EXPECT_EQ(e.source(), "cDATAGateway:GetOruComparableGridTblList");
  }
  // No extDB, no DB.
  {
    cDataGetway g;
    db::DatabaseRef none;
    StringArray list;
    ComError e = raisedBy([&] { g.GetOruComparableGridTblList(list, none); });
    EXPECT_EQ(e.number(), 91);
    EXPECT_EQ(e.source(), "cDATAGateway:GetOruComparableGridTblList");
  }
}

}  // namespace
}  // namespace ovt
