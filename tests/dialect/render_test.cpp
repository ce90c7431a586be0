// The Jet dialect translator: statement texts in, SQLite texts out (those the recorded
// renderings in golden/render_golden.txt do not show), and refusals with reasons.
#include <gtest/gtest.h>

#include <map>

#include "dialect/dialect.h"
#include "ovtbldiff/runtime/error.h"
#include "support/raised.h"

namespace ovt::dialect {
namespace {

// Tables A and B: ID LONG, recstatus LONG, X TEXT(10), Y TEXT(10), K1 TEXT(5), K2 SHORT.
class FakeSchema : public SchemaInfo {
 public:
  std::optional<std::string> columnType(std::string_view table, std::string_view column) const override {
    std::string t(table), c(column);
    for (auto& ch : t) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    for (auto& ch : c) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (t != "a" && t != "b" && t != "orulink_a") return std::nullopt;
    static const std::map<std::string, std::string> cols = {
        {"id", "LONG"}, {"recstatus", "LONG"}, {"x", "TEXT(10)"}, {"y", "TEXT(10)"}, {"k1", "TEXT(5)"}, {"k2", "SHORT"}};
    auto it = cols.find(c);
    if (it == cols.end()) return std::nullopt;
    return it->second;
  }
};

std::string render(const std::string& jet, bool withSchema = true, std::string link = "") {
  static FakeSchema schema;
  SqliteRenderOptions o;
  o.schema = withSchema ? &schema : nullptr;
  o.linkSchema = std::move(link);
  return renderSqlite(parse(jet), o).sql;
}

struct Case {
  const char* jet;
  const char* sqlite;
};

class Rendering : public ::testing::TestWithParam<Case> {};

TEST_P(Rendering, GivesTheSqliteText) { EXPECT_EQ(render(GetParam().jet), GetParam().sqlite); }

INSTANTIATE_TEST_SUITE_P(
    Constructs, Rendering,
    ::testing::Values(
        // Record difference, conflict, Oru tables: integer keys without collation, the
        // group comparison behind its prefilter.
        Case{"select [A].[ID], [A].[X], [A].[Y] from [A] where [A].[ID]  in (select [A].[ID]  from [A] inner join [B] on "
             "[A].[ID] = [B].[ID]  and [A].recstatus = [B].recstatus  where  [A].[X]& [A].[Y]<> [B].[X]& [B].[Y]) and "
             "[A].recstatus = 1  order by [A].[ID]",
             "SELECT [A].[ID], [A].[X], [A].[Y] FROM [A] WHERE ([A].[ID] IN (SELECT [A].[ID] FROM ([A] INNER JOIN [B] ON "
             "([A].[ID] = [B].[ID]) AND ([A].[recstatus] = [B].[recstatus])) WHERE (+[A].[X] IS NOT +[B].[X] OR "
             "+[A].[Y] IS NOT +[B].[Y]) AND group_differs(2, [A].[X], [A].[Y], [B].[X], [B].[Y]))) AND "
             "([A].[recstatus] = 1) ORDER BY [A].[ID]"},
        // Catalogue queries on unknown tables: text comparison everywhere but against numbers.
        Case{"select Name, Type from [viewS] where pagenumber > 0 and type not in('GRID','GROUP','TEXTONLY','MIRROR','RELATE')",
             "SELECT [Name], [Type] FROM [viewS] WHERE ([pagenumber] > 0) AND ([type] COLLATE jet_text NOT IN ('GRID', "
             "'GROUP', 'TEXTONLY', 'MIRROR', 'RELATE'))"},
        // Arithmetic, precedence of & between + and comparisons, functions.
        Case{"select a + 1 & b * 2 as t, 7 / 2 as h, 7 mod 2 as m, -x as n from T",
             "SELECT jet_concat([a] + 1, [b] * 2) AS [t], CAST(7 AS REAL) / 2 AS [h], 7 % 2 AS [m], -[x] AS [n] FROM [T]"},
        Case{"select iif(isnull(a), nz(b, 0), len(c)) as v from T where x like \"a*\" and y not like 'b?'",
             "SELECT (CASE WHEN (-([a] IS NULL)) THEN ifnull([b], 0) ELSE length([c]) END) AS [v] FROM [T] WHERE "
             "(jet_like('a*', [x])) AND (NOT jet_like('b?', [y]))"},
        // Equality of two chains keeps Null as Null.
        Case{"select 1 from A where A.X & A.Y = A.K1 & A.K2",
             "SELECT 1 AS [Expr1000] FROM [A] WHERE NOT group_differs(2, [A].[X], [A].[Y], [A].[K1], [A].[K2])"},
        // Outside a filter position the prefilter is left out (NOT would turn False into True).
        Case{"select 1 from A where not (A.X & A.Y <> A.K1 & A.K2)",
             "SELECT 1 AS [Expr1000] FROM [A] WHERE NOT (group_differs(2, [A].[X], [A].[Y], [A].[K1], [A].[K2]))"},
        Case{"drop table [T]", "DROP TABLE [T]"}));

TEST(Rendering, LinkTablesNameTheAttachedSchemaAndKeepTheirStatementName) {
  EXPECT_EQ(render("select [ORULINK_A].[ID] from [ORULINK_A] where [ORULINK_A].[ID] = 3", true, "ovt_link"),
            "SELECT [ORULINK_A].[ID] FROM [ovt_link].[A] AS [ORULINK_A] WHERE [ORULINK_A].[ID] = 3");
  EXPECT_EQ(render("update ORULINK_Member set recstatus = 0 where FKey = 4", true, "ovt_link"),
            "UPDATE [ovt_link].[Member] AS [ORULINK_Member] SET [recstatus] = 0 WHERE [FKey] = 4");
  EXPECT_EQ(render("insert into orulink_T (a) select a from [T]", true, "ovt_link"),
            "INSERT INTO [ovt_link].[T] ([a]) SELECT [a] FROM [T]");
  // Without a link file the prefix is part of an ordinary name.
  EXPECT_EQ(render("select * from [ORULINK_A]", true, ""), "SELECT * FROM [ORULINK_A]");
}

TEST(Rendering, WithoutColumnTypesEveryComparisonGetsTheCollation) {
  EXPECT_EQ(render("select * from A where A.ID = B.ID", false), "SELECT * FROM [A] WHERE [A].[ID] COLLATE jet_text = [B].[ID]");
}

TEST(Rendering, BinaryComparisonLeavesTheCollationOut) {
  SqliteRenderOptions o;
  o.caseInsensitive = false;
  EXPECT_EQ(renderSqlite(parse("select * from T where Name = 'x' order by Name"), o).sql,
            "SELECT * FROM [T] WHERE [Name] = 'x' ORDER BY [Name]");
}

TEST(Rendering, SelectIntoNamesItsTarget) {
  SqliteRenderOptions o;
  o.linkSchema = "ovt_link";
  EXPECT_EQ(renderSqlite(parse("select * into ORULINK_S_bk from [ORULINK_S]"), o).intoTable, "[ovt_link].[S_bk]");
}

TEST(Rendering, RowIdIsAddedForASingleTable) {
  SqliteRenderOptions o;
  o.addRowId = true;
  auto r = renderSqlite(parse("select recstatus,UniqueKey from [T] where UniqueKey = 2"), o);
  EXPECT_TRUE(r.rowIdAdded);
  EXPECT_EQ(r.baseTable, "[T]");
  EXPECT_EQ(r.sql, "SELECT [T].rowid AS [ovt$rowid], [recstatus], [UniqueKey] FROM [T] WHERE [UniqueKey] = 2");
  EXPECT_FALSE(renderSqlite(parse("select count(*) from [T]"), o).rowIdAdded);
  EXPECT_FALSE(renderSqlite(parse("select a from [T], [U]"), o).rowIdAdded);
}

struct Refusal {
  const char* jet;
  const char* reason;
};

class Refusing : public ::testing::TestWithParam<Refusal> {};

TEST_P(Refusing, RaisesASyntaxErrorWithTheReason) {
  const ComError e = test::raisedBy([] { render(GetParam().jet); });
  EXPECT_EQ(e.number(), kSyntaxError) << GetParam().jet;
  EXPECT_EQ(e.source(), "OVDB");
  EXPECT_NE(e.description().find(GetParam().reason), std::string::npos) << e.description();
}

INSTANTIATE_TEST_SUITE_P(
    Statements, Refusing,
    ::testing::Values(
        Refusal{"select * from T where a = \"x\"; drop table T; --\"", "Syntax error"},
        Refusal{"select * from T where a = \"x\"; drop table T; --", "only one statement"},
        Refusal{"delete from T; delete from U", "only one statement"},
        Refusal{"select * from T where a = 'x", "unterminated text literal"},
        Refusal{"select * from [T where a = 1", "unterminated bracketed name"},
        Refusal{"select * from T where d = #31/31/2020#", "invalid date literal"},
        Refusal{"select * from T union select * from U", "UNION is not supported"},
        Refusal{"select * from T where a = 1 xor b = 2", "not supported"},
        Refusal{"select foo(a) from T", "the function foo is not supported"},
        Refusal{"select * from T where a ! b", "unexpected character"},
        Refusal{"select * from T where", "the statement ends"},
        Refusal{"grant all on T", "unknown statement"},
        Refusal{"select a from T where a = 1 extra", "unexpected text"},
        Refusal{"select a from T where a = (1", "expected ')'"},
        Refusal{"update A inner join B on A.x = B.x set A.y = 1", "joins in UPDATE"},
        Refusal{"select * from T where a in (select b into Z from U)", "cannot have INTO"},
        Refusal{"select * from T where a --", "the statement ends"}));

TEST(TypeCodes, DeclaredTypesMapToTheAdoCodes) {
  const std::pair<const char*, int32_t> cases[] = {
      {"BYTE", 17},     {"tinyint", 17},     {"SHORT", 2},        {"smallint", 2},       {"LONG", 3},
      {"integer", 3},   {"COUNTER", 3},      {"single", 4},       {"REAL", 4},           {"double", 5},
      {"FLOAT", 5},     {"currency", 6},     {"DATETIME", 7},     {"date", 7},           {"YESNO", 11},
      {"bit", 11},      {"DECIMAL(10,2)", 131}, {"GUID", 72},     {"TEXT(50)", 202},     {"varchar(10)", 202},
      {"TEXT", 203},    {"memo", 203},       {"LONGTEXT", 203},   {"BINARY(8)", 128},    {"longbinary", 205},
      {"OLEOBJECT", 205}, {"DOUBLE PRECISION", 5}, {"whatever", 0}};
  for (const auto& [t, code] : cases) EXPECT_EQ(jetTypeCode(t), code) << t;
}

}  // namespace
}  // namespace ovt::dialect
