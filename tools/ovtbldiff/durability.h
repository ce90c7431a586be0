// How the reconciling subcommands reach the disk. Grouped durability: the records run inside an outer
// transaction that commits every N records (and at the end), each record staying the nested
// transaction its member opens, so that a record is wholly there or wholly absent whatever
// happens, while the disk is synced once per group instead of once per record. And the check
// for indexes on the match keys, without which every record scans whole tables.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "ovtbldiff/dbcomp/database.h"
#include "record_runs.h"

namespace CLI {
class App;
}

namespace ovt::tool {

// Records per commit when --commit-every is not given, by engine (chosen by measurement, see the
// README): a SQLite commit costs four disk syncs and a journal file, a PostgreSQL commit one flush
// of the server's log, and there a smaller group keeps the records of a refused commit few.
inline constexpr size_t kDefaultCommitEverySqlite = 1000;
inline constexpr size_t kDefaultCommitEveryPostgres = 100;

// How a record whose group's commit failed begins its message (the engine's reason follows).
inline constexpr const char* kNotCommitted = "not committed: ";

// The options of a reconciling subcommand about how its work reaches the disk.
struct Durability {
  size_t commitEvery = 0;  // 0: not given, the engine's default
  bool wal = false;        // switch a SQLite file to WAL journal mode
  bool index = false;      // create the missing match-key indexes
  void addOptions(CLI::App* cmd);
  // Records per group on `conn`: --commit-every, or the default of its engine.
  size_t groupFor(const db::DatabaseRef& conn) const;
};

// The outer transaction of a run of records on `conn`. With `every` 1 (or a dry run, whose own
// transaction holds everything) there is none, and each record commits on its own.
class CommitGroups {
 public:
  CommitGroups(db::DatabaseRef conn, size_t every);
  ~CommitGroups();
  CommitGroups(const CommitGroups&) = delete;
  CommitGroups& operator=(const CommitGroups&) = delete;

  // Before a member call for the records from index `from` on: opens the group's transaction
  // when none is open and answers how many of the `wanted` next records may go to the call
  // without crossing the end of the group.
  size_t next(size_t from, size_t wanted);
  // After the calls for the records up to index `end` (exclusive): commits when the group is
  // full. When a commit fails, the group's records that had succeeded get the failure as
  // theirs, message (kNotCommitted) and reason (they are not there).
  void done(size_t end, std::vector<RecordResult>& results);
  // Commits the last group; `results` as for done.
  void finish(std::vector<RecordResult>& results);
  // Commits the open group now, its records being those up to index `end` (exclusive), so that
  // the locks it holds do not keep another writer (and so a record tried again) waiting.
  void flush(size_t end, std::vector<RecordResult>& results);
  // True while a group's transaction is open.
  bool open() const { return open_; }

 private:
  void commit(size_t end, std::vector<RecordResult>& results);

  db::DatabaseRef conn_;
  size_t every_;
  bool open_ = false;
  size_t inGroup_ = 0;
  size_t groupStart_ = 0;  // index of the group's first record
};

// A table a reconciling run looks records up in, by its match key columns.
struct KeyedTable {
  std::string table;
  std::vector<std::string> keys;
};

// Before work on `records` records: says on standard error which tables have no index on their
// match keys and what that costs; with `create` makes the index (and says so). Nothing for a
// few records.
void checkKeyIndexes(const db::DatabaseRef& conn, const std::vector<KeyedTable>& tables, size_t records, bool create);

}  // namespace ovt::tool
