// verify_bench: `ovtbldiff verify --format json` on a generated survey against the statements it
// needs run alone (record conflicts once, missing both ways, grid conflicts and missing both
// ways, every row read) and against sqldiff on the same two files; the peak memory of verify.
//
//   verify_bench [parents] [dir] [--reuse] [--repeat N] [--no-sqldiff]
//
// Defaults: 1,000,000 parents in /tmp, one round. --reuse times the entries a previous run of the
// same size left in dir instead of writing them. --repeat N runs N rounds, each of them the
// statements alone, verify and sqldiff one after the other (every other round in the opposite
// order, so that neither side always runs on the cache the other left), and reports the median
// of each and the ratio of the medians: a load peak during one run does not decide.
// --no-sqldiff leaves sqldiff out.
//
// The survey: form P (catalogue viewP, key K, 30 text fields) with the grid Items (grid view
// gvC, table C: FKey, L, 10 text fields), three grid records per parent. 1% of the parents
// conflict in one field, 1% are only in entry 1 and 1% only in entry 2 (with their grid
// records); 1% of the grid records of parents in both entries conflict in one field.
// sqldiff (Debian package sqlite3-tools) is used when it is on the PATH.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <vector>

#include "double_entry.h"
#include "ovtbldiff/dbcomp/sqlite.h"
#include "ovtbldiff/gateway.h"

