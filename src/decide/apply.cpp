// Applying decisions: each record (with its grid records) in one transaction. Values are
// checked and turned into literals before the record's first statement; whole records go
// through CopyRec / CopyChild / DeleteRec, single values through an update statement whose
// effect is read back. Every change adds a row to the target's ovt_audit in the same
// transaction; a record already as decided is left alone.
#include <map>
#include <optional>

#include "decide/internal.h"
#include "ovtbldiff/decide.h"
#include "ovtbldiff/runtime/text.h"

namespace ovt::decide {

size_t ApplyResult::changed() const {
  size_t n = 0;
  for (const RecordOutcome& r : records) n += r.ok ? r.changes.size() : 0;
  return n;
}

size_t ApplyResult::failed() const {
  size_t n = 0;
  for (const RecordOutcome& r : records) n += r.ok ? 0 : 1;
  return n;
}

namespace {

using detail::quotedText;
using detail::rowsOf;

const char* kAuditTable =
    "create table ovt_audit (audit_no counter, applied_at text(30), reviewer text(255), table_name text(255), "
    "record_key memo, field_name text(255), value_before memo, value_after memo, chosen_from text(10))";

bool isNumeric(int32_t t) {
  using namespace db;
  return t == adSmallInt || t == adInteger || t == adTinyInt || t == adUnsignedTinyInt || t == adBigInt ||
         t == adSingle || t == adDouble || t == adCurrency || t == adDecimal || t == adNumeric;
}

bool isSystem(const std::string& name) { return textEqual(name, "UniqueKey") || textEqual(name, "RecStatus"); }

// One entry (or the target) as a connection and the prefix of its tables there.
struct Place {
  db::DatabaseRef conn;
  std::string prefix;
  std::string name;  // "entry 1", "entry 2", "the target"
};

// A column's stored name and type code.
struct Column {
  std::string name;
  int32_t type = 0;
};

class Applier {
 public:
  Applier(Members& m, const Survey& s, const Sides& sd, const ApplyOptions& o)
      : m_(m), survey_(s), sides_(sd), opt_(o),
        target_{sd.writer, sd.targetPrefix, "the target"},
        source_{sd.writer, sd.sourcePrefix, "entry " + std::to_string(sd.sourceEntry)},
        one_{sd.entry1, sd.entry1Prefix, "entry 1"},
        two_{sd.entry2, sd.entry2Prefix, "entry 2"} {}

  void prepare() {
    m_.SetDB(sides_.writer);
    if (!sides_.writer->TableExists(sides_.targetPrefix + "ovt_audit")) {
      std::string sql = kAuditTable;
      sql.replace(sql.find("ovt_audit"), 9, sides_.targetPrefix + "ovt_audit");
      exec(sql);
    }
  }

  RecordOutcome record(const std::vector<Decision>& group);

 private:
  // The columns of a table of a place, cached.
  const std::vector<Column>& columns(const Place& p, const std::string& table) {
    const std::string key = std::to_string(reinterpret_cast<uintptr_t>(p.conn.get())) + "|" + foldCase(p.prefix + table);
    auto it = columns_.find(key);
    if (it != columns_.end()) return it->second;
    std::vector<Column> cols;
    if (db::TableRef t = detail::tableOf(p.conn, p.prefix + table))
      for (const db::FieldRef& f : deref(t->Fields()).Items())
        if (f) cols.push_back({f->Name(), f->DataType()});
    if (cols.empty()) throw Refused("no table " + table + " in " + p.name);
    return columns_.emplace(key, std::move(cols)).first->second;
  }
  Column column(const Place& p, const std::string& table, const std::string& name) {
    for (const Column& c : columns(p, table))
      if (textEqual(c.name, name)) return c;
    throw Refused("no column " + name + " in table " + table + " (" + p.name + ")");
  }
  bool hasColumn(const Place& p, const std::string& table, const std::string& name) {
    for (const Column& c : columns(p, table))
      if (textEqual(c.name, name)) return true;
    return false;
  }

  void exec(const std::string& sql) {
    if (opt_.statement) opt_.statement(sql);
    if (!sides_.writer->Execute(sql)) throw Refused(sides_.writer->LastFailure() + " (" + sql + ")");
  }

