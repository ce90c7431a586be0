// copy, copy-child, delete and backup: the reconciliation members with their records from the
// command line or a diff result, a progress line, and --dry-run inside a rolled-back transaction.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <unistd.h>

#include "durability.h"
#include "input_check.h"
#include "members.h"
#include "record_runs.h"
#include "ovtbldiff/runtime/text.h"

namespace ovt::tool {
namespace {

using com::byRef;
using com::byVal;

// Records go to a member in batches, so that the progress line moves during long work.
constexpr size_t kBatch = 25;
// Calls more for a record whose failure may pass when tried again (busy, serialization).
constexpr int kRetries = 4;

Variant conn(const db::DatabaseRef& c) { return Variant(ObjectRef(c)); }

// The run of one reconciling subcommand: a session whose connection traces, for the rows each
// statement changed and the engine's reasons, into memory; into a scratch file when the
// statements are shown (--dry-run) or kept (--trace), which need the text as run too.
struct Run {
  Globals& g;
  bool dry;
  std::string traceFile;               // "" when the trace is kept in memory
  std::unique_ptr<TraceMemory> memory;  // null when it goes to traceFile
  std::unique_ptr<Session> session;

  Run(Globals& globals, bool dryRun, bool wal = false) : g(globals), dry(dryRun) {
    SessionOptions o = g.session;
    o.wal = wal && !dry;  // a dry run changes nothing in the files, their journal mode included
    if (!dry && g.session.traceFile.empty()) {
      memory = std::make_unique<TraceMemory>();
      o.traceListener = memory->listener();
    } else {
      traceFile = (std::filesystem::temp_directory_path() / ("ovtbldiff-run-" + std::to_string(getpid()) + ".trace")).string();
      std::filesystem::remove(traceFile);
      o.traceFile = traceFile;
    }
    session = std::make_unique<Session>(o);
  }
  ~Run() {
    if (traceFile.empty()) return;
    // A --trace file given as well receives what the run traced.
    std::error_code ec;
    if (!g.session.traceFile.empty()) {
      std::ifstream in(traceFile);
      std::ofstream out(g.session.traceFile, std::ios::app);
      out << in.rdbuf();
    }
    std::filesystem::remove(traceFile, ec);
  }

