// How the reconciling subcommands reach the disk, on real databases of every engine: records
// committed in groups (the trace shows the group's transaction around the records' own), a copy
// killed in the middle that leaves every record wholly copied or wholly as it was and whole
// groups only, and the check for indexes on the match keys.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/entries_tool.h"
#include "cli/tool_run.h"
#include "ovtbldiff/dbcomp/postgres.h"
#include "ovtbldiff/dbcomp/sqlite.h"
#include "ovtbldiff/runtime/variant.h"
#include "support/engines.h"
#include "support/temp_dir.h"

extern char** environ;

namespace {

using ovt::test::runTool;
using ovt::test::ToolRun;

// A form with one grid, the same in both entries.
const ovt::test::Statements kForm = ovt::test::statements({
    {"create table Survey (UniqueKey counter, RecStatus long, ID long, Name text(50), Age long)"},
    ovt::test::catalogue("viewSurvey", "Survey", {"Name TEXT", "GridK GRID gvKids"}),
    {"create table Kids (UniqueKey counter, RecStatus long, FKey long, KidName text(50))"},
    ovt::test::catalogue("gvKids", "Kids", {"KidName TEXT"}),
});

// Runs the engine's own SQL (not the dialect) on a connection: bulk rows for the tests.
void raw(const ovt::db::DatabaseRef& db, const std::string& sql) {
  if (ovt::db::IsPostgresLocation(db->Location())) ovt::db::RunPostgresStatement(db, sql);
  else ovt::db::RunSqliteScript(db, sql);
}

// The entries, their locations and the folder come from the shared tool fixture; `fill` and
// `rows` here are this family's own (bulk records, rows of the second entry).
class Durability : public ovt::test::EntriesTool {
 protected:
  // `records` records with IDs 1..records in both entries: "new<ID>", age 31, with kids "<ID>a"
  // and "<ID>b" in the first; "old<ID>", age 30, with kid "old" in the second.
  void fill(int records) {
    const std::string n = std::to_string(records);
    const std::string series = "with recursive s(g) as (select 1 union all select g + 1 from s where g < " + n + ") ";
    {
      auto db = ovt::test::openLocation(first_);
      ovt::test::runAll(db, kForm);
      raw(db, series + "insert into \"Survey\" (\"UniqueKey\", \"RecStatus\", \"ID\", \"Name\", \"Age\") "
                       "select g, 1, g, 'new' || g, 31 from s");
      raw(db, series + "insert into \"Kids\" (\"RecStatus\", \"FKey\", \"KidName\") select 1, g, g || 'a' from s "
                       "union all select 1, g, g || 'b' from s");
    }
    auto db = ovt::test::openLocation(second_);
    ovt::test::runAll(db, kForm);
    raw(db, series + "insert into \"Survey\" (\"UniqueKey\", \"RecStatus\", \"ID\", \"Name\", \"Age\") "
                     "select 100000 + g, 1, g, 'old' || g, 30 from s");
    raw(db, series + "insert into \"Kids\" (\"RecStatus\", \"FKey\", \"KidName\") select 1, 100000 + g, 'old' from s");
  }

  std::string q(const std::string& s) const { return "'" + s + "'"; }
  // `copy` of the records listed in ids.csv from the first entry to the second.
  std::string copyArgs(const std::string& more) const {
    return "copy " + q(first_) + " Survey ORULINK_Survey --keys ID --from ids.csv --grids gvKids:Kids --link " +
           q(second_) + " --format csv " + more;
  }
  void writeIds(int records) {
    std::ofstream out(dir_.file("ids.csv"));
    out << "ID\n";
    for (int i = 1; i <= records; ++i) out << i << "\n";
  }

