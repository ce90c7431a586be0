// Both renderings of a corpus of statements (those the members send, those the tests use and
// seeded random ones, in golden/render_corpus.txt) against the texts recorded in
// golden/render_golden.txt: any change to what a statement renders as, its parameters or its
// refusal shows here. With OVT_WRITE_RENDER_GOLDEN=1 the test writes the file instead (run it
// only when a rendering change is meant, and review the difference).
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "dialect/dialect.h"
#include "dialect/golden/corpus_line.h"
#include "ovtbldiff/runtime/error.h"

namespace ovt::dialect {
namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Tables of typical columns, with the declared type each engine reports.
struct Column {
  const char* name;
  const char* jet;
  const char* pg;
};
struct Table {
  const char* schema;
  const char* name;
  std::vector<Column> columns;
};

const std::vector<Table>& tables() {
  static const std::vector<Table> t = [] {
    std::vector<Column> ab = {{"ID", "LONG", "integer"},          {"RecStatus", "LONG", "integer"},
                              {"X", "TEXT(10)", "character varying(10)"}, {"Y", "TEXT(10)", "character varying(10)"},
                              {"K1", "TEXT(5)", "character varying(5)"}, {"K2", "SHORT", "smallint"},
                              {"UniqueKey", "COUNTER", "integer"},        {"FKey", "LONG", "integer"},
                              {"D", "DATETIME", "timestamp(0) without time zone"}, {"N", "DOUBLE", "double precision"},
                              {"M", "MEMO", "text"},                      {"Flag", "YESNO", "ovt.yesno"}};
    for (const char* f : {"F0", "F1", "F2", "F3", "F4", "F5", "F6", "F7"}) ab.push_back({f, "TEXT(20)", "character varying(20)"});
    std::vector<Column> survey = {{"UniqueKey", "COUNTER", "integer"}, {"RecStatus", "LONG", "integer"},
                                  {"ID", "LONG", "integer"},           {"Name", "TEXT(50)", "character varying(50)"},
                                  {"Age", "SHORT", "smallint"},        {"Married", "YESNO", "ovt.yesno"},
                                  {"Born", "DATETIME", "timestamp(0) without time zone"}, {"Price", "CURRENCY", "numeric(19,4)"}};
    std::vector<Column> house = {{"UniqueKey", "COUNTER", "integer"}, {"HouseNo", "TEXT(10)", "character varying(10)"},
                                 {"recstatus", "LONG", "integer"}};
    std::vector<Column> member = {{"UniqueKey", "COUNTER", "integer"}, {"FKey", "LONG", "integer"},
                                  {"HouseNo", "TEXT(10)", "character varying(10)"}, {"LineNo", "LONG", "integer"},
                                  {"Age", "SHORT", "smallint"},       {"recstatus", "LONG", "integer"}};
    std::vector<Column> diff = {{"HouseNo~Main", "TEXT(10)", "character varying(10)"}, {"FKey", "LONG", "integer"},
                                {"LineNo", "LONG", "integer"}, {"Age", "SHORT", "smallint"}};
    std::vector<Column> view = {{"Name", "TEXT(64)", "character varying(64)"}, {"Type", "TEXT(16)", "character varying(16)"},
                                {"PageNumber", "LONG", "integer"}, {"DataTable", "TEXT(64)", "character varying(64)"}};
    return std::vector<Table>{{"public", "A", ab},          {"public", "B", ab},          {"public", "Survey", survey},
                              {"link", "Survey", survey},   {"link", "A", ab},            {"public", "House", house},
                              {"public", "Member", member}, {"public", "QryTblDiff1", diff}, {"public", "QryTblDiff2", diff},
                              {"public", "viewSurvey", view}, {"public", "V", view}};
  }();
  return t;
}

const Table* findTable(std::string_view schema, std::string_view name) {
  for (const auto& t : tables())
    if (schema == t.schema && lower(name) == lower(t.name)) return &t;
  return nullptr;
}
const Column* findColumn(const Table* t, std::string_view column) {
  if (t)
    for (const auto& c : t->columns)
      if (lower(column) == lower(c.name)) return &c;
  return nullptr;
}
TableTarget linkRule(std::string_view name) {
  if (isLinkName(name)) return {"link", std::string(name.substr(kLinkPrefix.size()))};
  return {"public", std::string(name)};
}

class GoldenSchema : public SchemaInfo {
 public:
  std::optional<std::string> columnType(std::string_view table, std::string_view column) const override {
    TableTarget t = linkRule(table);
    if (const Column* c = findColumn(findTable(t.schema, t.table), column)) return c->jet;
    return std::nullopt;
  }
};

class GoldenPgSchema : public PgSchemaInfo {
 public:
  std::optional<TableTarget> table(std::string_view name) const override {
    TableTarget t = linkRule(name);
    if (const Table* found = findTable(t.schema, t.table)) return TableTarget{found->schema, found->name};
    return std::nullopt;
  }
  std::optional<std::string> column(const TableTarget& t, std::string_view column) const override {
    if (const Column* c = findColumn(findTable(t.schema, t.table), column)) return c->name;
    return std::nullopt;
  }
  std::optional<std::string> columnType(const TableTarget& t, std::string_view column) const override {
    if (const Column* c = findColumn(findTable(t.schema, t.table), column)) return c->pg;
    return std::nullopt;
  }
};

// One line of text: backslash, line breaks, NUL and the other control characters escaped.
std::string escaped(std::string_view s) {
  std::string out;
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (u < 0x20 || u == 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", u);
      out += buf;
    } else out += c;
  }
  return out;
}

