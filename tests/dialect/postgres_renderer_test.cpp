// The PostgreSQL rendering of the Jet dialect: exact texts of the constructs the recorded
// renderings of the statements the members send (golden/render_golden.txt) do not show, and
// their meaning on a real server (a throwaway cluster).
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <map>
#include <thread>

#include "dialect/dialect.h"
#include "ovtbldiff/runtime/error.h"
#include "ovtbldiff/runtime/variant.h"
#include "pgsql/session.h"
#include "support/pg_cluster.h"
#include "support/raised.h"

namespace ovt::dialect {
namespace {

std::string lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// ---- exact texts against a small fixed schema ----

// Stored tables: public.A and public.B (ID integer, RecStatus integer, X and Y varchar(10),
// K1 varchar(5), K2 smallint, F0..F29 varchar(20)), public.House, public.Member, the stored
// queries QryTblDiff1/2, public.viewSurvey, public.Survey and link.Survey (the link rule:
// ORULINK_X is X of schema "link").
class FakePgSchema : public PgSchemaInfo {
 public:
  FakePgSchema() {
    std::vector<std::pair<std::string, std::string>> ab = {{"ID", "integer"},          {"RecStatus", "integer"},
                                                           {"X", "character varying(10)"}, {"Y", "character varying(10)"},
                                                           {"K1", "character varying(5)"}, {"K2", "smallint"}};
    for (int i = 0; i < 30; ++i) ab.push_back({"F" + std::to_string(i), "character varying(20)"});
    add("public", "A", ab);
    add("public", "B", ab);
    add("public", "House", {{"UniqueKey", "integer"}, {"HouseNo", "character varying(10)"}, {"recstatus", "integer"}});
    add("public", "Member", {{"UniqueKey", "integer"}, {"FKey", "integer"}, {"HouseNo", "character varying(10)"},
                             {"LineNo", "integer"}, {"Age", "smallint"}, {"recstatus", "integer"}});
    for (const char* q : {"QryTblDiff1", "QryTblDiff2"})
      add("public", q, {{"HouseNo~Main", "character varying(10)"}, {"FKey", "integer"},
                        {"HouseNo~Grid", "character varying(10)"}, {"LineNo", "integer"}, {"Age", "smallint"}});
    add("public", "viewSurvey", {{"Name", "character varying(64)"}, {"Type", "character varying(16)"},
                                 {"PageNumber", "integer"}, {"DataTable", "character varying(64)"}});
    std::vector<std::pair<std::string, std::string>> survey = {
        {"UniqueKey", "integer"}, {"RecStatus", "integer"}, {"ID", "integer"}, {"Name", "character varying(50)"},
        {"Age", "smallint"}, {"Married", "ovt.yesno"}, {"Born", "timestamp(0) without time zone"}};
    add("public", "Survey", survey);
    add("link", "Survey", survey);
  }
  std::optional<TableTarget> table(std::string_view name) const override {
    std::string n = lower(std::string(name));
    std::string schema = "public";
    if (n.rfind("orulink_", 0) == 0) schema = "link", n = n.substr(8);
    auto it = tables_.find(schema + "." + n);
    if (it == tables_.end()) return std::nullopt;
    return TableTarget{schema, it->second.name};
  }
  std::optional<std::string> column(const TableTarget& t, std::string_view column) const override {
    if (const auto* c = find(t, column)) return c->first;
    return std::nullopt;
  }
  std::optional<std::string> columnType(const TableTarget& t, std::string_view column) const override {
    if (const auto* c = find(t, column)) return c->second;
    return std::nullopt;
  }