  // Every row of a query on the second entry, values joined by "|".
  std::vector<std::string> rows(const std::string& sql) {
    auto db = ovt::test::openLocation(second_);
    std::vector<std::string> out;
    ovt::VariantArray all = db->OpenRecordset(sql, 3, "")->GetRows();
    if (!all.allocated()) return out;
    for (int32_t r = 0; r <= all.ubound(2); ++r) {
      std::string line;
      for (int32_t c = 0; c <= all.ubound(1); ++c) line += (c ? "|" : "") + ovt::concatText(all.at(c, r));
      out.push_back(line);
    }
    return out;
  }
  // The levels a trace's BeginTrans and CommitTrans leave, in order: "B1 B2 C1 C0 ...".
  std::string levels(const std::string& trace) {
    std::ifstream in(dir_.file(trace));
    std::string line, op, out;
    while (std::getline(in, line)) {
      if (line.rfind("-- ", 0) == 0) op = line.substr(3);
      if (line.rfind("=> level ", 0) == 0 && (op == "BeginTrans" || op == "CommitTrans"))
        out += (op == "BeginTrans" ? "B" : "C") + line.substr(9) + " ";
    }
    return out;
  }
  int copied() {
    auto r = rows("select count(*) from Survey where Age = 31");
    return r.empty() ? -1 : std::stoi(r[0]);
  }
};

TEST_P(Durability, RecordsCommitInGroupsEachRecordNestedInItsGroup) {
  fill(5);
  writeIds(5);
  ToolRun r = runTool(dir_.path(), copyArgs("--commit-every 2 --trace t.trace"));
  ASSERT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "ID,result\n1,copied\n2,copied\n3,copied\n4,copied\n5,copied\n");
  // Three groups (2, 2, 1 records): the group opens level 1, each record's own transaction
  // level 2 inside it, and the group's commit ends at level 0.
  EXPECT_EQ(levels("t.trace"), "B1 B2 C1 B2 C1 C0 B1 B2 C1 B2 C1 C0 B1 B2 C1 C0 ");
  EXPECT_EQ(copied(), 5);
  EXPECT_EQ(rows("select count(*) from Kids where KidName = 'old'"), std::vector<std::string>{"0"});
  // One record on its own commits alone: no group around it.
  ToolRun one = runTool(dir_.path(), copyArgs("--commit-every 1 --trace one.trace"));
  ASSERT_EQ(one.code, 0) << one.out << one.err;
  EXPECT_EQ(dir_.read("one.trace").find("level 2"), std::string::npos);
  EXPECT_EQ(runTool(dir_.path(), copyArgs("--commit-every 0")).code, 2);
}

// Without --commit-every a SQLite run commits every 1,000 records (its commits cost disk syncs),
// a PostgreSQL run every 100 (a refused commit then fails few records).
TEST_P(Durability, WithoutTheOptionTheGroupIsTheEngines) {
  fill(150);
  writeIds(150);
  ToolRun r = runTool(dir_.path(), copyArgs("--trace t.trace"));
  ASSERT_EQ(r.code, 0) << r.out << r.err;
  const std::string seen = levels("t.trace");
  size_t groups = 0;
  for (size_t at = seen.find("C0"); at != std::string::npos; at = seen.find("C0", at + 1)) ++groups;
  EXPECT_EQ(groups, GetParam() == ovt::test::Engine::Postgres ? 2u : 1u) << seen.substr(0, 200);
  EXPECT_EQ(copied(), 150);
}

TEST_P(Durability, AKilledCopyLeavesWholeRecordsAndWholeGroupsOnly) {
  const int records = 4000, every = 50;
  fill(records);
  writeIds(records);
  const std::string cmd = "cd '" + dir_.path().string() + "' && exec '" OVT_BINARY_DIR "/ovtbldiff' " +
                          copyArgs("--commit-every " + std::to_string(every)) + " >/dev/null 2>&1";
  const char* argv[] = {"/bin/sh", "-c", cmd.c_str(), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
  // Kill it as soon as its first groups are on disk.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  int seen = 0;
  while ((seen = copied()) < 2 * every && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the copy ended before it was killed";

  // Every record is either the source's, with exactly its two kids, or the destination's as
  // it was, with its one old kid; the copied ones are whole groups.
  const auto survey = rows("select ID, Name, UniqueKey from Survey order by ID");
  ASSERT_EQ(survey.size(), static_cast<size_t>(records));
  std::map<std::string, std::vector<std::string>> kids;
  for (const std::string& k : rows("select FKey, KidName from Kids where RecStatus = 1 order by FKey, KidName")) {
    const size_t bar = k.find('|');
    kids[k.substr(0, bar)].push_back(k.substr(bar + 1));
  }
  int done = 0;
  for (const std::string& s : survey) {
    std::istringstream in(s);
    std::string id, name, key;
    std::getline(in, id, '|');
    std::getline(in, name, '|');
    std::getline(in, key, '|');
    if (name == "new" + id) {
      ++done;
      EXPECT_EQ(kids[key], (std::vector<std::string>{id + "a", id + "b"})) << "record " << id;
    } else {
      EXPECT_EQ(name, "old" + id);
      EXPECT_EQ(kids[key], std::vector<std::string>{"old"}) << "record " << id;
    }
  }
  EXPECT_GE(done, seen);
  EXPECT_LT(done, records);
  EXPECT_EQ(done % every, 0) << done << " records copied";
}

// A second supervisor's transaction has changed record 2 of the destination and commits while
// the copy waits on it: SQLite answers busy, PostgreSQL (serializable) a serialization failure,
// at the record's statement or at the commit of its group. The records that failed run again
// on their own, and all three are copied with their grid records.
TEST_P(Durability, RecordsThatMetAConcurrentWriterAreRetriedAndCopied) {
  fill(3);
  writeIds(3);
  auto other = ovt::test::openLocation(second_);
  other->BeginTrans();
  ASSERT_TRUE(other->Execute("update Survey set Age = 40 where ID = 2")) << other->LastFailure();
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    other->CommitTrans();
  });
  ToolRun r = runTool(dir_.path(), copyArgs("--trace t.trace"));
  release.join();
  EXPECT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "ID,result\n1,copied\n2,copied\n3,copied\n");
  const std::string trace = dir_.read("t.trace");
  const char* reason = GetParam() == ovt::test::Engine::Sqlite ? "database is locked" : "could not serialize access";
  EXPECT_NE(trace.find(reason), std::string::npos) << trace;
  EXPECT_EQ(rows("select ID, Name, Age from Survey order by ID"),
            (std::vector<std::string>{"1|new1|31", "2|new2|31", "3|new3|31"}));
  EXPECT_EQ(rows("select count(*) from Kids where RecStatus = 1"), std::vector<std::string>{"6"});
}

