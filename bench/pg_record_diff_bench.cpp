// Benchmark of GetTblDiffRecRS (conflict and missing records) on PostgreSQL against the
// hand-written keyed joins run by psql on the same tables, and the client's peak memory while
// reading a large result.
//
//   pg_record_diff_bench [rows] [fields] [location] [--repeat R]
//   (defaults 1000000, 30, a cluster of its own, 1)
//
// Without a location it starts a throwaway cluster (initdb + pg_ctl under /tmp, as the tests
// do). Tables A and B (ID, recstatus, F0..F<fields-1> text) are generated in schema "bench":
// B differs from A in one field of every 10th record, and every 50th record of A is not in B.
// It runs
//  - the member through the component (conflict, then missing), reading every field of every
//    record by name;
//  - the missing query again through a connection that runs it in its literal rendering
//    (literalStatements), as the component did before it ran it as an anti-join ("before");
//  - psql with the hand-written keyed join and anti-join, output to /dev/null, as it comes and
//    again without JIT compilation (SET jit = off, as the component's sessions run);
// The hand-written conflict join compares field by field with IS DISTINCT FROM, so byte for
// byte: on these tables (no Nulls, no values differing in case only) it lists the records the
// member's statement lists, which compares the concatenated fields without case.
// Each R times, interleaved, the medians counting; checks that all select the same number of
// rows, prints the times and the ratios, then reads
// the whole of A through a recordset in a child process and prints that process's peak memory.
#include <sys/wait.h>

#include <algorithm>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "ovtbldiff/dbcomp/postgres.h"
#include "ovtbldiff/gateway.h"
#include "ovtbldiff/runtime/error.h"
#include "support/pg_cluster.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point a) { return std::chrono::duration<double>(Clock::now() - a).count(); }

long peakKiB() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

std::string psqlProgram() {
  if (const char* bin = std::getenv("OVT_PG_BIN")) return std::string(bin) + "/psql";
  for (const char* p : {"/usr/bin/psql", "/usr/lib/postgresql/15/bin/psql"})
    if (std::filesystem::exists(p)) return p;
  return "psql";
}

