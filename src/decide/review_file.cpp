// The review file: a SQLite file of its own beside the entries, written through the database
// component as each decision is made, so that a closed browser or a crash loses nothing.
#include <filesystem>

#include "decide/internal.h"
#include "ovtbldiff/decide.h"
#include "ovtbldiff/dbcomp/sqlite.h"
#include "ovtbldiff/runtime/text.h"

namespace ovt::decide {

using detail::quotedText;
using detail::rowsOf;
using detail::run;

namespace {

const char* kTables[][2] = {
    {"review_settings", "create table review_settings (name text(100), setting memo)"},
    {"decisions",
     "create table decisions (seq long, tbl text(255), record memo, field text(255), choice text(10), typed memo, "
     "value1 memo, value2 memo, decided_at text(30), reviewer text(255))"},
    {"applied", "create table applied (tbl text(255), record memo, field text(255), target memo, applied_at text(30))"},
};

std::string checked(const std::string& s, const std::string& what) {
  // Every text stored goes through the same check as a typed text value.
  typedLiteral(s, db::adLongVarWChar, what);
  return quotedText(s);
}

std::string where(const Decision& d) {
  return "tbl = " + checked(d.table, "the table") + " and record = " + checked(d.record, "the record") +
         " and field = " + checked(d.field, "the field");
}

}  // namespace

struct ReviewFile::Impl {
  db::DatabaseRef conn;
};

ReviewFile::ReviewFile(const std::string& path) : impl_(std::make_unique<Impl>()) {
  impl_->conn = db::OpenSqlite(path);
  for (const auto& t : kTables)
    if (!impl_->conn->TableExists(t[0])) run(impl_->conn, t[1]);
}

ReviewFile::~ReviewFile() = default;

std::string ReviewFile::setting(const std::string& name) {
  auto rows = rowsOf(impl_->conn, "select setting from review_settings where name = " + checked(name, "a setting"));
  return rows.empty() ? std::string() : valueText(rows[0][0]);
}

void ReviewFile::setSetting(const std::string& name, const std::string& value) {
  db::cDatabase& c = *impl_->conn;
  c.BeginTrans();
  try {
    run(impl_->conn, "delete from review_settings where name = " + checked(name, "a setting"));
    run(impl_->conn, "insert into review_settings (name, setting) values (" + checked(name, "a setting") + ", " +
                         checked(value, "setting " + name) + ")");
  } catch (...) {
    c.RollbackTrans();
    throw;
  }
  c.CommitTrans();
}

void ReviewFile::save(const Decision& d) {
  db::cDatabase& c = *impl_->conn;
  const std::string cond = where(d);
  c.BeginTrans();
  try {
    auto old = rowsOf(impl_->conn, "select seq from decisions where " + cond);
    std::string seq;
    if (!old.empty()) {
      seq = valueText(old[0][0]);
    } else {
      auto max = rowsOf(impl_->conn, "select max(seq) from decisions");
      seq = std::to_string((max.empty() || max[0][0].isNull() ? 0 : toLong(max[0][0])) + 1);
    }
    run(impl_->conn, "delete from decisions where " + cond);
    if (d.choice != Choice::Undecided)
      run(impl_->conn,
          "insert into decisions (seq, tbl, record, field, choice, typed, value1, value2, decided_at, reviewer) "
          "values (" + seq + ", " + checked(d.table, "the table") + ", " + checked(d.record, "the record") + ", " +
              checked(d.field, "the field") + ", " + quotedText(choiceName(d.choice)) + ", " +
              checked(d.typed, "the typed value") + ", " + checked(d.entry1, "entry 1's value") + ", " +
              checked(d.entry2, "entry 2's value") + ", " + quotedText(d.decidedAt.empty() ? nowText() : d.decidedAt) +
              ", " + checked(d.reviewer, "the reviewer") + ")");
  } catch (...) {
    c.RollbackTrans();
    throw;
  }
  c.CommitTrans();
}

std::vector<Decision> ReviewFile::decisions() {
  std::vector<Decision> out;
  for (const auto& r : rowsOf(impl_->conn,
                              "select tbl, record, field, choice, typed, value1, value2, decided_at, reviewer "
                              "from decisions order by seq")) {
    Decision d;
    d.table = valueText(r[0]);
    d.record = valueText(r[1]);
    d.field = valueText(r[2]);
    d.choice = choiceFromName(valueText(r[3]));
    d.typed = valueText(r[4]);
    d.entry1 = valueText(r[5]);
    d.entry2 = valueText(r[6]);
    d.decidedAt = valueText(r[7]);
    d.reviewer = valueText(r[8]);
    out.push_back(std::move(d));
  }
  return out;
}

void ReviewFile::markApplied(const Decision& d, const std::string& target, const std::string& when) {
  const std::string cond = where(d) + " and target = " + checked(target, "the target");
  db::cDatabase& c = *impl_->conn;
  c.BeginTrans();
  try {
    run(impl_->conn, "delete from applied where " + cond);
    run(impl_->conn, "insert into applied (tbl, record, field, target, applied_at) values (" +
                         checked(d.table, "the table") + ", " + checked(d.record, "the record") + ", " +
                         checked(d.field, "the field") + ", " + checked(target, "the target") + ", " +
                         quotedText(when) + ")");
  } catch (...) {
    c.RollbackTrans();
    throw;
  }
  c.CommitTrans();
}

std::string ReviewFile::appliedAt(const Decision& d, const std::string& target) {
  auto rows = rowsOf(impl_->conn, "select applied_at from applied where " + where(d) + " and target = " +
                                      checked(target, "the target"));
  return rows.empty() ? std::string() : valueText(rows[0][0]);
}

}  // namespace ovt::decide
