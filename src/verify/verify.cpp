// The verification of a survey's two entries: discovery through the catalogue members, counts
// from counting statements of the layer's own, records listed by the comparison members and
// their partners in entry 2 fetched by key, batch by batch, so that memory stays with a batch.
#include "ovtbldiff/verify.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <unordered_map>

#include "ovtbldiff/runtime/text.h"

namespace ovt::verify {
namespace {

using com::byRef;
using com::byVal;

constexpr size_t kBatch = 256;          // entry-1 records whose partners one statement fetches
constexpr size_t kListedValues = 20;    // offending key values listed per check
const std::string kLink = "ORULINK_";

std::string br(const std::string& name) { return "[" + name + "]"; }
std::string col(const std::string& table, const std::string& field) { return br(table) + "." + br(field); }
std::string link(const std::string& table) { return kLink + table; }

bool isSystemColumn(const std::string& name) {
  return textEqual(name, "UniqueKey") || textEqual(name, "RecStatus");
}

bool contains(const std::vector<std::string>& list, const std::string& name) {
  return std::any_of(list.begin(), list.end(), [&](const std::string& s) { return textEqual(s, name); });
}

std::string joined(const std::vector<std::string>& items, const std::string& sep) {
  std::string out;
  for (const std::string& s : items) out += (out.empty() ? "" : sep) + s;
  return out;
}

Variant connVariant(const db::DatabaseRef& c) { return Variant(ObjectRef(c)); }

std::vector<std::string> listOf(const StringArray& a) {
  std::vector<std::string> out;
  if (!a.allocated() || a.dims() != 1) return out;
  for (int32_t i = a.lbound(1); i <= a.ubound(1); ++i) out.push_back(a.at(i));
  if (out.size() == 1 && out[0].empty()) out.clear();
  return out;
}

StringArray arrayOf(const std::vector<std::string>& items) {
  return StringArray::of(items.empty() ? std::vector<std::string>{""} : items);
}

int64_t number(const Variant& v) { return v.isNull() || v.isEmpty() ? 0 : static_cast<int64_t>(toDouble(v)); }

// One counting statement: the values of its named columns.
std::vector<int64_t> counts(db::cDatabase& conn, const std::string& sql, const std::vector<std::string>& names) {
  db::RecordsetRef rs = conn.OpenRecordset(sql, 3, "");
  std::vector<int64_t> out;
  for (const std::string& n : names) out.push_back(deref(rs).IsEOF() ? 0 : number(rs->FieldValue(n)));
  return out;
}

db::TableRef findTable(db::cDatabase& conn, const std::string& name) {
  for (const db::TableRef& t : conn.Tables())
    if (t && textEqual(t->Name(), name)) return t;
  return nullptr;
}

std::vector<std::string> fieldNames(const db::TableRef& t) {
  std::vector<std::string> out;
  for (const db::FieldRef& f : deref(deref(t).Fields()).Items())
    if (f) out.push_back(f->Name());
  return out;
}

std::string entryName(int entry) { return "entry " + std::to_string(entry); }

// The difference of one field between the paired records, never Null: text of both values
// compared as `&` compares them (Null counts as "").
std::string differs(const std::string& a, const std::string& b) { return a + " & '' <> " + b + " & ''"; }

// The records of `table` a key check finds with an empty key: an active record with one of
// `keys` Null, or a record whose status is Null.
std::string emptyKey(const std::string& table, const std::vector<std::string>& keys) {
  std::string any;
  for (const std::string& k : keys) any += (any.empty() ? "" : " or ") + col(table, k) + " is null";
  return "((" + any + ") and " + col(table, "RecStatus") + " = 1) or " + col(table, "RecStatus") + " is null";
}

// All records, the active ones and those with an empty key (`keys`) of `table`, in one scan.
std::array<int64_t, 3> recordCounts(db::cDatabase& conn, const std::string& table, const std::vector<std::string>& keys) {
  auto c = counts(conn,
                  "select count(*) as n, sum(iif(" + col(table, "RecStatus") + " = 1, 1, 0)) as a, sum(iif(" +
                      emptyKey(table, keys) + ", 1, 0)) as e from " + br(table),
                  {"n", "a", "e"});
  return {c[0], c[1], c[2]};
}

// What follows "select count(*) as pairs" to count the active records of `t1` paired with one of
// `t2` on `keys` (and the same status).
std::string pairedRecords(const std::string& t1, const std::string& t2, const std::vector<std::string>& keys) {
  std::string join;
  for (const std::string& k : keys) join += (join.empty() ? "" : " and ") + col(t1, k) + " = " + col(t2, k);
  join += " and " + col(t1, "RecStatus") + " = " + col(t2, "RecStatus");
  return " from " + br(t1) + " inner join " + br(t2) + " on " + join + " where " + col(t1, "RecStatus") + " = 1";
}

// A form whose keys are unique in both entries: `pairs` records matched, the others of each
// entry without partner, every compared field compared once per pair.
void setPairs(TableSummary& t, int64_t pairs) {
  t.matched = pairs;
  t.missing = {t.records[0] - pairs, t.records[1] - pairs};
  for (FieldCount& f : t.fields) f.compared = pairs;
}

std::string summaryOfValues(const std::vector<std::string>& shown, int64_t total) {
  std::string s = joined(shown, ", ");
  if (total > static_cast<int64_t>(shown.size()))
    s += " and " + std::to_string(total - static_cast<int64_t>(shown.size())) + " more";
  return s;
}

}  // namespace

// ---- summaries ------------------------------------------------------------------------

int64_t TableSummary::valuesCompared() const {
  int64_t n = 0;
  for (const FieldCount& f : fields) n += f.compared;
  return n;
}

int64_t TableSummary::valuesDiffering() const {
  int64_t n = 0;
  for (const FieldCount& f : fields) n += f.differing;
  return n;
}

double TableSummary::agreement() const {
  const int64_t c = valuesCompared();
  return c == 0 ? 1.0 : static_cast<double>(c - valuesDiffering()) / static_cast<double>(c);
}

bool TableSummary::agrees() const {
  if (!notCompared.empty() || !findings.empty() || conflicting != 0 || missing[0] != 0 || missing[1] != 0)
    return false;
  return std::all_of(grids.begin(), grids.end(), [](const TableSummary& g) { return g.agrees(); });
}

bool Survey::agrees() const {
  return findings.empty() &&
         std::all_of(forms.begin(), forms.end(), [](const TableSummary& f) { return f.agrees(); });
}

// ---- statements -----------------------------------------------------------------------

std::string literal(const Variant& v) {
  if (v.isNull() || v.isEmpty()) return "Null";
  if (const bool* b = v.get<bool>()) return *b ? "True" : "False";
  if (const std::string* s = v.get<std::string>()) {
    std::string out = "'";
    for (char c : *s) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
  }
  if (const Date* d = v.get<Date>()) return "#" + formatDate(*d) + "#";
  return toText(v);
}

std::string keyText(const std::vector<std::string>& keys, const std::vector<Variant>& values) {
  std::string out;
  for (size_t i = 0; i < keys.size() && i < values.size(); ++i)
    out += (i ? ";" : "") + keys[i] + "=" + concatText(values[i]);
  return out;
}

int64_t matchedCount(db::cDatabase& conn, const std::string& t1, const std::string& t2,
                     const std::vector<std::string>& keys, bool oru) {
  std::string join, concat;
  for (const std::string& k : keys) {
    join += (join.empty() ? "" : " and ") + col(t1, k) + " = " + col(t2, k);
    concat += (concat.empty() ? "" : " & ") + col(t1, k);
  }
  if (oru) join += " and " + col(t1, "RecStatus") + " = " + col(t2, "RecStatus");
  const std::string status = oru ? " where " + col(t1, "RecStatus") + " = 1" : "";
  return counts(conn, "select count(*) as n from " + br(t1) + " where " + concat + " in (select " + concat +
                          " from " + br(t1) + " inner join " + br(t2) + " on " + join + status + ")",
                {"n"})[0];
}

GridPairing gridPairing(const std::string& parentTable, const std::vector<std::string>& parentKeys,
                        const std::string& gridTable, const std::vector<std::string>& ownKeys,
                        const std::vector<std::string>& fields) {
  // Aliases: p and c the parent and grid of one entry, q and d of the other.
  auto from = [&](const std::string& p, const std::string& c, const std::string& prefix) {
    return br(prefix + parentTable) + " as " + p + ", " + br(prefix + gridTable) + " as " + c;
  };
  auto active = [](const std::string& p, const std::string& c) {
    return c + ".FKey = " + p + ".UniqueKey and " + p + ".RecStatus = 1 and " + c + ".RecStatus = 1";
  };
  auto keyColumns = [&](const std::string& p, const std::string& c) {
    std::vector<std::string> cols;
    for (const std::string& k : parentKeys) cols.push_back(p + "." + br(k));
    for (const std::string& k : ownKeys) cols.push_back(c + "." + br(k));
    return cols;
  };
  const std::vector<std::string> one = keyColumns("p", "c"), two = keyColumns("q", "d");
  std::vector<std::string> pairs, select = one, differ, values = one;
  for (size_t k = 0; k < one.size(); ++k) pairs.push_back(one[k] + " = " + two[k]);
  for (const std::string& f : fields) {
    const std::string a = "c." + br(f), b = "d." + br(f);
    select.push_back(a);
    select.push_back(b);
    values.push_back(a);
    differ.push_back("(" + a + " <> " + b + ") or (" + a + " is null and " + b + " is not null) or (" + a +
                     " is not null and " + b + " is null)");
  }
  // Each item named by its place: entry 1's and entry 2's value of a field share a name.
  auto named = [](std::vector<std::string> items) {
    for (size_t i = 0; i < items.size(); ++i) items[i] += " as [c" + std::to_string(i) + "]";
    return joined(items, ", ");
  };
  GridPairing out;
  out.differing = "select " + named(select) + " from " + from("p", "c", "") + ", " + from("q", "d", kLink) +
                  " where " + active("p", "c") + " and " + active("q", "d") + " and " + joined(pairs, " and ") +
                  " and (" + (differ.empty() ? std::string("1 = 0") : joined(differ, " or ")) + ") order by " +
                  joined(one, ", ");
  for (int e = 0; e < 2; ++e)
    out.unpaired[e] = "select " + named(values) + " from " + from("p", "c", e == 0 ? "" : kLink) + " where " +
                      active("p", "c") + " and not exists (select 1 from " + from("q", "d", e == 0 ? kLink : "") +
                      " where " + active("q", "d") + " and " + joined(pairs, " and ") + ") order by " +
                      joined(one, ", ");
  return out;
}

void fetchByKey(db::cDatabase& conn, const std::string& from, const std::vector<std::string>& keyColumns,
                const std::vector<std::string>& select, const std::string& where,
                const std::vector<std::vector<Variant>>& keyRows,
                const std::function<void(std::vector<Variant>&&)>& row) {
  const size_t nk = keyColumns.size();
  auto keyOf = [nk](const std::vector<Variant>& values) {
    std::string k;
    for (size_t i = 0; i < nk && i < values.size(); ++i) k += foldCase(concatText(values[i])) + '\x1f';
    return k;
  };
  for (size_t start = 0; start < keyRows.size(); start += kBatch) {
    const size_t end = std::min(keyRows.size(), start + kBatch);
    // Each key column within the values the batch holds (a flat condition the engines take
    // whatever the batch size); the records whose whole key is not one of the batch's are
    // left out below.
    std::unordered_map<std::string, bool> wanted;
    std::string cond;
    for (size_t k = 0; k < nk; ++k) {
      std::unordered_map<std::string, bool> seen;
      std::string list;
      for (size_t i = start; i < end; ++i) {
        const Variant& v = keyRows[i][k];
        if (v.isNull() || v.isEmpty()) continue;
        const std::string lit = literal(v);
        if (seen.emplace(lit, true).second) list += (list.empty() ? "" : ", ") + lit;
      }
      if (list.empty()) {
        cond.clear();
        break;
      }
      cond += (cond.empty() ? "" : " and ") + keyColumns[k] + " in (" + list + ")";
    }
    if (cond.empty()) continue;
    for (size_t i = start; i < end; ++i) wanted.emplace(keyOf(keyRows[i]), true);
    std::string sql = "select " + joined(select, ", ") + " from " + from + " where " +
                      (where.empty() ? "" : where + " and ") + cond + " order by " + joined(keyColumns, ", ");
    db::RecordsetRef rs = conn.OpenRecordset(sql, 3, "");
    auto fields = deref(rs).Recordset();
    const int32_t n = deref(fields).Count();
    std::vector<std::string> names;
    for (int32_t i = 0; i < n; ++i) names.push_back(fields->Name(i));
    while (!rs->IsEOF()) {
      std::vector<Variant> values;
      values.reserve(names.size());
      for (const std::string& name : names) values.push_back(rs->FieldValue(name));
      if (wanted.count(keyOf(values))) row(std::move(values));
      rs->MoveNext();
    }
  }
}

// ---- settings -------------------------------------------------------------------------

const TableSettings* Settings::find(const std::string& table) const {
  auto it = tables_.find(foldCase(table));
  return it == tables_.end() ? nullptr : &it->second;
}

TableSettings& Settings::at(const std::string& table) {
  names_.emplace(foldCase(table), table);
  return tables_[foldCase(table)];
}

void Settings::merge(const Settings& other) {
  for (const auto& [folded, s] : other.tables_) {
    TableSettings& mine = at(other.names_.at(folded));
    if (!s.keys.empty()) mine.keys = s.keys;
    for (const std::string& f : s.ignore)
      if (!contains(mine.ignore, f)) mine.ignore.push_back(f);
    if (!s.compare.empty()) mine.compare = s.compare;
  }
}

// ---- discovery and counts -------------------------------------------------------------

Verifier::Verifier(Members& members, Entries entries, Settings settings)
    : members_(members), entries_(std::move(entries)), settings_(std::move(settings)) {}

Survey Verifier::summarize() {
  fromLists_.clear();
  pairsFromLists_.clear();
  Survey s;
  s.entries = {entries_.linked->Location(), entries_.second->Location()};
  members_.setDB(entries_.linked);

  // Catalogue tables of each entry; a grid's catalogue is no form of its own.
  auto views = [&](db::cDatabase& conn, bool skipLinked) {
    std::vector<std::string> out;
    for (const db::TableRef& t : conn.Tables()) {
      std::string name = deref(t).Name();
      if (skipLinked && startsWithText(name, kLink)) continue;
      if (conn.GetTableType(name) == db::kTableTypeView) out.push_back(name);
    }
    std::sort(out.begin(), out.end(), [](const std::string& a, const std::string& b) { return textCompare(a, b) < 0; });
    return out;
  };
  auto gridViews = [&](const db::DatabaseRef& conn, const std::vector<std::string>& all) {
    std::vector<std::string> out;
    for (const std::string& v : all) {
      Variant list(StringArray{}), d = connVariant(conn);
      members_.call("GetOruGridList", {byVal(Variant(v)), byRef(list), byRef(d)});
      const StringArray& l = list.stringArray();
      if (l.allocated() && l.dims() == 2)
        for (int32_t i = 0; i <= l.ubound(1); ++i)
          if (!l.at(i, 1).empty()) out.push_back(l.at(i, 1));
    }
    return out;
  };
  const std::vector<std::string> all1 = views(*entries_.linked, true), all2 = views(*entries_.second, false);
  const std::vector<std::string> grids1 = gridViews(entries_.linked, all1), grids2 = gridViews(entries_.second, all2);
  std::vector<std::string> forms1, forms2;
  for (const std::string& v : all1)
    if (!contains(grids1, v)) forms1.push_back(v);
  for (const std::string& v : all2)
    if (!contains(grids2, v)) forms2.push_back(v);
  for (const std::string& v : forms1)
    if (!contains(forms2, v)) s.findings.push_back({"form", 1, "form " + v + " is only in entry 1"});
  for (const std::string& v : forms2)
    if (!contains(forms1, v)) s.findings.push_back({"form", 2, "form " + v + " is only in entry 2"});

  std::vector<std::string> used;
  for (const std::string& v : forms1)
    if (contains(forms2, v)) s.forms.push_back(form(v, used));

  // A setting for a table no form uses is a mistake of the user's, not a finding.
  for (const auto& [folded, t] : settings_.all())
    if (!contains(used, folded))
      throw SettingsError("no form of both entries has the data table " + settings_.nameOf(folded) + " (given with --keys, --ignore or the survey file)");
  return s;
}

TableSummary Verifier::form(const std::string& view, std::vector<std::string>& used) {
  TableSummary t;
  t.form = view;
  t.view = view;
  Variant d1 = connVariant(entries_.linked), d2 = connVariant(entries_.second);
  t.table = toText(members_.call("GetOruDataTable", {byVal(Variant(view)), byRef(d1)}));
  const std::string table2 = toText(members_.call("GetOruDataTable", {byVal(Variant(view)), byRef(d2)}));
  if (t.table.empty()) {
    t.notCompared = "not compared: the form has no data table";
    return t;
  }
  used.push_back(foldCase(t.table));
  if (!textEqual(t.table, table2)) {
    t.notCompared = "not compared: the data table is " + t.table + " in entry 1 and " +
                    (table2.empty() ? std::string("missing") : table2) + " in entry 2";
    return t;
  }

  // Structure of the two forms.
  entries_.linked->SetViewName(view);
  entries_.second->SetViewName(view);
  members_.setDB(entries_.linked);
  {
    Variant ext = connVariant(entries_.second), common(StringArray{});
    const std::string report = toText(members_.call("CompareViewsStructure", {byRef(ext), byRef(common)}));
    if (!report.empty()) t.findings.push_back({"structure", 0, "form " + view + ": " + report});
  }

  if (const TableSettings* ts = settings_.find(t.table)) t.keys = ts->keys;
  if (t.keys.empty()) t.notCompared = "not compared: no match keys";
  else countForm(t);

  // Grids: by grid view, in both entries.
  auto gridList = [&](const db::DatabaseRef& conn) {
    std::vector<std::pair<std::string, std::string>> out;
    Variant list(StringArray{}), d = connVariant(conn);
    members_.call("GetOruGridList", {byVal(Variant(view)), byRef(list), byRef(d)});
    const StringArray& l = list.stringArray();
    if (l.allocated() && l.dims() == 2)
      for (int32_t i = 0; i <= l.ubound(1); ++i)
        if (!l.at(i, 1).empty()) out.emplace_back(l.at(i, 0), l.at(i, 1));
    return out;
  };
  const auto g1 = gridList(entries_.linked), g2 = gridList(entries_.second);
  auto has = [](const std::vector<std::pair<std::string, std::string>>& l, const std::string& gv) {
    return std::any_of(l.begin(), l.end(), [&](const auto& p) { return textEqual(p.second, gv); });
  };
  for (const auto& [name, gv] : g1)
    if (!has(g2, gv)) t.findings.push_back({"grid", 1, "grid " + name + " (" + gv + ") is only in entry 1"});
  for (const auto& [name, gv] : g2)
    if (!has(g1, gv)) t.findings.push_back({"grid", 2, "grid " + name + " (" + gv + ") is only in entry 2"});
  for (const auto& [name, gv] : g1) {
    if (!has(g2, gv)) continue;
    TableSummary g;
    g.grid = true;
    g.form = name;
    g.view = gv;
    g.parentTable = t.table;
    g.parentKeys = t.keys;
    Variant a = connVariant(entries_.linked), b = connVariant(entries_.second);
    g.table = toText(members_.call("GetOruDataTable", {byVal(Variant(gv)), byRef(a)}));
    const std::string gt2 = toText(members_.call("GetOruDataTable", {byVal(Variant(gv)), byRef(b)}));
    if (!g.table.empty()) used.push_back(foldCase(g.table));
    const TableSettings* gs = g.table.empty() ? nullptr : settings_.find(g.table);
    if (g.table.empty() || !textEqual(g.table, gt2))
      g.notCompared = "not compared: the grid's data table is " + g.table + " in entry 1 and " + gt2 + " in entry 2";
    else if (!t.notCompared.empty())
      g.notCompared = "not compared: its form is not compared";
    else if (!gs || gs->keys.empty())
      g.notCompared = "not compared: no match keys";
    else {
      g.keys = t.keys;
      g.keys.insert(g.keys.end(), gs->keys.begin(), gs->keys.end());
      countGrid(g, t);
    }
    t.grids.push_back(std::move(g));
  }
  entries_.linked->SetViewName("");
  entries_.second->SetViewName("");
  return t;
}

namespace {

// A grid's own key columns, after its parent's.
std::vector<std::string> ownKeys(const TableSummary& g) {
  return {g.keys.begin() + static_cast<std::ptrdiff_t>(g.parentKeys.size()), g.keys.end()};
}

const std::string kNotListed = "grid conflicts not listed";

bool notListable(const TableSummary& g) {
  return std::any_of(g.findings.begin(), g.findings.end(),
                     [](const Finding& f) { return f.text.rfind(kNotListed, 0) == 0; });
}

// The fields to compare of `table` in both entries: the common fields the structure member
// lists (without the system's own), less keys, ignored fields and `skip`, or the fields the
// settings name. Structure differences go into `findings`.
std::vector<std::string> comparedFields(Members& members, db::cDatabase& conn, const std::string& table,
                                        const TableSettings* ts, const std::vector<std::string>& skip,
                                        std::vector<Finding>& findings) {
  db::TableRef a = findTable(conn, table), b = findTable(conn, link(table));
  if (!a) throw SettingsError("no table " + table + " in entry 1");
  if (!b) throw SettingsError("no table " + table + " in entry 2");
  Variant ta{ObjectRef(a)}, tb{ObjectRef(b)}, common(StringArray{}), select(int32_t{2});
  const std::string report =
      toText(members.call("CompareTablesStructure", {byRef(ta), byRef(tb), byRef(common), byRef(select)}));
  if (!report.empty()) findings.push_back({"structure", 0, "table " + table + ": " + report});
  const std::vector<std::string> names1 = fieldNames(a), names2 = fieldNames(b);
  auto check = [&](const std::vector<std::string>& list, const char* what) {
    for (const std::string& f : list) {
      if (!contains(names1, f)) throw SettingsError("no column " + f + " in table " + table + " (entry 1), given in " + what);
      if (!contains(names2, f)) throw SettingsError("no column " + f + " in table " + table + " (entry 2), given in " + what);
    }
  };
  std::vector<std::string> out;
  if (ts) {
    check(ts->keys, "the keys");
    check(ts->ignore, "the ignored fields");
    check(ts->compare, "the compared fields");
  }
  const std::vector<std::string> base = ts && !ts->compare.empty() ? ts->compare : listOf(common.stringArray());
  for (const std::string& f : base) {
    if (isSystemColumn(f) || contains(skip, f)) continue;
    if (ts && (contains(ts->keys, f) || contains(ts->ignore, f))) continue;
    out.push_back(f);
  }
  return out;
}

}  // namespace

void Verifier::countForm(TableSummary& t) {
  progress("counting " + t.table);
  db::cDatabase& conn = *entries_.linked;
  const TableSettings* ts = settings_.find(t.table);
  const std::vector<std::string> fields = comparedFields(members_, conn, t.table, ts, {}, t.findings);
  const std::string t1 = t.table, t2 = link(t.table);
  std::array<int64_t, 2> emptyKeys{};
  for (int e = 0; e < 2; ++e) {
    const auto c = recordCounts(conn, e == 0 ? t1 : t2, t.keys);
    t.records[e] = c[1];
    t.deleted[e] = c[0] - c[1];
    emptyKeys[e] = c[2];
  }
  const bool unique = checkKeys(t, emptyKeys);
  const std::string pairs = pairedRecords(t1, t2, t.keys);
  // With keys unique in both entries every paired record has one partner, and run() counts what
  // differs from the listed conflicts and their partners. The listing compares one field alone
  // with `<>`, which passes over a Null facing a value: one field is counted here.
  if (preparing_ && unique && fields.size() > 1) {
    // One key column, and every record of both entries active with a key: a record is without
    // partner exactly when the missing-record member lists it, and run() counts the pairs from
    // those lists. Otherwise a statement counts them.
    const bool pairsFromLists = t.keys.size() == 1 && t.deleted[0] == 0 && t.deleted[1] == 0 && emptyKeys[0] == 0 &&
                                emptyKeys[1] == 0;
    if (pairsFromLists) pairsFromLists_.push_back(foldCase(t.table));
    for (const std::string& f : fields) t.fields.push_back({f, 0, 0});
    setPairs(t, pairsFromLists ? 0 : counts(conn, "select count(*) as pairs" + pairs, {"pairs"})[0]);
    fromLists_.push_back(foldCase(t.table));
    return;
  }
  std::string sums, any;
  std::vector<std::string> names{"pairs", "conflicting"};
  for (size_t i = 0; i < fields.size(); ++i) {
    const std::string d = differs(col(t1, fields[i]), col(t2, fields[i]));
    sums += ", sum(iif(" + d + ", 1, 0)) as [d" + std::to_string(i) + "]";
    any += (any.empty() ? "" : " or ") + d;
    names.push_back("d" + std::to_string(i));
  }
  if (fields.empty()) any = "1 = 0";
  auto c = counts(conn, "select count(*) as pairs, sum(iif(" + any + ", 1, 0)) as conflicting" + sums + pairs, names);
  t.conflicting = c[1];
  for (size_t i = 0; i < fields.size(); ++i) t.fields.push_back({fields[i], c[0], c[2 + i]});
  // With keys unique in both entries every paired record has one partner; otherwise the
  // records with a partner are counted apart, each way.
  const int64_t m1 = unique ? c[0] : matchedCount(conn, t1, t2, t.keys, true);
  const int64_t m2 = unique ? c[0] : matchedCount(conn, t2, t1, t.keys, true);
  t.matched = m1;
  t.missing = {t.records[0] - m1, t.records[1] - m2};
}

void Verifier::countGrid(TableSummary& g, const TableSummary& parent) {
  progress("counting " + g.table);
  db::cDatabase& conn = *entries_.linked;
  const TableSettings* ts = settings_.find(g.table);
  const std::vector<std::string> own = ownKeys(g);
  std::vector<std::string> skip{"FKey"};
  skip.insert(skip.end(), own.begin(), own.end());
  const std::vector<std::string> fields = comparedFields(members_, conn, g.table, ts, skip, g.findings);
  const std::string c1 = g.table, c2 = link(g.table), p1 = parent.table, p2 = link(parent.table);
  auto under = [&](const std::string& c, const std::string& p) {
    return col(c, "FKey") + " = " + col(p, "UniqueKey") + " and " + col(c, "RecStatus") + " = 1 and " +
           col(p, "RecStatus") + " = 1";
  };
  std::array<bool, 2> gridUnique{true, true};
  std::array<int64_t, 2> emptyKeys{};
  for (int e = 0; e < 2; ++e) {
    const std::string c = e == 0 ? c1 : c2, p = e == 0 ? p1 : p2;
    // Records and distinct keys in one statement: when they differ a key is used twice.
    std::string groupCols;
    for (const std::string& k : g.parentKeys) groupCols += col(p, k) + ", ";
    for (size_t k = 0; k < own.size(); ++k) groupCols += (k ? ", " : "") + col(c, own[k]);
    auto r = counts(conn, "select count(*) as groups, sum(n) as records from (select count(*) as n from " + br(c) + ", " +
                              br(p) + " where " + under(c, p) + " group by " + groupCols + ") as K",
                    {"groups", "records"});
    g.records[e] = r[1];
    gridUnique[e] = r[0] == r[1];
    // Every record of the grid table, whatever its parent: the deleted ones and those with an empty key.
    const auto all = recordCounts(conn, c, own);
    g.deleted[e] = all[0] - all[1];
    emptyKeys[e] = all[2];
  }
  // A grid matched on one column has its conflicts listed by the member, which compares every
  // field of entry 1's grid table: when entry 2's lacks one, the member cannot list them. One
  // matched on several columns is listed by statements of the layer's own, on the compared fields.
  const bool byMember = own.size() == 1;
  if (byMember) {
    db::TableRef a = findTable(conn, c1), b = findTable(conn, c2);
    for (const std::string& f : fieldNames(a))
      if (!isSystemColumn(f) && !contains(fieldNames(b), f))
        g.findings.push_back({"structure", 2, kNotListed + ": " + c1 + " of entry 2 has no field " + f});
  }
  const bool listable = !notListable(g);
  // Keys unique within their parents and every conflict listed: run() counts the pairs, what
  // differs and the records without partner from the listed records.
  if (preparing_ && listable && gridUnique[0] && gridUnique[1]) {
    for (const std::string& f : fields) g.fields.push_back({f, 0, 0});
    fromLists_.push_back(foldCase(g.table));
    checkKeys(g, emptyKeys, &gridUnique);
    return;
  }
  std::string pair = under(c1, p1) + " and " + under(c2, p2);
  for (const std::string& k : g.parentKeys) pair += " and " + col(p1, k) + " = " + col(p2, k);
  for (const std::string& k : own) pair += " and " + col(c1, k) + " = " + col(c2, k);
  std::string sums, any;
  std::vector<std::string> names{"pairs", "conflicting"};
  for (size_t i = 0; i < fields.size(); ++i) {
    const std::string d = differs(col(c1, fields[i]), col(c2, fields[i]));
    sums += ", sum(iif(" + d + ", 1, 0)) as [d" + std::to_string(i) + "]";
    any += (any.empty() ? "" : " or ") + d;
    names.push_back("d" + std::to_string(i));
  }
  if (fields.empty()) any = "1 = 0";
  auto c = counts(conn, "select count(*) as pairs, sum(iif(" + any + ", 1, 0)) as conflicting" + sums + " from " +
                            br(c1) + ", " + br(p1) + ", " + br(c2) + ", " + br(p2) + " where " + pair,
                  names);
  g.matched = c[0];
  g.conflicting = c[1];
  g.missing = {std::max<int64_t>(0, g.records[0] - c[0]), std::max<int64_t>(0, g.records[1] - c[0])};
  for (size_t i = 0; i < fields.size(); ++i) g.fields.push_back({fields[i], c[0], c[2 + i]});
  checkKeys(g, emptyKeys, &gridUnique);
}

bool Verifier::checkKeys(TableSummary& t, const std::array<int64_t, 2>& emptyKeys,
                         const std::array<bool, 2>* gridUnique) {
  bool allUnique = true;
  db::cDatabase& conn = *entries_.linked;
  members_.setDB(entries_.linked);
  for (int e = 1; e <= 2; ++e) {
    const std::string table = e == 1 ? t.table : link(t.table);
    const std::string name = t.table + " (" + entryName(e) + ")";
    const std::vector<std::string> own = t.grid ? ownKeys(t) : t.keys;
    // The records a key check finds empty were counted with the table's records.
    if (emptyKeys[e - 1] > 0) {
      db::RecordsetRef rs = conn.OpenRecordset("select " + col(table, "UniqueKey") + " as u from " + br(table) +
                                                   " where " + emptyKey(table, own) + " order by " +
                                                   col(table, "UniqueKey"),
                                               3, "");
      std::vector<std::string> shown;
      int64_t total = 0;
      for (; !deref(rs).IsEOF(); rs->MoveNext(), ++total)
        if (shown.size() < kListedValues) shown.push_back("UniqueKey=" + concatText(rs->FieldValue("u")));
      t.findings.push_back({"keys", e, name + ": " + std::to_string(total) + " record" + (total == 1 ? "" : "s") +
                                           " with an empty key (" + joined(own, ", ") + "): " + summaryOfValues(shown, total)});
    }
    // Unique: a form's keys among its active records, a grid's key within each parent.
    bool unique = true;
    if (!t.grid) {
      Variant list(arrayOf(t.keys)), oru(true), tableName(table), ext = connVariant(entries_.linked);
      unique = toBoolean(members_.call("IsMatchKeyUnique", {byRef(list), byRef(oru), byRef(tableName), byRef(ext)}));
    }
    std::string groupCols, from = br(table), where = col(table, "RecStatus") + " = 1";
    std::vector<std::string> shownKeys;
    if (t.grid) {
      const std::string p = e == 1 ? t.parentTable : link(t.parentTable);
      from += ", " + br(p);
      where += " and " + col(table, "FKey") + " = " + col(p, "UniqueKey") + " and " + col(p, "RecStatus") + " = 1";
      for (const std::string& k : t.parentKeys) groupCols += (groupCols.empty() ? "" : ", ") + col(p, k);
    }
    for (const std::string& k : own) groupCols += (groupCols.empty() ? "" : ", ") + col(table, k);
    if (t.grid) unique = gridUnique && (*gridUnique)[e - 1];
    if (!unique) {
      db::RecordsetRef rs = conn.OpenRecordset("select " + groupCols + ", count(*) as [n~] from " + from + " where " + where +
                                                   " group by " + groupCols + " having count(*) > 1 order by " + groupCols,
                                               3, "");
      auto fs = deref(rs).Recordset();
      std::vector<std::string> shown;
      int64_t total = 0;
      for (; !rs->IsEOF(); rs->MoveNext(), ++total) {
        if (shown.size() >= kListedValues) continue;
        std::vector<Variant> v;
        for (int32_t i = 0; i + 1 < deref(fs).Count(); ++i) v.push_back(rs->FieldValue(fs->Name(i)));
        shown.push_back(keyText(t.keys, v) + " (" + concatText(rs->FieldValue("n~")) + " records)");
      }
      if (total > 0)
        t.findings.push_back({"keys", e, name + ": " + std::to_string(total) + " key value" + (total == 1 ? "" : "s") +
                                             " used by more than one record: " + summaryOfValues(shown, total)});
      allUnique = allUnique && total == 0;
    }
  }
  return allUnique;
}

// ---- records ---------------------------------------------------------------------------

namespace {

// Pairs entry-1 rows with the entry-2 rows fetched for their keys, a batch at a time: one pass
// over the batch (indexed by key) and one over the fetched rows; rows are handed on in
// entry-1 order with their partner (nullptr when entry 2 has none).
class Pairing {
 public:
  using Fetch = std::function<void(const std::vector<std::vector<Variant>>&,
                                   const std::function<void(std::vector<Variant>&&)>&)>;
  // `caseSensitive`: keys pair as the connections compare text.
  Pairing(size_t nKeys, bool caseSensitive, std::function<void(std::vector<Variant>&, std::vector<Variant>*)> pair)
      : nKeys_(nKeys), caseSensitive_(caseSensitive), pair_(std::move(pair)) {}