  // "[k] = literal and ..." for key columns and values of a table in a place.
  std::string keyCondition(const Place& p, const std::string& table, const std::vector<std::string>& keys,
                           const std::vector<std::string>& values) {
    std::string cond;
    for (size_t i = 0; i < keys.size(); ++i) {
      const Column c = column(p, table, keys[i]);
      cond += (i ? " and [" : "[") + c.name + "] = " +
              typedLiteral(values[i], c.type, "key " + keys[i] + " of table " + table);
    }
    if (hasColumn(p, table, "RecStatus")) cond += " and RecStatus <> 0";
    return cond;
  }

  // The condition that finds the active record in a place; nullopt when a grid record's parent
  // is not there. `parentKey` receives the parent's UniqueKey for a grid record.
  std::optional<std::string> locate(const Place& p, const TableKeys& t, const std::vector<std::string>& values,
                                    std::string* parentKey = nullptr) {
    if (t.parent.empty()) return keyCondition(p, t.table, t.keys, values);
    const TableKeys& parent = *survey_.find(t.parent);
    const std::vector<std::string> pv(values.begin(), values.begin() + static_cast<long>(parent.keys.size()));
    const std::vector<std::string> cv(values.begin() + static_cast<long>(parent.keys.size()), values.end());
    auto rows = rowsOf(p.conn, "select UniqueKey from [" + p.prefix + parent.table + "] where " +
                                   keyCondition(p, parent.table, parent.keys, pv));
    if (rows.empty()) return std::nullopt;
    const std::string uk = valueText(rows[0][0]);
    if (parentKey) *parentKey = uk;
    return "FKey = " + uk + " and " + keyCondition(p, t.table, t.keys, cv);
  }

  bool present(const Place& p, const TableKeys& t, const std::vector<std::string>& values) {
    auto cond = locate(p, t, values);
    if (!cond) return false;
    auto rows = rowsOf(p.conn, "select count(*) as N from [" + p.prefix + t.table + "] where " + *cond);
    return !rows.empty() && toLong(rows[0][0]) > 0;
  }

  // The value of a field of the record in a place; nullopt when the record is not there.
  std::optional<Variant> value(const Place& p, const TableKeys& t, const std::vector<std::string>& values,
                               const std::string& field) {
    auto cond = locate(p, t, values);
    if (!cond) return std::nullopt;
    auto rows = rowsOf(p.conn, "select [" + column(p, t.table, field).name + "] from [" + p.prefix + t.table +
                                   "] where " + *cond);
    if (rows.empty()) return std::nullopt;
    return rows[0][0];
  }

  static std::string literalOf(const Variant& v, int32_t type, const std::string& place) {
    if (v.isNull() || v.isEmpty()) return "Null";
    return typedLiteral(valueText(v), type, place);
  }

  static bool sameValue(const std::string& a, const std::string& b, int32_t type) {
    if (a == "Null" || b == "Null") return a == b;
    if (isNumeric(type)) return std::strtod(a.c_str(), nullptr) == std::strtod(b.c_str(), nullptr);
    return a == b;
  }

  void audit(const Change& c) {
    exec("insert into [" + sides_.targetPrefix + "ovt_audit] (applied_at, reviewer, table_name, record_key, "
         "field_name, value_before, value_after, chosen_from) values (" +
         quotedText(nowText()) + ", " + quotedText(opt_.reviewer) + ", " + quotedText(c.table) + ", " +
         quotedText(c.record) + ", " + quotedText(c.field) + ", " + quotedText(c.before) + ", " +
         quotedText(c.after) + ", " + quotedText(c.from) + ")");
  }

  StringArray keyRows(const Place& p, const std::string& table, const std::vector<std::string>& keys) {
    StringArray a;
    a.redim(0, static_cast<int32_t>(keys.size()) - 1, 0, 1);
    for (size_t k = 0; k < keys.size(); ++k) {
      const Column c = column(p, table, keys[k]);
      a.at(static_cast<int32_t>(k), 0) = c.name;
      a.at(static_cast<int32_t>(k), 1) = std::to_string(c.type);
    }
    return a;
  }

  static void checkMessages(bool ok, const StringArray& err, const std::string& member) {
    std::string msg;
    if (err.allocated())
      for (int32_t i = err.lbound(1); i <= err.ubound(1); ++i) msg += err.at(i);
    if (!ok || !msg.empty()) throw Refused(member + " failed: " + (msg.empty() ? std::string("(no message)") : msg));
  }

