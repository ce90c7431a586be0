// Benchmark of reconciliation: `ovtbldiff copy` (CopyRec through the component, grids
// included) of K conflicting records, against one transaction of set statements that writes
// the same records (SQLite: INSERT OR REPLACE ... SELECT; PostgreSQL: UPDATE ... FROM), on the
// same tables in the same run.
//
//   reconcile_bench [--records N] [--copies K1,K2] [--commit-every C1,C2] [--engine sqlite|postgres|both]
//                   [--wal] [--dir D] [--location PGLOCATION] [--baseline TOOL]
//   (defaults: 1,000,000 records, copies 10000,50000, the tool's default grouping, both engines)
// With --baseline, each measurement first runs TOOL (another build of ovtbldiff, or a script
// running one) on K other conflicting records, so that two builds are compared in one run.
// Every run, of a tool or of the set statements, gets conflicting records no earlier run has
// touched: a copy rewrites a record's grid rows at the end of the grid table, and set
// statements over records just copied find them packed together and already read, which
// makes them two to three times faster than over records in their original places. The line
// shows that figure too, but the ratio is taken against untouched records.
//
// Each entry holds the form House (UniqueKey, RecStatus, ID, F0..F29 text) with its catalogue
// viewHouse, and the grid Member (UniqueKey, RecStatus, FKey, LineNo, M0..M2) with gvMember,
// three grid records per House record; ID, FKey and LineNo, and House's UniqueKey, are indexed. The second entry differs
// from the first in one field of every conflicting record and in its UniqueKey values. Each
// measurement prints one line: engine, records, grouping, wall time, records per second, the
// tool's CPU per record (client side: the server's share on PostgreSQL is not in it), the
// set-statement time, and the ratio of the two.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "double_entry.h"
#include "ovtbldiff/dbcomp/postgres.h"
#include "ovtbldiff/dbcomp/sqlite.h"
#include "ovtbldiff/runtime/error.h"
#include "support/pg_cluster.h"

namespace {

using Clock = std::chrono::steady_clock;
using ovt::db::DatabaseRef;

constexpr int kFields = 30;
constexpr int kGridPerRecord = 3;

double seconds(Clock::time_point a) { return std::chrono::duration<double>(Clock::now() - a).count(); }

double childCpu() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::vector<long> numbers(const std::string& list) {
  std::vector<long> out;
  std::stringstream in(list);
  for (std::string item; std::getline(in, item, ',');) out.push_back(std::atol(item.c_str()));
  return out;
}

std::string toolPath() {
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "ovtbldiff").string();
}

// An entry on one engine: where it is, and the engine's own SQL for bulk work.
struct Entry {
  bool pg;
  std::string location;
  DatabaseRef open() const { return pg ? ovt::db::OpenPostgres(location) : ovt::db::OpenSqlite(location); }
};

void raw(const DatabaseRef& db, bool pg, const std::string& sql) {
  if (pg) ovt::db::RunPostgresStatement(db, sql);
  else ovt::db::RunSqliteScript(db, sql);
}

void execute(const DatabaseRef& db, const std::string& jet) {
  if (!db->Execute(jet)) {
    std::cerr << jet << ": " << db->LastFailure() << "\n";
    std::exit(1);
  }
}