 private:
  struct Table {
    std::string name;
    std::vector<std::pair<std::string, std::string>> columns;
  };
  void add(const std::string& schema, const std::string& name, std::vector<std::pair<std::string, std::string>> cols) {
    tables_[schema + "." + lower(name)] = {name, std::move(cols)};
  }
  const std::pair<std::string, std::string>* find(const TableTarget& t, std::string_view column) const {
    auto it = tables_.find(t.schema + "." + lower(t.table));
    if (it == tables_.end()) return nullptr;
    for (const auto& c : it->second.columns)
      if (lower(c.first) == lower(std::string(column))) return &c;
    return nullptr;
  }
  std::map<std::string, Table> tables_;
};

std::string pg(const std::string& jet, bool withSchema = true, std::string link = "link", bool ci = true) {
  static FakePgSchema schema;
  PgRenderOptions o;
  o.schema = withSchema ? &schema : nullptr;
  o.linkSchema = std::move(link);
  o.caseInsensitive = ci;
  return renderPostgres(parse(jet), o).sql;
}

struct Case {
  const char* jet;
  const char* postgres;
};

class PgTexts : public ::testing::TestWithParam<Case> {};

TEST_P(PgTexts, GivesThePostgresText) { EXPECT_EQ(pg(GetParam().jet), GetParam().postgres); }

INSTANTIATE_TEST_SUITE_P(
    MemberStatements, PgTexts,
    ::testing::Values(
        // Record difference, conflict, Oru tables: stored spellings, integer keys without a
        // collation, the group comparison behind its exact prefilter.
        Case{"select [A].[ID], [A].[X], [A].[Y] from [A] where [A].[ID]  in (select [A].[ID]  from [A] inner join [B] on "
             "[A].[ID] = [B].[ID]  and [A].recstatus = [B].recstatus  where  [A].[X]& [A].[Y]<> [B].[X]& [B].[Y]) and "
             "[A].recstatus = 1  order by [A].[ID]",
             "SELECT \"A\".\"ID\", \"A\".\"X\", \"A\".\"Y\" FROM \"public\".\"A\" WHERE (\"A\".\"ID\" IN (SELECT "
             "\"A\".\"ID\" FROM (\"public\".\"A\" INNER JOIN \"public\".\"B\" ON (\"A\".\"ID\" = \"B\".\"ID\") AND "
             "(\"A\".\"RecStatus\" = \"B\".\"RecStatus\")) WHERE (CASE WHEN (\"A\".\"X\" IS DISTINCT FROM \"B\".\"X\" "
             "OR \"A\".\"Y\" IS DISTINCT FROM \"B\".\"Y\") THEN (CASE WHEN (\"A\".\"X\" IS NULL AND \"A\".\"Y\" IS NULL) "
             "OR (\"B\".\"X\" IS NULL AND \"B\".\"Y\" IS NULL) THEN NULL ELSE concat(\"A\".\"X\", \"A\".\"Y\") COLLATE "
             "\"ovt\".\"ci\" <> concat(\"B\".\"X\", \"B\".\"Y\") END) ELSE FALSE END))) AND (\"A\".\"RecStatus\" = 1) "
             "ORDER BY "
             "\"A\".\"ID\""},
        // Catalogue questions.
        Case{"select Name, Type from [viewSurvey] where pagenumber > 0 and type not in('GRID','GROUP','TEXTONLY')",
             "SELECT \"Name\", \"Type\" FROM \"public\".\"viewSurvey\" WHERE (\"PageNumber\" > 0) AND (\"Type\" COLLATE "
             "\"ovt\".\"ci\" NOT IN ('GRID', 'GROUP', 'TEXTONLY'))"},
        // & with literals, numbers, Yes/No and dates; arithmetic and functions.
        Case{"select Name & '/' & 1.50 & '/' & Married & '/' & Born & True as t from [Survey]",
             "SELECT concat(\"Name\", '/', '1.5', '/', \"ovt\".\"txt\"(\"Married\"), '/', \"ovt\".\"txt\"(\"Born\"), "
             "'-1') AS \"t\" FROM \"public\".\"Survey\""},
        Case{"select a + 1 & b * 2 as t, 7 / 2 as h, 7 mod 2 as m, -x as n from T",
             "SELECT (CASE WHEN (\"a\" + 1) IS NULL AND (\"b\" * 2) IS NULL THEN NULL ELSE concat(\"ovt\".\"txt\"(\"a\" + "
             "1), \"ovt\".\"txt\"(\"b\" * 2)) END) AS \"t\", CAST(7 AS double precision) / 2 AS \"h\", 7 % 2 AS \"m\", "
             "-\"x\" AS \"n\" FROM \"public\".\"T\""},
        Case{"select iif(isnull(Age), nz(Name, 0), len(Name)) as v from [Survey] where Name like \"a*\" and Age not like "
             "'1?'",
             "SELECT (CASE WHEN (-(\"Age\" IS NULL)::integer) <> 0 THEN coalesce(\"Name\", '0') ELSE length(\"Name\") END) "
             "AS \"v\" FROM \"public\".\"Survey\" WHERE (\"Name\" COLLATE \"ovt\".\"icu\" ~* '^a.*$') AND (NOT "
             "(\"ovt\".\"txt\"(\"Age\") COLLATE \"ovt\".\"icu\" ~* '^1.$'))"},
        // Outside a filter position the prefilter is left out; pairs of different types are
        // compared by their text forms.
        Case{"select 1 from A where not (A.X & A.K2 <> A.K1 & A.ID)",
             "SELECT 1 AS \"Expr1000\" FROM \"public\".\"A\" WHERE NOT ((CASE WHEN (\"A\".\"X\" IS NULL AND \"A\".\"K2\" "
             "IS NULL) OR (\"A\".\"K1\" IS NULL AND \"A\".\"ID\" IS NULL) THEN NULL ELSE concat(\"A\".\"X\", "
             "\"ovt\".\"txt\"(\"A\".\"K2\")) COLLATE \"ovt\".\"ci\" <> concat(\"A\".\"K1\", "
             "\"ovt\".\"txt\"(\"A\".\"ID\")) END))"},
        Case{"select 1 from A where A.X & A.K2 <> A.K1 & A.ID",
             "SELECT 1 AS \"Expr1000\" FROM \"public\".\"A\" WHERE (CASE WHEN (\"A\".\"X\" IS DISTINCT FROM "
             "\"A\".\"K1\" OR \"ovt\".\"txt\"(\"A\".\"K2\") IS DISTINCT FROM \"ovt\".\"txt\"(\"A\".\"ID\")) THEN (CASE WHEN "
             "(\"A\".\"X\" IS NULL AND \"A\".\"K2\" IS NULL) OR (\"A\".\"K1\" IS NULL AND \"A\".\"ID\" IS NULL) THEN NULL "
             "ELSE concat(\"A\".\"X\", \"ovt\".\"txt\"(\"A\".\"K2\")) COLLATE \"ovt\".\"ci\" <> concat(\"A\".\"K1\", "
             "\"ovt\".\"txt\"(\"A\".\"ID\")) END) ELSE FALSE END)"},
        Case{"drop table [SURVEY]", "DROP TABLE \"public\".\"Survey\""}));

// The conflict statement of 30 compared fields renders the whole group in one comparison.
TEST(PgRenderingText, ThirtyFieldGroup) {
  std::string a, b, pre, nullsA, nullsB, catA, catB;
  for (int i = 0; i < 30; ++i) {
    const std::string f = "[F" + std::to_string(i) + "]", q = "\"F" + std::to_string(i) + "\"";
    a += (i ? "& " : "") + std::string("[A].") + f;
    b += (i ? "& " : "") + std::string("[B].") + f;
    pre += (i ? " OR " : "") + std::string("\"A\".") + q + " IS DISTINCT FROM \"B\"." + q;
    nullsA += (i ? " AND " : "") + std::string("\"A\".") + q + " IS NULL";
    nullsB += (i ? " AND " : "") + std::string("\"B\".") + q + " IS NULL";
    catA += (i ? ", " : "") + std::string("\"A\".") + q;
    catB += (i ? ", " : "") + std::string("\"B\".") + q;
  }
  const std::string jet = "select [A].[ID] from [A] where [A].[ID]  in (select [A].[ID]  from [A] inner join [B] on "
                          "[A].[ID] = [B].[ID]  and [A].recstatus = [B].recstatus  where  " + a + "<> " + b +
                          ") and [A].recstatus = 1  order by [A].[ID]";
  EXPECT_EQ(pg(jet), "SELECT \"A\".\"ID\" FROM \"public\".\"A\" WHERE (\"A\".\"ID\" IN (SELECT \"A\".\"ID\" FROM "
                     "(\"public\".\"A\" INNER JOIN \"public\".\"B\" ON (\"A\".\"ID\" = \"B\".\"ID\") AND "
                     "(\"A\".\"RecStatus\" = \"B\".\"RecStatus\")) WHERE (CASE WHEN (" + pre + ") THEN (CASE WHEN (" +
                     nullsA + ") OR (" + nullsB + ") THEN NULL ELSE concat(" + catA + ") COLLATE \"ovt\".\"ci\" <> concat(" +
                     catB + ") END) ELSE FALSE END))) AND (\"A\".\"RecStatus\" = 1) ORDER BY \"A\".\"ID\"");
}

TEST(PgRenderingText, NamesWithoutSchemaAreQuotedAsWritten) {
  // Nothing known: no column is known to be text, so only a text literal brings the collation.
  EXPECT_EQ(pg("select a.id from [House] as a where a.name = 'x' and a.id = b.id", false),
            "SELECT \"a\".\"id\" FROM \"public\".\"House\" AS \"a\" WHERE (\"a\".\"name\" = 'x' COLLATE "
            "\"ovt\".\"ci\") AND (\"a\".\"id\" = \"b\".\"id\")");
  EXPECT_EQ(pg("select x & y from [T]", false),
            "SELECT (CASE WHEN \"x\" IS NULL AND \"y\" IS NULL THEN NULL ELSE concat(\"ovt\".\"txt\"(\"x\"), "
            "\"ovt\".\"txt\"(\"y\")) END) AS \"Expr1000\" FROM \"public\".\"T\"");
  // Without a link schema the prefix is part of an ordinary name.
  EXPECT_EQ(pg("select * from [ORULINK_Thing]", false, ""), "SELECT * FROM \"public\".\"ORULINK_Thing\"");
  EXPECT_EQ(pg("select * from [ORULINK_Thing]", false, "lnk"), "SELECT * FROM \"lnk\".\"Thing\" AS \"ORULINK_Thing\"");
}

TEST(PgRenderingText, BinaryModeUsesTheCCollationInTheSamePlaces) {
  EXPECT_EQ(pg("select Name from [Survey] where Name = 'x' and Name like 'A*' order by Name", true, "", false),
            "SELECT \"Name\" FROM \"public\".\"Survey\" WHERE (\"Name\" COLLATE \"C\" = 'x') AND (\"Name\" COLLATE "
            "\"C\" ~ '^A.*$') ORDER BY \"Name\" COLLATE \"C\"");
}

TEST(PgRenderingText, SelectIntoRowIdAndTargets) {
  FakePgSchema schema;
  PgRenderOptions o;
  o.schema = &schema;
  o.linkSchema = "link";
  PgRendering into = renderPostgres(parse("select * into ORULINK_Survey_bk from [ORULINK_Survey]"), o);
  EXPECT_EQ(into.intoTable, "\"link\".\"Survey_bk\"");
  EXPECT_EQ(into.sql, "SELECT * FROM \"link\".\"Survey\" AS \"ORULINK_Survey\"");
  o.addRowId = true;
  PgRendering r = renderPostgres(parse("select recstatus,UniqueKey from [survey] where UniqueKey = 2"), o);
  EXPECT_TRUE(r.rowIdAdded);
  EXPECT_EQ(r.baseTable, "\"public\".\"Survey\"");
  EXPECT_EQ(r.sql, "SELECT \"Survey\".ctid AS \"ovt$rowid\", \"RecStatus\", \"UniqueKey\" FROM \"public\".\"Survey\" "
                   "WHERE \"UniqueKey\" = 2");
  PgRendering linked = renderPostgres(parse("select Name from ORULINK_Survey"), o);
  EXPECT_EQ(linked.baseTable, "\"link\".\"Survey\"");
  EXPECT_EQ(linked.sql, "SELECT \"ORULINK_Survey\".ctid AS \"ovt$rowid\", \"Name\" FROM \"link\".\"Survey\" AS "
                        "\"ORULINK_Survey\"");
  EXPECT_FALSE(renderPostgres(parse("select count(*) from [Survey]"), o).rowIdAdded);
  EXPECT_FALSE(renderPostgres(parse("select a from [A], [B]"), o).rowIdAdded);
}

TEST(PgRenderingText, ALiteralThatBreaksOutStaysOneLiteral) {
  EXPECT_EQ(pg("update Survey set Name = \"x'; drop table Survey; --\" where [ID] = 1"),
            "UPDATE \"public\".\"Survey\" SET \"Name\" = 'x''; drop table Survey; --' WHERE \"ID\" = 1");
  // A backslash cannot escape the closing quote, whatever standard_conforming_strings says.
  EXPECT_EQ(pg("update Survey set Name = 'a\\' where [ID] = 1"),
            "UPDATE \"public\".\"Survey\" SET \"Name\" = E'a\\\\' WHERE \"ID\" = 1");
  ComError nul = test::raisedBy([] { pg(std::string("update Survey set Name = 'a\0b'", 30)); });
  EXPECT_EQ(nul.number(), kSyntaxError);
  EXPECT_NE(nul.description().find("NUL"), std::string::npos);
}

// A rendering with its literals lifted, run as a prepared statement: each mark a parameter in
// order, with the value and the type the literal has in the text (a repeated literal twice).
TEST(PgRenderingText, LiftedLiteralsAsParametersOfTheirTypes) {
  static FakePgSchema schema;
  PgRenderOptions o;
  o.schema = &schema;
  o.liftLiterals = true;
  const std::string jet =
      "select ID, 5 as A, Name & 7 as B from Survey where Name = 'it''s' and ID = 3000000000 and ID <> 12 and "
      "Born = #2020-01-02# and Married = True and Name <> Null and Name in ('a\\b', 'a\\b')";
  const Shape shape = shapeOf(jet);
  const PgRendering r = renderPostgres(parse(jet), o);
  EXPECT_EQ(numberedParameters(r.sql),
            "SELECT \"ID\", $1 AS \"A\", concat(\"Name\", $2) AS \"B\" FROM \"public\".\"Survey\" WHERE "
            "((((((\"Name\" COLLATE \"ovt\".\"ci\" = $3) AND (\"ID\" = $4)) AND (\"ID\" <> $5)) AND (\"Born\" = $6)) "
            "AND (\"Married\" = $7)) AND (\"Name\" COLLATE \"ovt\".\"ci\" <> $8)) AND "
            "(\"Name\" COLLATE \"ovt\".\"ci\" IN ($9, $10))");
  const std::optional<std::vector<PgParameter>> p = literalParameters(r.sql, shape.literals);
  ASSERT_TRUE(p);
  std::vector<std::string> got;
  for (const PgParameter& one : *p) got.push_back(one.value.value_or("<null>") + ":" + std::to_string(one.type));
  EXPECT_EQ(got, (std::vector<std::string>{"5:23", "7:25", "it's:0", "3000000000:20", "12:23", "2020-01-02 00:00:00:1114",
                                           "-1:23", "<null>:0", "a\\b:0", "a\\b:0"}));
  // A mark naming no literal, or a whole number as no digits, has no parameters.
  EXPECT_FALSE(literalParameters(r.sql, {}));
  EXPECT_FALSE(literalParameters(std::string(1, kLiteralMark) + "v1" + kLiteralMarkEnd, {Literal{'N', "-1"}}));
  EXPECT_EQ(numberedParameters("no marks"), "no marks");
}

TEST(PgRenderingText, RefusesWhatItCannotRender) {
  ComError type = test::raisedBy([] { pg("create table Z (a hyperlink)"); });
  EXPECT_EQ(type.number(), kSyntaxError);
  EXPECT_EQ(type.source(), "OVDB");
  EXPECT_NE(type.description().find("the column type hyperlink is not supported"), std::string::npos);
  ComError pattern = test::raisedBy([] { pg("select * from T where a like 'x[ab'"); });
  EXPECT_EQ(pattern.number(), kSyntaxError);
  EXPECT_NE(pattern.description().find("Invalid pattern string"), std::string::npos);
  ComError fn = test::raisedBy([] { pg("select foo(a) from T"); });
  EXPECT_NE(fn.description().find("the function foo is not supported"), std::string::npos);
}

TEST(PgRenderingText, LikePatternsAsRegularExpressions) {
  const std::pair<const char*, const char*> cases[] = {
      {"a*", "^a.*$"},         {"?b#", "^.b[0-9]$"},      {"[abc]x", "^[abc]x$"},     {"[!a-c]", "^[^a-c]$"},
      {"a.b(c)+$^", "^a\\.b\\(c\\)\\+\\$\\^$"},           {"[]", "^[^\\s\\S]$"},      {"[!]", "^.$"},
      {"é[é-ü]", "^é[é-ü]$"},  {"[*?#]", "^[\\*\\?\\#]$"}, {"a\\b", "^a\\\\b$"},       {"[a-]", "^[a\\-]$"}};
  for (const auto& [like, regex] : cases) EXPECT_EQ(likePatternRegex(like), regex) << like;
}

// ---- meaning on a real server ----

using db::pgsql::Cell;
using db::pgsql::Session;

std::string sqlText(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

// Names and types read from the server's catalogue, as the component reads them.
class CatalogSchema : public PgSchemaInfo {
 public:
  CatalogSchema(Session& s, std::string main, std::string link) : s_(s), main_(std::move(main)), link_(std::move(link)) {}
  std::optional<TableTarget> table(std::string_view name) const override {
    TableTarget t = resolveTable(name, link_);
    if (t.schema.empty()) t.schema = main_;
    auto v = one("select c.relname from pg_class c join pg_namespace n on n.oid = c.relnamespace where n.nspname = " +
                 sqlText(t.schema) + " and lower(c.relname) = lower(" + sqlText(t.table) +
                 ") and c.relkind in ('r','v','m','p') order by c.relname = " + sqlText(t.table) + " desc limit 1");
    if (!v) return std::nullopt;
    return TableTarget{t.schema, *v};
  }
  std::optional<std::string> column(const TableTarget& t, std::string_view column) const override {
    return one("select attname from pg_attribute where attrelid = " + rel(t) + " and attnum > 0 and not attisdropped "
               "and lower(attname) = lower(" + sqlText(std::string(column)) + ") order by attnum limit 1");
  }
  std::optional<std::string> columnType(const TableTarget& t, std::string_view column) const override {
    return one("select format_type(atttypid, atttypmod) from pg_attribute where attrelid = " + rel(t) +
               " and attnum > 0 and not attisdropped and lower(attname) = lower(" + sqlText(std::string(column)) +
               ") order by attnum limit 1");
  }

 private:
  static std::string rel(const TableTarget& t) {
    return "to_regclass(" + sqlText("\"" + t.schema + "\".\"" + t.table + "\"") + ")";
  }
  std::optional<std::string> one(const std::string& sql) const {
    std::optional<std::string> out;
    s_.query(sql, {}, [](const auto&) {}, [&](const std::vector<Cell>& row) { out = row[0]; });
    return out;
  }
  Session& s_;
  std::string main_, link_;
};

class PgMeaning : public ::testing::Test {
 protected:
  void SetUp() override {
    OVT_NEED_PG();
    session_ = std::make_unique<Session>(test::PgCluster::instance().connectionString());
    for (const auto& st : postgresSessionSetup()) session_->execute(st);
    session_->execute("drop schema if exists " + std::string(main_) + " cascade");
    session_->execute("drop schema if exists " + std::string(link_) + " cascade");
    session_->execute("create schema " + std::string(main_));
    session_->execute("create schema " + std::string(link_));
    schema_ = std::make_unique<CatalogSchema>(*session_, main_, link_);
  }

  PgRendering render(const std::string& jet) {
    PgRenderOptions o;
    o.schema = schema_.get();
    o.mainSchema = main_;
    o.linkSchema = link_;
    o.caseInsensitive = caseInsensitive_;
    return renderPostgres(parse(jet), o);
  }
  void run(const std::string& jet) {
    PgRendering r = render(jet);
    if (!r.intoTable.empty()) session_->execute("CREATE TABLE " + r.intoTable + " AS " + r.sql);
    else session_->execute(r.sql);
  }
  // Rows as "v1|v2;v1|v2", Null as "<null>".
  std::string rows(const std::string& jet) { return sqlRows(render(jet).sql); }
  std::string sqlRows(const std::string& sql) {
    std::string out;
    session_->query(sql, {}, [](const auto&) {}, [&](const std::vector<Cell>& row) {
      if (!out.empty()) out += ";";
      for (size_t i = 0; i < row.size(); ++i) out += (i ? "|" : "") + row[i].value_or("<null>");
    });
    return out;
  }

  const char* main_ = "ovt_test_main";
  const char* link_ = "ovt_test_link";
  bool caseInsensitive_ = true;
  std::unique_ptr<Session> session_;
  std::unique_ptr<CatalogSchema> schema_;
};

TEST_F(PgMeaning, CreateTableMapsTheDialectTypes) {
  run("create table [Types] ([a] byte, [b] short, [c] long, [d] counter, [e] single, [f] double, [g] currency, "
      "[h] datetime, [i] yesno, [j] decimal(10,2), [k] guid, [l] text(50), [m] text, [n] memo, [o] varchar, "
      "[p] binary(8), [q] longbinary, [r] bit, [s] number)");
  // format_type() leaves out the schema of ovt.yesno when "ovt" is on the search path (as
  // "$user" is for a user named ovt), so the domain is asked by its identity.
  EXPECT_EQ(sqlRows("select attname || ':' || case when atttypid = 'ovt.yesno'::regtype then 'ovt.yesno' else "
                    "format_type(atttypid, atttypmod) end || ':' || attidentity::text from pg_attribute "
                    "where attrelid = 'ovt_test_main.\"Types\"'::regclass and attnum > 0 order by attnum"),
            "a:smallint:;b:smallint:;c:integer:;d:integer:d;e:real:;f:double precision:;g:numeric(19,4):;"
            "h:timestamp(0) without time zone:;i:ovt.yesno:;j:numeric(10,2):;k:uuid:;l:character varying(50):;"
            "m:text:;n:text:;o:character varying(255):;p:bytea:;q:bytea:;r:ovt.yesno:;s:double precision:");
  // The counter fills itself; Yes/No holds -1 and 0 only.
  run("insert into Types (c, i) values (7, True)");
  run("insert into Types (c, i) values (8, False)");
  EXPECT_EQ(rows("select d, c, i from Types order by c"), "1|7|-1;2|8|0");
  EXPECT_THROW(run("insert into Types (c, i) values (9, 1)"), ComError);
}

TEST_F(PgMeaning, SelectIntoKeepsTheTypes) {
  run("create table [Survey] ([UniqueKey] counter primary key, [Name] text(50), [Age] short, [Born] datetime, [Ok] yesno)");
  run("insert into Survey (Name, Age, Born, Ok) values ('Ann', 40, #1/2/1986#, True)");
  run("select * into Survey_bk from [survey]");
  const std::string types = "select string_agg(attname || ':' || format_type(atttypid, atttypmod), ',' order by attnum) "
                            "from pg_attribute where attnum > 0 and attrelid = ";
  EXPECT_EQ(sqlRows(types + "'ovt_test_main.\"Survey_bk\"'::regclass"), sqlRows(types + "'ovt_test_main.\"Survey\"'::regclass"));
  EXPECT_EQ(rows("select Name, Age, Born, Ok from Survey_bk"), "Ann|40|1986-01-02 00:00:00|-1");
}

// The platform's text of a Double, as the SQLite component's jet_concat gives it.
std::string platformText(double d) {
  if (d == std::trunc(d) && d > -1e15 && d < 1e15) return std::to_string(static_cast<long long>(d));
  return formatDouble(d);
}

TEST_F(PgMeaning, ConcatenationGivesThePlatformsTexts) {
  run("create table [N] ([id] long, [i] long, [d] double, [r] single, [c] currency, [t] text(20), [dt] datetime, "
      "[yn] yesno)");
  const double doubles[] = {1.0, 2.5, -2.5, 0.1, 1.0 / 3, 1e20, 1.5e-5, 0.0001, 1e15, -1e15, 999999999999999.0,
                            1234567890123456.0, 123456789.123456789, 0.00012345678901234567, 2.0000000000000004,
                            999999999999999.9, 1e-300, 6.02214076e23, 0.0};
  int id = 0;
  for (double d : doubles) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", d);
    session_->execute("insert into ovt_test_main.\"N\" (id, d) values (" + std::to_string(++id) + ", " + buf + ")");
    EXPECT_EQ(rows("select d & '' from N where id = " + std::to_string(id)), platformText(d)) << buf;
  }
  run("insert into N (id, i, r, c, t, dt, yn) values (100, -42, 0.1, 2.5, 'abc', #12/5/2026 10:30:00#, True)");
  run("insert into N (id, i, r, c, t, dt, yn) values (101, 0, 2.5, 3, '', #2026-12-05#, False)");
  run("insert into N (id, c) values (102, 1234.5678)");
  run("insert into N (id) values (103)");
  const std::pair<const char*, const char*> cases[] = {
      {"select i & '|' & r & '|' & c & '|' & t & '|' & dt & '|' & yn from N where id = 100",
       "-42|0.1|2.5|abc|2026-12-05 10:30:00|-1"},
      {"select i & '|' & r & '|' & c & '|' & t & '|' & dt & '|' & yn from N where id = 101", "0|2.5|3||2026-12-05|0"},
      {"select c & '' from N where id = 102", "1234.5678"},
      // Null counts as ""; the result is Null only when every operand is Null.
      {"select i & t from N where id = 103", "<null>"},
      {"select i & t & dt from N where id = 103", "<null>"},
      {"select t & i from N where id = 101", "0"},
      {"select t & dt from N where id = 103", "<null>"},
      {"select (t & yn) is null from N where id = 103", "-1"},
      {"select t & '' from N where id = 103", ""},
      {"select i & Null & t from N where id = 100", "-42abc"},
      {"select 1.50 & 2 & True & #2026-1-2# & 'x' from N where id = 103", "1.52-12026-01-02x"},
      {"select cstr(c) & len(t) from N where id = 100", "2.53"},
      // Concatenated keys collide as texts do in the dialect.
      {"select count(*) from N where id = 100 and 'ab' & 'c' = 'a' & 'bc'", "1"},
      {"select count(*) from N where id = 100 and t & i = 'ABC' & '-42'", "1"},
  };
  for (const auto& [jet, expected] : cases) EXPECT_EQ(rows(jet), expected) << jet;
}

// A and B differ in letter case only (1), in a value (2), by Nulls against "" (3), all Null
// against all Null (4), all Null against values (5), and B has no record 6.
class PgGroups : public PgMeaning {
 protected:
  void SetUp() override {
    PgMeaning::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    for (const char* t : {"A", "B"}) run(std::string("create table ") + t + " (ID long, X text(10), Y text(10), N double, recstatus long)");
    run("insert into A values (1, 'abc', 'x', 1, 1), (2, 'p', 'q', 2.5, 1), (3, NULL, 'y', 3, 1), (4, NULL, NULL, 4, 1), "
        "(5, NULL, NULL, 5, 1), (6, 'only', 'a', 6, 1), (7, 'Straße', 'é', 7, 1)");
    run("insert into B values (1, 'ABC', 'X', 1.0, 1), (2, 'p', 'r', 2.5, 1), (3, '', 'y', 3, 1), (4, NULL, NULL, 4, 1), "
        "(5, 'v', 'w', 5, 1), (7, 'STRASSE', 'É', 7, 1)");
  }
};

TEST_F(PgGroups, GroupComparisonKeepsTheDialectsNull) {
  const std::string conflict = "select [A].[ID] from [A] where [A].[ID]  in (select [A].[ID]  from [A] inner join [B] "
                               "on [A].[ID] = [B].[ID]  and [A].recstatus = [B].recstatus  where  ";
  const std::pair<std::string, std::string> cases[] = {
      // Letter case does not count, Null against "" does not count, all-Null sides give Null.
      // ß against SS differs under the server's collation (see the renderer's notes).
      {conflict + "[A].[X]& [A].[Y]<> [B].[X]& [B].[Y]) and [A].recstatus = 1  order by [A].[ID]", "2;7"},
      {conflict + "[A].[X]& [A].[N]<> [B].[X]& [B].[N]) order by [A].[ID]", "5;7"},
      {"select A.ID from A inner join B on A.ID = B.ID where A.X & A.Y = B.X & B.Y order by A.ID", "1;3"},
      {"select A.ID from A inner join B on A.ID = B.ID where not (A.X & A.Y <> B.X & B.Y) order by A.ID", "1;3"},
      {"select A.ID, A.X & A.Y <> B.X & B.Y from A inner join B on A.ID = B.ID order by A.ID",
       "1|0;2|-1;3|0;4|<null>;5|<null>;7|-1"},
      // Missing records by concatenated key.
      {"select [A].[ID] from [A] where [A].[ID] & [A].[X] not in (select [A].[ID] & [A].[X] from [A] inner join [B] on "
       "[A].[ID] = [B].[ID] and [A].[X] = [B].[X]) order by [A].[ID]",
       "3;4;5;6;7"},
  };
  for (const auto& [jet, expected] : cases) EXPECT_EQ(rows(jet), expected) << jet;
}

TEST_F(PgGroups, TextComparesCaseInsensitivelyUnlessBinary) {
  const std::pair<const char*, const char*> cases[] = {
      {"select ID from A where X = 'ABC'", "1"},
      {"select ID from A where X <> 'ABC' order by ID", "2;6;7"},
      {"select ID from A where X in ('P', 'ONLY') order by ID", "2;6"},
      {"select ID from A where X not in ('P', 'ONLY') order by ID", "1;7"},
      {"select ID from A where X between 'A' and 'P' order by ID", "1;2;6"},
      {"select ID from A where Y = 'É'", "7"},
      {"select A.ID from A inner join B on A.X = B.X order by A.ID", "1;2"},
      {"select A.ID from A where A.X in (select B.X from B) order by A.ID", "1;2"},
      // The server's collation orders é after e, not after z as code points would.
      {"select Y from A where Y is not null order by Y", "a;é;q;x;y"},
      {"select count(*) from A, B where A.X = B.X group by A.X", "1;1"},
  };
  for (const auto& [jet, expected] : cases) EXPECT_EQ(rows(jet), expected) << jet;
  run("insert into A values (8, 'ABC', 'X', 8, 1)");
  EXPECT_EQ(rows("select count(*) from A where X is not null group by X having count(*) > 1"), "2");
  EXPECT_EQ(rows("select count(*) from A where X = 'abc' and Y = 'x'"), "2");
  // The key check selects what it groups by.
  EXPECT_EQ(rows("select [X],[ID] from [A] where recstatus =1 group by [X],[ID] having count(*)>1"), "");
  const std::string dup = rows("select [X],[Y] from [A] where recstatus =1 group by [X],[Y] having count(*)>1");
  // Records 4 and 5 (all Null) are a group too.
  EXPECT_TRUE(dup == "abc|x;<null>|<null>" || dup == "<null>|<null>;abc|x" || dup == "ABC|X;<null>|<null>" ||
              dup == "<null>|<null>;ABC|X")
      << dup;

  caseInsensitive_ = false;
  EXPECT_EQ(rows("select ID from A where X = 'ABC'"), "8");
  EXPECT_EQ(rows("select X from A where X is not null group by X having count(*) > 1"), "");
  EXPECT_EQ(rows("select X from A where ID in (1, 8) order by X"), "ABC;abc");
  EXPECT_EQ(rows("select A.ID from A inner join B on A.ID = B.ID where A.X & A.Y <> B.X & B.Y order by A.ID"), "1;2;7");
}

TEST_F(PgMeaning, LikeWithTheDialectsWildcards) {
  run("create table L (id long, v text(30), p text(30))");
  struct LikeCase {
    const char* value;
    const char* pattern;
    bool matches;
  };
  const LikeCase cases[] = {
      {"abc", "a*", true},       {"ABC", "a*", true},      {"abc", "*c", true},      {"abc", "b*", false},
      {"abc", "a?c", true},      {"ac", "a?c", false},     {"a1c", "a#c", true},     {"abc", "a#c", false},
      {"bat", "[bc]at", true},   {"rat", "[bc]at", false}, {"rat", "[!bc]at", true}, {"cat", "[!bc]at", false},
      {"m", "[a-z]", true},      {"M", "[a-z]", true},     {"5", "[!a-z]", true},    {"a.c", "a.c", true},
      {"abc", "a.c", false},     {"a(b)+", "a(b)+", true}, {"x$", "x$", true},       {"a*b", "a[*]b", true},
      {"axb", "a[*]b", false},   {"a\\b", "a\\b", true},   {"", "*", true},          {"", "?", false},
      {"ÉTÉ", "été", true},      {"q", "[]", false},       {"q", "[!]", true},       {"line\nbreak", "line*", true},
  };
  int id = 0;
  for (const auto& c : cases) {
    session_->execute("insert into ovt_test_main.\"L\" values (" + std::to_string(++id) + ", " + sqlText(c.value) + ", " +
                      sqlText(c.pattern) + ")");
    const std::string where = " from L where id = " + std::to_string(id);
    // Jet quotes a text with "" for a quote inside.
    std::string jetPattern = "\"";
    for (const char* p = c.pattern; *p; ++p) jetPattern += *p == '"' ? std::string("\"\"") : std::string(1, *p);
    jetPattern += "\"";
    const std::string expected = c.matches ? "1" : "";
    EXPECT_EQ(rows("select 1" + where + " and v like " + jetPattern), expected) << c.value << " like " << c.pattern;
    // A pattern that is not a literal goes through ovt.like().
    EXPECT_EQ(rows("select 1" + where + " and v like p"), expected) << c.value << " like column " << c.pattern;
    EXPECT_EQ(rows("select 1" + where + " and v not like p"), c.matches ? "" : "1") << c.value << " not like " << c.pattern;
    // Both build the same expression.
    EXPECT_EQ(sqlRows("select ovt.like_regex(" + sqlText(c.pattern) + ")"), likePatternRegex(c.pattern)) << c.pattern;
  }
  EXPECT_EQ(rows("select count(*) from L where v like Null"), "0");
  EXPECT_EQ(rows("select count(*) from L where id like '1#'"), "10");
  caseInsensitive_ = false;
  EXPECT_EQ(rows("select id from L where id = 2 and v like 'a*'"), "");
  EXPECT_EQ(rows("select id from L where id = 2 and v like p"), "");
  session_->execute("insert into ovt_test_main.\"L\" values (100, 'x', 'x[ab')");
  ComError bad = test::raisedBy([&] { rows("select id from L where id = 100 and v like p"); });
  EXPECT_NE(bad.description().find("Invalid pattern string"), std::string::npos) << bad.description();
}

TEST_F(PgMeaning, LinkTablesLiveInTheLinkSchema) {
  run("create table [ORULINK_Pets] ([UniqueKey] counter primary key, [FKey] long, [PetName] text(20), [RecStatus] long)");
  run("create table [Pets] ([UniqueKey] counter primary key, [FKey] long, [PetName] text(20), [RecStatus] long)");
  EXPECT_EQ(sqlRows("select count(*) from ovt_test_link.\"Pets\""), "0");
  run("insert into ORULINK_Pets (FKey, PetName, RecStatus) values (7, 'Rex', 1)");
  run("insert into Pets (FKey, PetName, RecStatus) values (7, 'Tom', 1)");
  run("update orulink_pets set recstatus = 0 where fkey = 7 and petname = 'REX'");
  EXPECT_EQ(rows("select [ORULINK_Pets].[PetName], RecStatus from [ORULINK_PETS] where [orulink_pets].fkey = 7"), "Rex|0");
  EXPECT_EQ(rows("select L.PetName & '/' & P.PetName from ORULINK_Pets as L inner join Pets as P on L.FKey = P.FKey"),
            "Rex/Tom");
  run("insert into Pets (FKey, PetName, RecStatus) select FKey, PetName, RecStatus from ORULINK_Pets where FKey = 7");
  EXPECT_EQ(rows("select PetName from Pets order by PetName"), "Rex;Tom");
  run("delete from ORULINK_Pets where FKey = 7");
  EXPECT_EQ(sqlRows("select count(*) from ovt_test_link.\"Pets\""), "0");
}

TEST_F(PgMeaning, SetupRunsTwiceAndFromTwoSessionsAtOnce) {
  // Start from nothing, then set up from two sessions at the same time, twice each.
  session_->execute("drop schema ovt cascade");
  std::vector<std::string> errors(2);
  auto setup = [&](int n) {
    try {
      Session s(test::PgCluster::instance().connectionString());
      for (int round = 0; round < 2; ++round)
        for (const auto& st : postgresSessionSetup()) s.execute(st);
    } catch (const ComError& e) {
      errors[static_cast<size_t>(n)] = e.description();
    }
  };
  std::thread t0(setup, 0), t1(setup, 1);
  t0.join();
  t1.join();
  EXPECT_EQ(errors[0], "");
  EXPECT_EQ(errors[1], "");
  EXPECT_EQ(sqlRows("select ovt.txt(2.5::float8) || ovt.txt(true) || ('A' = 'a' collate ovt.ci)::text"), "2.5-1true");
  EXPECT_EQ(sqlRows("select count(*) from pg_proc where pronamespace = 'ovt'::regnamespace and proname = 'txt'"), "11");
}

}  // namespace
}  // namespace ovt::dialect
