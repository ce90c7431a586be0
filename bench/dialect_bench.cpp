// Benchmark of the record-difference conflict statement through the SQLite component against
// the hand-written keyed join on the same data.
//
//   dialect_bench [rows] [fields] [dir]      (defaults 1000000, 30, the current directory)
//   dialect_bench --memory [rows] [dir]      peak memory of reading a rows-row result
//   dialect_bench --render CORPUS [rounds]   rendering speed: every statement of CORPUS (one
//                                            a line, as tests/dialect/golden/render_corpus.txt)
//                                            parsed once, rendered rounds times (default 20) for
//                                            each engine, with and without lifted literals
// With BENCH_KEEP set the generated files stay (bench_dialect.db.plain / .index).
//
// For each of "no key index" and "key index" it generates tables A and B (ID, recstatus,
// F0..F<fields-1>; B differs from A in one field of every 10th record, no Nulls), runs
//  - the hand-written join through the C API, stepping every row and reading every column
//    as text (what the sqlite3 shell does when it prints), and the sqlite3 shell itself when
//    it is installed (output to /dev/null);
//  - the dialect statement through OpenRecordset, then MoveNext to the end reading every
//    field by name;
// checks that both select the same number of rows, and prints the times and the ratio.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "dialect/dialect.h"
#include "double_entry.h"
#include "../tests/dialect/golden/corpus_line.h"
#include "ovtbldiff/dbcomp/sqlite.h"
#include "ovtbldiff/runtime/error.h"