  // Runs `work` on `c`: directly, or rolled back with the statements printed.
  void operator()(const db::DatabaseRef& c, const std::function<void()>& work) {
    if (dry) dryRun(c, traceFile, std::cout, work);
    else work();
  }
};

// The key description rows the reconciling members take: column name and type code as text.
StringArray keyRows(const db::DatabaseRef& c, const std::string& table, const std::vector<std::string>& keys) {
  StringArray a;
  a.redim(0, static_cast<int32_t>(keys.size()) - 1, 0, 1);
  for (size_t k = 0; k < keys.size(); ++k) {
    a.at(static_cast<int32_t>(k), 0) = keys[k];
    a.at(static_cast<int32_t>(k), 1) = std::to_string(columnType(c, table, keys[k]));
  }
  return a;
}

VariantArray valueRows(const std::vector<std::vector<Variant>>& rows, size_t from, size_t n) {
  VariantArray a;
  const int32_t cols = rows.empty() ? 0 : static_cast<int32_t>(rows[0].size());
  a.redim(0, static_cast<int32_t>(n) - 1, 0, cols - 1);
  for (size_t i = 0; i < n; ++i)
    for (int32_t k = 0; k < cols; ++k) a.at(static_cast<int32_t>(i), k) = rows[from + i][static_cast<size_t>(k)];
  return a;
}

StringArray blanks(size_t n) { return StringArray::of(std::vector<std::string>(n, "")); }

// Calls a member once per batch of records; `call(from, n, errors)` makes one call. Failed
// records run again alone (transient failures a few times); one result per record, in order.
// The batches run in the commit groups of `groups`.
std::vector<RecordResult> inBatches(Run& run, const std::string& what, const std::vector<std::vector<Variant>>& records,
                                    CommitGroups& groups, const std::function<void(size_t, size_t, Variant&)>& call,
                                    size_t batch = kBatch) {
  Progress progress(what, records.size());
  TraceTail tail = run.memory ? TraceTail(*run.memory) : TraceTail(run.traceFile);
  return runRecords(
      records.size(), batch, tail, kRetries, groups,
      [&](size_t from, size_t n, std::vector<std::string>& messages) {
        Variant errors(blanks(n));
        call(from, n, errors);
        const StringArray& e = errors.stringArray();
        for (int32_t i = 0; i < static_cast<int32_t>(n); ++i) messages[static_cast<size_t>(i)] = e.at(i);
      },
      [&](size_t done) { progress.update(done); });
}

// One row per record: its key values and what became of it (`describe` gives the text of a
// record, "" for one that failed with the member's message).
int outcome(Globals& g, bool dry, const std::string& title, const std::vector<std::string>& columns,
            const std::vector<std::vector<Variant>>& records, const std::vector<RecordResult>& results,
            const std::string& done, std::vector<std::string> notes,
            const std::function<std::string(const RecordResult&)>& describe = {}) {
  Report r;
  r.columns = columns;
  r.columns.push_back("result");
  const std::string doneText = dry ? "would be " + done : done;
  size_t failed = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    std::vector<Json> row;
    for (const Variant& v : records[i]) row.push_back(toJson(v));
    std::string text = describe ? describe(results[i]) : "";
    if (text.empty()) text = results[i].message.empty() ? doneText : withReason(results[i]);
    const bool ok = text.rfind(doneText, 0) == 0;
    failed += ok ? 0 : 1;
    row.push_back(Json(text));
    r.rows.push_back(std::move(row));
  }
  r.title = title + (dry ? " (dry run, rolled back)" : "") + ": " + std::to_string(records.size() - failed) + " of " +
            std::to_string(records.size()) + " records " + doneText + (failed ? ", " + std::to_string(failed) + " failed" : "");
  if (std::string retried = retryNote(results); !retried.empty()) notes.push_back(retried);
  r.notes = std::move(notes);
  render(std::cout, r, g.format);
  return failed ? kExitDifferences : kExitOk;
}

// The text of a record that deletion handled: the rows each statement changed ("deleted
// (1 row)", "marked deleted (1 row; grid Member: 2 rows)"), or "no record matched" when its
// key found nothing; "" for a record that failed otherwise.
std::string deletion(const RecordResult& rec, const std::string& done) {
  std::string parts;
  int64_t total = 0;
  bool lookupFoundNone = false;
  for (const TraceEntry& e : rec.entries) {
    if (e.operation == "OpenRecordset" && e.outcome == "0 rows") lookupFoundNone = true;
    const int64_t n = rowsChanged(e);
    if (n < 0) continue;
    total += n;
    std::string part = std::to_string(n) + (n == 1 ? " row" : " rows");
    // A grid's records are marked by "update TABLE set recstatus = 0 where FKey = ...".
    if (e.operation == "Execute" && startsWithText(e.jet, "update ")) {
      std::string table = e.jet.substr(7, e.jet.find(' ', 7) - 7);
      if (table.size() > 2 && table.front() == '[' && table.back() == ']') table = table.substr(1, table.size() - 2);
      part = "grid " + table + ": " + part;
    }
    parts += (parts.empty() ? "" : "; ") + part;
  }
  if (rec.message.empty()) return total == 0 ? "no record matched" : done + " (" + parts + ")";
  if (rec.reason.empty() && lookupFoundNone && total == 0) return "no record matched";
  return "";
}

void addCopy(CLI::App& app, Globals& g, std::function<int()>& run) {
  struct A {
    std::string db, source, dest, keys, fields, grids = "auto";
    bool dry = false;
    Mode mode;
    KeySource records;
    Durability durability;
  };
  auto a = std::make_shared<A>();
  CLI::App* cmd = app.add_subcommand(
      "copy",
      "Copy records named by their key values from SOURCE to DEST: a form record is updated or inserted with its "
      "grid records, an ordinary record deleted and inserted again. Exit 0 when every record was copied, 1 when "
      "one failed.");
  addCommonOptions(cmd, g);
  addDatabaseArgument(cmd, a->db);
  cmd->add_option("source", a->source, "Table the records are copied from")->required();
  cmd->add_option("dest", a->dest, "Table the records are copied to")->required();
  addKeysOption(cmd, a->keys);
  cmd->add_option("--fields", a->fields,
                  "Columns to copy besides the keys (default: the fields both tables share, without the system's own)");
  cmd->add_option("--grids", a->grids,
                  "Grids to copy with a form record: auto (the comparable grids of both forms), none, or "
                  "GRIDVIEW:TABLE pairs separated by commas");
  addDryRunOption(cmd, a->dry);
  a->mode.addOptions(cmd);
  a->records.addOptions(cmd);
  a->durability.addOptions(cmd);
  cmd->callback([a, &g, &run] {
    run = [a, &g]() -> int {
      Run r(g, a->dry, a->durability.wal);
      Session& s = *r.session;
      db::DatabaseRef c = s.open(a->db);
      const std::vector<std::string> keys = splitList(a->keys);
      const std::vector<int32_t> types = checkedColumns(c, a->source, keys, "source");
      checkedColumns(c, a->dest, keys, "destination");
      std::vector<std::string> fields;
      if (!a->fields.empty()) {
        fields = splitList(a->fields);
        checkedColumns(c, a->source, fields, "source");
        checkedColumns(c, a->dest, fields, "destination");
      }
      auto records = a->records.read(keys);
      checkRecords(records, keys, types, std::vector<std::string>(keys.size(), a->source), a->records.origin());
      checkKeyIndexes(c, {{a->source, keys}, {a->dest, keys}}, records.size(), a->durability.index && !a->dry);
      const bool oru = a->mode.resolve(c, a->source, a->dest);
      Variant matchFld(keyRows(c, a->source, keys));
      if (a->fields.empty()) {
        Variant t1(ObjectRef(Session::table(c, a->source))), t2(ObjectRef(Session::table(c, a->dest)));
        Variant common(StringArray{}), select(int32_t{2});
        callMember(s, "CompareTablesStructure", {byRef(t1), byRef(t2), byRef(common), byRef(select)});
        for (const std::string& f : fromList(common.stringArray())) {
          bool isKey = false;
          for (const std::string& k : keys) isKey = isKey || textEqual(k, f);
          if (!isKey) fields.push_back(f);
        }
      }
      Variant grids;
      if (!oru || a->grids == "none") {
        grids = Variant(StringArray::of2({{"", ""}}));
      } else if (a->grids == "auto") {
        db::DatabaseRef other = s.open(a->db);
        c->SetViewName(viewOf(a->source));
        other->SetViewName(viewOf(a->dest));
        s.setDB(c);
        Variant list(StringArray{}), ext = conn(other);
        callMember(s, "GetOruComparableGridTblList", {byRef(list), byRef(ext)});
        grids = list;
      } else {
        std::vector<std::vector<std::string>> rows;
        for (const std::string& pair : splitList(a->grids)) {
          size_t colon = pair.find(':');
          if (colon == std::string::npos) throw UsageError("--grids wants GRIDVIEW:TABLE pairs, not \"" + pair + "\"");
          rows.push_back({pair.substr(0, colon), pair.substr(colon + 1)});
        }
        grids = Variant(StringArray::of2(rows));
      }
      std::vector<std::string> gridNotes;
      const StringArray& gl = grids.stringArray();
      for (int32_t i = 0; i <= gl.ubound(1); ++i)
        if (!gl.at(i, 0).empty()) gridNotes.push_back(gl.at(i, 0) + " (" + gl.at(i, 1) + ")");
      std::vector<RecordResult> results;
      r(c, [&] {
        CommitGroups groups(c, a->dry ? 1 : a->durability.groupFor(c));
        results = inBatches(r, "copy", records, groups, [&](size_t from, size_t n, Variant& errors) {
          Variant values(valueRows(records, from, n)), common(stringList(fields)), oruType(oru), oDB = conn(c);
          callMember(s, "CopyRec", {byVal(Variant(a->source)), byVal(Variant(a->dest)), byRef(matchFld), byRef(values),
                                    byRef(common), byRef(oruType), byRef(grids), byRef(errors), byRef(oDB)});
        });
      });
      return outcome(g, a->dry, "Copy from " + a->source + " to " + a->dest, keys, records, results, "copied",
                     {"Copied fields: " + (fields.empty() ? std::string("(keys only)") : joinList(fields)),
                      "Grids: " + (gridNotes.empty() ? std::string("(none)") : joinList(gridNotes))});
    };
  });
}

void addCopyChild(CLI::App& app, Globals& g, std::function<int()>& run) {
  struct A {
    std::string db, srcParent, destParent, srcChild, destChild, childView, parentKeys, childKey;
    bool dry = false;
    KeySource records;
    Durability durability;
  };
  auto a = std::make_shared<A>();
  CLI::App* cmd = app.add_subcommand(
      "copy-child",
      "Copy single grid records from SRC_CHILD to DEST_CHILD, each under the destination parent that matches its "
      "source parent. A record: the parent key values, the grid key value and the FKey of the source parent "
      "(the columns of a grid-diff result). Exit 0 when every record was copied, 1 when one failed.");
  addCommonOptions(cmd, g);
  addDatabaseArgument(cmd, a->db);
  cmd->add_option("src_parent", a->srcParent, "Source parent table")->required();
  cmd->add_option("dest_parent", a->destParent, "Destination parent table")->required();
  cmd->add_option("src_child", a->srcChild, "Source grid table")->required();
  cmd->add_option("dest_child", a->destChild, "Destination grid table")->required();
  cmd->add_option("--child-view", a->childView, "The grid's view, whose variables are the columns copied")->required();
  addGridKeyOptions(cmd, a->parentKeys, a->childKey);
  addDryRunOption(cmd, a->dry);
  a->records.addOptions(cmd);
  a->durability.addOptions(cmd);
  cmd->callback([a, &g, &run] {
    run = [a, &g]() -> int {
      Run r(g, a->dry, a->durability.wal);
      Session& s = *r.session;
      db::DatabaseRef c = s.open(a->db);
      s.setDB(c);
      const std::vector<std::string> pkeys = splitList(a->parentKeys);
      std::vector<std::string> columns = pkeys;
      columns.push_back(a->childKey);
      columns.push_back("FKey");
      std::vector<int32_t> types = checkedColumns(c, a->srcParent, pkeys, "source");
      checkedColumns(c, a->destParent, pkeys, "destination");
      for (int32_t t : checkedColumns(c, a->srcChild, {a->childKey, "FKey"}, "source")) types.push_back(t);
      checkedColumns(c, a->destChild, {a->childKey, "FKey"}, "destination");
      std::vector<std::string> tables(pkeys.size(), a->srcParent);
      tables.insert(tables.end(), 2, a->srcChild);
      auto records = a->records.read(columns);
      checkRecords(records, columns, types, tables, a->records.origin());
      checkKeyIndexes(c, {{a->srcParent, pkeys}, {a->destParent, pkeys}}, records.size(),
                      a->durability.index && !a->dry);
      Variant parentKeys(keyRows(c, a->srcParent, pkeys));
      Variant childKeys(keyRows(c, a->srcChild, {a->childKey, "FKey"}));
      Variant view(a->childView);
      std::vector<RecordResult> results;
      r(c, [&] {
        CommitGroups groups(c, a->dry ? 1 : a->durability.groupFor(c));
        results = inBatches(r, "copy-child", records, groups, [&](size_t from, size_t n, Variant& errors) {
          VariantArray pv;
          StringArray cv;
          pv.redim(0, static_cast<int32_t>(n) - 1, 0, static_cast<int32_t>(pkeys.size()) - 1);
          cv.redim(0, static_cast<int32_t>(n) - 1, 0, 1);
          for (size_t i = 0; i < n; ++i) {
            const auto& rec = records[from + i];
            for (size_t k = 0; k < pkeys.size(); ++k) pv.at(static_cast<int32_t>(i), static_cast<int32_t>(k)) = rec[k];
            cv.at(static_cast<int32_t>(i), 0) = concatText(rec[pkeys.size()]);
            cv.at(static_cast<int32_t>(i), 1) = concatText(rec[pkeys.size() + 1]);
          }
          Variant pvals(std::move(pv)), cvals(std::move(cv));
          callMember(s, "CopyChild", {byVal(Variant(a->srcParent)), byVal(Variant(a->destParent)),
                                      byVal(Variant(a->srcChild)), byVal(Variant(a->destChild)), byRef(view),
                                      byRef(parentKeys), byRef(pvals), byRef(childKeys), byRef(cvals), byRef(errors)});
        });
      });
      return outcome(g, a->dry, "Grid copy from " + a->srcChild + " to " + a->destChild, columns, records, results,
                     "copied", {});
    };
  });
}

void addDelete(CLI::App& app, Globals& g, std::function<int()>& run) {
  struct A {
    std::string db, table, keys;
    bool dry = false;
    Mode mode;
    KeySource records;
    Durability durability;
  };
  auto a = std::make_shared<A>();
  CLI::App* cmd = app.add_subcommand(
      "delete",
      "Delete records named by their key values: a form record is marked deleted with its grid records, an "
      "ordinary record (--plain) removed. Exit 0 when every record was deleted, 1 when one failed.");
  addCommonOptions(cmd, g);
  addDatabaseArgument(cmd, a->db);
  cmd->add_option("table", a->table, "Table")->required();
  addKeysOption(cmd, a->keys);
  addDryRunOption(cmd, a->dry);
  a->mode.addOptions(cmd);
  a->records.addOptions(cmd);
  a->durability.addOptions(cmd);
  cmd->callback([a, &g, &run] {
    run = [a, &g]() -> int {
      Run r(g, a->dry, a->durability.wal);
      Session& s = *r.session;
      db::DatabaseRef c = s.open(a->db);
      s.setDB(c);
      const std::vector<std::string> keys = splitList(a->keys);
      const std::vector<int32_t> types = checkedColumns(c, a->table, keys);
      auto records = a->records.read(keys);
      checkRecords(records, keys, types, std::vector<std::string>(keys.size(), a->table), a->records.origin());
      const bool oru = a->mode.resolve(c, a->table, a->table);
      checkKeyIndexes(c, {{a->table, keys}}, records.size(), a->durability.index && !a->dry);
      Variant matchFld(keyRows(c, a->table, keys));
      std::vector<RecordResult> results;
      r(c, [&] {
        CommitGroups groups(c, a->dry ? 1 : a->durability.groupFor(c));
        // One record per call, so that the rows its statements changed are its own.
        results = inBatches(r, "delete", records, groups, [&](size_t from, size_t n, Variant& errors) {
          Variant values(valueRows(records, from, n)), oruType(oru), ext = conn(c);
          callMember(s, "DeleteRec", {byVal(Variant(a->table)), byRef(matchFld), byRef(values), byRef(oruType),
                                      byRef(errors), byRef(ext)});
        }, 1);
      });
      const std::string done = oru ? "marked deleted" : "deleted";
      return outcome(g, a->dry, "Delete from " + a->table, keys, records, results, done, {},
                     [&](const RecordResult& rec) { return deletion(rec, a->dry ? "would be " + done : done); });
    };
  });
}

// True when `backup` is named as a backup of `table` is (TABLE_bk...) and has its columns:
// the same names and types in the same order.
bool isBackupOf(const db::DatabaseRef& c, const std::string& backup, const std::string& table) {
  if (!startsWithText(backup, table + "_bk")) return false;
  const auto a = deref(checkedTable(c, backup)->Fields()).Items();
  const auto b = deref(checkedTable(c, table)->Fields()).Items();
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (!textEqual(a[i]->Name(), b[i]->Name()) || a[i]->DataType() != b[i]->DataType()) return false;
  return true;
}

void addBackup(CLI::App& app, Globals& g, std::function<int()>& run) {
  struct A {
    std::string db, table, to;
    bool dry = false, replace = false;
  };
  auto a = std::make_shared<A>();
  CLI::App* cmd = app.add_subcommand(
      "backup",
      "Copy a whole table into a backup table (default TABLE_bk), replacing an earlier backup (a table named "
      "TABLE_bk... with the same columns); any other existing table only with --replace.");
  addCommonOptions(cmd, g);
  addDatabaseArgument(cmd, a->db);
  cmd->add_option("table", a->table, "Table to back up")->required();
  cmd->add_option("--to", a->to, "Name of the backup table (default: the table's name followed by _bk)");
  cmd->add_flag("--replace", a->replace, "Replace the table named by --to even when it is no backup of TABLE");
  addDryRunOption(cmd, a->dry);
  cmd->callback([a, &g, &run] {
    run = [a, &g]() -> int {
      if (!a->to.empty() && textEqual(a->to, a->table))
        throw UsageError("the backup table must have another name than " + a->table);
      Run r(g, a->dry);
      Session& s = *r.session;
      db::DatabaseRef c = s.open(a->db);
      // The member drops the backup table before it copies: nothing may be dropped unless the
      // copy can run and the table dropped is an earlier backup (or --replace says so).
      if (!c->TableExists(a->table)) throw UsageError("no table " + a->table + " in " + c->Location());
      const std::string to = a->to.empty() ? a->table + "_bk" : a->to;
      if (!a->replace && c->TableExists(to) && !isBackupOf(c, to, a->table))
        throw UsageError("table " + to + " exists and is no backup of " + a->table + " (named " + a->table +
                         "_bk... with the same columns); give --replace to replace it");
      r(c, [&] {
        Variant ext = conn(c);
        std::vector<com::DispArg> args{byVal(Variant(a->table))};
        args.push_back(a->to.empty() ? com::omitted() : byVal(Variant(a->to)));
        args.push_back(byRef(ext));
        callMember(s, "BackupTable", std::move(args));
      });
      Report rep;
      rep.title = "Backup of " + a->table + (a->dry ? " to " : " written to ") + (a->to.empty() ? a->table + "_bk" : a->to) +
                  (a->dry ? " (dry run, rolled back)" : "");
      render(std::cout, rep, g.format);
      return kExitOk;
    };
  });
}

}  // namespace

void addReconcileCommands(CLI::App& app, Globals& g, std::function<int()>& run) {
  addCopy(app, g, run);
  addCopyChild(app, g, run);
  addDelete(app, g, run);
  addBackup(app, g, run);
}

}  // namespace ovt::tool