// Both entries' tables; `second` differs in every `every`-th record.
void generate(const Entry& e, bool second, long records, long every) {
  DatabaseRef db = e.open();
  for (const char* t : {"House", "viewHouse", "Member", "gvMember"})
    if (db->TableExists(t)) db->DropTable(t);
  std::string ddl = "create table House (UniqueKey counter, RecStatus long, ID long";
  for (int f = 0; f < kFields; ++f) ddl += ", F" + std::to_string(f) + " text(20)";
  execute(db, ddl + ")");
  execute(db, "create table viewHouse (Name text(50), Type text(50), PageNumber long, DataTable text(50))");
  execute(db, "insert into viewHouse values ('DATA1', 'SOURCE', 0, 'House')");
  for (int f = 0; f < kFields; ++f) execute(db, "insert into viewHouse values ('F" + std::to_string(f) + "', 'TEXT', 1, '')");
  execute(db, "insert into viewHouse values ('GridM', 'GRID', 1, 'DATA2')");
  execute(db, "insert into viewHouse values ('DATA2', 'SOURCE', 0, 'gvMember')");
  execute(db, "create table Member (UniqueKey counter, RecStatus long, FKey long, LineNo long, M0 text(20), M1 text(20), M2 text(20))");
  execute(db, "create table gvMember (Name text(50), Type text(50), PageNumber long, DataTable text(50))");
  execute(db, "insert into gvMember values ('DATA1', 'SOURCE', 0, 'Member')");
  for (const char* m : {"LineNo", "M0", "M1", "M2"})
    execute(db, std::string("insert into gvMember values ('") + m + "', 'TEXT', 1, '')");
  const std::string n = std::to_string(records), offset = second ? "5000000" : "0";
  const std::string series = e.pg ? "generate_series(1, " + n + ") AS s(g)" : "s";
  const std::string with = e.pg ? "" : "with recursive s(g) as (select 1 union all select g + 1 from s where g < " + n + ") ";
  std::string cols = "\"UniqueKey\", \"RecStatus\", \"ID\"", vals = "g + " + offset + ", 1, g";
  for (int f = 0; f < kFields; ++f) {
    cols += ", \"F" + std::to_string(f) + "\"";
    std::string v = "'v' || ((g * " + std::to_string(31 + f) + ") % 100003)";
    if (second) v = "case when g % " + std::to_string(every) + " = 0 and g % " + std::to_string(kFields) + " = " +
                    std::to_string(f) + " then 'changed' else " + v + " end";
    vals += ", " + v;
  }
  raw(db, e.pg, with + "insert into \"House\" (" + cols + ") select " + vals + " from " + series);
  for (int line = 1; line <= kGridPerRecord; ++line) {
    const std::string l = std::to_string(line);
    raw(db, e.pg, with + "insert into \"Member\" (\"RecStatus\", \"FKey\", \"LineNo\", \"M0\", \"M1\", \"M2\") select 1, g + " +
                      offset + ", " + l + ", 'm' || g, 'n" + l + "', '" + (second ? "old" : "new") + "' from " + series);
  }
  raw(db, e.pg, "create index house_id on \"House\" (\"ID\")");
  // The members update and delete by UniqueKey: on SQLite the COUNTER column is the rowid, on
  // PostgreSQL an identity column without an index of its own.
  if (e.pg) raw(db, true, "create unique index house_key on \"House\" (\"UniqueKey\")");
  raw(db, e.pg, "create index member_fkey on \"Member\" (\"FKey\", \"LineNo\")");
  raw(db, e.pg, "analyze");
}

