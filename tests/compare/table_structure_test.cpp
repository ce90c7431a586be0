#include <gtest/gtest.h>

#include <memory>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/scripted_db.h"
#include "glossary/startup.h"
#include "ovtbldiff/gateway.h"

namespace ovt {
namespace {

using test::raisedBy;

using test::FieldDef;
using test::MadeTable;

std::vector<std::string> listOf(const StringArray& a) {
  EXPECT_EQ(a.dims(), 1);
  EXPECT_EQ(a.lbound(), 0);
  return a.elements();
}

struct Outcome {
  std::string report;
  std::vector<std::string> common;
};

Outcome compare(std::vector<FieldDef> f1, std::vector<FieldDef> f2, int32_t* select = nullptr) {
  cDataGetway g;
  db::TableRef t1 = std::make_shared<MadeTable>("T1", std::move(f1));
  db::TableRef t2 = std::make_shared<MadeTable>("T2", std::move(f2));
  StringArray common{"left", "over", "from", "before"};
  std::string report = g.CompareTablesStructure(t1, t2, common, select);
  return {report, listOf(common)};
}

TEST(CompareTablesStructure, ReportsByCase) {
  struct Case {
    const char* what;
    std::vector<FieldDef> f1, f2;
    std::string report;
    std::vector<std::string> common;
  };
  const std::vector<Case> cases = {
      {"no shared field",
       {{"A"}, {"B"}},
       {{"C"}},
       "Total fields of T1: 2;Total fields of T2: 1;Unmatched field A;Unmatched field B;***;"
       "Unmatched field C",
       {""}},
      {"table 2 adds fields: empty table-1 section",
       {{"A"}},
       {{"A"}, {"X"}, {"Y"}},
       "Total fields of T1: 1;Total fields of T2: 3;***;Unmatched field X;Unmatched field Y",
       {"A"}},
      {"nullability conflict",
       {{"A", 3, true}, {"B", 3, false}},
       {{"A", 3, false}, {"B", 3, true}},
       "Conflict nullable for A: True <--> False;Conflict nullable for B: False <--> True;***",
       {""}},
      {"unnamed type codes", {{"A", 999}}, {{"A", -1}}, "Conflict field dataType for A: unknown data type <--> unknown data type;***", {""}},
      {"only the first partner counts",
       {{"A", 3}},
       {{"a", 202}, {"A", 3}},
       "Total fields of T1: 1;Total fields of T2: 2;Conflict field dataType for A: Jet Long <--> Jet Text;***",
       {""}},
      {"different counts without any item give the empty report", {{"A"}, {"a"}}, {{"A"}}, "", {"A", "a"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Outcome o = compare(c.f1, c.f2);
    EXPECT_EQ(o.report, c.report);
    EXPECT_EQ(o.common, c.common);
  }
}

TEST(CompareTablesStructure, AutoFieldsLeftOutOnlyWhenAsked) {
  for (int32_t select : {1, 2, 7}) {
    SCOPED_TRACE(select);
    cDataGetway g;
    auto s1 = std::make_shared<MadeTable>(
        "T1", std::vector<FieldDef>{{"UniqueKey", 3}, {"Name"}, {"Age", 2}, {"Kind", 3}},
        std::set<std::string>{"UniqueKey"});
    auto s2 = std::make_shared<MadeTable>(
        "T2", std::vector<FieldDef>{{"uniquekey", 3}, {"NAME"}, {"Age", 2}, {"Kind", 202}},
        std::set<std::string>{"Age"});
    db::TableRef t1 = s1, t2 = s2;
    StringArray common;
    const std::string report = g.CompareTablesStructure(t1, t2, common, &select);
    // An empty table-2 section leaves the marker at the end of the report.
    EXPECT_EQ(report, "Conflict field dataType for Kind: Jet Long <--> Jet Text;***");
    if (select == TableDiffAllFields) {
      EXPECT_EQ(listOf(common), (std::vector<std::string>{"UniqueKey", "Name", "Age"}));
      EXPECT_TRUE(s1->asked.empty());
      EXPECT_TRUE(s2->asked.empty());
    } else {
      EXPECT_EQ(listOf(common), std::vector<std::string>{"Name"});
      // Both tables are asked about every conflict-free shared field, by their own spelling.
      EXPECT_EQ(s1->asked, (std::vector<std::string>{"UniqueKey", "Name", "Age"}));
      EXPECT_EQ(s2->asked, (std::vector<std::string>{"uniquekey", "NAME", "Age"}));
    }
  }
}

TEST(CompareTablesStructure, OmittedSelectionComparesAllFields) {
  Outcome o = compare({{"A"}}, {{"A"}});
  EXPECT_EQ(o.common, std::vector<std::string>{"A"});
}

TEST(CompareTablesStructure, FailuresCarryTheMemberSource) {
  cDataGetway g;
  db::TableRef missing;
  db::TableRef t = std::make_shared<MadeTable>("T", std::vector<FieldDef>{{"A"}});
  StringArray common{"kept"};
  ComError e = raisedBy([&] { g.CompareTablesStructure(t, missing, common); });
  EXPECT_EQ(e.number(), 91);
  EXPECT_EQ(e.source(), "cDATAGateway:CompareTablesStructure");
  EXPECT_EQ(e.description(), "Object variable or With block variable not set");
  EXPECT_EQ(listOf(common), std::vector<std::string>{"kept"});

  auto big = std::make_shared<MadeTable>("Big", std::vector<FieldDef>{{"A"}});
  big->countOverride = 32768;
  db::TableRef b = big;
  e = raisedBy([&] { g.CompareTablesStructure(t, b, common); });
  EXPECT_EQ(e.number(), 6);
  EXPECT_EQ(e.source(), "cDATAGateway:CompareTablesStructure");
  EXPECT_EQ(e.description(), "Overflow");
}

TEST(CompareTablesStructure, CommonFieldsWrittenBeforeAFailureStay) {
  // A two-dimensional CommonFields cannot grow keeping its entries: the first common field
  // fails with 9, after nothing was written.
  cDataGetway g;
  db::TableRef t1 = std::make_shared<MadeTable>("T1", std::vector<FieldDef>{{"A"}});
  db::TableRef t2 = std::make_shared<MadeTable>("T2", std::vector<FieldDef>{{"A"}});
  StringArray common = StringArray::of2({{"x", "y"}});
  ComError e = raisedBy([&] { g.CompareTablesStructure(t1, t2, common); });
  EXPECT_EQ(e.number(), 9);
  EXPECT_EQ(e.source(), "cDATAGateway:CompareTablesStructure");
  EXPECT_EQ(common, StringArray::of2({{"x", "y"}}));
}

TEST(CompareTablesStructure, PhrasesAreTranslatedAndTheRestIsNot) {
  std::string report;
  std::thread t([&] {
    ::setenv("OVT_LANGUAGE", "German", 1);
    cDataGetway g;
    ::unsetenv("OVT_LANGUAGE");
    db::TableRef t1 = std::make_shared<MadeTable>(
        "S1", std::vector<FieldDef>{{"A", 3, true}, {"B", 202, true}, {"C"}});
    db::TableRef t2 = std::make_shared<MadeTable>(
        "S2", std::vector<FieldDef>{{"A", 3, false}, {"B", 203}});
    StringArray common;
    report = g.CompareTablesStructure(t1, t2, common);
  });
  t.join();
  EXPECT_EQ(report,
            "Anzahl der Felder von S1: 3;Anzahl der Felder von S2: 2;Konflikt bei Nullwerten für A: "
            "True <--> False;Konflikt beim Datentyp des Feldes B: Jet Text <--> Jet Memo;"
            "Nicht zugeordnetes Feld C;***");
}

TEST(CompareTablesStructure, NoTranslatorFailsWithTheMemberSource) {
  ComError e(0, "", "");
  std::thread t([&] {
    glossary::testing::failStep(glossary::testing::Step::CreateTranslator, 429);
    cDataGetway g;
    db::TableRef t1 = std::make_shared<MadeTable>("S1", std::vector<FieldDef>{{"A"}});
    db::TableRef t2 = std::make_shared<MadeTable>("S2", std::vector<FieldDef>{{"B"}});
    StringArray common;
    e = raisedBy([&] { g.CompareTablesStructure(t1, t2, common); });
    // Identical tables need no phrase and still compare.
    db::TableRef t3 = std::make_shared<MadeTable>("S3", std::vector<FieldDef>{{"A"}});
    EXPECT_EQ(g.CompareTablesStructure(t1, t3, common), "");
  });
  t.join();
  EXPECT_EQ(e.number(), 91);
  EXPECT_EQ(e.source(), "cDATAGateway:CompareTablesStructure");
}

TEST(GetFldType, NamesEveryCode) {
  const std::vector<std::pair<int32_t, std::string>> names = {
      {0, "Ado Empty"},        {2, "Jet Integer"},       {3, "Jet Long"},
      {4, "Jet Single"},       {5, "Jet Double"},        {6, "Jet Currency"},
      {7, "Jet Date/Time"},    {8, "Ado BSTR"},          {11, "Jet Yes/No"},
      {14, "Ado Decimal"},     {16, "Ado TinyInt"},      {17, "Jet Byte"},
      {20, "Ado BigInt"},      {72, "Ado GUID"},         {128, "Ado Binary"},
      {129, "Ado Char"},       {130, "Ado WChar"},       {131, "Jet Decimal"},
      {134, "Ado DBTime"},     {135, "Ado DBTimeStamp"}, {201, "Ado LongVarChar"},
      {202, "Jet Text"},       {203, "Jet Memo"},        {205, "Ado LongVarBinary"},
      {8192, "Ado Array"},     {1, "unknown data type"}, {133, "unknown data type"},
      {200, "unknown data type"}, {204, "unknown data type"}, {-3, "unknown data type"},
      {INT32_MIN, "unknown data type"}};
  cDataGetway g;
  for (const auto& [code, text] : names) EXPECT_EQ(g.GetFldType(code), text) << code;
}

}  // namespace
}  // namespace ovt
