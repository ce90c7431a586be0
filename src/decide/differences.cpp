// The differences a review lists: conflicting and unpaired records from GetTblDiffRecRS /
// GetTblDiffGridRS, and for the listed records only, both entries' rows read by key so that
// each differing field is named with both values. A grid matched on more than one key column
// (the grid member pairs on one) is compared by the verification's statements that pair the
// records on the parent's keys and all of the grid's.
#include <set>

#include "decide/internal.h"
#include "ovtbldiff/decide.h"
#include "ovtbldiff/runtime/text.h"
#include "ovtbldiff/verify.h"

namespace ovt::decide {
namespace {

using detail::rowsOf;
using detail::rowsOfRecordset;

const std::string kLink = "ORULINK_";

bool isSystem(const std::string& name) {
  return textEqual(name, "UniqueKey") || textEqual(name, "RecStatus") || textEqual(name, "FKey");
}

bool contains(const std::vector<std::string>& list, const std::string& name) {
  for (const std::string& s : list)
    if (textEqual(s, name)) return true;
  return false;
}

struct Col {
  std::string name;
  int32_t type;
};

std::vector<Col> columnsOf(const db::DatabaseRef& conn, const std::string& table) {
  std::vector<Col> out;
  if (db::TableRef t = detail::tableOf(conn, table))
    for (const db::FieldRef& f : deref(t->Fields()).Items())
      if (f) out.push_back({f->Name(), f->DataType()});
  return out;
}

// Fields both entries' tables have, keys, the system's columns and ignored fields left out
// (only the fields to compare, when the table names them).
std::vector<Col> compared(const db::DatabaseRef& conn, const TableKeys& t) {
  std::vector<Col> out;
  const std::vector<Col> two = columnsOf(conn, kLink + t.table);
  for (const Col& c : columnsOf(conn, t.table)) {
    if (isSystem(c.name) || contains(t.keys, c.name) || contains(t.ignore, c.name)) continue;
    if (!t.compare.empty() && !contains(t.compare, c.name)) continue;
    for (const Col& d : two)
      if (textEqual(c.name, d.name)) out.push_back(c);
  }
  return out;
}

std::string condition(const std::vector<Col>& cols, const std::vector<std::string>& keys,
                      const std::vector<std::string>& values, const std::string& table) {
  std::string cond;
  for (size_t i = 0; i < keys.size(); ++i) {
    int32_t type = db::adVarWChar;
    for (const Col& c : cols)
      if (textEqual(c.name, keys[i])) type = c.type;
    cond += (i ? " and [" : "[") + keys[i] + "] = " + typedLiteral(values[i], type, "key " + keys[i] + " of " + table);
  }
  return cond + " and RecStatus <> 0";
}

// Appends one difference per differing field of a record present in both entries.
void fieldDifferences(const db::DatabaseRef& conn, const std::string& table, const std::string& record,
                      const std::vector<Col>& fields, const std::string& where1, const std::string& where2,
                      std::vector<Difference>& out) {
  std::string list;
  for (const Col& c : fields) list += (list.empty() ? "[" : ", [") + c.name + "]";
  if (list.empty()) return;
  auto a = rowsOf(conn, "select " + list + " from [" + table + "] where " + where1);
  auto b = rowsOf(conn, "select " + list + " from [" + kLink + table + "] where " + where2);
  if (a.empty() || b.empty()) return;
  for (size_t i = 0; i < fields.size(); ++i) {
    const bool n1 = a[0][i].isNull(), n2 = b[0][i].isNull();
    const std::string v1 = valueText(a[0][i]), v2 = valueText(b[0][i]);
    if (n1 != n2 || !textEqual(v1, v2)) out.push_back({table, record, fields[i].name, v1, v2});
  }
}

// The differences of a grid matched on several key columns within its parent, from the
// verification's statements for such grids: the pairs whose compared fields differ (both
// entries' values read in the same statement), then the records of each entry without a
// partner, those under an unpaired parent left out.
void multiKeyGrid(const db::DatabaseRef& conn, const Survey& survey, const TableKeys& parent, const TableKeys& g,
                  const std::set<std::string>& unpairedParents, std::vector<Difference>& out) {
  const std::vector<std::string> all = survey.recordKeys(g);
  const std::vector<Col> fields = compared(conn, g);
  std::vector<std::string> names;
  for (const Col& f : fields) names.push_back(f.name);
  const verify::GridPairing st = verify::gridPairing(parent.table, parent.keys, g.table, g.keys, names);
  auto keyValues = [&](const std::vector<Variant>& row) {
    std::vector<std::string> v;
    for (size_t k = 0; k < all.size(); ++k) v.push_back(valueText(row[k]));
    return v;
  };
  if (!fields.empty()) {
    for (const auto& row : rowsOf(conn, st.differing)) {
      const std::string record = keyText(all, keyValues(row));
      for (size_t i = 0; i < fields.size(); ++i) {
        const Variant& a = row[all.size() + 2 * i];
        const Variant& b = row[all.size() + 2 * i + 1];
        const std::string v1 = valueText(a), v2 = valueText(b);
        if (a.isNull() != b.isNull() || !textEqual(v1, v2)) out.push_back({g.table, record, fields[i].name, v1, v2});
      }
    }
  }
  for (int side = 1; side <= 2; ++side) {
    for (const auto& row : rowsOf(conn, st.unpaired[side - 1])) {
      const std::vector<std::string> v = keyValues(row);
      if (unpairedParents.count(foldCase(keyText(parent.keys, v)))) continue;
      out.push_back({g.table, keyText(all, v), "", side == 1 ? "(present)" : "(absent)",
                     side == 1 ? "(absent)" : "(present)"});
    }
  }
}

}  // namespace

std::vector<Difference> listDifferences(Members& m, const Survey& survey, const db::DatabaseRef& conn) {
  std::vector<Difference> out;
  db::DatabaseRef c = conn;
  m.SetDB(conn);
  for (const TableKeys& t : survey.tables) {
    if (!t.parent.empty()) continue;
    const std::vector<Col> fields = compared(conn, t);
    const std::vector<Col> cols = columnsOf(conn, t.table);
    std::vector<std::string> names;
    for (const Col& f : fields) names.push_back(f.name);
    StringArray keys = StringArray::of(t.keys);
    StringArray compare = StringArray::of(names.empty() ? std::vector<std::string>{""} : names);
    auto keyValues = [&](const std::vector<Variant>& row) {
      std::vector<std::string> v;
      for (size_t k = 0; k < t.keys.size(); ++k) v.push_back(valueText(row[k]));
      return v;
    };
    for (const auto& row : rowsOfRecordset(m.GetTblDiffRecRS(t.table, kLink + t.table, keys, compare, 1, true, &c))) {
      const auto v = keyValues(row);
      const std::string cond = condition(cols, t.keys, v, t.table);
      fieldDifferences(conn, t.table, keyText(t.keys, v), fields, cond, cond, out);
    }
    // Unpaired records; their grid records go with them and are not listed apart.
    std::set<std::string> unpaired;
    for (int side = 1; side <= 2; ++side) {
      const std::string a = side == 1 ? t.table : kLink + t.table, b = side == 1 ? kLink + t.table : t.table;
      for (const auto& row : rowsOfRecordset(m.GetTblDiffRecRS(a, b, keys, compare, 2, true, &c))) {
        const std::string record = keyText(t.keys, keyValues(row));
        unpaired.insert(foldCase(record));
        out.push_back({t.table, record, "", side == 1 ? "(present)" : "(absent)", side == 1 ? "(absent)" : "(present)"});
      }
    }
    // The form's grids that have keys of their own; the member pairs on one key column.
    for (const TableKeys& g : survey.tables) {
      if (!textEqual(g.parent, t.table) || g.keys.empty()) continue;
      if (g.keys.size() > 1) {
        multiKeyGrid(conn, survey, t, g, unpaired, out);
        continue;
      }
      const std::vector<std::string> all = survey.recordKeys(g);
      const std::vector<Col> gcols = columnsOf(conn, g.table);
      const std::vector<Col> gfields = compared(conn, g);
      auto gridValues = [&](const std::vector<Variant>& row) {
        std::vector<std::string> v;
        for (size_t k = 0; k <= t.keys.size(); ++k) v.push_back(valueText(row[k]));
        return v;
      };
      for (const auto& row : rowsOfRecordset(
               m.GetTblDiffGridRS(t.table, g.table, kLink + t.table, kLink + g.table, g.keys[0], keys, 1))) {
        const auto v = gridValues(row);
        const std::vector<std::string> pv(v.begin(), v.end() - 1);
        auto p1 = rowsOf(conn, "select UniqueKey from [" + t.table + "] where " + condition(cols, t.keys, pv, t.table));
        auto p2 = rowsOf(conn, "select UniqueKey from [" + kLink + t.table + "] where " +
                                   condition(cols, t.keys, pv, t.table));
        if (p1.empty() || p2.empty()) continue;
        const std::string own = condition(gcols, g.keys, {v.back()}, g.table);
        fieldDifferences(conn, g.table, keyText(all, v), gfields, "FKey = " + valueText(p1[0][0]) + " and " + own,
                         "FKey = " + valueText(p2[0][0]) + " and " + own, out);
      }
      for (int side = 1; side <= 2; ++side) {
        const std::string p1 = side == 1 ? t.table : kLink + t.table, p2 = side == 1 ? kLink + t.table : t.table;
        const std::string c1 = side == 1 ? g.table : kLink + g.table, c2 = side == 1 ? kLink + g.table : g.table;
        for (const auto& row : rowsOfRecordset(m.GetTblDiffGridRS(p1, c1, p2, c2, g.keys[0], keys, 2))) {
          const auto v = gridValues(row);
          if (unpaired.count(foldCase(keyText(t.keys, {v.begin(), v.end() - 1})))) continue;
          out.push_back({g.table, keyText(all, v), "", side == 1 ? "(present)" : "(absent)",
                         side == 1 ? "(absent)" : "(present)"});
        }
      }
    }
  }
  return out;
}

}  // namespace ovt::decide