  void add(std::vector<Variant>&& row) { batch_.push_back(std::move(row)); }
  bool full() const { return batch_.size() >= kBatch; }

  void flush(const Fetch& fetch) {
    if (batch_.empty()) return;
    std::unordered_map<std::string, std::vector<size_t>> at;
    for (size_t i = 0; i < batch_.size(); ++i) at[key(batch_[i])].push_back(i);
    std::vector<std::optional<std::vector<Variant>>> partner(batch_.size());
    fetch(batch_, [&](std::vector<Variant>&& row) {
      auto it = at.find(key(row));
      if (it == at.end()) return;
      // The first partner of a key pairs with every entry-1 row of that key.
      for (size_t i : it->second)
        if (!partner[i]) partner[i] = row;
    });
    for (size_t i = 0; i < batch_.size(); ++i) pair_(batch_[i], partner[i] ? &*partner[i] : nullptr);
    batch_.clear();
  }

 private:
  std::string key(const std::vector<Variant>& row) const {
    std::string k;
    for (size_t i = 0; i < nKeys_ && i < row.size(); ++i)
      k += (caseSensitive_ ? concatText(row[i]) : foldCase(concatText(row[i]))) + '\x1f';
    return k;
  }

  size_t nKeys_;
  bool caseSensitive_;
  std::function<void(std::vector<Variant>&, std::vector<Variant>*)> pair_;
  std::vector<std::vector<Variant>> batch_;
};

// Reads a recordset record by record: its column names once, then each record's values.
void eachRow(const db::RecordsetRef& rs, std::vector<std::string>& columns,
             const std::function<void(std::vector<Variant>&&)>& row) {
  columns.clear();
  if (!rs) return;
  auto fs = rs->Recordset();
  for (int32_t i = 0; i < deref(fs).Count(); ++i) columns.push_back(fs->Name(i));
  if (rs->IsBOF() && rs->IsEOF()) return;
  while (!rs->IsEOF()) {
    std::vector<Variant> v;
    v.reserve(columns.size());
    for (const std::string& c : columns) v.push_back(rs->FieldValue(c));
    row(std::move(v));
    rs->MoveNext();
  }
}

db::RecordsetRef recordset(const Variant& v) {
  return v.isObject() ? std::dynamic_pointer_cast<db::cRecordset>(v.object()) : nullptr;
}

std::string withoutAlias(const std::string& c, bool& main) {
  main = false;
  for (const char* suffix : {"~Main", "~Grid"}) {
    const std::string s = suffix;
    if (c.size() > s.size() && textEqual(c.substr(c.size() - s.size()), s)) {
      main = s == "~Main";
      return c.substr(0, c.size() - s.size());
    }
  }
  return c;
}

// Two values as `&` compares them (Null counts as ""), in the connections' case rule.
bool sameText(const Variant& a, const Variant& b, bool caseSensitive) {
  const std::string x = concatText(a), y = concatText(b);
  return caseSensitive ? x == y : textEqual(x, y);
}

// The columns of the listed records that hold the compared fields of `t`, each with its
// count (nullptr for keys and other columns); worked out once per list.
const std::vector<FieldCount*>& columnCounts(TableSummary& t, const std::vector<std::string>& columns, size_t nKeys,
                                             std::vector<FieldCount*>& counted) {
  if (counted.size() == columns.size()) return counted;
  counted.assign(columns.size(), nullptr);
  for (size_t c = nKeys; c < columns.size(); ++c) {
    bool main = false;
    const std::string base = withoutAlias(columns[c], main);
    if (main) continue;
    for (FieldCount& f : t.fields)
      if (textEqual(f.field, base)) counted[c] = &f;
  }
  return counted;
}

// Keys unique within their parents: every record of entry 1 not listed as without partner has
// one, and each of its fields was compared.
void completeGridCounts(TableSummary& g) {
  g.matched = g.records[0] - g.missing[0];
  for (FieldCount& f : g.fields) f.compared = g.matched;
}

// A listed pair with its partner: its differing fields (`differs` per column) and, when any
// differs, the pair itself.
void countPair(TableSummary& t, const std::vector<FieldCount*>& counted, const std::vector<bool>& differs) {
  bool any = false;
  for (size_t c = 0; c < counted.size() && c < differs.size(); ++c)
    if (counted[c] && differs[c]) {
      ++counted[c]->differing;
      any = true;
    }
  if (any) ++t.conflicting;
}


// The conflicts and unpaired records of every table, in a temporary file until the counts
// they complete have been written: values with their types, so that they come back as read.
class Spool : public Sink {
 public:
  Spool() : file_(std::tmpfile(), &std::fclose) {
    if (!file_) throw std::runtime_error("cannot create a temporary file for the listed records");
    std::setvbuf(file_.get(), nullptr, _IOFBF, 1 << 20);
  }

