#include "durability.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <iostream>

#include "ovtbldiff/dbcomp/postgres.h"
#include "ovtbldiff/dbcomp/sqlite.h"
#include "ovtbldiff/runtime/error.h"
#include "ovtbldiff/runtime/text.h"

namespace ovt::tool {

void Durability::addOptions(CLI::App* cmd) {
  cmd->add_option("--commit-every", commitEvery,
                  "Commit every N records (default " + std::to_string(kDefaultCommitEverySqlite) + " on SQLite, " +
                      std::to_string(kDefaultCommitEveryPostgres) +
                      " on PostgreSQL); each record stays all-or-nothing. 1 commits each record on its own: "
                      "slower, and a killed run loses nothing it had finished")
      ->check(CLI::PositiveNumber);
  cmd->add_flag("--wal", wal,
                "Switch a SQLite file (and its link file) to WAL journal mode before the work: fewer disk "
                "syncs per commit; the mode stays set in the files");
  cmd->add_flag("--index", index, "Create the missing indexes on the match keys of the tables (and say so)");
}

size_t Durability::groupFor(const db::DatabaseRef& conn) const {
  if (commitEvery > 0) return commitEvery;
  return db::IsPostgresLocation(conn->Location()) ? kDefaultCommitEveryPostgres : kDefaultCommitEverySqlite;
}

CommitGroups::CommitGroups(db::DatabaseRef conn, size_t every) : conn_(std::move(conn)), every_(every) {}

CommitGroups::~CommitGroups() {
  // Left open only by an exception: the finished records are atomic each, so they are kept,
  // as they were when every record committed on its own.
  if (!open_) return;
  try {
    conn_->CommitTrans();
  } catch (const ComError&) {
    try {
      conn_->RollbackTrans();
    } catch (const ComError&) {
    }
  }
}

size_t CommitGroups::next(size_t from, size_t wanted) {
  if (every_ <= 1) return wanted;
  if (!open_) {
    conn_->BeginTrans();
    open_ = true;
    groupStart_ = from;
  }
  return std::min(wanted, every_ - inGroup_);
}

void CommitGroups::done(size_t end, std::vector<RecordResult>& results) {
  if (!open_) return;
  inGroup_ = end - groupStart_;
  if (inGroup_ >= every_) commit(end, results);
}

void CommitGroups::finish(std::vector<RecordResult>& results) {
  if (open_) commit(groupStart_ + inGroup_, results);
}

void CommitGroups::flush(size_t end, std::vector<RecordResult>& results) {
  if (open_) commit(end, results);
}

void CommitGroups::commit(size_t end, std::vector<RecordResult>& results) {
  open_ = false;
  inGroup_ = 0;
  try {
    conn_->CommitTrans();
  } catch (const ComError& e) {
    try {
      conn_->RollbackTrans();  // still open where the engine refused the commit itself
    } catch (const ComError&) {
    }
    for (size_t i = groupStart_; i < end && i < results.size(); ++i)
      if (results[i].message.empty()) {
        results[i].message = kNotCommitted + e.description();
        results[i].reason = e.description();
      }
  }
  groupStart_ = end;
}

namespace {

// Below this many records, or in a table of fewer rows, the scans cost less than the question.
constexpr size_t kFewRecords = 20;
constexpr long kSmallTable = 1000;

std::optional<bool> keyIndexed(const db::DatabaseRef& conn, const KeyedTable& t) {
  if (auto on = db::SqliteKeyIndexed(conn, t.table, t.keys)) return on;
  return db::PostgresKeyIndexed(conn, t.table, t.keys);
}

// The table's rows; -1 when they cannot be counted.
long rowCount(const db::DatabaseRef& conn, const std::string& table) {
  try {
    VariantArray rows = conn->OpenRecordset("select count(*) as N from [" + table + "]", 3, "")->GetRows();
    if (rows.allocated()) return std::atol(concatText(rows.at(0, 0)).c_str());
  } catch (const ComError&) {
  }
  return -1;
}

// A name of our own for the index: its table (without the link prefix) and key columns.
std::string indexName(const KeyedTable& t) {
  std::string name = "ovt_key_" + t.table;
  if (name.size() > 16 && textEqual(name.substr(8, 8), "ORULINK_")) name = "ovt_key_" + t.table.substr(8);
  for (const std::string& k : t.keys) name += "_" + k;
  for (char& ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch)) && ch != '_') ch = '_';
  return name;
}

}  // namespace

void checkKeyIndexes(const db::DatabaseRef& conn, const std::vector<KeyedTable>& tables, size_t records, bool create) {
  if (records <= kFewRecords && !create) return;
  std::vector<std::string> seen;
  for (const KeyedTable& t : tables) {
    bool again = false;
    for (const std::string& s : seen) again = again || textEqual(s, t.table);
    if (again) continue;
    seen.push_back(t.table);
    if (keyIndexed(conn, t).value_or(true)) continue;
    std::string columns;
    for (const std::string& k : t.keys) columns += (columns.empty() ? "" : ", ") + k;
    if (!create) {
      const long rows = rowCount(conn, t.table);
      if (rows >= 0 && rows < kSmallTable) continue;
      std::cerr << "note: " << t.table << " has no index on its match keys (" << columns << "): each of the " << records
                << " records scans its " << (rows < 0 ? std::string("whole table") : std::to_string(rows) + " rows")
                << "; --index creates one\n";
      continue;
    }
    std::string sql = "create index [" + indexName(t) + "] on [" + t.table + "] (";
    for (size_t i = 0; i < t.keys.size(); ++i) sql += (i ? ", [" : "[") + t.keys[i] + "]";
    sql += ")";
    if (conn->Execute(sql))
      std::cerr << "created index " << indexName(t) << " on " << t.table << " (" << columns << ")\n";
    else
      std::cerr << "warning: the index on " << t.table << " (" << columns << ") could not be created: " << conn->LastFailure()
                << "\n";
  }
}

}  // namespace ovt::tool