// The set statements that write the same records in one transaction.
double setStatements(const Entry& first, const Entry& second, const std::vector<long>& ids) {
  DatabaseRef db = first.open();
  std::string list;
  for (long id : ids) list += (list.empty() ? "" : ", ") + std::string("(") + std::to_string(id) + ")";
  std::string fields, sourceFields, assign;
  for (int f = 0; f < kFields; ++f) {
    const std::string c = "\"F" + std::to_string(f) + "\"";
    fields += ", " + c;
    sourceFields += ", a." + c;
    assign += std::string(f ? ", " : "") + c + " = a." + c;
  }
  if (!first.pg) {
    // The second entry is attached as "link" here.
    raw(db, false, "attach database '" + second.location + "' as link");
    const auto t0 = Clock::now();
    raw(db, false, "begin; create temp table ids (ID integer primary key); insert into ids values " + list + ";"
                   "insert or replace into link.House (UniqueKey, RecStatus, ID" + fields + ") select d.UniqueKey, 1, a.ID" +
                   sourceFields + " from main.House a join link.House d on d.ID = a.ID where a.ID in (select ID from ids);"
                   "delete from link.Member where FKey in (select d.UniqueKey from link.House d where d.ID in (select ID from ids));"
                   "insert into link.Member (RecStatus, FKey, LineNo, M0, M1, M2) select 1, d.UniqueKey, m.LineNo, m.M0, m.M1, m.M2 "
                   "from main.Member m join main.House a on m.FKey = a.UniqueKey join link.House d on d.ID = a.ID "
                   "where a.ID in (select ID from ids); drop table ids; commit");
    return seconds(t0);
  }
  // PostgreSQL: the second entry is another schema of the same database.
  const std::string src = "\"" + first.location.substr(first.location.rfind("schema=") + 7) + "\"";
  const std::string dst = "\"" + second.location.substr(second.location.rfind("schema=") + 7) + "\"";
  const auto t = Clock::now();
  raw(db, true, "begin");
  raw(db, true, "create temp table ids (\"ID\" integer primary key)");
  raw(db, true, "insert into ids values " + list);
  raw(db, true, "update " + dst + ".\"House\" d set \"RecStatus\" = 1, " + assign + " from " + src +
                    ".\"House\" a where d.\"ID\" = a.\"ID\" and a.\"ID\" in (select \"ID\" from ids)");
  raw(db, true, "delete from " + dst + ".\"Member\" where \"FKey\" in (select d.\"UniqueKey\" from " + dst +
                    ".\"House\" d where d.\"ID\" in (select \"ID\" from ids))");
  raw(db, true, "insert into " + dst + ".\"Member\" (\"RecStatus\", \"FKey\", \"LineNo\", \"M0\", \"M1\", \"M2\") select 1, "
                "d.\"UniqueKey\", m.\"LineNo\", m.\"M0\", m.\"M1\", m.\"M2\" from " + src + ".\"Member\" m join " + src +
                ".\"House\" a on m.\"FKey\" = a.\"UniqueKey\" join " + dst + ".\"House\" d on d.\"ID\" = a.\"ID\" "
                "where a.\"ID\" in (select \"ID\" from ids)");
  raw(db, true, "drop table ids");
  raw(db, true, "commit");
  return seconds(t);
}

