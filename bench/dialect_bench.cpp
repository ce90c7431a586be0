// Benchmark of the record-difference conflict statement through the SQLite component against
// the hand-written keyed join on the same data.
//
//   dialect_bench [rows] [fields] [dir]      (defaults 1000000, 30, the current directory)
//   dialect_bench --memory [rows] [dir]      peak memory of reading a rows-row result
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
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "ovtbldiff/dbcomp/sqlite.h"
#include "ovtbldiff/runtime/error.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point a) { return std::chrono::duration<double>(Clock::now() - a).count(); }

void check(int rc, sqlite3* db, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    std::cerr << what << ": " << sqlite3_errmsg(db) << "\n";
    std::exit(1);
  }
}

void exec(sqlite3* db, const std::string& sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::cerr << sql.substr(0, 80) << ": " << (err ? err : "?") << "\n";
    std::exit(1);
  }
}

void generate(const std::string& path, long rows, int fields, bool keyIndex) {
  std::filesystem::remove(path);
  sqlite3* db = nullptr;
  check(sqlite3_open(path.c_str(), &db), db, "open");
  exec(db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF");
  for (const char* t : {"A", "B"}) {
    std::string ddl = std::string("CREATE TABLE ") + t + " (ID LONG, recstatus LONG";
    for (int f = 0; f < fields; ++f) ddl += ", F" + std::to_string(f) + " TEXT(20)";
    exec(db, ddl + ")");
  }
  exec(db, "BEGIN");
  for (int side = 0; side < 2; ++side) {
    std::string ins = std::string("INSERT INTO ") + (side ? "B" : "A") + " VALUES (?, ?";
    for (int f = 0; f < fields; ++f) ins += ", ?";
    sqlite3_stmt* st = nullptr;
    check(sqlite3_prepare_v2(db, (ins + ")").c_str(), -1, &st, nullptr), db, "prepare insert");
    char buf[32];
    for (long i = 0; i < rows; ++i) {
      sqlite3_bind_int64(st, 1, i);
      sqlite3_bind_int(st, 2, 1);
      for (int f = 0; f < fields; ++f) {
        long v = (i * 31 + f * 7) % 100003;
        if (side == 1 && i % 10 == 0 && f == static_cast<int>(i % fields)) v += 1;  // one difference
        int n = std::snprintf(buf, sizeof buf, "v%ld", v);
        sqlite3_bind_text(st, 3 + f, buf, n, SQLITE_TRANSIENT);
      }
      check(sqlite3_step(st), db, "insert");
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
  }
  exec(db, "COMMIT");
  if (keyIndex) exec(db, "CREATE INDEX A_ID ON A(ID); CREATE INDEX B_ID ON B(ID)");
  exec(db, "ANALYZE");
  sqlite3_close(db);
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
  sqlite3* db = nullptr;
  check(sqlite3_open(path.c_str(), &db), db, "open");
  auto t0 = Clock::now();
  sqlite3_stmt* st = nullptr;
  check(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), db, "prepare reference");
  long rows = 0;
  size_t bytes = 0;
  while (sqlite3_step(st) == SQLITE_ROW) {
    ++rows;
    for (int c = 0; c < sqlite3_column_count(st); ++c) {
      sqlite3_column_text(st, c);
      bytes += static_cast<size_t>(sqlite3_column_bytes(st, c));
    }
  }
  sqlite3_finalize(st);
  secs = seconds(t0);
  sqlite3_close(db);
  if (bytes == 0 && rows > 0) std::cerr << "no bytes read\n";
  return rows;
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

}  // namespace

int main(int argc, char** argv) {
  try {
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