  void summary(const Survey&) override {}
  void beginTable(const TableSummary&) override {}
  void conflict(const Record& one, const Record& two, const std::vector<bool>& differs) override {
    columns(0, *one.columns);
    put('C');
    text(one.key);
    values(one.values);
    values(two.values);
    number(differs.size());
    for (bool d : differs) put(d ? 1 : 0);
  }
  void unpaired(int entry, const Record& r) override {
    columns(entry, *r.columns);
    put('U');
    put(static_cast<uint8_t>(entry));
    text(r.key);
    values(r.values);
  }
  void endTable(const TableSummary&) override { put('E'); }
  void finish(const Survey&) override {}

  // Hands `sink` the summary, then each table's records as they were listed.
  void replay(const Survey& s, Sink& sink) {
    if (std::fflush(file_.get()) != 0 || std::ferror(file_.get()))
      throw std::runtime_error("cannot write the temporary file of the listed records");
    std::rewind(file_.get());
    for (auto& c : read_) c.clear();
    sink.summary(s);
    for (const TableSummary& f : s.forms) {
      replayTable(f, sink);
      for (const TableSummary& g : f.grids) replayTable(g, sink);
    }
    sink.finish(s);
  }

 private:
  enum : uint8_t { kEmpty, kNull, kInt16, kInt32, kDouble, kCurrency, kDate, kText, kBool, kByte };

