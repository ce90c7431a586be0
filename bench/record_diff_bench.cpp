// Benchmark of the record difference member GetTblDiffRecRS, conflict and missing query, on a
// real SQLite file against the hand-written keyed joins that answer the same two questions.
//
//   record_diff_bench [--records N] [--fields F] [--dir D] [--index none|key|both] [--repeat R]
//                     [--keep]
//   (defaults 1000000 records, 30 fields, the system's temporary directory, both, 1)
//
// It generates the Oru tables A and B in one temporary file: 4% of the records conflict (one
// field differs), 2.5% are missing from B, 5% differ in B only by the case of one field and
// 1/16 hold a Null in the same field of both entries; neither of the last two is a conflict.
// Then, per key-index variant, it times
//  - GetTblDiffRecRS("A", "B", {ID}, {F0..}, conflict / missing, OruType) through the SQLite
//    connection, reading every field of every row of the recordset by name; the missing query
//    also through a connection that runs it in its literal rendering (literalStatements), as
//    the component did before it ran it as an anti-join;
//  - the hand-written joins through the C API, reading every column of every row as text:
//    conflict = inner join on ID and recstatus where some field differs, Null counting as ""
//    and text compared case-insensitively; missing = left join where B has no partner.
//    On these tables they list the records the member's statements list, but they do not mean
//    the same everywhere: the hand-written conflict join compares field by field ("ab" & "c"
//    against "a" & "bc" differ), counts a record whose fields are all Null as differing, folds
//    ASCII case only, lists a record once per partner and only through its own partner (the
//    statement lists every active record whose key some differing pair has, once).
// Each measurement is taken R times, the runs of all of them interleaved; the median counts.
// It prints the row counts (they must agree with each other and with the generator, else the
// exit status is 1), the times and the ratios member/hand against the target of 1.0.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include <unistd.h>

#include "double_entry.h"
#include "ovtbldiff/dbcomp/sqlite.h"
#include "ovtbldiff/gateway.h"
#include "ovtbldiff/runtime/error.h"

namespace {

using bench::Clock;
using bench::seconds;

constexpr double kTarget = 1.0;

std::string fieldName(int f) { return "F" + std::to_string(f); }

std::string selectList(int fields) {
  std::string s = "select A.ID";
  for (int f = 0; f < fields; ++f) s += ", A." + fieldName(f);
  return s;
}

std::string handConflict(int fields) {
  std::string s = selectList(fields) +
                  " from A join B on A.ID = B.ID and A.recstatus = B.recstatus where A.recstatus = 1 and (";
  for (int f = 0; f < fields; ++f) {
    const std::string n = fieldName(f);
    s += (f ? " OR " : "") + std::string("ifnull(A.") + n + ", '') <> ifnull(B." + n + ", '') COLLATE NOCASE";
  }
  return s + ") order by A.ID";
}

std::string handMissing(int fields) {
  return selectList(fields) +
         " from A left join B on A.ID = B.ID and A.recstatus = B.recstatus where A.recstatus = 1 and B.ID is null"
         " order by A.ID";
}

// Calls the member and reads every field of every row; secs covers call and reading.
long runMember(ovt::db::DatabaseRef conn, int fields, int32_t type, double& secs) {
  std::vector<std::string> names;
  for (int f = 0; f < fields; ++f) names.push_back(fieldName(f));
  ovt::StringArray keys = ovt::StringArray::of({"ID"});
  ovt::StringArray compared = ovt::StringArray::of(names);
  names.insert(names.begin(), "ID");
  ovt::cDataGetway gateway;
  auto t0 = Clock::now();
  ovt::db::RecordsetRef rs = gateway.GetTblDiffRecRS("A", "B", keys, compared, type, true, &conn);
  long rows = 0;
  size_t nonNull = 0;
  for (; !rs->IsEOF(); rs->MoveNext()) {
    ++rows;
    for (const std::string& n : names) nonNull += rs->FieldValue(n).isNull() ? 0 : 1;
  }
  secs = seconds(t0);
  if (rows != rs->RecordCount()) std::cerr << "RecordCount " << rs->RecordCount() << " but " << rows << " rows read\n";
  if (rows > 0 && nonNull == 0) std::cerr << "no values read\n";
  return rows;
}

struct Options {
  bench::Shape shape;
  std::string dir = std::filesystem::temp_directory_path().string();
  bool plain = true, indexed = true, keep = false;
  int repeat = 1;
};

[[noreturn]] void usage(const std::string& why) {
  std::cerr << why << "\nusage: record_diff_bench [--records N] [--fields F] [--dir D] "
               "[--index none|key|both] [--repeat R] [--keep]\n";
  std::exit(2);
}

Options parse(int argc, char** argv) {
  Options o;
  o.shape.conflictEvery = 25;
  o.shape.missingEvery = 40;
  o.shape.missingAt = 7;
  o.shape.caseEvery = 20;
  o.shape.caseAt = 5;
  o.shape.nullEvery = 16;
  o.shape.nullAt = 9;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) usage(a + " needs a value");
      return argv[++i];
    };
    if (a == "--records") {
      o.shape.records = std::atol(value().c_str());
      if (o.shape.records < 1) usage("--records must be at least 1");
    } else if (a == "--fields") {
      o.shape.fields = std::atoi(value().c_str());
      if (o.shape.fields < 1 || o.shape.fields > 250) usage("--fields must be from 1 to 250");
    } else if (a == "--dir") {
      o.dir = value();
    } else if (a == "--index") {
      const std::string v = value();
      if (v != "none" && v != "key" && v != "both") usage("--index takes none, key or both");
      o.plain = v != "key";
      o.indexed = v != "none";
    } else if (a == "--repeat") {
      o.repeat = std::atoi(value().c_str());
      if (o.repeat < 1) usage("--repeat must be at least 1");
    } else if (a == "--keep") {
      o.keep = true;
    } else {
      usage("unknown argument " + a);
    }
  }
  return o;
}