// Checks that the copied records now read as the first entry's.
long stillDiffering(const Entry& second, const std::vector<long>& ids) {
  DatabaseRef db = second.open();
  std::string list;
  for (long id : ids) list += (list.empty() ? "" : ", ") + std::to_string(id);
  std::string where;
  for (int f = 0; f < kFields; ++f) where += std::string(f ? " or " : "") + "F" + std::to_string(f) + " = 'changed'";
  auto rs = db->OpenRecordset("select count(*) as N from House where (" + where + ") and ID in (" + list + ")", 3, "");
  return std::atol(ovt::concatText(rs->GetRows().at(0, 0)).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  long records = 1000000;
  std::vector<long> copies{10000, 50000};
  std::vector<long> groupings{0};
  std::string engines = "both", dir = std::filesystem::temp_directory_path().string(), location, baseline;
  bool wal = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::cerr << a << " needs a value\n";
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--records") records = std::atol(next().c_str());
    else if (a == "--copies") copies = numbers(next());
    else if (a == "--commit-every") groupings = numbers(next());
    else if (a == "--engine") engines = next();
    else if (a == "--dir") dir = next();
    else if (a == "--location") location = next();
    else if (a == "--wal") wal = true;
    else if (a == "--baseline") baseline = next();
    else {
      std::cerr << "usage: reconcile_bench [--records N] [--copies K1,K2] [--commit-every C1,C2] "
                   "[--engine sqlite|postgres|both] [--wal] [--dir D] [--location PGLOCATION] [--baseline TOOL]\n";
      return 2;
    }
  }
  long most = 0;
  for (long k : copies) most = std::max(most, k);
  if (most <= 0 || most > records) {
    std::cerr << "the copies must be between 1 and the records\n";
    return 2;
  }
  bench::useOwnComponent(dir, "reconcile_bench");
  std::vector<std::string> tools;
  if (!baseline.empty()) tools.push_back(baseline);
  tools.push_back(toolPath());
  // Conflicting records for every run of every measurement: each tool's copy and the set
  // statements timed beside it, none of them shared.
  long slots = 0;
  for (long k : copies) slots += k * static_cast<long>(groupings.size() * tools.size() * 2);
  if (slots > records) {
    std::cerr << "the copies of all tools and the set statements must be at most the records (" << slots
              << " > " << records << ")\n";
    return 2;
  }
  const long every = records / slots;
  long start = 0;
  auto untouched = [&](long k) {
    std::vector<long> ids;
    for (long i = 0; i < k; ++i) ids.push_back((start + i) * every + every);
    start += k;
    return ids;
  };
  try {
    for (const bool pg : {false, true}) {
      if ((pg && engines == "sqlite") || (!pg && engines == "postgres")) continue;
      Entry first{pg, ""}, second{pg, ""};
      if (pg) {
        std::string conninfo = location;
        if (conninfo.empty()) {
          conninfo = ovt::test::PgCluster::instance().connectionString();
          if (conninfo.empty()) {
            std::cerr << "no PostgreSQL cluster: " << ovt::test::PgCluster::instance().why() << "\n";
            return 1;
          }
        }
        first.location = conninfo + " schema=bench_entry1";
        second.location = conninfo + " schema=bench_entry2";
      } else {
        first.location = dir + "/reconcile_bench_entry1.db";
        second.location = dir + "/reconcile_bench_entry2.db";
        std::filesystem::remove(first.location);
        std::filesystem::remove(second.location);
      }
      const char* engine = pg ? "postgresql" : "sqlite";
      auto t = Clock::now();
      generate(first, false, records, every);
      generate(second, true, records, every);
      std::printf("%s: generated 2 x %ld records x %d fields, %d grid records each, in %.1f s\n", engine, records, kFields,
                  kGridPerRecord, seconds(t));
      std::fflush(stdout);
      start = 0;
      for (long grouping : groupings) {
        for (long k : copies) {
          for (const std::string& tool : tools) {
            const std::vector<long> ids = untouched(k), others = untouched(k);
            const std::string idsFile = dir + "/reconcile_bench_ids.csv";
            {
              std::ofstream out(idsFile);
              out << "ID\n";
              for (long id : ids) out << id << "\n";
            }
            std::string cmd = "'" + tool + "' copy '" + first.location + "' House ORULINK_House --keys ID --from '" +
                              idsFile + "' --link '" + second.location + "' --grids gvMember:Member --format csv" +
                              (grouping > 0 ? " --commit-every " + std::to_string(grouping) : "") + (wal ? " --wal" : "") +
                              " > /dev/null";
            const double cpu0 = childCpu();
            auto t0 = Clock::now();
            const int rc = std::system(cmd.c_str());
            const double wallTool = seconds(t0), cpu = childCpu() - cpu0;
            if (rc != 0) {
              std::cerr << "the copy failed (" << rc << "): " << cmd << "\n";
              return 1;
            }
            std::filesystem::remove(idsFile);
            const long left = stillDiffering(second, ids);
            const double wallSet = setStatements(first, second, others), wallAgain = setStatements(first, second, ids);
            std::printf("%s%s copy %ld records (%s%s): %.2f s, %.0f records/s, CPU %.3f ms/record; one set-statement "
                        "transaction over as many untouched records %.2f s (over the records just copied %.2f s)%s; "
                        "ratio %.1f\n",
                        tools.size() > 1 ? (tool == baseline ? "baseline: " : "this build: ") : "", engine, k,
                        grouping > 0 ? ("commit every " + std::to_string(grouping)).c_str() : "default grouping",
                        wal ? ", WAL" : "", wallTool, static_cast<double>(k) / wallTool,
                        1000.0 * cpu / static_cast<double>(k), wallSet, wallAgain,
                        left ? (", " + std::to_string(left) + " NOT COPIED").c_str() : "", wallTool / wallSet);
            std::fflush(stdout);
          }
        }
      }
      if (!pg) {
        std::filesystem::remove(first.location);
        std::filesystem::remove(second.location);
      }
    }
  } catch (const ovt::ComError& e) {
    std::cerr << "error " << e.number() << " (" << e.source() << "): " << e.description() << "\n";
    return 1;
  }
  return 0;
}