  void copyRecord(const TableKeys& t, const std::vector<std::string>& values) {
    if (opt_.statement)
      opt_.statement(std::string(t.parent.empty() ? "CopyRec " : "CopyChild ") + source_.prefix + t.table + " -> " +
                     target_.prefix + t.table);
    if (!t.parent.empty()) {
      const TableKeys& parent = *survey_.find(t.parent);
      std::string sourceParentKey;
      if (!locate(source_, t, values, &sourceParentKey)) throw Refused("its parent is not in " + source_.name);
      StringArray pk = keyRows(source_, parent.table, parent.keys);
      VariantArray pv;
      pv.redim(0, 0, 0, static_cast<int32_t>(parent.keys.size()) - 1);
      for (size_t k = 0; k < parent.keys.size(); ++k) pv.at(0, static_cast<int32_t>(k)) = Variant(values[k]);
      // The member reads the source parent's key from the second column of the child's values:
      // the child's first key column, FKey, then its other key columns.
      std::vector<std::string> childKeys = t.keys, childValues(values.begin() + static_cast<long>(parent.keys.size()),
                                                                 values.end());
      childKeys.insert(childKeys.begin() + 1, "FKey");
      childValues.insert(childValues.begin() + 1, sourceParentKey);
      StringArray ck = keyRows(source_, t.table, childKeys);
      StringArray cv;
      cv.redim(0, 0, 0, static_cast<int32_t>(childKeys.size()) - 1);
      for (size_t k = 0; k < childKeys.size(); ++k) cv.at(0, static_cast<int32_t>(k)) = childValues[k];
      StringArray err = StringArray::of({""});
      std::string view = t.gridView;
      bool ok = m_.CopyChild(source_.prefix + parent.table, target_.prefix + parent.table, source_.prefix + t.table,
                             target_.prefix + t.table, view, pk, pv, ck, cv, err);
      checkMessages(ok, err, "CopyChild");
      return;
    }
    StringArray mf = keyRows(source_, t.table, t.keys);
    VariantArray mv;
    mv.redim(0, 0, 0, static_cast<int32_t>(t.keys.size()) - 1);
    for (size_t k = 0; k < t.keys.size(); ++k) mv.at(0, static_cast<int32_t>(k)) = Variant(values[k]);
    std::vector<std::string> common;
    for (const Column& c : columns(source_, t.table)) {
      bool skip = isSystem(c.name) || !hasColumn(target_, t.table, c.name);
      for (const std::string& k : t.keys) skip = skip || textEqual(k, c.name);
      if (!skip) common.push_back(c.name);
    }
    StringArray cf = StringArray::of(common.empty() ? std::vector<std::string>{""} : common);
    std::vector<std::vector<std::string>> gridRows;
    for (const auto& [view, table] : t.grids) gridRows.push_back({view, table});
    if (gridRows.empty()) gridRows.push_back({"", ""});
    StringArray grids = StringArray::of2(gridRows);
    bool oru = hasColumn(source_, t.table, "RecStatus") && hasColumn(source_, t.table, "UniqueKey");
    StringArray err = StringArray::of({""});
    db::DatabaseRef w = sides_.writer;
    bool ok = m_.CopyRec(source_.prefix + t.table, target_.prefix + t.table, mf, mv, cf, oru, grids, err, &w);
    checkMessages(ok, err, "CopyRec");
  }

  void deleteRecord(const TableKeys& t, const std::vector<std::string>& values) {
    if (!t.parent.empty()) {
      // DeleteRec marks a form's record through the form's catalogue, which a grid table does
      // not have: a grid record is marked deleted by an update of its status.
      auto cond = locate(target_, t, values);
      if (!cond) throw Refused("its parent is not in the target");
      exec("update [" + target_.prefix + t.table + "] set RecStatus = 0 where " + *cond);
      return;
    }
    if (opt_.statement) opt_.statement("DeleteRec " + target_.prefix + t.table);
    std::vector<std::string> keys = t.keys;
    std::vector<std::string> vals = values;
    StringArray mf = keyRows(target_, t.table, keys);
    VariantArray mv;
    mv.redim(0, 0, 0, static_cast<int32_t>(keys.size()) - 1);
    for (size_t k = 0; k < keys.size(); ++k) mv.at(0, static_cast<int32_t>(k)) = Variant(vals[k]);
    bool oru = true;
    StringArray err = StringArray::of({""});
    db::DatabaseRef w = sides_.writer;
    bool ok = m_.DeleteRec(target_.prefix + t.table, mf, mv, oru, err, &w);
    checkMessages(ok, err, "DeleteRec");
  }

