// Generator of two double-entry tables A and B for the benchmark programs, and the few C API
// helpers they share. Both tables are Oru tables: ID LONG, recstatus LONG (all 1),
// F0..F<fields-1> TEXT(20) holding "v<number>"; B is A entered a second time, except where the
// shape asks for differences.
#pragma once

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double seconds(Clock::time_point a) {
  return std::chrono::duration<double>(Clock::now() - a).count();
}

// Makes the tools this benchmark starts load the component built beside them, whatever the
// user's registry names: a registry file of the benchmark's own in `dir`, new each run, in
// which the tool registers its neighbour (a baseline script sets its own). Makes `dir` if needed.
inline void useOwnComponent(const std::string& dir, const std::string& name) {
  std::filesystem::create_directories(dir);
  const std::string file = dir + "/" + name + "-registry.ini";
  std::filesystem::remove(file);
  ::setenv("OVT_REGISTRY", file.c_str(), 1);
}

// The middle value of `runs` (the mean of the two middle ones for an even count); 0 when empty.
inline double median(std::vector<double> runs) {
  std::sort(runs.begin(), runs.end());
  const size_t n = runs.size();
  return n == 0 ? 0 : n % 2 ? runs[n / 2] : (runs[n / 2 - 1] + runs[n / 2]) / 2;
}

inline void check(int rc, sqlite3* db, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    std::cerr << what << ": " << sqlite3_errmsg(db) << "\n";
    std::exit(1);
  }
}

inline void exec(sqlite3* db, const std::string& sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::cerr << sql.substr(0, 80) << ": " << (err ? err : "?") << "\n";
    sqlite3_free(err);
    std::exit(1);
  }
}

// Where B departs from A; a period of 0 switches that kind off. The kinds never fall on the
// same field of a record, so every record's expected outcome follows from its number alone.
struct Shape {
  long records = 1000000;
  int fields = 30;
  long conflictEvery = 10;  // record i % conflictEvery == 0: field i % fields differs in B
  long missingEvery = 0;    // record i % missingEvery == missingAt: not entered in B at all
  long missingAt = 0;
  long caseEvery = 0;       // i % caseEvery == caseAt: field (i+1) % fields upper-cased in B
  long caseAt = 0;
  long nullEvery = 0;       // i % nullEvery == nullAt: field (i+2) % fields Null in A and B
  long nullAt = 0;
  bool keyIndex = false;    // index A(ID) and B(ID)

  static bool hits(long i, long every, long at) { return every > 0 && i % every == at; }
  bool conflicting(long i) const { return hits(i, conflictEvery, 0) && !missing(i); }
  bool missing(long i) const { return hits(i, missingEvery, missingAt); }
};

// Writes A and B into a new file at path (an existing file is replaced), then runs ANALYZE.
inline void generate(const std::string& path, const Shape& s) {
  std::filesystem::remove(path);
  sqlite3* db = nullptr;
  check(sqlite3_open(path.c_str(), &db), db, "open");
  exec(db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF");
  for (const char* t : {"A", "B"}) {
    std::string ddl = std::string("CREATE TABLE ") + t + " (ID LONG, recstatus LONG";
    for (int f = 0; f < s.fields; ++f) ddl += ", F" + std::to_string(f) + " TEXT(20)";
    exec(db, ddl + ")");
  }
  exec(db, "BEGIN");
  // The extra kinds need three distinct fields in a record.
  const bool extras = s.fields >= 3;
  for (int side = 0; side < 2; ++side) {
    std::string ins = std::string("INSERT INTO ") + (side ? "B" : "A") + " VALUES (?, ?";
    for (int f = 0; f < s.fields; ++f) ins += ", ?";
    sqlite3_stmt* st = nullptr;
    check(sqlite3_prepare_v2(db, (ins + ")").c_str(), -1, &st, nullptr), db, "prepare insert");
    char buf[32];
    for (long i = 0; i < s.records; ++i) {
      if (side == 1 && s.missing(i)) continue;
      const int base = static_cast<int>(i % s.fields);
      sqlite3_bind_int64(st, 1, i);
      sqlite3_bind_int(st, 2, 1);
      for (int f = 0; f < s.fields; ++f) {
        if (extras && Shape::hits(i, s.nullEvery, s.nullAt) && f == (base + 2) % s.fields) {
          sqlite3_bind_null(st, 3 + f);
          continue;
        }
        long v = (i * 31 + f * 7) % 100003;
        if (side == 1 && Shape::hits(i, s.conflictEvery, 0) && f == base) v += 1;
        const bool upper = side == 1 && extras && Shape::hits(i, s.caseEvery, s.caseAt) &&
                           f == (base + 1) % s.fields;
        int n = std::snprintf(buf, sizeof buf, "%s%ld", upper ? "V" : "v", v);
        sqlite3_bind_text(st, 3 + f, buf, n, SQLITE_TRANSIENT);
      }
      check(sqlite3_step(st), db, "insert");
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
  }
  exec(db, "COMMIT");
  if (s.keyIndex) exec(db, "CREATE INDEX A_ID ON A(ID); CREATE INDEX B_ID ON B(ID)");
  exec(db, "ANALYZE");
  sqlite3_close(db);
}

// Runs sql through the C API, stepping every row and reading every column as text (what the
// sqlite3 shell does when it prints); secs is the time from prepare to the last row.
inline long runHandWritten(const std::string& path, const std::string& sql, double& secs) {
  sqlite3* db = nullptr;
  check(sqlite3_open(path.c_str(), &db), db, "open");
  auto t0 = Clock::now();
  sqlite3_stmt* st = nullptr;
  check(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), db, "prepare hand-written");
  long rows = 0;
  size_t bytes = 0;
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    ++rows;
    for (int c = 0; c < sqlite3_column_count(st); ++c) {
      sqlite3_column_text(st, c);
      bytes += static_cast<size_t>(sqlite3_column_bytes(st, c));
    }
  }
  check(rc, db, "step hand-written");
  sqlite3_finalize(st);
  secs = seconds(t0);
  sqlite3_close(db);
  if (bytes == 0 && rows > 0) std::cerr << "no bytes read\n";
  return rows;
}

}  // namespace bench
