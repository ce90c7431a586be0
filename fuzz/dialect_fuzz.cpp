// Mutation and grammar fuzzer of the Jet-dialect translator and the SQLite component.
//
//   dialect_fuzz [--seconds N] [--seed S] [--no-engine]
//
// Inputs come from statements the library sends, mutated (bytes flipped, tokens of the
// dialect inserted, ranges deleted or repeated, two statements spliced), and from a random
// generator of well-formed statements with nested expressions. Each input is parsed and
// rendered under several options; a refusal must be a ComError with the dialect's number.
// Every rendering is checked to hold a single statement: outside its quoted literals and
// bracketed names there is no ";" and no comment opener. Unless --no-engine, accepted
// statements also run on a scratch SQLite database through the component (select through
// OpenRecordset, the rest through Execute), so the registered functions run on real rows.
// Any other exception, a broken check or a crash (under the sanitizers) is a finding; the
// input is printed and the program exits non-zero.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "dialect/dialect.h"
#include "mutation.h"
#include "ovtbldiff/dbcomp/sqlite.h"
#include "ovtbldiff/runtime/error.h"

namespace {

const std::vector<std::string> kSeeds = {
    "select [A].[ID], [A].[X], [A].[Y] from [A] where [A].[ID]  in (select [A].[ID]  from [A] inner join [B] on [A].[ID] = "
    "[B].[ID]  and [A].recstatus = [B].recstatus  where  [A].[X]& [A].[Y]<> [B].[X]& [B].[Y]) and [A].recstatus = 1  "
    "order by [A].[ID]",
    "select [A].[K1], [A].[K2], [A].[X] from [A] where [A].[K1] & [A].[K2]  not in (select [A].[K1] & [A].[K2]  from [A] "
    "inner join [B] on [A].[K1] = [B].[K1] and [A].[K2] = [B].[K2] ) order by [A].[K1], [A].[K2]",
    "select count(*) as TotalNull from [A] where ([X] is null and Recstatus = 1) OR Recstatus is null",
    "select [K1],[K2] from [A] where recstatus =1 group by [K1],[K2] having count(*)>1",
    "select count(*) as totalrec from [A] where [A].[ID]  in (select [A].[ID]  from [A] inner join [B] on ([A].[ID] = "
    "[B].[ID])  and ([A].recstatus = [B].recstatus)where  [A].recstatus = 1 )",
    "select Name, Type from [V] where pagenumber > 0 and type not in('GRID','GROUP','TEXTONLY','MIRROR','RELATE')",
    "select A.Name as GridName, B.Datatable as GridViewName from [V] as A, [V] as B where A.Type ='GRID' and A.Datatable "
    "= B.Name and B.PageNumber=0 and B.Type = 'SOURCE'",
    "select DataTable from [V] where PageNumber = 0 and Name = 'DATA1' and Type = 'SOURCE'",
    "update A set X = \"O'Brien\", Y = '', recstatus=1 where UniqueKey=3",
    "insert into A (ID, X, recstatus) select ID, X, recstatus from [B] where UniqueKey = 2",
    "insert into B([X],[Y],recstatus,FKey) select [X],[Y],1,4 from [A] where FKey = 2",
    "delete from [A] where [ID] = 5 and [X] = \"x\"",
    "select * into A_bk from [A]",
    "select * from [A] where D = #12/5/2026 10:30:00# or D < #2026-01-01# and Flag = True",
    "select iif(isnull(X), nz(Y, 'z'), len(X)) as v, X like 'a*[b-d]?#' as l from A where ID between 1 and 9",
    "select QryTblDiff1.[X~Main]&QryTblDiff1.[ID] from [QryTblDiff1] inner join [QryTblDiff2] on QryTblDiff1.[ID] = "
    "QryTblDiff2.[ID]",
};

const std::vector<std::string> kTokens = {
    " ", "select ", " from ", " where ", " and ", " or ", " not ", " in ", " is null", " like ", " between ", " as ",
    " inner join ", " on ", " group by ", " having ", " order by ", " desc", " into ", " set ", " values ", "(", ")",
    ",", ".", "&", "<>", "=", "<", ">=", "+", "-", "*", "/", " mod ", ";", "--", "/*", "*/", "'", "\"", "''", "\"\"",
    "[", "]", "[A]", "[B].[X]", "#", "#1/2/2003#", "True", "False", "Null", "count(*)", "1", "1.5e3", "0.0",
    "'x'", "\"y\"", "é", "ß", "\xff", "\x80", "(select ID from A)", "exists (select * from B)", "UNION ", "[x;y]",
    "'; drop table A; --", "\"; drop table A; --",
};

std::string mutate(std::mt19937_64& rng, std::string s) {
  return ovt::fuzz::mutate(rng, std::move(s), kSeeds, kTokens, 4000, " ();,&'\"[]#");
}

// ---- a generator of well-formed statements ----
struct Gen {
  std::mt19937_64& rng;
  int pick(int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); }
  std::string column() {
    static const char* cols[] = {"[A].[ID]", "[A].[X]", "[A].[Y]", "[B].[X]", "[B].[Y]", "[B].[ID]", "X", "recstatus",
                                 "[A].[D]", "[A].[N]", "[B].[N]"};
    return cols[pick(11)];
  }
  std::string literal() {
    switch (pick(7)) {
      case 0: return std::to_string(pick(200) - 100);
      case 1: return "'t" + std::to_string(pick(5)) + "'";
      case 2: return "\"T" + std::to_string(pick(5)) + "\"";
      case 3: return pick(2) ? "True" : "False";
      case 4: return "Null";
      case 5: return "#" + std::to_string(1 + pick(12)) + "/" + std::to_string(1 + pick(28)) + "/2020#";
      default: return std::to_string(pick(100)) + ".5";
    }
  }
  std::string value(int depth) {
    if (depth <= 0) return pick(2) ? column() : literal();
    switch (pick(8)) {
      case 0: return value(depth - 1) + " & " + value(depth - 1);
      case 1: return value(depth - 1) + " + " + value(depth - 1);
      case 2: return "(" + value(depth - 1) + ")";
      case 3: return "nz(" + value(depth - 1) + ", " + literal() + ")";
      case 4: return "-" + value(depth - 1);
      case 5: return "iif(" + condition(depth - 1) + ", " + value(depth - 1) + ", " + value(depth - 1) + ")";
      default: return pick(2) ? column() : literal();
    }
  }
  std::string condition(int depth) {
    static const char* ops[] = {"=", "<>", "<", ">", "<=", ">="};
    if (depth <= 0) return value(0) + " " + ops[pick(6)] + " " + value(0);
    switch (pick(9)) {
      case 0: return condition(depth - 1) + " and " + condition(depth - 1);
      case 1: return condition(depth - 1) + " or " + condition(depth - 1);
      case 2: return "not (" + condition(depth - 1) + ")";
      case 3: return value(depth - 1) + " is " + (pick(2) ? "not " : "") + "null";
      case 4: return value(depth - 1) + (pick(2) ? " not" : "") + " in (" + literal() + ", " + literal() + ")";
      case 5: return value(depth - 1) + " in (select [B].[X] & [B].[Y] from [B] where " + condition(depth - 1) + ")";
      case 6: return value(depth - 1) + " like '" + (pick(2) ? "t*" : "[a-z]?#") + "'";
      case 7: return "[A].[X] & [A].[Y] " + std::string(pick(2) ? "<>" : "=") + " [B].[X] & [B].[Y]";
      default: return value(depth - 1) + " " + ops[pick(6)] + " " + value(depth - 1);
    }
  }
  std::string statement() {
    const int d = 1 + pick(4);
    switch (pick(5)) {
      case 0: return "update A set X = " + value(d) + ", N = " + value(1) + " where " + condition(d);
      case 1: return "delete from [B] where " + condition(d);
      case 2: return "insert into B (ID, X, Y) select ID, " + value(d) + ", Y from [A] where " + condition(d);
      default:
        return "select " + value(d) + " as v, [A].[ID] from [A] inner join [B] on [A].[ID] = [B].[ID] where " +
               condition(d) + (pick(2) ? " order by [A].[X]" : "");
    }
  }
};