  // What one decision will do, worked out before the record's first statement.
  struct Plan {
    const Decision* d = nullptr;
    const TableKeys* t = nullptr;
    std::vector<std::string> values;
    Column col;               // field decisions
    std::string after;        // literal to write
    std::string afterText;    // the value as text, for the audit
    bool wanted = false;      // whole records: the record is to be present
    std::string from;         // "1", "2", "typed"
  };

  Plan plan(const Decision& d) {
    Plan p;
    p.d = &d;
    p.t = survey_.find(d.table);
    if (!p.t) throw Refused("no match keys given for table " + d.table);
    p.values = parseKeyText(d.record, survey_.recordKeys(*p.t));
    const std::string place = "field " + d.field + " of " + d.table + " " + d.record;
    if (d.field.empty()) {
      switch (d.choice) {
        case Choice::Keep: p.wanted = true; break;
        case Choice::Delete: p.wanted = false; break;
        case Choice::Entry1: p.wanted = present(one_, *p.t, p.values); break;
        case Choice::Entry2: p.wanted = present(two_, *p.t, p.values); break;
        default: throw Refused("a typed value is for a field, not for the whole record " + d.record);
      }
      if (d.choice == Choice::Keep || d.choice == Choice::Delete) {
        const bool in1 = present(one_, *p.t, p.values);
        p.from = in1 == p.wanted ? "1" : "2";
      } else {
        p.from = d.choice == Choice::Entry1 ? "1" : "2";
      }
      return p;
    }
    if (isSystem(d.field)) throw Refused("field " + d.field + " is the system's own and is not decided");
    for (const std::string& k : survey_.recordKeys(*p.t))
      if (textEqual(k, d.field)) throw Refused("field " + d.field + " is a match key; decide the whole record");
    p.col = column(target_, d.table, d.field);
    if (d.choice == Choice::Typed) {
      p.after = typedLiteral(d.typed, p.col.type, place);
      p.afterText = d.typed;
      p.from = "typed";
    } else {
      const Place& from = d.choice == Choice::Entry1 ? one_ : two_;
      auto v = value(from, *p.t, p.values, d.field);
      if (!v) throw Refused("record " + d.record + " of " + d.table + " is not in " + from.name);
      p.after = literalOf(*v, p.col.type, place);
      p.afterText = valueText(*v);
      p.from = d.choice == Choice::Entry1 ? "1" : "2";
    }
    return p;
  }

  void perform(const Plan& p, RecordOutcome& out) {
    const TableKeys& t = *p.t;
    const Decision& d = *p.d;
    if (d.field.empty()) {
      const bool there = present(target_, t, p.values);
      if (there == p.wanted) return;
      if (p.wanted) {
        if (!present(source_, t, p.values))
          throw Refused("record " + d.record + " of " + d.table + " is in neither entry");
        copyRecord(t, p.values);
      } else {
        deleteRecord(t, p.values);
      }
      if (present(target_, t, p.values) != p.wanted)
        throw Refused("record " + d.record + " of " + d.table + " did not change");
      Change c{d.table, d.record, "", there ? "(present)" : "(absent)", p.wanted ? "(present)" : "(deleted)", p.from};
      audit(c);
      out.changes.push_back(c);
      return;
    }
    auto before = value(target_, t, p.values, d.field);
    if (!before) throw Refused("record " + d.record + " of " + d.table + " is not in the target");
    const std::string place = "field " + d.field + " of " + d.table + " " + d.record;
    const std::string beforeLiteral = (before->isNull() || before->isEmpty()) ? "Null" : [&] {
      try {
        return literalOf(*before, p.col.type, place);
      } catch (const Refused&) {
        return std::string("?");  // a stored value that is not of its column's type differs
      }
    }();
    if (sameValue(beforeLiteral, p.after, p.col.type)) return;
    auto cond = locate(target_, t, p.values);
    exec("update [" + target_.prefix + t.table + "] set [" + p.col.name + "] = " + p.after + " where " + *cond);
    auto now = value(target_, t, p.values, d.field);
    const std::string nowLiteral = !now ? "?" : (now->isNull() || now->isEmpty()) ? "Null" : [&] {
      try {
        return literalOf(*now, p.col.type, place);
      } catch (const Refused&) {
        return std::string("?");
      }
    }();
    if (!sameValue(nowLiteral, p.after, p.col.type))
      throw Refused("the update of " + place + " did not take effect");
    Change c{d.table, d.record, d.field, valueText(*before), p.afterText, p.from};
    audit(c);
    out.changes.push_back(c);
  }