std::string list(const std::vector<size_t>& v) {
  std::string out;
  for (size_t i = 0; i < v.size(); ++i) out += (i ? "," : "") + std::to_string(v[i]);
  return out;
}

std::string refusal(const ComError& e) {
  return "! " + std::to_string(e.number()) + " " + e.source() + " " + escaped(e.description());
}

template <class F>
std::string attempt(F&& f) {
  try {
    return f();
  } catch (const ComError& e) {
    return refusal(e);
  }
}

// One set of rendering options, for either engine.
struct Case {
  const char* tag;
  bool schema, ci, lift, rowId;
  const char* link;
  const char* main;  // PostgreSQL only
};

template <class Options, class Schema>
Options optionsFor(const Case& c, const Schema& schema) {
  Options o;
  o.schema = c.schema ? &schema : nullptr;
  o.caseInsensitive = c.ci;
  o.liftLiterals = c.lift;
  o.addRowId = c.rowId;
  o.linkSchema = c.link;
  return o;
}

template <class Rendering>
std::string described(const Rendering& r) {
  return escaped(r.sql) + " | into=" + escaped(r.intoTable) + " rowid=" + (r.rowIdAdded ? "1" : "0") +
         " base=" + escaped(r.baseTable) + " params=" + list(r.parameters);
}

// Every rendering of the statement on line `n` of the corpus, one line each.
std::string renderings(size_t n, const std::string& text) {
  static const GoldenSchema schema;
  static const GoldenPgSchema pgSchema;
  std::string out = "# " + std::to_string(n) + "\n";
  Statement st;
  try {
    st = parse(text);
  } catch (const ComError& e) {
    return out + refusal(e) + "\n";
  }
  for (const Case& c : {Case{"s1", true, true, false, true, "", ""}, Case{"s2", true, true, true, false, "link", ""},
                        Case{"s3", false, false, false, true, "link", ""}}) {
    out += std::string(c.tag) + " " +
           attempt([&] { return described(renderSqlite(st, optionsFor<SqliteRenderOptions>(c, schema))); }) + "\n";
  }
  for (const Case& c : {Case{"p1", true, true, false, true, "link", "public"}, Case{"p2", true, true, true, false, "link", "public"},
                        Case{"p3", false, false, false, true, "", "main"}, Case{"p4", true, false, true, true, "", "public"}}) {
    out += std::string(c.tag) + " " + attempt([&] {
      PgRenderOptions o = optionsFor<PgRenderOptions>(c, pgSchema);
      o.mainSchema = c.main;
      PgRendering r = renderPostgres(st, o);
      std::string line = described(r) + " marks=" + std::to_string(r.marks);
      if (c.lift) {
        // The marked text with the literals put back, as the statement cache does: as a rule
        // the text rendered without lifting.
        o.liftLiterals = false;
        const std::string unlifted = renderPostgres(st, o).sql;
        std::optional<std::string> spliced = spliceLiterals(r.sql, shapeOf(text).literals);
        line += " spliced=" + (!spliced ? std::string("(none)") : *spliced == unlifted ? "(unlifted)" : escaped(*spliced));
      }
      return line;
    }) + "\n";
  }
  return out;
}

std::string sourceFile(const char* name) {
  std::string path = OVT_SOURCE_DIR;
  path += "/tests/dialect/golden/";
  return path += name;
}

TEST(RenderGolden, EveryStatementRendersAsRecorded) {
  std::ifstream corpus(sourceFile("render_corpus.txt"), std::ios::binary);
  ASSERT_TRUE(corpus) << "no corpus";
  std::vector<std::string> blocks;
  std::string line;
  while (std::getline(corpus, line)) blocks.push_back(renderings(blocks.size() + 1, golden::statementOf(line)));
  ASSERT_GT(blocks.size(), 1000u);

  if (const char* w = std::getenv("OVT_WRITE_RENDER_GOLDEN"); w && std::string(w) == "1") {
    std::ofstream out(sourceFile("render_golden.txt"), std::ios::binary);
    for (const auto& b : blocks) out << b;
    GTEST_SKIP() << "wrote " << blocks.size() << " statements' renderings";
  }

  std::ifstream golden(sourceFile("render_golden.txt"), std::ios::binary);
  ASSERT_TRUE(golden) << "no golden file";
  std::vector<std::string> expected;
  while (std::getline(golden, line)) {
    if (line.rfind("# ", 0) == 0) expected.emplace_back();
    ASSERT_FALSE(expected.empty());
    expected.back() += line + "\n";
  }
  ASSERT_EQ(expected.size(), blocks.size());
  int shown = 0;
  for (size_t i = 0; i < blocks.size(); ++i)
    if (blocks[i] != expected[i] && ++shown <= 10)
      ADD_FAILURE() << "statement " << i + 1 << " of the corpus\nexpected:\n" << expected[i] << "actual:\n" << blocks[i];
  EXPECT_EQ(shown, 0) << "statements rendered differently";
}

}  // namespace
}  // namespace ovt::dialect