// Outside quoted literals and bracketed names: no ";" and no comment opener.
bool singleStatement(const std::string& sql) {
  for (size_t i = 0; i < sql.size(); ++i) {
    const char c = sql[i];
    if (c == '\'') {
      for (++i; i < sql.size(); ++i)
        if (sql[i] == '\'') {
          if (i + 1 < sql.size() && sql[i + 1] == '\'') ++i;
          else break;
        }
      if (i >= sql.size()) return false;
    } else if (c == '[') {
      i = sql.find(']', i);
      if (i == std::string::npos) return false;
    } else if (c == ';' || c == '"' || (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') ||
               (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*')) {
      return false;
    }
  }
  return true;
}

class SchemaStub : public ovt::dialect::SchemaInfo {
 public:
  std::optional<std::string> columnType(std::string_view, std::string_view column) const override {
    if (column == "ID" || column == "N" || column == "recstatus") return "LONG";
    return "TEXT(10)";
  }
};

ovt::db::DatabaseRef freshDatabase() {
  auto db = ovt::db::OpenSqlite(":memory:");
  ovt::db::RunSqliteScript(db,
      "CREATE TABLE A (UniqueKey INTEGER PRIMARY KEY AUTOINCREMENT, ID LONG, X TEXT(10), Y TEXT(10), recstatus LONG, "
      "D DATETIME, N DOUBLE, FKey LONG, K1 TEXT(5), K2 LONG);"
      "CREATE TABLE B (UniqueKey INTEGER PRIMARY KEY AUTOINCREMENT, ID LONG, X TEXT(10), Y TEXT(10), recstatus LONG, "
      "D DATETIME, N DOUBLE, FKey LONG, K1 TEXT(5), K2 LONG);"
      "CREATE TABLE V (Name TEXT(20), Type TEXT(20), PageNumber LONG, DataTable TEXT(20));"
      "INSERT INTO A (ID, X, Y, recstatus, D, N) VALUES (1,'t1','a',1,'2020-01-02',1.0),(2,NULL,'B',1,NULL,2.5),"
      "(3,'É','ß',0,'2020-03-04 10:00:00',NULL),(4,'t2',NULL,1,NULL,-1e20);"
      "INSERT INTO B (ID, X, Y, recstatus, D, N) VALUES (1,'T1','A',1,'2020-01-02',1),(2,NULL,'b',1,NULL,2.5),"
      "(3,'é','SS',0,NULL,NULL),(5,'x','y',1,NULL,0.1);"
      "INSERT INTO V VALUES ('DATA1','SOURCE',0,'A'),('X','TEXT',1,NULL),('G','GRID',1,'B');");
  return db;
}

}  // namespace

int main(int argc, char** argv) {
  const ovt::fuzz::Options options = ovt::fuzz::options(argc, argv);
  const double limit = options.seconds;
  const uint64_t seed = options.seed;
  bool engine = true;
  for (int i = 1; i < argc; ++i)
    if (!std::strcmp(argv[i], "--no-engine")) engine = false;
  std::mt19937_64 rng(seed);
  Gen gen{rng};
  SchemaStub schema;
  ovt::db::DatabaseRef db = engine ? freshDatabase() : nullptr;
  const auto start = std::chrono::steady_clock::now();
  long runs = 0, accepted = 0, refused = 0, ran = 0;
  std::string input;
  auto finding = [&](const std::string& what) {
    std::cerr << "FINDING (seed " << seed << ", run " << runs << "): " << what << "\ninput: " << input << "\n";
    std::exit(2);
  };
  while (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < limit) {
    ++runs;
    input = rng() % 3 == 0 ? gen.statement() : mutate(rng, kSeeds[rng() % kSeeds.size()]);
    if (rng() % 4 == 0) input = mutate(rng, input);
    try {
      ovt::dialect::Statement st = ovt::dialect::parse(input);
      ++accepted;
      for (int variant = 0; variant < 3; ++variant) {
        ovt::dialect::SqliteRenderOptions o;
        o.caseInsensitive = variant != 1;
        o.linkSchema = variant == 2 ? "ovt_link" : "";
        o.schema = variant == 0 ? nullptr : &schema;
        o.addRowId = variant == 2;
        auto r = ovt::dialect::renderSqlite(st, o);
        if (!singleStatement(r.sql)) finding("rendering is not a single statement: " + r.sql);
      }
      if (db) {
        try {
          if (st.isSelect()) {
            auto rs = db->OpenRecordset(input, static_cast<int32_t>(rng() % 4), "");
            if (rs->RecordCount() > 0) rs->GetRows();
          } else {
            db->Execute(input);
          }
          ++ran;
        } catch (const ovt::ComError&) {
        }
        if (runs % 2000 == 0) db = freshDatabase();
      }
    } catch (const ovt::ComError& e) {
      if (e.number() != ovt::dialect::kSyntaxError) finding("unexpected error number " + std::to_string(e.number()));
      ++refused;
    } catch (const std::exception& e) {
      finding(std::string("unexpected exception: ") + e.what());
    }
  }
  std::cout << "seed " << seed << ": " << runs << " inputs, " << accepted << " parsed, " << refused << " refused, "
            << ran << " ran on the engine, 0 findings\n";
  return 0;
}