  Members& m_;
  const Survey& survey_;
  const Sides& sides_;
  const ApplyOptions& opt_;
  Place target_, source_, one_, two_;
  std::map<std::string, std::vector<Column>> columns_;
};

RecordOutcome Applier::record(const std::vector<Decision>& group) {
  RecordOutcome out;
  out.decisions = group;
  std::vector<Plan> plans;
  try {
    for (const Decision& d : out.decisions) plans.push_back(plan(d));
  } catch (const Refused& e) {
    out.ok = false;
    out.message = e.what();
    return out;
  } catch (const ComError& e) {
    out.ok = false;
    out.message = e.description();
    return out;
  }
  // The parent's whole record first, then its values, then grid records, then their values.
  auto rank = [](const Plan& p) { return (p.t->parent.empty() ? 0 : 2) + (p.d->field.empty() ? 0 : 1); };
  std::stable_sort(plans.begin(), plans.end(), [&](const Plan& a, const Plan& b) { return rank(a) < rank(b); });
  db::cDatabase& w = *sides_.writer;
  w.BeginTrans();
  try {
    for (const Plan& p : plans) {
      // Values of a record decided away are not written.
      bool gone = false;
      for (const Plan& q : plans)
        gone = gone || (q.d->field.empty() && !q.wanted && textEqual(q.d->table, p.d->table) &&
                        textEqual(q.d->record, p.d->record) && !p.d->field.empty());
      if (!gone) perform(p, out);
    }
  } catch (const Refused& e) {
    w.RollbackTrans();
    out.ok = false;
    out.message = e.what();
    out.changes.clear();
    return out;
  } catch (const ComError& e) {
    w.RollbackTrans();
    out.ok = false;
    out.message = e.description();
    out.changes.clear();
    return out;
  }
  w.CommitTrans();
  return out;
}

}  // namespace

ApplyResult apply(Members& m, const Survey& survey, const Sides& sides, const std::vector<Decision>& decisions,
                  const ApplyOptions& options) {
  ApplyResult result;
  // Decisions grouped by the record they belong to: a grid record under its parent.
  std::vector<std::pair<std::string, std::vector<Decision>>> groups;
  std::map<std::string, size_t> index;
  for (const Decision& d : decisions) {
    if (d.choice == Choice::Undecided) {
      result.undecided.push_back(d);
      continue;
    }
    std::string table = d.table, record = d.record;
    if (const TableKeys* t = survey.find(d.table); t && !t->parent.empty()) {
      if (const TableKeys* p = survey.find(t->parent)) {
        try {
          auto values = parseKeyText(d.record, survey.recordKeys(*t));
          values.resize(p->keys.size());
          table = p->table;
          record = keyText(p->keys, values);
        } catch (const Refused&) {
          // Reported when the record is planned.
        }
      }
    }
    const std::string key = foldCase(table) + "\n" + foldCase(record);
    auto [it, added] = index.emplace(key, groups.size());
    if (added) groups.push_back({table + "\n" + record, {}});
    groups[it->second].second.push_back(d);
  }
  Applier a(m, survey, sides, options);
  db::cDatabase& w = deref(sides.writer);
  if (options.dryRun) w.BeginTrans();
  try {
    a.prepare();
    size_t done = 0;
    for (auto& [name, group] : groups) {
      RecordOutcome r = a.record(group);
      const size_t nl = name.find('\n');
      r.table = name.substr(0, nl);
      r.record = name.substr(nl + 1);
      result.records.push_back(std::move(r));
      if (options.progress) options.progress(++done, groups.size());
    }
  } catch (...) {
    if (options.dryRun) w.RollbackTrans();
    throw;
  }
  if (options.dryRun) w.RollbackTrans();
  return result;
}

}  // namespace ovt::decide