  void replayTable(const TableSummary& t, Sink& sink) {
    sink.beginTable(t);
    for (;;) {
      const uint8_t tag = get();
      if (tag == 'E') break;
      if (tag == 'N') {
        const uint8_t slot = get();
        read_[slot].resize(static_cast<size_t>(number()));
        for (std::string& c : read_[slot]) c = text();
      } else if (tag == 'C') {
        Record one{&read_[0], {}, text()}, two{&read_[0], {}, one.key};
        one.values = values();
        two.values = values();
        std::vector<bool> differs(static_cast<size_t>(number()));
        for (size_t i = 0; i < differs.size(); ++i) differs[i] = get() != 0;
        sink.conflict(one, two, differs);
      } else if (tag == 'U') {
        const int entry = get();
        Record r{&read_[entry == 1 ? 1 : 2], {}, text()};
        r.values = values();
        sink.unpaired(entry, r);
      } else {
        throw std::runtime_error("the temporary file of the listed records is damaged");
      }
    }
    sink.endTable(t);
  }

  // A record's columns, written when they differ from the last ones of their slot.
  void columns(int slot, const std::vector<std::string>& names) {
    if (written_[slot] == names) return;
    written_[slot] = names;
    put('N');
    put(static_cast<uint8_t>(slot));
    number(names.size());
    for (const std::string& n : names) text(n);
  }

