// The missing-record statement as an anti-join: which statements are rewritten, into which
// form, and which are left as sent. (That the rewritten forms list the same records as the
// literal one is tested on real databases in tests/compare.)
#include <gtest/gtest.h>

#include <map>

#include "dialect/antijoin.h"
#include "dialect/dialect.h"

namespace ovt::dialect {
namespace {

// Tables A and B (and C, whose ID is text): ID LONG, recstatus LONG, K TEXT(5), X TEXT(10).
class Schema : public SchemaInfo {
 public:
  std::optional<std::string> columnType(std::string_view table, std::string_view column) const override {
    static const std::map<std::string, std::string> cols = {
        {"ID", "LONG"}, {"recstatus", "LONG"}, {"K", "TEXT(5)"}, {"X", "TEXT(10)"}};
    if (table == "C" && column == "ID") return "TEXT(10)";
    if (table != "A" && table != "B" && table != "C") return std::nullopt;
    auto it = cols.find(std::string(column));
    if (it == cols.end()) return std::nullopt;
    return it->second;
  }
};

// The SQLite rendering of `jet` after the rewrite with the given form; "" when not rewritten.
std::string rewritten(const std::string& jet, AntiJoinForm form) {
  static Schema schema;
  Statement st = parse(jet);
  KeyFactsOf facts([](std::string_view t, std::string_view c) { return sqliteKeyClass(schema.columnType(t, c)); },
                   [form](std::string_view, std::string_view) { return form; });
  if (!rewriteMissingKeys(st, facts)) return "";
  SqliteRenderOptions o;
  o.schema = &schema;
  return renderSqlite(st, o).sql;
}

const std::string kMissing =
    "select [A].[ID], [A].[X] from [A] where [A].[ID]  not in (select [A].[ID]  from [A] inner join [B] on "
    "[A].[ID] = [B].[ID]  and [A].recstatus = [B].recstatus ) and [A].recstatus = 1  order by [A].[ID]";

// The keys of pairs of another record status, and the Null rule of NOT IN.
const std::string kOtherStatus =
    "(SELECT [ovt$x].[ID] FROM ([A] AS [ovt$x] INNER JOIN [B] AS [ovt$y] ON ([ovt$x].[ID] = [ovt$y].[ID]) AND "
    "([ovt$x].[recstatus] = [ovt$y].[recstatus])) WHERE ([ovt$x].[recstatus] <> 1) AND ([ovt$y].[recstatus] <> 1))";
const std::string kNullRule =
    "(([A].[ID] IS NOT NULL) OR (NOT (EXISTS (SELECT 1 AS [Expr1000] FROM ([A] AS [ovt$x] INNER JOIN [B] AS "
    "[ovt$y] ON ([ovt$x].[ID] = [ovt$y].[ID]) AND ([ovt$x].[recstatus] = [ovt$y].[recstatus]))))))";

TEST(MissingKeysRewrite, NotExistsLooksEachRecordUpTwice) {
  // Its own partner, then the pairs of another status.
  EXPECT_EQ(rewritten(kMissing, AntiJoinForm::NotExists),
            "SELECT [A].[ID], [A].[X] FROM [A] WHERE (((NOT (EXISTS (SELECT 1 AS [Expr1000] FROM [B] WHERE ([A].[ID] = "
            "[B].[ID]) AND ([A].[recstatus] = [B].[recstatus])))) AND (NOT (EXISTS (SELECT 1 AS [Expr1000] FROM ([A] AS "
            "[ovt$x] INNER JOIN [B] AS [ovt$y] ON ([ovt$x].[ID] = [ovt$y].[ID]) AND ([ovt$x].[recstatus] = "
            "[ovt$y].[recstatus])) WHERE (([ovt$x].[recstatus] <> 1) AND ([ovt$y].[recstatus] <> 1)) AND ([A].[ID] = "
            "[ovt$x].[ID]))))) AND " + kNullRule + ") AND ([A].[recstatus] = 1) ORDER BY [A].[ID]");
}

TEST(MissingKeysRewrite, LeftJoinKeepsTheRecordsWithoutPartner) {
  EXPECT_EQ(rewritten(kMissing, AntiJoinForm::LeftJoin),
            "SELECT [A].[ID], [A].[X] FROM ([A] LEFT JOIN [B] ON ([A].[ID] = [B].[ID]) AND (([A].[recstatus] = "
            "[B].[recstatus]) OR ([A].[ID] IN " + kOtherStatus + "))) WHERE (([B].[ID] IS NULL) AND " + kNullRule +
                ") AND ([A].[recstatus] = 1) ORDER BY [A].[ID]");
}

TEST(MissingKeysRewrite, KeyListProbesTheKeysOfActiveRecords) {
  EXPECT_EQ(rewritten(kMissing, AntiJoinForm::KeyList),
            "SELECT [A].[ID], [A].[X] FROM [A] WHERE (((([A].[ID] IS NULL) OR ([A].[ID] NOT IN (SELECT [B].[ID] FROM "
            "[B] WHERE ([B].[ID] IS NOT NULL) AND ([B].[recstatus] = 1)))) AND ([A].[ID] NOT IN " + kOtherStatus +
                ")) AND " + kNullRule + ") AND ([A].[recstatus] = 1) ORDER BY [A].[ID]");
}

TEST(MissingKeysRewrite, PlainTablesNeedNoStatus) {
  EXPECT_EQ(rewritten("select [A].[K], [A].[X] from [A] where [A].[K]  not in (select [A].[K]  from [A] inner join "
                      "[B] on [A].[K] = [B].[K] ) order by [A].[K]",
                      AntiJoinForm::NotExists),
            "SELECT [A].[K], [A].[X] FROM [A] WHERE (NOT (EXISTS (SELECT 1 AS [Expr1000] FROM [B] WHERE [A].[K] "
            "COLLATE jet_text = [B].[K]))) AND (([A].[K] IS NOT NULL) OR (NOT (EXISTS (SELECT 1 AS [Expr1000] FROM ([A] "
            "AS [ovt$x] INNER JOIN [B] AS [ovt$y] ON [ovt$x].[K] COLLATE jet_text = [ovt$y].[K]))))) ORDER BY [A].[K] "
            "COLLATE jet_text");
}

TEST(MissingKeysRewrite, LeftJoinOnlyWhereEveryColumnIsTheFirstTables) {
  // An unqualified column could name T2's column once T2 joins: the key list instead.
  const std::string star =
      "select * from [A] where [A].[K]  not in (select [A].[K]  from [A] inner join [B] on [A].[K] = [B].[K] )";
  EXPECT_NE(rewritten(star, AntiJoinForm::LeftJoin).find("NOT IN (SELECT [B].[K] FROM [B]"), std::string::npos);
}

struct Unchanged {
  const char* why;
  std::string jet;
};

class LeftAsSent : public ::testing::TestWithParam<Unchanged> {};

TEST_P(LeftAsSent, IsNotRewritten) {
  for (AntiJoinForm f : {AntiJoinForm::NotExists, AntiJoinForm::LeftJoin, AntiJoinForm::KeyList})
    EXPECT_EQ(rewritten(GetParam().jet, f), "") << GetParam().why;
}

INSTANTIATE_TEST_SUITE_P(
    Statements, LeftAsSent,
    ::testing::Values(
        Unchanged{"several keys: their concatenated texts may collide",
                  "select [A].[ID], [A].[K], [A].[X] from [A] where [A].[ID] & [A].[K]  not in (select [A].[ID] & "
                  "[A].[K]  from [A] inner join [B] on [A].[ID] = [B].[ID] and [A].[K] = [B].[K] ) order by [A].[ID], "
                  "[A].[K]"},
        Unchanged{"a number key against a text key",
                  "select [A].[ID] from [A] where [A].[ID]  not in (select [A].[ID]  from [A] inner join [C] on "
                  "[A].[ID] = [C].[ID] )"},
        Unchanged{"a key of unknown type",
                  "select [A].[Z] from [A] where [A].[Z]  not in (select [A].[Z]  from [A] inner join [B] on "
                  "[A].[Z] = [B].[Z] )"},
        Unchanged{"a status join without the status filter",
                  "select [A].[ID] from [A] where [A].[ID]  not in (select [A].[ID]  from [A] inner join [B] on "
                  "[A].[ID] = [B].[ID]  and [A].recstatus = [B].recstatus )"},
        Unchanged{"a text status",
                  "select [A].[ID] from [A] where [A].[ID]  not in (select [A].[ID]  from [A] inner join [B] on "
                  "[A].[ID] = [B].[ID]  and [A].X = [B].X ) and [A].X = 1"},
        Unchanged{"the conflict statement",
                  "select [A].[ID], [A].[X] from [A] where [A].[ID]  in (select [A].[ID]  from [A] inner join [B] on "
                  "[A].[ID] = [B].[ID]  where [A].[X]<>[B].[X]) order by [A].[ID]"},
        Unchanged{"another table in the subquery's select list",
                  "select [A].[ID] from [A] where [A].[ID]  not in (select [B].[ID]  from [A] inner join [B] on "
                  "[A].[ID] = [B].[ID] )"},
        Unchanged{"a left join in the subquery",
                  "select [A].[ID] from [A] where [A].[ID]  not in (select [A].[ID]  from [A] left join [B] on "
                  "[A].[ID] = [B].[ID] )"},
        Unchanged{"a condition of the subquery",
                  "select [A].[ID] from [A] where [A].[ID]  not in (select [A].[ID]  from [A] inner join [B] on "
                  "[A].[ID] = [B].[ID] where [B].[X] = 'a')"},
        Unchanged{"the not in under OR",
                  "select [A].[ID] from [A] where [A].[ID]  not in (select [A].[ID]  from [A] inner join [B] on "
                  "[A].[ID] = [B].[ID] ) or [A].[X] = 'a'"},
        Unchanged{"a table compared with itself",
                  "select [A].[ID] from [A] where [A].[ID]  not in (select [A].[ID]  from [A] inner join [A] on "
                  "[A].[ID] = [A].[ID] )"}));

TEST(KeyClasses, FollowTheEnginesTypes) {
  EXPECT_EQ(sqliteKeyClass("LONG"), KeyClass::Number);
  EXPECT_EQ(sqliteKeyClass("INTEGER"), KeyClass::Number);
  EXPECT_EQ(sqliteKeyClass("DOUBLE"), KeyClass::Number);
  EXPECT_EQ(sqliteKeyClass("TEXT(20)"), KeyClass::Text);
  EXPECT_EQ(sqliteKeyClass("LONGTEXT"), KeyClass::Text);
  // Text by the dialect's name, but numbers by the engine's affinity: not proven.
  EXPECT_EQ(sqliteKeyClass("MEMO"), KeyClass::Unknown);
  EXPECT_EQ(sqliteKeyClass("STRING"), KeyClass::Unknown);
  EXPECT_EQ(sqliteKeyClass("DATETIME"), KeyClass::Unknown);
  EXPECT_EQ(sqliteKeyClass(""), KeyClass::Unknown);
  EXPECT_EQ(sqliteKeyClass(std::nullopt), KeyClass::Unknown);
  EXPECT_EQ(postgresKeyClass("integer"), KeyClass::Number);
  EXPECT_EQ(postgresKeyClass("ovt.yesno"), KeyClass::Number);
  EXPECT_EQ(postgresKeyClass("numeric(19,4)"), KeyClass::Number);
  EXPECT_EQ(postgresKeyClass("character varying(20)"), KeyClass::Text);
  EXPECT_EQ(postgresKeyClass("text"), KeyClass::Text);
  EXPECT_EQ(postgresKeyClass("character(5)"), KeyClass::Unknown);
  EXPECT_EQ(postgresKeyClass("timestamp(0) without time zone"), KeyClass::Unknown);
}

}  // namespace
}  // namespace ovt::dialect
