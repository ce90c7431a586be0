// copy, copy-child, delete and backup: the reconciliation members with their records from the
// command line or a diff result, a progress line, and --dry-run inside a rolled-back transaction.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <unistd.h>

#include "durability.h"
#include "members.h"
#include "ovtbldiff/runtime/text.h"

namespace ovt::tool {
namespace {

using com::byRef;
using com::byVal;

// Records go to a member in batches, so that the progress line moves during long work.
constexpr size_t kBatch = 25;

Variant conn(const db::DatabaseRef& c) { return Variant(ObjectRef(c)); }

// The run of one reconciling subcommand: a session whose connection traces into a scratch file
// when --dry-run asks for the statements.
struct Run {
  Globals& g;
  bool dry;
  std::string traceFile;
  std::unique_ptr<Session> session;

  Run(Globals& globals, bool dryRun, bool wal = false) : g(globals), dry(dryRun) {
    SessionOptions o = g.session;
    o.wal = wal && !dry;  // a dry run changes nothing in the files, their journal mode included
    if (dry) {
      traceFile = (std::filesystem::temp_directory_path() / ("ovtbldiff-dry-run-" + std::to_string(getpid()) + ".trace")).string();
      std::filesystem::remove(traceFile);
      o.traceFile = traceFile;
    }
    session = std::make_unique<Session>(o);
  }
  ~Run() {
    if (!dry) return;
    // A --trace file given as well receives what the dry run traced.
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

// Calls `member` once per batch of records; `call(values, errors, from, n)` makes one call and
// answers its Boolean result. The per-record messages come back in record order. The batches
// run in the commit groups of `groups`.
std::vector<std::string> inBatches(const std::string& what, const std::vector<std::vector<Variant>>& records,
                                   CommitGroups& groups, const std::function<bool(size_t, size_t, Variant&)>& call) {
  std::vector<std::string> messages;
  Progress progress(what, records.size());
  for (size_t from = 0; from < records.size();) {
    const size_t n = groups.next(std::min(kBatch, records.size() - from), messages);
    Variant errors(blanks(n));
    call(from, n, errors);
    const StringArray& e = errors.stringArray();
    for (int32_t i = 0; i < static_cast<int32_t>(n); ++i) messages.push_back(e.at(i));
    groups.done(n, messages);
    from += n;
    progress.update(from);
  }
  groups.finish(messages);
  return messages;
}

// One row per record: its key values and what became of it.
int outcome(Globals& g, const std::string& title, const std::vector<std::string>& columns,
            const std::vector<std::vector<Variant>>& records, const std::vector<std::string>& messages,
            const std::string& done, const std::vector<std::string>& notes) {
  Report r;
  r.columns = columns;
  r.columns.push_back("result");
  size_t failed = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    std::vector<Json> row;
    for (const Variant& v : records[i]) row.push_back(toJson(v));
    const bool ok = messages[i].empty();
    failed += ok ? 0 : 1;
    row.push_back(Json(ok ? done : messages[i]));
    r.rows.push_back(std::move(row));
  }
  r.title = title + ": " + std::to_string(records.size() - failed) + " of " + std::to_string(records.size()) +
            " records " + done + (failed ? ", " + std::to_string(failed) + " failed" : "");
  r.notes = notes;
  render(std::cout, r, g.format);
  return failed ? kExitDifferences : kExitOk;
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
  cmd->add_option("--keys", a->keys, "Match key columns, separated by commas")->required();
  cmd->add_option("--fields", a->fields,
                  "Columns to copy besides the keys (default: the fields both tables share, without the system's own)");
  cmd->add_option("--grids", a->grids,
                  "Grids to copy with a form record: auto (the comparable grids of both forms), none, or "
                  "GRIDVIEW:TABLE pairs separated by commas");
  cmd->add_flag("--dry-run", a->dry, "Print the statements inside a transaction that is rolled back");
  a->mode.addOptions(cmd);
  a->records.addOptions(cmd);
  a->durability.addOptions(cmd);
  cmd->callback([a, &g, &run] {
    run = [a, &g]() -> int {
      Run r(g, a->dry, a->durability.wal);
      Session& s = *r.session;
      db::DatabaseRef c = s.open(a->db);
      const std::vector<std::string> keys = splitList(a->keys);
      const bool oru = a->mode.resolve(c, a->source, a->dest);
      const auto records = a->records.read(keys);
      checkKeyIndexes(c, {{a->source, keys}, {a->dest, keys}}, records.size(), a->durability.index && !a->dry);
      Variant matchFld(keyRows(c, a->source, keys));
      std::vector<std::string> fields;
      if (!a->fields.empty()) {
        fields = splitList(a->fields);
      } else {
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
      std::vector<std::string> messages;
      r(c, [&] {
        CommitGroups groups(c, a->dry ? 1 : a->durability.commitEvery);
        messages = inBatches("copy", records, groups, [&](size_t from, size_t n, Variant& errors) {
          Variant values(valueRows(records, from, n)), common(stringList(fields)), oruType(oru), oDB = conn(c);
          return toBoolean(callMember(s, "CopyRec", {byVal(Variant(a->source)), byVal(Variant(a->dest)), byRef(matchFld),
                                                     byRef(values), byRef(common), byRef(oruType), byRef(grids),
                                                     byRef(errors), byRef(oDB)}));
        });
      });
      return outcome(g, "Copy from " + a->source + " to " + a->dest + (a->dry ? " (dry run, rolled back)" : ""), keys,
                     records, messages, "copied",
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
  cmd->add_option("--parent-keys", a->parentKeys, "Match keys of the parent, separated by commas")->required();
  cmd->add_option("--child-key", a->childKey, "The grid column that identifies a record within its parent")->required();
  cmd->add_flag("--dry-run", a->dry, "Print the statements inside a transaction that is rolled back");
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
      const auto records = a->records.read(columns);
      checkKeyIndexes(c, {{a->srcParent, pkeys}, {a->destParent, pkeys}}, records.size(),
                      a->durability.index && !a->dry);
      Variant parentKeys(keyRows(c, a->srcParent, pkeys));
      Variant childKeys(keyRows(c, a->srcChild, {a->childKey, "FKey"}));
      Variant view(a->childView);
      std::vector<std::string> messages;
      r(c, [&] {
        CommitGroups groups(c, a->dry ? 1 : a->durability.commitEvery);
        messages = inBatches("copy-child", records, groups, [&](size_t from, size_t n, Variant& errors) {
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
          return toBoolean(callMember(s, "CopyChild", {byVal(Variant(a->srcParent)), byVal(Variant(a->destParent)),
                                                       byVal(Variant(a->srcChild)), byVal(Variant(a->destChild)),
                                                       byRef(view), byRef(parentKeys), byRef(pvals), byRef(childKeys),
                                                       byRef(cvals), byRef(errors)}));
        });
      });
      return outcome(g, "Grid copy from " + a->srcChild + " to " + a->destChild + (a->dry ? " (dry run, rolled back)" : ""),
                     columns, records, messages, "copied", {});
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
  cmd->add_option("--keys", a->keys, "Match key columns, separated by commas")->required();
  cmd->add_flag("--dry-run", a->dry, "Print the statements inside a transaction that is rolled back");
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
      const bool oru = a->mode.resolve(c, a->table, a->table);
      const auto records = a->records.read(keys);
      checkKeyIndexes(c, {{a->table, keys}}, records.size(), a->durability.index && !a->dry);
      Variant matchFld(keyRows(c, a->table, keys));
      std::vector<std::string> messages;
      r(c, [&] {
        CommitGroups groups(c, a->dry ? 1 : a->durability.commitEvery);
        messages = inBatches("delete", records, groups, [&](size_t from, size_t n, Variant& errors) {
          Variant values(valueRows(records, from, n)), oruType(oru), ext = conn(c);
          return toBoolean(callMember(s, "DeleteRec", {byVal(Variant(a->table)), byRef(matchFld), byRef(values),
                                                       byRef(oruType), byRef(errors), byRef(ext)}));
        });
      });
      return outcome(g, "Delete from " + a->table + (a->dry ? " (dry run, rolled back)" : ""), keys, records, messages,
                     oru ? "marked deleted" : "deleted", {});
    };
  });
}

void addBackup(CLI::App& app, Globals& g, std::function<int()>& run) {
  struct A {
    std::string db, table, to;
    bool dry = false;
  };
  auto a = std::make_shared<A>();
  CLI::App* cmd = app.add_subcommand(
      "backup", "Copy a whole table into a backup table (default TABLE_bk), replacing an earlier backup of that name.");
  addCommonOptions(cmd, g);
  addDatabaseArgument(cmd, a->db);
  cmd->add_option("table", a->table, "Table to back up")->required();
  cmd->add_option("--to", a->to, "Name of the backup table (default: the table's name followed by _bk)");
  cmd->add_flag("--dry-run", a->dry, "Print the statements inside a transaction that is rolled back");
  cmd->callback([a, &g, &run] {
    run = [a, &g]() -> int {
      if (!a->to.empty() && textEqual(a->to, a->table))
        throw UsageError("the backup table must have another name than " + a->table);
      Run r(g, a->dry);
      Session& s = *r.session;
      db::DatabaseRef c = s.open(a->db);
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