namespace {

constexpr int kParentFields = 30;
constexpr int kGridFields = 10;
constexpr int kLines = 3;

bool onlyIn1(long i) { return i % 100 == 25; }
bool onlyIn2(long i) { return i % 100 == 50; }

// One entry of the survey (side 0: entry 1, side 1: entry 2).
void writeEntry(const std::string& path, int side, long parents) {
  std::filesystem::remove(path);
  sqlite3* db = nullptr;
  bench::check(sqlite3_open(path.c_str(), &db), db, "open");
  bench::exec(db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF");
  std::string p = "CREATE TABLE P (UniqueKey INTEGER, RecStatus LONG, K LONG";
  for (int f = 0; f < kParentFields; ++f) p += ", F" + std::to_string(f) + " TEXT(20)";
  bench::exec(db, p + ")");
  std::string c = "CREATE TABLE C (UniqueKey INTEGER, RecStatus LONG, FKey LONG, L LONG";
  for (int f = 0; f < kGridFields; ++f) c += ", G" + std::to_string(f) + " TEXT(20)";
  bench::exec(db, c + ")");
  bench::exec(db, "CREATE TABLE viewP (Name TEXT(50), Type TEXT(20), PageNumber LONG, DataTable TEXT(50))");
  bench::exec(db, "CREATE TABLE gvC (Name TEXT(50), Type TEXT(20), PageNumber LONG, DataTable TEXT(50))");
  std::string cat = "INSERT INTO viewP VALUES ('DATA1', 'SOURCE', 0, 'P'), ('K', 'NUMBER', 1, '')";
  for (int f = 0; f < kParentFields; ++f) cat += ", ('F" + std::to_string(f) + "', 'TEXT', 1, '')";
  bench::exec(db, cat + ", ('Items', 'GRID', 2, 'DATA2'), ('DATA2', 'SOURCE', 0, 'gvC')");
  cat = "INSERT INTO gvC VALUES ('DATA1', 'SOURCE', 0, 'C'), ('L', 'NUMBER', 1, '')";
  for (int f = 0; f < kGridFields; ++f) cat += ", ('G" + std::to_string(f) + "', 'TEXT', 1, '')";
  bench::exec(db, cat);

  bench::exec(db, "BEGIN");
  sqlite3_stmt *ps = nullptr, *cs = nullptr;
  std::string ins = "INSERT INTO P VALUES (?, 1, ?";
  for (int f = 0; f < kParentFields; ++f) ins += ", ?";
  bench::check(sqlite3_prepare_v2(db, (ins + ")").c_str(), -1, &ps, nullptr), db, "prepare P");
  ins = "INSERT INTO C VALUES (?, 1, ?, ?";
  for (int f = 0; f < kGridFields; ++f) ins += ", ?";
  bench::check(sqlite3_prepare_v2(db, (ins + ")").c_str(), -1, &cs, nullptr), db, "prepare C");
  char buf[32];
  long childKey = 0;
  for (long i = 0; i < parents; ++i) {
    if ((side == 0 && onlyIn2(i)) || (side == 1 && onlyIn1(i))) continue;
    const long unique = i + 1 + side * 10000000L;  // each entry numbers its records its own way
    sqlite3_bind_int64(ps, 1, unique);
    sqlite3_bind_int64(ps, 2, i);
    for (int f = 0; f < kParentFields; ++f) {
      long v = (i * 31 + f * 7) % 100003;
      if (side == 1 && i % 100 == 0 && f == i % kParentFields) v += 1;
      sqlite3_bind_text(ps, 3 + f, buf, std::snprintf(buf, sizeof buf, "v%ld", v), SQLITE_TRANSIENT);
    }
    bench::check(sqlite3_step(ps), db, "insert P");
    sqlite3_reset(ps);
    for (int l = 1; l <= kLines; ++l) {
      const long n = i * kLines + l;
      sqlite3_bind_int64(cs, 1, ++childKey);
      sqlite3_bind_int64(cs, 2, unique);
      sqlite3_bind_int64(cs, 3, l);
      for (int f = 0; f < kGridFields; ++f) {
        long v = (n * 17 + f * 5) % 100003;
        if (side == 1 && n % 100 == 7 && f == n % kGridFields) v += 1;
        sqlite3_bind_text(cs, 4 + f, buf, std::snprintf(buf, sizeof buf, "g%ld", v), SQLITE_TRANSIENT);
      }
      bench::check(sqlite3_step(cs), db, "insert C");
      sqlite3_reset(cs);
    }
  }
  sqlite3_finalize(ps);
  sqlite3_finalize(cs);
  bench::exec(db, "COMMIT");
  // The indexes a data-entry database keeps: the record number and the parent key of a grid record.
  bench::exec(db, "CREATE INDEX P_U ON P(UniqueKey); CREATE INDEX P_K ON P(K); CREATE INDEX C_F ON C(FKey); ANALYZE");
  sqlite3_close(db);
}

struct Run {
  double secs = 0;
  long peakKiB = 0;
  int code = -1;
};

// Runs a command line through /bin/sh in a child; its time and the peak memory of its tree.
Run runChild(const std::string& cmd) {
  Run r;
  auto t0 = bench::Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  struct rusage ru {};
  wait4(pid, &status, 0, &ru);
  r.secs = bench::seconds(t0);
  r.peakKiB = ru.ru_maxrss;
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

long readAll(const ovt::db::RecordsetRef& rs) {
  long n = 0;
  if (!rs) return 0;
  auto fs = rs->Recordset();
  std::vector<std::string> cols;
  for (int32_t i = 0; i < fs->Count(); ++i) cols.push_back(fs->Name(i));
  for (; !rs->IsEOF(); rs->MoveNext(), ++n)
    for (const std::string& c : cols) rs->FieldValue(c);
  return n;
}

std::string exeDir() { return std::filesystem::read_symlink("/proc/self/exe").parent_path().string(); }

// The statements verify needs, through the members on one connection, every row read: their
// total time; `counts` receives the rows of each.
double statementsAlone(const std::string& e1, const std::string& e2, long counts[6], std::string& detail) {
  ovt::db::SqliteOptions o;
  o.linkFile = e2;
  ovt::db::DatabaseRef conn = ovt::db::OpenSqlite(e1, o);
  ovt::cDataGetway g;
  g.SetDB(conn);
  std::vector<std::string> fieldNames;
  for (int f = 0; f < kParentFields; ++f) fieldNames.push_back("F" + std::to_string(f));
  ovt::StringArray keys = ovt::StringArray::of({"K"}), fields = ovt::StringArray::of(fieldNames);
  double alone = 0;
  auto time = [&](int slot, const std::function<ovt::db::RecordsetRef()>& f) {
    auto t = bench::Clock::now();
    counts[slot] = readAll(f());
    const double s = bench::seconds(t);
    alone += s;
    return s;
  };
  const double a = time(0, [&] { return g.GetTblDiffRecRS("P", "ORULINK_P", keys, fields, 1, true, &conn); });
  const double b = time(1, [&] { return g.GetTblDiffRecRS("P", "ORULINK_P", keys, fields, 2, true, &conn); });
  const double c = time(2, [&] { return g.GetTblDiffRecRS("ORULINK_P", "P", keys, fields, 2, true, &conn); });
  const double d = time(3, [&] { return g.GetTblDiffGridRS("P", "C", "ORULINK_P", "ORULINK_C", "L", keys, 1); });
  const double e = time(4, [&] { return g.GetTblDiffGridRS("P", "C", "ORULINK_P", "ORULINK_C", "L", keys, 2); });
  const double f = time(5, [&] { return g.GetTblDiffGridRS("ORULINK_P", "ORULINK_C", "P", "C", "L", keys, 2); });
  char buf[400];
  std::snprintf(buf, sizeof buf,
                "conflicts %ld in %.2f s, missing %ld + %ld in %.2f + %.2f s, grid conflicts %ld in %.2f s, grid "
                "missing %ld + %ld in %.2f + %.2f s",
                counts[0], a, counts[1], counts[2], b, c, counts[3], d, counts[4], counts[5], e, f);
  detail = buf;
  return alone;
}

[[noreturn]] void usage(const std::string& why) {
  std::cerr << why << "\nusage: verify_bench [parents] [dir] [--reuse] [--repeat N] [--no-sqldiff]\n";
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  long parents = 1000000;
  std::string dir = "/tmp";
  bool reuseAsked = false, withSqldiff = true;
  int repeat = 1, positional = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--reuse") {
      reuseAsked = true;
    } else if (a == "--no-sqldiff") {
      withSqldiff = false;
    } else if (a == "--repeat") {
      if (i + 1 >= argc) usage("--repeat needs a number");
      repeat = std::atoi(argv[++i]);
      if (repeat < 1) usage("--repeat must be at least 1, not " + std::string(argv[i]));
    } else if (!a.empty() && a[0] == '-') {
      usage("unknown option " + a);
    } else if (positional == 0) {
      parents = std::atol(a.c_str());
      if (parents < 100) usage("the number of parents must be at least 100, not " + a);
      ++positional;
    } else if (positional == 1) {
      dir = a;
      ++positional;
    } else {
      usage("one argument too many: " + a);
    }
  }
  bench::useOwnComponent(dir, "verify_bench");
  const std::string e1 = dir + "/verify_bench_entry1.db", e2 = dir + "/verify_bench_entry2.db";
  const bool reuse = reuseAsked && std::filesystem::exists(e1) && std::filesystem::exists(e2);
  auto t0 = bench::Clock::now();
  if (!reuse) {
    writeEntry(e1, 0, parents);
    writeEntry(e2, 1, parents);
  }
  std::printf("%s %ld parents x %d fields, %ld grid records x %d fields per entry in %.1f s\n",
              reuse ? "reused" : "generated", parents, kParentFields, parents * kLines, kGridFields, bench::seconds(t0));
  std::fflush(stdout);

  const std::string out = dir + "/verify_bench.json";
  const std::string cmd = "exec '" + exeDir() + "/../ovtbldiff' verify '" + e1 + "' '" + e2 +
                          "' --keys P=K --keys C=L --format json --output '" + out + "'";
  const bool sqldiff = withSqldiff && runChild("command -v sqldiff >/dev/null 2>&1").code == 0;
  std::vector<double> alone, verify, diff;
  long peakKiB = 0;
  bool verifyOk = true;
  for (int round = 1; round <= repeat; ++round) {
    auto runAlone = [&] {
      long counts[6] = {};
      std::string detail;
      alone.push_back(statementsAlone(e1, e2, counts, detail));
      std::printf("round %d statements alone: %s; sum %.2f s\n", round, detail.c_str(), alone.back());
      std::fflush(stdout);
    };
    auto runVerify = [&] {
      const Run v = runChild(cmd);
      verify.push_back(v.secs);
      peakKiB = std::max(peakKiB, v.peakKiB);
      verifyOk = verifyOk && v.code == 1;
      std::printf("round %d verify --format json: %.2f s (exit %d), peak memory %.1f MiB, report %.1f MiB\n", round,
                  v.secs, v.code, v.peakKiB / 1024.0,
                  std::filesystem::exists(out) ? std::filesystem::file_size(out) / 1048576.0 : 0.0);
      std::fflush(stdout);
    };
    auto runSqldiff = [&] {
      if (!sqldiff) return;
      const Run s = runChild("sqldiff '" + e1 + "' '" + e2 + "' > '" + dir + "/verify_bench.sqldiff'");
      diff.push_back(s.secs);
      std::printf("round %d sqldiff: %.2f s (exit %d), peak memory %.1f MiB\n", round, s.secs, s.code,
                  s.peakKiB / 1024.0);
      std::fflush(stdout);
    };
    if (round % 2) {
      runAlone();
      runVerify();
      runSqldiff();
    } else {
      runSqldiff();
      runVerify();
      runAlone();
    }
    std::printf("round %d ratio verify / statements alone: %.2f\n", round, verify.back() / alone.back());
    std::fflush(stdout);
  }

  const double a = bench::median(alone), v = bench::median(verify);
  std::printf("medians of %d round%s: statements alone %.2f s, verify %.2f s (peak memory %.1f MiB at most)\n", repeat,
              repeat == 1 ? "" : "s", a, v, peakKiB / 1024.0);
  std::printf("ratio verify / statements alone (of the medians): %.2f\n", v / a);
  if (sqldiff) {
    const double d = bench::median(diff);
    std::printf("sqldiff median %.2f s; ratio verify / sqldiff (of the medians): %.2f\n", d, v / d);
  } else if (withSqldiff) {
    std::printf("sqldiff is not on the PATH (Debian package sqlite3-tools): no comparison with it\n");
  }
  return verifyOk ? 0 : 1;
}