// Runs a query with psql, rows to /dev/null; returns the row count psql reports and the time.
// With `setting` ("jit = off"), psql SETs it first, as the component does in its sessions.
std::pair<long, double> psql(const std::string& conninfo, const std::string& sql, const std::string& setting = "") {
  const std::string out = std::filesystem::temp_directory_path() / ("pg_bench_" + std::to_string(getpid()) + ".count");
  // The rows go to /dev/null; a second query of the same statement's count would run it twice,
  // so psql's own footer ("(N rows)") is read instead.
  const std::string set = setting.empty() ? "" : " -c 'SET " + setting + "'";
  const std::string cmd = psqlProgram() + " -X -q -P pager=off -d '" + conninfo + "'" + set + " -c \"\\o /dev/null\" -c '" + sql +
                          "' -c \"\\o\" -c '\\echo :ROW_COUNT' > " + out;
  auto t = Clock::now();
  if (std::system(cmd.c_str()) != 0) {
    std::cerr << "psql failed: " << cmd << "\n";
    std::exit(1);
  }
  const double s = seconds(t);
  std::ifstream in(out);
  long n = -1;
  in >> n;
  std::filesystem::remove(out);
  return {n, s};
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

long readAll(const ovt::db::RecordsetRef& rs, const std::vector<std::string>& names) {
  long n = 0, sum = 0;
  for (; !rs->IsEOF(); rs->MoveNext(), ++n)
    for (const auto& f : names) sum += rs->FieldValue(f).isNull() ? 0 : 1;
  return sum >= 0 ? n : -1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args;
  int repeat = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--repeat" && i + 1 < argc) repeat = std::max(1, std::atoi(argv[++i]));
    else args.push_back(argv[i]);
  }
  const long rows = args.size() > 0 ? std::atol(args[0].c_str()) : 1000000;
  const int fields = args.size() > 1 ? std::atoi(args[1].c_str()) : 30;
  std::string conninfo = args.size() > 2 ? args[2] : "";
  try {
    if (conninfo.empty()) {
      conninfo = ovt::test::PgCluster::instance().connectionString();
      if (conninfo.empty()) {
        std::cerr << "no PostgreSQL cluster: " << ovt::test::PgCluster::instance().why() << "\n";
        return 1;
      }
    }
    const std::string location = conninfo + " schema=bench";
    ovt::db::DatabaseRef db = ovt::db::OpenPostgres(location);
    std::printf("generating A and B: %ld records x %d fields\n", rows, fields);
    auto t = Clock::now();
    std::string cols, colsB;
    for (int f = 0; f < fields; ++f) {
      const std::string v = "'v' || ((g * " + std::to_string(f + 7) + ") % 100000)";
      cols += ", (" + v + ")::varchar(20) AS \"F" + std::to_string(f) + "\"";
      const std::string vb = f == 3 ? "CASE WHEN g % 10 = 0 THEN 'changed' ELSE " + v + " END" : v;
      colsB += ", (" + vb + ")::varchar(20) AS \"F" + std::to_string(f) + "\"";
    }
    for (const char* s : {"DROP TABLE IF EXISTS bench.\"A\"", "DROP TABLE IF EXISTS bench.\"B\""})
      ovt::db::RunPostgresStatement(db, s);
    ovt::db::RunPostgresStatement(db, "CREATE TABLE bench.\"A\" AS SELECT g AS \"ID\", 1 AS recstatus" + cols +
                                          " FROM generate_series(1, " + std::to_string(rows) + ") g");
    ovt::db::RunPostgresStatement(db, "CREATE TABLE bench.\"B\" AS SELECT g AS \"ID\", 1 AS recstatus" + colsB +
                                          " FROM generate_series(1, " + std::to_string(rows) + ") g WHERE g % 50 <> 0");
    for (const char* s : {"ANALYZE bench.\"A\"", "ANALYZE bench.\"B\""}) ovt::db::RunPostgresStatement(db, s);
    std::printf("  %.1f s\n", seconds(t));

    ovt::cDataGetway gw;
    gw.SetDB(db);
    ovt::StringArray keys{"ID"};
    std::vector<std::string> compared, names{"ID"};
    for (int f = 0; f < fields; ++f) compared.push_back("F" + std::to_string(f)), names.push_back(compared.back());
    ovt::StringArray fieldList = ovt::StringArray::of(compared);

    std::string differ, select = "a.\"ID\"";
    for (int f = 0; f < fields; ++f) {
      const std::string c = "\"F" + std::to_string(f) + "\"";
      differ += (f ? " OR a." : "a.") + c + " IS DISTINCT FROM b." + c;
      select += ", a." + c;
    }
    const std::string handConflict = "SELECT " + select +
                                     " FROM bench.\"A\" a JOIN bench.\"B\" b ON a.\"ID\" = b.\"ID\" AND a.recstatus = "
                                     "b.recstatus WHERE a.recstatus = 1 AND (" + differ + ") ORDER BY a.\"ID\"";
    const std::string handMissing = "SELECT " + select +
                                    " FROM bench.\"A\" a WHERE a.recstatus = 1 AND NOT EXISTS (SELECT 1 FROM bench.\"B\" b "
                                    "WHERE b.\"ID\" = a.\"ID\" AND b.recstatus = a.recstatus) ORDER BY a.\"ID\"";

    ovt::db::PostgresOptions literalOptions;
    literalOptions.literalStatements = true;
    ovt::db::DatabaseRef literalDb = ovt::db::OpenPostgres(location, literalOptions);
    // Per measurement (conflict, missing, missing before): the member's and psql's times; and
    // psql's times once more without JIT compilation, which the component's sessions go without.
    std::vector<double> member[3], hand[3], handNoJit[2];
    long memberRows[3] = {-1, -1, -1}, handRows[3] = {-1, -1, -1};
    bool same = true;
    for (int r = 0; r < repeat; ++r)
      for (int m = 0; m < 3; ++m) {
        const int type = m == 0 ? 1 : 2;
        ovt::db::DatabaseRef conn = m == 2 ? literalDb : db;
        t = Clock::now();
        ovt::db::RecordsetRef rs = gw.GetTblDiffRecRS("A", "B", keys, fieldList, type, true, &conn);
        const long n = readAll(rs, names);
        member[m].push_back(seconds(t));
        auto [hn, hs] = psql(conninfo, type == 1 ? handConflict : handMissing);
        hand[m].push_back(hs);
        if (m < 2) {
          auto [jn, js] = psql(conninfo, type == 1 ? handConflict : handMissing, "jit = off");
          handNoJit[m].push_back(js);
          same &= jn == hn;
        }
        same &= n == hn && (memberRows[m] < 0 || memberRows[m] == n);
        memberRows[m] = n;
        handRows[m] = hn;
      }
    double memberTotal = 0, handTotal = 0;
    for (int m = 0; m < 3; ++m) {
      const char* what = m == 0 ? "conflict" : m == 1 ? "missing" : "before";
      const double ms = median(member[m]), hs = median(hand[m]);
      if (m < 2) memberTotal += ms, handTotal += hs;
      std::printf("%-8s member %8.2f s (%ld rows)   psql hand join %8.2f s (%ld rows)   ratio %.2f", what, ms,
                  memberRows[m], hs, handRows[m], ms / hs);
      if (m < 2) std::printf("   (psql without JIT %.2f s, ratio %.2f)", median(handNoJit[m]), ms / median(handNoJit[m]));
      std::printf("\n");
    }
    std::printf("total    member %8.2f s   psql %8.2f s   ratio %.2f (target at most 1.0)\n", memberTotal, handTotal,
                memberTotal / handTotal);
    std::printf("(medians of %d runs; before = the missing query in its literal rendering)\n", repeat);
    if (!same) {
      std::fprintf(stderr, "row counts differ\n");
      return 1;
    }

    std::fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
      ovt::db::DatabaseRef own = ovt::db::OpenPostgres(location);
      const long before = peakKiB();
      t = Clock::now();
      ovt::db::RecordsetRef rs = own->OpenRecordset("select * from A", 0, "");
      long n = 0;
      for (; !rs->IsEOF(); rs->MoveNext()) n += rs->FieldValue("F0").isNull() ? 0 : 1;
      std::printf("read %ld rows x %d columns in %.2f s; client peak memory %.0f MiB (%.0f MiB before opening)\n", n,
                  fields + 2, seconds(t), peakKiB() / 1024.0, before / 1024.0);
      std::fflush(stdout);
      _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
  } catch (const ovt::ComError& e) {
    std::cerr << "error " << e.number() << " (" << e.source() << "): " << e.description() << "\n";
    return 1;
  }
}