namespace {

using bench::Clock;
using bench::seconds;

void generate(const std::string& path, long rows, int fields, bool keyIndex) {
  bench::generate(path, {.records = rows, .fields = fields, .conflictEvery = 10, .keyIndex = keyIndex});
}

std::string handWritten(int fields) {
  std::string s = "select A.ID";
  for (int f = 0; f < fields; ++f) s += ", A.F" + std::to_string(f);
  s += " from A join B on A.ID = B.ID and A.recstatus = B.recstatus where A.recstatus = 1 and (";
  for (int f = 0; f < fields; ++f) s += (f ? " OR " : "") + std::string("A.F") + std::to_string(f) + " IS NOT B.F" + std::to_string(f);
  return s + ") order by A.ID";
}

// The conflict statement exactly as the record difference member writes it.
std::string dialectStatement(int fields) {
  std::string cols, a, b;
  for (int f = 0; f < fields; ++f) {
    const std::string n = "[F" + std::to_string(f) + "]";
    cols += ", [A]." + n;
    a += (f ? "& " : "") + std::string("[A].") + n;
    b += (f ? "& " : "") + std::string("[B].") + n;
  }
  return "select [A].[ID]" + cols + " from [A] where [A].[ID]  in (select [A].[ID]  from [A] inner join [B] on [A].[ID] = "
         "[B].[ID]  and [A].recstatus = [B].recstatus  where  " + a + "<> " + b + ") and [A].recstatus = 1  order by [A].[ID]";
}

long runReference(const std::string& path, const std::string& sql, double& secs) {
  return bench::runHandWritten(path, sql, secs);
}

double runShell(const std::string& path, const std::string& sql) {
  if (!std::filesystem::exists("/usr/bin/sqlite3")) return -1;
  const std::string file = path + ".sql";
  std::ofstream(file) << sql << ";\n";
  auto t0 = Clock::now();
  const std::string cmd = "/usr/bin/sqlite3 '" + path + "' < '" + file + "' > /dev/null";
  if (std::system(cmd.c_str()) != 0) return -1;
  return seconds(t0);
}

long runComponent(const std::string& path, const std::string& sql, int fields, double& secs) {
  auto db = ovt::db::OpenSqlite(path);
  auto t0 = Clock::now();
  auto rs = db->OpenRecordset(sql, 2, "");
  std::vector<std::string> names = {"ID"};
  for (int f = 0; f < fields; ++f) names.push_back("F" + std::to_string(f));
  long rows = 0;
  size_t sum = 0;
  for (; !rs->IsEOF(); rs->MoveNext()) {
    ++rows;
    for (const auto& n : names) sum += rs->FieldValue(n).isNull() ? 0 : 1;
  }
  secs = seconds(t0);
  if (rows != rs->RecordCount() || sum != static_cast<size_t>(rows) * names.size()) std::cerr << "count mismatch\n";
  return rows;
}

long peakKb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

int renderSpeed(const std::string& corpus, int rounds) {
  namespace d = ovt::dialect;
  std::ifstream in(corpus);
  if (!in) {
    std::cerr << "cannot read " << corpus << "\n";
    return 1;
  }
  std::vector<d::Statement> statements;
  std::string line;
  while (std::getline(in, line)) {
    try {
      statements.push_back(d::parse(ovt::dialect::golden::statementOf(line)));
    } catch (const ovt::ComError&) {
    }
  }
  for (bool lift : {false, true}) {
    d::SqliteRenderOptions sqliteOptions;
    sqliteOptions.liftLiterals = lift;
    d::PgRenderOptions pgOptions;
    pgOptions.liftLiterals = lift;
    size_t bytes = 0, refused = 0;
    double sqliteSecs = 0, pgSecs = 0;
    for (int engine = 0; engine < 2; ++engine) {
      auto t0 = Clock::now();
      for (int r = 0; r < rounds; ++r)
        for (const auto& st : statements) {
          try {
            if (engine == 0) bytes += d::renderSqlite(st, sqliteOptions).sql.size();
            else bytes += d::renderPostgres(st, pgOptions).sql.size();
          } catch (const ovt::ComError&) {
            ++refused;
          }
        }
      (engine == 0 ? sqliteSecs : pgSecs) = seconds(t0);
    }
    const double n = static_cast<double>(statements.size()) * rounds;
    std::printf("%zu statements x %d rounds%s: SQLite %.3f s (%.2f us each), PostgreSQL %.3f s (%.2f us each)"
                " [%zu bytes, %zu refused]\n",
                statements.size(), rounds, lift ? ", literals lifted" : "", sqliteSecs, sqliteSecs * 1e6 / n, pgSecs,
                pgSecs * 1e6 / n, bytes, refused);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc > 2 && std::string(argv[1]) == "--render") return renderSpeed(argv[2], argc > 3 ? std::atoi(argv[3]) : 20);
    if (argc > 1 && std::string(argv[1]) == "--memory") {
      const long rows = argc > 2 ? std::atol(argv[2]) : 1000000;
      const std::string dir = argc > 3 ? argv[3] : ".";
      const std::string path = dir + "/bench_memory.db";
      generate(path, rows, 30, false);
      const long before = peakKb();
      auto db = ovt::db::OpenSqlite(path);
      auto t0 = Clock::now();
      auto rs = db->OpenRecordset("select * from [A]", 0, "");
      long n = 0;
      for (; !rs->IsEOF(); rs->MoveNext()) n += rs->FieldValue("F29").isNull() ? 0 : 1;
      std::printf("read %ld rows x 32 columns in %.2f s; peak memory %.0f MiB (%.0f MiB before opening)\n", n,
                  seconds(t0), peakKb() / 1024.0, before / 1024.0);
      std::filesystem::remove(path);
      return 0;
    }
    const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    const int fields = argc > 2 ? std::atoi(argv[2]) : 30;
    const std::string dir = argc > 3 ? argv[3] : ".";
    for (bool keyIndex : {false, true}) {
      const std::string path = dir + "/bench_dialect.db";
      auto g = Clock::now();
      generate(path, rows, fields, keyIndex);
      std::printf("%ld rows x %d fields, %s (generated in %.1f s)\n", rows, fields,
                  keyIndex ? "key index" : "no key index", seconds(g));
      double ref = 0, ours = 0;
      const long refRows = runReference(path, handWritten(fields), ref);
      const double shell = runShell(path, handWritten(fields));
      const long ourRows = runComponent(path, dialectStatement(fields), fields, ours);
      std::printf("  hand-written join (C API): %.2f s, %ld rows\n", ref, refRows);
      if (shell >= 0) std::printf("  hand-written join (sqlite3 shell): %.2f s\n", shell);
      std::printf("  dialect statement via OpenRecordset + read: %.2f s, %ld rows\n", ours, ourRows);
      std::printf("  ratio to C API: %.2f; ratio to shell: %.2f%s\n", ours / ref, shell > 0 ? ours / shell : 0.0,
                  refRows == ourRows ? "" : "  (ROW COUNTS DIFFER)");
      if (std::getenv("BENCH_KEEP")) std::filesystem::rename(path, path + (keyIndex ? ".index" : ".plain"));
      std::filesystem::remove(path);
      std::filesystem::remove(path + ".sql");
    }
  } catch (const ovt::ComError& e) {
    std::cerr << "error " << e.number() << " " << e.source() << ": " << e.description() << "\n";
    return 1;
  }
  return 0;
}