// Removes the generated file at the end unless it is to be kept.
struct TempFile {
  std::string path;
  bool keep;
  ~TempFile() {
    if (keep) std::cout << "kept " << path << "\n";
    else std::filesystem::remove(path);
  }
};

// One measurement's row count and the times of its runs.
struct Timing {
  long rows = -1;
  std::vector<double> runs;
  double median() const { return bench::median(runs); }
  void add(long n, double secs) {
    if (rows >= 0 && rows != n) std::cerr << "row count changed between runs: " << rows << " then " << n << "\n";
    rows = n;
    runs.push_back(secs);
  }
};

const char* verdict(double ratio) { return ratio <= kTarget ? "<= 1.0" : "> 1.0 TARGET MISSED"; }

bool report(const char* what, const Timing& member, const Timing& hand, long expected) {
  const bool ok = member.rows == hand.rows && hand.rows == expected;
  const double ratio = member.median() / hand.median();
  std::printf("  %-9s member %8.2f s %9ld rows | hand %8.2f s %9ld rows | expected %9ld | ratio %.2f %s%s\n", what,
              member.median(), member.rows, hand.median(), hand.rows, expected, ratio, verdict(ratio),
              ok ? "" : "  ROW COUNTS DIFFER");
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);
  const bench::Shape& s = o.shape;
  TempFile file{o.dir + "/record_diff_bench." + std::to_string(getpid()) + ".db", o.keep};
  long expectConflict = 0, expectMissing = 0;
  for (long i = 0; i < s.records; ++i) {
    expectConflict += s.conflicting(i) ? 1 : 0;
    expectMissing += s.missing(i) ? 1 : 0;
  }
  bool ok = true;
  try {
    auto g = Clock::now();
    bench::generate(file.path, s);
    std::printf("%ld records x %d compared fields in %s (generated in %.1f s)\n", s.records, s.fields,
                file.path.c_str(), seconds(g));
    for (bool keyIndex : {false, true}) {
      if (keyIndex ? !o.indexed : !o.plain) continue;
      if (keyIndex) {
        sqlite3* db = nullptr;
        bench::check(sqlite3_open(file.path.c_str(), &db), db, "open");
        bench::exec(db, "CREATE INDEX A_ID ON A(ID); CREATE INDEX B_ID ON B(ID); ANALYZE");
        sqlite3_close(db);
      }
      std::printf("%s:\n", keyIndex ? "key index on A(ID) and B(ID)" : "no key index");
      Timing conflict, missing, literalMissing, handConflictT, handMissingT;
      ovt::db::SqliteOptions literalOptions;
      literalOptions.literalStatements = true;
      for (int r = 0; r < o.repeat; ++r) {
        double secs = 0;
        long n = 0;
        {
          ovt::db::DatabaseRef conn = ovt::db::OpenSqlite(file.path);
          n = runMember(conn, s.fields, ovt::TableDiffSQLConfilct, secs);
          conflict.add(n, secs);
          n = runMember(conn, s.fields, ovt::TableDiffSQLMissing, secs);
          missing.add(n, secs);
        }
        {
          ovt::db::DatabaseRef conn = ovt::db::OpenSqlite(file.path, literalOptions);
          n = runMember(conn, s.fields, ovt::TableDiffSQLMissing, secs);
          literalMissing.add(n, secs);
        }
        n = bench::runHandWritten(file.path, handConflict(s.fields), secs);
        handConflictT.add(n, secs);
        n = bench::runHandWritten(file.path, handMissing(s.fields), secs);
        handMissingT.add(n, secs);
      }
      ok = report("conflict", conflict, handConflictT, expectConflict) && ok;
      ok = report("missing", missing, handMissingT, expectMissing) && ok;
      ok = report("before", literalMissing, handMissingT, expectMissing) && ok;
      const double member = conflict.median() + missing.median(), hand = handConflictT.median() + handMissingT.median();
      std::printf("  total     member %8.2f s | hand %8.2f s | ratio %.2f %s\n", member, hand, member / hand,
                  verdict(member / hand));
      std::printf("  (medians of %d runs; before = the missing query in its literal rendering)\n", o.repeat);
    }
  } catch (const ovt::ComError& e) {
    std::cerr << "error " << e.number() << " " << e.source() << ": " << e.description() << "\n";
    return 1;
  }
  return ok ? 0 : 1;
}