  void put(uint8_t b) { std::fputc(b, file_.get()); }
  void bytes(const void* p, size_t n) { std::fwrite(p, 1, n, file_.get()); }
  void number(uint64_t n) { bytes(&n, sizeof n); }
  void text(const std::string& t) {
    number(t.size());
    bytes(t.data(), t.size());
  }
  template <class T>
  void raw(uint8_t tag, T v) {
    put(tag);
    bytes(&v, sizeof v);
  }
  void values(const std::vector<Variant>& vs) {
    number(vs.size());
    for (const Variant& v : vs) {
      if (v.isEmpty()) put(kEmpty);
      else if (const auto* i = v.get<int16_t>()) raw(kInt16, *i);
      else if (const auto* l = v.get<int32_t>()) raw(kInt32, *l);
      else if (const auto* d = v.get<double>()) raw(kDouble, *d);
      else if (const auto* c = v.get<Currency>()) raw(kCurrency, c->scaled);
      else if (const auto* t = v.get<Date>()) raw(kDate, t->serial);
      else if (const auto* s = v.get<std::string>()) {
        put(kText);
        text(*s);
      } else if (const auto* b = v.get<bool>()) raw(kBool, static_cast<uint8_t>(*b));
      else if (const auto* y = v.get<uint8_t>()) raw(kByte, *y);
      else put(kNull);  // Null (a record holds no objects or arrays)
    }
  }

