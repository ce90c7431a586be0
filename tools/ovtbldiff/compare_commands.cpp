// structure, keys, count, diff, grid-diff, parent and grids: each maps its arguments to the
// comparison and catalogue members and renders what they return.
#include <iostream>

#include "input_check.h"
#include "members.h"
#include "ovtbldiff/runtime/text.h"
#include "ovtbldiff/verify.h"

namespace ovt::tool {
namespace {

using com::byRef;
using com::byVal;

Variant conn(const db::DatabaseRef& c) { return Variant(ObjectRef(c)); }

// Rows of entry 1 (and, for a conflict, the partner rows of entry 2 with the same key values,
// each pair shown together and the values that differ marked). `nKeys` leading columns are the
// keys; `skipLast` leaves the last column (a parent key of each entry's own) unmarked.
Report sideBySide(std::string title, const Rows& one, const Rows* two, size_t nKeys, bool skipLast, int first = 1) {
  Report r;
  r.title = std::move(title);
  r.columns.push_back("entry");
  for (const std::string& c : one.columns) r.columns.push_back(c);
  auto jsonRow = [](int entry, const std::vector<Variant>& row) {
    std::vector<Json> out{Json(entry)};
    for (const Variant& v : row) out.push_back(toJson(v));
    return out;
  };
  auto sameKey = [&](const std::vector<Variant>& a, const std::vector<Variant>& b) {
    for (size_t k = 0; k < nKeys && k < a.size() && k < b.size(); ++k)
      if (!textEqual(concatText(a[k]), concatText(b[k]))) return false;
    return true;
  };
  // Both lists are ordered by the keys: one pass pairs each row of entry 1 with the next row
  // of entry 2 of the same keys.
  std::vector<bool> used(two ? two->rows.size() : 0, false);
  bool allPaired = true;
  size_t next = 0;
  for (const auto& row : one.rows) {
    r.rows.push_back(jsonRow(first, row));
    r.marked.emplace_back(r.columns.size(), false);
    if (!two) continue;
    size_t j = next;
    while (j < two->rows.size() && !sameKey(row, two->rows[j])) ++j;
    if (j == two->rows.size()) {
      allPaired = false;
      continue;
    }
    next = j + 1;
    used[j] = true;
    const auto& other = two->rows[j];
    r.rows.push_back(jsonRow(3 - first, other));
    std::vector<bool> m(r.columns.size(), false);
    const size_t last = skipLast && !row.empty() ? row.size() - 1 : row.size();
    for (size_t c = nKeys; c < row.size() && c < other.size(); ++c)
      if (c != last && !textEqual(concatText(row[c]), concatText(other[c]))) m[c + 1] = true;
    r.marked.back() = m;
    r.marked.push_back(m);
  }
  if (two) {
    for (size_t j = 0; j < two->rows.size(); ++j)
      if (!used[j]) {
        allPaired = false;
        r.rows.push_back(jsonRow(3 - first, two->rows[j]));
        r.marked.emplace_back(r.columns.size(), false);
      }
    r.group = allPaired ? 2 : 1;
  }
  return r;
}

std::string plural(size_t n, const std::string& one, const std::string& many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The fields both tables share without conflict and that the system does not fill itself,
// as the structure comparison lists them, without the keys.
std::vector<std::string> sharedFields(Session& s, const db::DatabaseRef& c, const std::string& t1,
                                      const std::string& t2, const std::vector<std::string>& keys) {
  Variant a(ObjectRef(Session::table(c, t1))), b(ObjectRef(Session::table(c, t2)));
  Variant common(StringArray{}), select(int32_t{2});  // TableDiffNoAutoFields
  callMember(s, "CompareTablesStructure", {byRef(a), byRef(b), byRef(common), byRef(select)});
  std::vector<std::string> out;
  for (const std::string& f : fromList(common.stringArray())) {
    bool isKey = false;
    for (const std::string& k : keys) isKey = isKey || textEqual(k, f);
    if (!isKey) out.push_back(f);
  }
  return out;
}

// Which entry a table belongs to: a link table (ORULINK_...) is entry 2 beside a table of the
// connection's own, and the other way round; otherwise the position on the command line.
std::string entryLabel(const std::string& table, const std::string& other, int position) {
  const bool link = startsWithText(table, "ORULINK_"), otherLink = startsWithText(other, "ORULINK_");
  if (link != otherLink) return link ? "entry 2" : "entry 1";
  return "entry " + std::to_string(position);
}

// DB TABLE1 TABLE2, or ENTRY1 TABLE1 ENTRY2 TABLE2: the second file becomes the link tables
// and TABLE2 its table ORULINK_TABLE2.
struct TablePair {
  std::string db, link, t1, t2;
};
TablePair tablePair(const std::vector<std::string>& args, const std::string& linkOption, const std::string& command) {
  if (args.size() == 3) return TablePair{args[0], "", args[1], args[2]};
  if (args.size() != 4) throw UsageError(command + " needs DB TABLE1 TABLE2, or ENTRY1 TABLE1 ENTRY2 TABLE2");
  if (!linkOption.empty())
    throw UsageError("entry 2 is given twice: as " + args[2] + " and as --link " + linkOption);
  if (startsWithText(args[3], "ORULINK_"))
    throw UsageError("name the table of " + args[2] + " as it is there: " + args[3].substr(8));
  return TablePair{args[0], args[2], args[1], "ORULINK_" + args[3]};
}

// "N records of TABLE (entry E) have no value in KEYS and are not compared", or "" when every
// record has its keys.
std::string keylessNote(const db::DatabaseRef& c, const std::string& table, const std::string& label,
                        const std::vector<std::string>& keys, const std::vector<int32_t>& types) {
  std::string cond;
  for (size_t k = 0; k < keys.size(); ++k) {
    const bool text = types[k] == db::adVarWChar || types[k] == db::adWChar || types[k] == db::adChar ||
                      types[k] == db::adBSTR || types[k] == db::adLongVarWChar;
    cond += std::string(k ? " or " : "") + "[" + keys[k] + "] is null" + (text ? " or [" + keys[k] + "] = \"\"" : "");
  }
  const Variant n = c->OpenRecordset("select count(*) as N from [" + table + "] where " + cond, 3, "")->FieldValue("N");
  const int64_t count = static_cast<int64_t>(toDouble(n));
  if (count == 0) return "";
  return std::to_string(count) + (count == 1 ? " record of " : " records of ") + table + " (" + label + ") " +
         (count == 1 ? "has" : "have") + " no value in " + joinList(keys, " or ") + " and " +
         (count == 1 ? "is" : "are") + " not compared";
}

void addStructure(CLI::App& app, Globals& g, std::function<int()>& run) {
  struct A {
    std::vector<std::string> args;
    bool views = false, noAuto = false;
  };
  auto a = std::make_shared<A>();
  CLI::App* cmd = app.add_subcommand(
      "structure",
      "Compare the structure of two tables (DB TABLE1 TABLE2) or of two forms across two files "
      "(--views DB1 VIEW1 DB2 VIEW2). Exit 0 when the structure is the same, 1 when it differs.");
  addCommonOptions(cmd, g);
  cmd->add_flag("--views", a->views, "Compare two forms (view catalogues) instead of two tables");
  cmd->add_flag("--no-auto", a->noAuto, "Leave fields the system fills itself out of the common fields");
  cmd->add_option("args", a->args, "DB TABLE1 TABLE2, or with --views DB1 VIEW1 DB2 VIEW2")->required();
  cmd->callback([a, &g, &run] {
    run = [a, &g]() -> int {
      Session s(g.session);
      Variant common(StringArray{});
      std::string report, name1, name2;
      if (a->views) {
        if (a->args.size() != 4) throw UsageError("structure --views needs DB1 VIEW1 DB2 VIEW2");
        db::DatabaseRef c1 = s.open(a->args[0]), c2 = s.open(a->args[2]);
        c1->SetViewName(a->args[1]);
        c2->SetViewName(a->args[3]);
        s.setDB(c1);
        Variant ext = conn(c2);
        report = toText(callMember(s, "CompareViewsStructure", {byRef(ext), byRef(common)}));
        name1 = a->args[1];
        name2 = a->args[3];
      } else {
        if (a->args.size() != 3) throw UsageError("structure needs DB TABLE1 TABLE2 (or --views DB1 VIEW1 DB2 VIEW2)");
        db::DatabaseRef c = s.open(a->args[0]);
        Variant t1(ObjectRef(Session::table(c, a->args[1]))), t2(ObjectRef(Session::table(c, a->args[2])));
        Variant select(int32_t{a->noAuto ? 2 : 1});
        report = toText(callMember(s, "CompareTablesStructure", {byRef(t1), byRef(t2), byRef(common), byRef(select)}));
        name1 = a->args[1];
        name2 = a->args[2];
      }
      Report r;
      r.title = "Structure of " + name1 + " and " + name2 + (report.empty() ? ": the same" : "");
      r.columns = {"part", "item"};
      std::string part = name1;
      size_t start = 0;
      while (!report.empty() && start <= report.size()) {
        size_t end = report.find(';', start);
        std::string item = report.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (item == "***") part = name2;
        else if (!item.empty()) r.rows.push_back({Json(part), Json(item)});
        if (end == std::string::npos) break;
        start = end + 1;
      }
      std::vector<std::string> fields = fromList(common.stringArray());
      r.notes.push_back("Common fields: " + (fields.empty() ? std::string("(none)") : joinList(fields)));
      render(std::cout, r, g.format);
      return report.empty() ? kExitOk : kExitDifferences;
    };
  });
}

void addKeys(CLI::App& app, Globals& g, std::function<int()>& run) {
  struct A {
    std::string db, table, keys;
    Mode mode;
  };
  auto a = std::make_shared<A>();
  CLI::App* cmd = app.add_subcommand(
      "keys",
      "Check match keys of a table: every key column is never empty (qualified) and the keys together "
      "identify every record (unique). Exit 0 when all checks pass, 1 when one fails.");
  addCommonOptions(cmd, g);
  addDatabaseArgument(cmd, a->db);
  cmd->add_option("table", a->table, "Table")->required();
  addKeysOption(cmd, a->keys);
  a->mode.addOptions(cmd);
  cmd->callback([a, &g, &run] {
    run = [a, &g]() -> int {
      Session s(g.session);
      db::DatabaseRef c = s.open(a->db);
      s.setDB(c);
      const std::vector<std::string> keys = splitList(a->keys);
      checkedColumns(c, a->table, keys);
      Variant oru(a->mode.resolve(c, a->table, a->table));
      Report r;
      r.title = "Match keys of " + a->table;
      r.columns = {"check", "keys", "result"};
      bool ok = true;
      for (const std::string& k : keys) {
        Variant ext = conn(c);
        bool q = toBoolean(callMember(s, "IsQualifiedMatchKey", {byVal(Variant(k)), byVal(Variant(a->table)), byRef(oru), byRef(ext)}));
        ok = ok && q;
        r.rows.push_back({Json("never empty"), Json(k), Json(q ? "yes" : "no")});
      }
      Variant list(stringList(keys)), table(a->table), ext = conn(c);
      bool u = toBoolean(callMember(s, "IsMatchKeyUnique", {byRef(list), byRef(oru), byRef(table), byRef(ext)}));
      ok = ok && u;
      r.rows.push_back({Json("unique"), Json(joinList(keys)), Json(u ? "yes" : "no")});
      render(std::cout, r, g.format);
      return ok ? kExitOk : kExitDifferences;
    };
  });
}

void addCount(CLI::App& app, Globals& g, std::function<int()>& run) {
  struct A {
    std::string db, t1, t2, keys;
    Mode mode;
  };
  auto a = std::make_shared<A>();
  CLI::App* cmd = app.add_subcommand("count", "Count the records of TABLE1 that have a partner in TABLE2 on the match keys.");
  addCommonOptions(cmd, g);
  addDatabaseArgument(cmd, a->db);
  cmd->add_option("table1", a->t1, "First table")->required();
  cmd->add_option("table2", a->t2, "Second table")->required();
  addKeysOption(cmd, a->keys);
  a->mode.addOptions(cmd);
  cmd->callback([a, &g, &run] {
    run = [a, &g]() -> int {
      Session s(g.session);
      db::DatabaseRef c = s.open(a->db);
      const std::vector<std::string> keys = splitList(a->keys);
      checkedColumns(c, a->t1, keys, entryLabel(a->t1, a->t2, 1));
      checkedColumns(c, a->t2, keys, entryLabel(a->t2, a->t1, 2));
      bool oru = a->mode.resolve(c, a->t1, a->t2);
      // 64-bit, from the verification layer's own counting statement.
      const int64_t n = verify::matchedCount(*c, a->t1, a->t2, keys, oru);
      Report r;
      r.title = "Matched records";
      r.columns = {"table1", "table2", "keys", "matched"};
      r.rows.push_back({Json(a->t1), Json(a->t2), Json(a->keys), Json(n)});
      render(std::cout, r, g.format);
      return kExitOk;
    };
  });
}

void addDiff(CLI::App& app, Globals& g, std::function<int()>& run) {
  struct A {
    std::vector<std::string> args;
    std::string keys, fields;
    bool missing = false;
    Mode mode;
  };
  auto a = std::make_shared<A>();
  CLI::App* cmd = app.add_subcommand(
      "diff",
      "List the records of TABLE1 that conflict with their partner in TABLE2 (default, both entries shown) "
      "or that have no partner there (--missing). Exit 0 when there is none, 1 when records are listed.");
  addCommonOptions(cmd, g);
  cmd->add_option("args", a->args,
                  "DB TABLE1 TABLE2 (TABLE2 as ORULINK_name with --link), or ENTRY1 TABLE1 ENTRY2 TABLE2 (the second "
                  "file attached as the link tables)")
      ->required()
      ->expected(3, 4);
  addKeysOption(cmd, a->keys);
  cmd->add_option("--fields", a->fields,
                  "Fields to compare, separated by commas (default: the fields both tables share, without the keys "
                  "and the system's own)");
  cmd->add_flag("--missing", a->missing, "List the records of TABLE1 that have no partner in TABLE2");
  a->mode.addOptions(cmd);
  cmd->callback([a, &g, &run] {
    run = [a, &g]() -> int {
      Session s(g.session);
      const TablePair e = tablePair(a->args, g.session.linkFile, "diff");
      db::DatabaseRef c = s.open(e.db, e.link);
      const std::string& t1 = e.t1;
      const std::string& t2 = e.t2;
      const std::vector<std::string> keys = splitList(a->keys);
      const std::string label1 = entryLabel(t1, t2, 1), label2 = entryLabel(t2, t1, 2);
      const std::vector<int32_t> types = checkedColumns(c, t1, keys, label1);
      checkedColumns(c, t2, keys, label2);
      if (!a->fields.empty()) {
        checkedColumns(c, t1, splitList(a->fields), label1);
        checkedColumns(c, t2, splitList(a->fields), label2);
      }
      std::vector<std::string> fields = a->fields.empty() ? sharedFields(s, c, t1, t2, keys) : splitList(a->fields);
      const bool oru = a->mode.resolve(c, t1, t2);
      const int32_t kind = a->missing ? 2 : 1;
      auto query = [&](const std::string& x, const std::string& y) {
        Variant k(stringList(keys)), f(stringList(fields)), oDB = conn(c);
        return readRows(callMember(s, "GetTblDiffRecRS", {byVal(Variant(x)), byVal(Variant(y)), byRef(k), byRef(f),
                                                          byVal(Variant(kind)), byVal(Variant(oru)), byRef(oDB)}));
      };
      Rows one = query(t1, t2);
      const int first = label1 == "entry 2" ? 2 : 1;
      Report r;
      if (a->missing) {
        r = sideBySide(plural(one.rows.size(), "record", "records") + " of " + t1 + " (" + label1 +
                           ") without a partner in " + t2 + " (" + label2 + ", keys " + joinList(keys) + ")",
                       one, nullptr, keys.size(), false, first);
      } else {
        // The partners, fetched by the keys of the listed records only.
        Rows two;
        two.columns = one.columns;
        std::vector<std::string> keyCols, select;
        for (const std::string& k : keys) keyCols.push_back("[" + t2 + "].[" + k + "]");
        for (const std::string& col : one.columns) select.push_back("[" + t2 + "].[" + col + "]");
        verify::fetchByKey(*c, "[" + t2 + "]", keyCols, select, oru ? "[" + t2 + "].RecStatus = 1" : "", one.rows,
                           [&](std::vector<Variant>&& row) { two.rows.push_back(std::move(row)); });
        r = sideBySide(plural(one.rows.size(), "conflict", "conflicts") + " between " + t1 + " (" + label1 + ") and " +
                           t2 + " (" + label2 + ") on " + joinList(keys),
                       one, &two, keys.size(), false, first);
      }
      r.notes.push_back("Compared fields: " + (fields.empty() ? std::string("(none)") : joinList(fields)));
      for (const auto& [table, label] : {std::pair{t1, label1}, std::pair{t2, label2}})
        if (std::string note = keylessNote(c, table, label, keys, types); !note.empty()) r.notes.push_back(note);
      render(std::cout, r, g.format);
      return one.rows.empty() ? kExitOk : kExitDifferences;
    };
  });
}

void addGridDiff(CLI::App& app, Globals& g, std::function<int()>& run) {
  struct A {
    std::string db, p1, c1, p2, c2, parentKeys, childKey;
    bool missing = false;
  };
  auto a = std::make_shared<A>();
  CLI::App* cmd = app.add_subcommand(
      "grid-diff",
      "List the active grid (child) records of PARENT1/CHILD1 that conflict with their partner in PARENT2/CHILD2 "
      "(default, both entries shown) or have none (--missing). Exit 0 when there is none, 1 otherwise.");
  addCommonOptions(cmd, g);
  addDatabaseArgument(cmd, a->db);
  cmd->add_option("parent1", a->p1, "Parent table of entry 1")->required();
  cmd->add_option("child1", a->c1, "Grid table of entry 1")->required();
  cmd->add_option("parent2", a->p2, "Parent table of entry 2")->required();
  cmd->add_option("child2", a->c2, "Grid table of entry 2")->required();
  addGridKeyOptions(cmd, a->parentKeys, a->childKey);
  cmd->add_flag("--missing", a->missing, "List the grid records of entry 1 without a partner in entry 2");
  cmd->callback([a, &g, &run] {
    run = [a, &g]() -> int {
      Session s(g.session);
      db::DatabaseRef c = s.open(a->db);
      s.setDB(c);
      const std::vector<std::string> keys = splitList(a->parentKeys);
      const std::string label1 = entryLabel(a->p1, a->p2, 1), label2 = entryLabel(a->p2, a->p1, 2);
      checkedColumns(c, a->p1, keys, label1);
      checkedColumns(c, a->p2, keys, label2);
      checkedColumns(c, a->c1, {a->childKey, "FKey"}, label1);
      checkedColumns(c, a->c2, {a->childKey, "FKey"}, label2);
      const int first = label1 == "entry 2" ? 2 : 1;
      const int32_t kind = a->missing ? 2 : 1;
      auto query = [&](const std::string& p1, const std::string& c1, const std::string& p2, const std::string& c2) {
        Variant k(stringList(keys));
        return readRows(callMember(s, "GetTblDiffGridRS", {byVal(Variant(p1)), byVal(Variant(c1)), byVal(Variant(p2)),
                                                           byVal(Variant(c2)), byVal(Variant(a->childKey)), byRef(k),
                                                           byVal(Variant(kind))}));
      };
      Rows one = query(a->p1, a->c1, a->p2, a->c2);
      Report r;
      const std::string on = " on " + joinList(keys) + " and " + a->childKey;
      if (a->missing) {
        r = sideBySide(plural(one.rows.size(), "grid record", "grid records") + " of " + a->c1 + " without a partner in " +
                           a->c2 + on,
                       one, nullptr, keys.size() + 1, true, first);
      } else {
        Rows two = query(a->p2, a->c2, a->p1, a->c1);
        r = sideBySide(plural(one.rows.size(), "grid conflict", "grid conflicts") + " between " + a->c1 + " (" +
                           label1 + ") and " + a->c2 + " (" + label2 + ")" + on,
                       one, &two, keys.size() + 1, true, first);
      }
      r.notes.push_back("FKey is the UniqueKey of the parent record in each entry.");
      render(std::cout, r, g.format);
      return one.rows.empty() ? kExitOk : kExitDifferences;
    };
  });
}

void addParent(CLI::App& app, Globals& g, std::function<int()>& run) {
  struct A {
    std::string db, table, fkey, keys, fields;
  };
  auto a = std::make_shared<A>();
  CLI::App* cmd = app.add_subcommand(
      "parent", "Show the parent record of a grid record: the parent whose UniqueKey is FKEY. Exit 1 when there is none.");
  addCommonOptions(cmd, g);
  addDatabaseArgument(cmd, a->db);
  cmd->add_option("table", a->table, "Parent table")->required();
  cmd->add_option("fkey", a->fkey, "FKey value of the grid record (the parent's UniqueKey)")->required();
  cmd->add_option("--keys", a->keys, "Match keys of the parent to show, separated by commas")->required();
  cmd->add_option("--fields", a->fields, "Further fields to show, separated by commas");
  cmd->callback([a, &g, &run] {
    run = [a, &g]() -> int {
      Session s(g.session);
      db::DatabaseRef c = s.open(a->db);
      s.setDB(c);
      const std::vector<std::string> keys = splitList(a->keys), fields = splitList(a->fields);
      checkedColumns(c, a->table, keys);
      checkedColumns(c, a->table, fields);
      // The FKey value is written bare into the lookup of the parent's UniqueKey.
      const Variant fkey = checkedValue(Variant(a->fkey), checkedColumns(c, a->table, {"UniqueKey"})[0], "UniqueKey", a->table);
      Variant k(stringList(keys)), f(stringList(fields)), info(StringArray{});
      bool found = toBoolean(callMember(s, "ShowParent", {byVal(Variant(a->table)), byRef(k), byRef(f),
                                                          byVal(Variant(toText(fkey))), byRef(info)}));
      Report r;
      r.title = "Parent record " + a->fkey + " of " + a->table + (found ? "" : ": not found");
      if (found) {
        r.columns = keys;
        r.columns.insert(r.columns.end(), fields.begin(), fields.end());
        std::vector<Json> row;
        const StringArray& vals = info.stringArray();
        for (int32_t i = 0; vals.allocated() && i <= vals.ubound(1); ++i) row.push_back(Json(vals.at(i)));
        r.rows.push_back(std::move(row));
      }
      render(std::cout, r, g.format);
      return found ? kExitOk : kExitDifferences;
    };
  });
}

void addGrids(CLI::App& app, Globals& g, std::function<int()>& run) {
  struct A {
    std::vector<std::string> args;
  };
  auto a = std::make_shared<A>();
  CLI::App* cmd = app.add_subcommand(
      "grids",
      "List the grids of a form (DB VIEW), or the grids two forms share with the same structure and their data "
      "tables (DB1 VIEW1 DB2 VIEW2), the list copy takes as its grids.");
  addCommonOptions(cmd, g);
  cmd->add_option("args", a->args, "DB VIEW, or DB1 VIEW1 DB2 VIEW2")->required();
  cmd->callback([a, &g, &run] {
    run = [a, &g]() -> int {
      Session s(g.session);
      Report r;
      Variant list(StringArray{});
      if (a->args.size() == 2) {
        db::DatabaseRef c = s.open(a->args[0]);
        Variant d = conn(c);
        callMember(s, "GetOruGridList", {byVal(Variant(a->args[1])), byRef(list), byRef(d)});
        r.title = "Grids of " + a->args[1];
        r.columns = {"grid", "grid view"};
      } else if (a->args.size() == 4) {
        db::DatabaseRef c1 = s.open(a->args[0]), c2 = s.open(a->args[2]);
        c1->SetViewName(a->args[1]);
        c2->SetViewName(a->args[3]);
        s.setDB(c1);
        Variant ext = conn(c2);
        callMember(s, "GetOruComparableGridTblList", {byRef(list), byRef(ext)});
        r.title = "Comparable grids of " + a->args[1] + " and " + a->args[3];
        r.columns = {"grid view", "data table"};
      } else {
        throw UsageError("grids needs DB VIEW, or DB1 VIEW1 DB2 VIEW2");
      }
      const StringArray& l = list.stringArray();
      if (l.allocated() && l.dims() == 2)
        for (int32_t i = 0; i <= l.ubound(1); ++i)
          if (!(i == 0 && l.ubound(1) == 0 && l.at(0, 0).empty()))
            r.rows.push_back({Json(l.at(i, 0)), Json(l.at(i, 1))});
      if (r.rows.empty()) r.notes.push_back("(no grid)");
      render(std::cout, r, g.format);
      return kExitOk;
    };
  });
}

}  // namespace

void addCompareCommands(CLI::App& app, Globals& g, std::function<int()>& run) {
  addStructure(app, g, run);
  addKeys(app, g, run);
  addCount(app, g, run);
  addDiff(app, g, run);
  addGridDiff(app, g, run);
  addParent(app, g, run);
  addGrids(app, g, run);
}

}  // namespace ovt::tool