// Two supervisors copy the same records at the same time: each record is written by one and
// rewritten by the other, whole each time; neither reports a failure and no record is doubled.
TEST_P(Durability, TwoCopiesOfTheSameRecordsAtOnceBothFinish) {
  const int records = 100;
  fill(records);
  writeIds(records);
  std::vector<ToolRun> runs(2);
  std::vector<std::thread> both;
  for (ToolRun& run : runs) both.emplace_back([&] { run = runTool(dir_.path(), copyArgs("--commit-every 10")); });
  for (std::thread& t : both) t.join();
  for (const ToolRun& run : runs) {
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), records + 1);
    EXPECT_EQ(run.out.find("not committed"), std::string::npos) << run.out;
  }
  EXPECT_EQ(copied(), records);
  const auto ids = rows("select ID from Survey order by ID");
  EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), ids.size());
  EXPECT_EQ(ids.size(), static_cast<size_t>(records));
  EXPECT_EQ(rows("select count(*) from Kids where RecStatus = 1"), std::vector<std::string>{std::to_string(2 * records)});
}

TEST_P(Durability, MissingMatchKeyIndexesAreNamedAndCreatedOnlyWhenAsked) {
  fill(1500);
  writeIds(30);
  ToolRun r = runTool(dir_.path(), copyArgs("--dry-run"));
  ASSERT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_NE(r.err.find("note: Survey has no index on its match keys (ID): each of the 30 records scans its 1500 rows; "
                       "--index creates one\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("note: ORULINK_Survey has no index on its match keys (ID)"), std::string::npos) << r.err;
  ToolRun made = runTool(dir_.path(), copyArgs("--index"));
  ASSERT_EQ(made.code, 0) << made.out << made.err;
  EXPECT_EQ(made.err, "created index ovt_key_Survey_ID on Survey (ID)\ncreated index ovt_key_Survey_ID on ORULINK_Survey (ID)\n");
  auto second = ovt::test::openLocation(second_);
  const auto indexed = GetParam() == ovt::test::Engine::Sqlite ? ovt::db::SqliteKeyIndexed(second, "Survey", {"id"})
                                                               : ovt::db::PostgresKeyIndexed(second, "Survey", {"id"});
  EXPECT_EQ(indexed, std::optional<bool>(true));
  // Indexed now: nothing more to say; and a few records are never worth the question.
  EXPECT_EQ(runTool(dir_.path(), copyArgs("")).err, "");
  ToolRun few = runTool(dir_.path(), "delete " + q(first_) + " Kids --plain --keys KidName --value 1a");
  EXPECT_EQ(few.code, 0) << few.out << few.err;
  EXPECT_EQ(few.err, "");
}

OVT_ON_EVERY_ENGINE(Durability);

// A group whose commit is refused (here: a reader holds the destination file past the busy
// timeout) is rolled back whole; its records run again, each on its own, and are copied once
// the reader has gone. None is reported copied unless it is in the file.
TEST(RefusedCommit, TheGroupsRecordsRunAgainAloneAndAreThere) {
  ovt::test::TempDir dir;
  const std::string first = dir.file("first.db"), second = dir.file("second.db");
  for (const std::string& f : {first, second}) ovt::test::runAll(ovt::db::OpenSqlite(f), kForm);
  {
    auto db = ovt::db::OpenSqlite(first);
    ASSERT_TRUE(db->Execute("insert into Survey (UniqueKey, RecStatus, ID, Name, Age) values (1, 1, 1, 'new1', 31)"));
    ASSERT_TRUE(db->Execute("insert into Survey (UniqueKey, RecStatus, ID, Name, Age) values (2, 1, 2, 'new2', 31)"));
  }
  auto reader = ovt::db::OpenSqlite(second);
  reader->BeginTrans();
  ASSERT_TRUE(reader->OpenRecordset("select count(*) as N from Survey", 3, "")->GetRows().allocated());
  // The reader lets go once the group's commit (which waits 5 s for it) has been refused,
  // however long the tool took to get there: the tool traces a copy as it goes into a file of
  // its temporary folder, made this test's folder here.
  const std::string refused = "-- CommitTrans\njet: \nsql: RELEASE ovt_trans\n=> error: ";
  auto traced = [&] {
    std::stringstream text;
    for (const auto& f : std::filesystem::directory_iterator(dir.path()))
      if (f.path().filename().string().starts_with("ovtbldiff-run-")) text << std::ifstream(f.path()).rdbuf();
    return text.str();
  };
  const char* tmp = std::getenv("TMPDIR");
  const std::string savedTmp = tmp ? tmp : "";
  setenv("TMPDIR", dir.path().c_str(), 1);
  std::thread release([&] {
    for (int waited = 0; waited < 120000 && traced().find(refused) == std::string::npos; waited += 50)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    reader->CommitTrans();
  });
  ToolRun r = runTool(dir.path(), "copy first.db Survey ORULINK_Survey --keys ID --value 1 --value 2 --grids none "
                                  "--link second.db --commit-every 2 --trace t.trace");
  release.join();
  if (tmp) setenv("TMPDIR", savedTmp.c_str(), 1);
  else unsetenv("TMPDIR");
  EXPECT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("2 records failed at first and ran again on its own (transient failures retried); 2 of them "
                       "then succeeded"),
            std::string::npos)
      << r.out;
  const std::string trace = dir.read("t.trace");
  EXPECT_NE(trace.find("-- CommitTrans\njet: \nsql: RELEASE ovt_trans\n=> error: "), std::string::npos) << trace;
  auto after = ovt::db::OpenSqlite(second)->OpenRecordset("select count(*) as N from Survey", 3, "")->GetRows();
  EXPECT_EQ(ovt::concatText(after.at(0, 0)), "2");
}

// The SQLite connection option: the file is in WAL journal mode (format bytes 18 and 19 are 2)
// and the tool's --wal copies as without it.
TEST(WalJournal, TheOptionSwitchesTheFileAndTheToolCopiesThroughIt) {
  ovt::test::TempDir dir;
  auto fileFormat = [&](const std::string& name) {
    std::ifstream in(dir.file(name), std::ios::binary);
    char header[20] = {};
    in.read(header, sizeof header);
    return std::to_string(header[18]) + std::to_string(header[19]);
  };
  {
    ovt::db::SqliteOptions o;
    o.walJournal = true;
    auto db = ovt::db::OpenSqlite(dir.file("w.db"), o);
    ASSERT_TRUE(db->Execute("create table T (ID long)"));
  }
  EXPECT_EQ(fileFormat("w.db"), "22");
  {
    auto db = ovt::db::OpenSqlite(dir.file("plain.db"));
    ASSERT_TRUE(db->Execute("create table T (ID long)"));
    ASSERT_TRUE(db->Execute("insert into T values (1)"));
  }
  EXPECT_EQ(fileFormat("plain.db"), "11");
  ToolRun r = runTool(dir.path(), "delete plain.db T --plain --keys ID --value 1 --wal --format csv");
  EXPECT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "ID,result\n1,deleted (1 row)\n");
  EXPECT_EQ(fileFormat("plain.db"), "22");
}

}  // namespace