  uint8_t get() {
    const int c = std::fgetc(file_.get());
    if (c == EOF) throw std::runtime_error("the temporary file of the listed records ends early");
    return static_cast<uint8_t>(c);
  }
  void read(void* p, size_t n) {
    if (n && std::fread(p, 1, n, file_.get()) != n)
      throw std::runtime_error("the temporary file of the listed records ends early");
  }
  uint64_t number() {
    uint64_t n = 0;
    read(&n, sizeof n);
    return n;
  }
  std::string text() {
    std::string t(static_cast<size_t>(number()), '\0');
    read(t.data(), t.size());
    return t;
  }
  template <class T>
  T raw() {
    T v{};
    read(&v, sizeof v);
    return v;
  }
  std::vector<Variant> values() {
    std::vector<Variant> out(static_cast<size_t>(number()));
    for (Variant& v : out) {
      switch (get()) {
        case kEmpty: v = Variant(); break;
        case kNull: v = Variant(Null{}); break;
        case kInt16: v = Variant(raw<int16_t>()); break;
        case kInt32: v = Variant(raw<int32_t>()); break;
        case kDouble: v = Variant(raw<double>()); break;
        case kCurrency: v = Variant(Currency{raw<int64_t>()}); break;
        case kDate: v = Variant(Date{raw<double>()}); break;
        case kText: v = Variant(text()); break;
        case kBool: v = Variant(raw<uint8_t>() != 0); break;
        case kByte: v = Variant(raw<uint8_t>()); break;
        default: throw std::runtime_error("the temporary file of the listed records is damaged");
      }
    }
    return out;
  }

  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file_;
  std::array<std::vector<std::string>, 3> written_, read_;  // slot 0: conflicts, 1 and 2: unpaired of an entry
};

}  // namespace

Survey Verifier::prepare() {
  struct Preparing {
    bool& flag;
    ~Preparing() { flag = false; }
  } preparing{preparing_ = true};
  return summarize();
}

bool Verifier::fromLists(const TableSummary& t) const { return contains(fromLists_, t.table); }

void Verifier::run(Survey& s, Sink& sink) {
  if (fromLists_.empty()) return stream(s, sink);
  Spool spool;
  for (TableSummary& f : s.forms) {
    if (f.notCompared.empty()) streamForm(f, spool, fromLists(f) ? &f : nullptr);
    spool.endTable(f);
    for (TableSummary& g : f.grids) {
      if (g.notCompared.empty()) streamGrid(g, spool, fromLists(g) ? &g : nullptr);
      spool.endTable(g);
    }
  }
  fromLists_.clear();
  pairsFromLists_.clear();
  progress("writing the report");
  spool.replay(s, sink);
  progress("");
}

void Verifier::stream(const Survey& s, Sink& sink) {
  sink.summary(s);
  for (const TableSummary& f : s.forms) {
    sink.beginTable(f);
    if (f.notCompared.empty()) streamForm(f, sink);
    sink.endTable(f);
    for (const TableSummary& g : f.grids) {
      sink.beginTable(g);
      if (g.notCompared.empty()) streamGrid(g, sink);
      sink.endTable(g);
    }
  }
  sink.finish(s);
  progress("");
}

void Verifier::streamForm(const TableSummary& t, Sink& sink, TableSummary* counts) {
  progress("listing the records of " + t.table);
  db::DatabaseRef conn = entries_.linked;
  const std::string t1 = t.table, t2 = link(t.table);
  std::vector<std::string> fields;
  for (const FieldCount& f : t.fields) fields.push_back(f.field);
  if (fields.empty()) return;
  auto rows = [&](const std::string& a, const std::string& b, int32_t kind) {
    Variant keys(arrayOf(t.keys)), f(arrayOf(fields)), d = connVariant(conn);
    return recordset(members_.call("GetTblDiffRecRS", {byVal(Variant(a)), byVal(Variant(b)), byRef(keys), byRef(f),
                                                       byVal(Variant(kind)), byVal(Variant(true)), byRef(d)}));
  };
  const size_t nk = t.keys.size();
  std::vector<std::string> columns;
  std::vector<FieldCount*> counted;  // per column, the field it counts (nullptr: none)
  Pairing pairing(nk, entries_.caseSensitive, [&](std::vector<Variant>& one, std::vector<Variant>* two) {
    Record r1{&columns, one, keyText(t.keys, one)};
    std::vector<bool> diff(columns.size(), false);
    Record r2{&columns, two ? *two : std::vector<Variant>(columns.size(), Variant(Null{})), r1.key};
    for (size_t c = nk; c < columns.size(); ++c) diff[c] = !sameText(one[c], r2.values[c], entries_.caseSensitive);
    if (counts && two) countPair(*counts, columnCounts(*counts, columns, nk, counted), diff);
    sink.conflict(r1, r2, diff);
  });
  std::vector<std::string> keyCols, select;
  for (const std::string& k : t.keys) keyCols.push_back(col(t2, k));
  auto fetch = [&](const std::vector<std::vector<Variant>>& batch, const std::function<void(std::vector<Variant>&&)>& row) {
    select.clear();
    for (const std::string& c : columns) select.push_back(col(t2, c));
    fetchByKey(*conn, br(t2), keyCols, select, col(t2, "RecStatus") + " = 1", batch, row);
  };
  eachRow(rows(t1, t2, 1), columns, [&](std::vector<Variant>&& row) {
    pairing.add(std::move(row));
    if (pairing.full()) pairing.flush(fetch);
  });
  pairing.flush(fetch);
  std::array<int64_t, 2> unpaired{};
  std::vector<std::string> cols2;
  eachRow(rows(t1, t2, 2), columns, [&](std::vector<Variant>&& row) {
    ++unpaired[0];
    sink.unpaired(1, Record{&columns, row, keyText(t.keys, row)});
  });
  eachRow(rows(t2, t1, 2), cols2, [&](std::vector<Variant>&& row) {
    ++unpaired[1];
    sink.unpaired(2, Record{&cols2, row, keyText(t.keys, row)});
  });
  // The pairs, from the records without partner where prepare() left them to the lists. Both
  // entries must tell the same number; should they not, the statement counts them.
  if (!counts || !contains(pairsFromLists_, t.table)) return;
  const int64_t pairs = counts->records[0] - unpaired[0];
  setPairs(*counts, pairs == counts->records[1] - unpaired[1]
                        ? pairs
                        : verify::counts(*conn, "select count(*) as pairs" + pairedRecords(t1, t2, t.keys), {"pairs"})[0]);
}

void Verifier::streamGridOnKeys(const TableSummary& g, Sink& sink, TableSummary* counts) {
  std::vector<std::string> fields;
  for (const FieldCount& f : g.fields) fields.push_back(f.field);
  const GridPairing st = gridPairing(g.parentTable, g.parentKeys, g.table, ownKeys(g), fields);
  db::cDatabase& conn = *entries_.linked;
  const size_t nk = g.keys.size();
  std::vector<std::string> columns = g.keys, read;
  columns.insert(columns.end(), fields.begin(), fields.end());
  std::vector<FieldCount*> counted;
  // Entry 1's and entry 2's values side by side in each listed pair.
  eachRow(conn.OpenRecordset(st.differing, 3, ""), read, [&](std::vector<Variant>&& row) {
    Record one{&columns, {}, keyText(g.keys, row)}, two{&columns, {}, one.key};
    one.values.assign(row.begin(), row.begin() + static_cast<std::ptrdiff_t>(nk));
    two.values = one.values;
    std::vector<bool> diff(columns.size(), false), text(columns.size(), false);
    for (size_t i = 0; i < fields.size(); ++i) {
      const Variant& a = row[nk + 2 * i];
      const Variant& b = row[nk + 2 * i + 1];
      text[nk + i] = !sameText(a, b, entries_.caseSensitive);
      diff[nk + i] = a.isNull() != b.isNull() || text[nk + i];
      one.values.push_back(a);
      two.values.push_back(b);
    }
    // Counted as the counting statement compares (Null as ""); shown as listed.
    if (counts) countPair(*counts, columnCounts(*counts, columns, nk, counted), text);
    sink.conflict(one, two, diff);
  });
  for (int e = 0; e < 2; ++e)
    eachRow(conn.OpenRecordset(st.unpaired[e], 3, ""), read, [&](std::vector<Variant>&& row) {
      std::string key = keyText(g.keys, row);
      if (counts) ++counts->missing[e];
      sink.unpaired(e + 1, Record{&columns, std::move(row), std::move(key)});
    });
  if (counts) completeGridCounts(*counts);
}

void Verifier::streamGrid(const TableSummary& g, Sink& sink, TableSummary* counts) {
  progress("listing the records of " + g.table);
  if (ownKeys(g).size() > 1) return streamGridOnKeys(g, sink, counts);
  db::DatabaseRef conn = entries_.linked;
  members_.setDB(conn);
  const std::string c1 = g.table, c2 = link(g.table), p1 = g.parentTable, p2 = link(g.parentTable);
  const std::string childKey = g.keys.back();
  auto rows = [&](const std::string& pa, const std::string& ca, const std::string& pb, const std::string& cb, int32_t kind) {
    Variant keys(arrayOf(g.parentKeys));
    return recordset(members_.call("GetTblDiffGridRS", {byVal(Variant(pa)), byVal(Variant(ca)), byVal(Variant(pb)),
                                                        byVal(Variant(cb)), byVal(Variant(childKey)), byRef(keys),
                                                        byVal(Variant(kind))}));
  };
  const size_t nk = g.keys.size();
  const bool listable = !notListable(g);
  std::vector<std::string> columns;
  // Columns of the listed records that hold compared values (not keys, not FKey).
  std::vector<bool> compared;
  auto setCompared = [&] {
    compared.assign(columns.size(), false);
    for (size_t c = nk; c < columns.size(); ++c) {
      bool main = false;
      const std::string base = withoutAlias(columns[c], main);
      compared[c] = !main && std::any_of(g.fields.begin(), g.fields.end(),
                                         [&](const FieldCount& f) { return textEqual(f.field, base); });
    }
  };
  std::vector<FieldCount*> counted;
  Pairing pairing(nk, entries_.caseSensitive, [&](std::vector<Variant>& one, std::vector<Variant>* two) {
    Record r1{&columns, one, keyText(g.keys, one)};
    Record r2{&columns, two ? *two : std::vector<Variant>(columns.size(), Variant(Null{})), r1.key};
    std::vector<bool> diff(columns.size(), false), text(columns.size(), false);
    bool any = false;
    for (size_t c = 0; c < columns.size(); ++c) {
      if (!compared[c]) continue;
      text[c] = !sameText(one[c], r2.values[c], entries_.caseSensitive);
      diff[c] = (one[c].isNull() != r2.values[c].isNull()) || text[c];
      any = any || diff[c];
    }
    // Counted as the counting statement compares (Null as ""); shown as the member lists.
    if (counts && two) countPair(*counts, columnCounts(*counts, columns, nk, counted), text);
    // A record that differs only in ignored fields is no conflict here.
    if (any || !two) sink.conflict(r1, r2, diff);
  });
  std::vector<std::string> keyCols, select;
  for (const std::string& k : g.parentKeys) keyCols.push_back(col(p2, k));
  keyCols.push_back(col(c2, childKey));
  auto fetch = [&](const std::vector<std::vector<Variant>>& batch, const std::function<void(std::vector<Variant>&&)>& row) {
    select.clear();
    for (size_t c = 0; c < columns.size(); ++c) {
      bool main = false;
      const std::string base = withoutAlias(columns[c], main);
      select.push_back(c < g.parentKeys.size() || main ? col(p2, base) : col(c2, base));
    }
    fetchByKey(*conn, br(c2) + ", " + br(p2), keyCols, select,
               col(c2, "FKey") + " = " + col(p2, "UniqueKey") + " and " + col(c2, "RecStatus") + " = 1 and " +
                   col(p2, "RecStatus") + " = 1",
               batch, row);
  };
  if (listable) {
    eachRow(rows(p1, c1, p2, c2, 1), columns, [&](std::vector<Variant>&& row) {
      if (compared.size() != columns.size()) setCompared();
      pairing.add(std::move(row));
      if (pairing.full()) pairing.flush(fetch);
    });
    pairing.flush(fetch);
  }
  std::vector<std::string> cols2;
  eachRow(rows(p1, c1, p2, c2, 2), columns, [&](std::vector<Variant>&& row) {
    if (counts) ++counts->missing[0];
    sink.unpaired(1, Record{&columns, row, keyText(g.keys, row)});
  });
  eachRow(rows(p2, c2, p1, c1, 2), cols2, [&](std::vector<Variant>&& row) {
    if (counts) ++counts->missing[1];
    sink.unpaired(2, Record{&cols2, row, keyText(g.keys, row)});
  });
  if (counts) completeGridCounts(*counts);
}

}  // namespace ovt::verify
