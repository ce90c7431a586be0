// The decision model: the survey's tables and keys, record key texts, choices, and the long
// csv a reviewer fills in a spreadsheet.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <istream>

#include "decide/internal.h"
#include "ovtbldiff/decide.h"
#include "ovtbldiff/runtime/text.h"

namespace ovt::decide {

using detail::tableOf;

const TableKeys* Survey::find(const std::string& table) const {
  for (const TableKeys& t : tables)
    if (textEqual(t.table, table)) return &t;
  return nullptr;
}

std::vector<std::string> Survey::recordKeys(const TableKeys& t) const {
  std::vector<std::string> out;
  if (!t.parent.empty()) {
    if (const TableKeys* p = find(t.parent)) out = p->keys;
  }
  out.insert(out.end(), t.keys.begin(), t.keys.end());
  return out;
}

namespace {

std::vector<std::string> splitComma(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    std::string item = trimBlanks(text.substr(start, comma - start));
    if (!item.empty()) out.push_back(item);
    start = comma + 1;
  }
  return out;
}

std::string storedColumn(const db::TableRef& t, const std::string& column) {
  for (const db::FieldRef& f : deref(t->Fields()).Items())
    if (f && textEqual(f->Name(), column)) return f->Name();
  return "";
}

}  // namespace

Survey discoverSurvey(Members& m, const db::DatabaseRef& conn, const std::vector<std::string>& keySettings) {
  Survey s;
  for (const std::string& setting : keySettings) {
    const size_t eq = setting.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == setting.size())
      throw Refused("a key setting is TABLE=COLUMN[,COLUMN], not \"" + setting + "\"");
    TableKeys t;
    t.table = trimBlanks(setting.substr(0, eq));
    db::TableRef table = tableOf(conn, t.table);
    if (!table) throw Refused("no table " + t.table + " in entry 1");
    t.table = table->Name();
    for (const std::string& k : splitComma(setting.substr(eq + 1))) {
      std::string stored = storedColumn(table, k);
      if (stored.empty()) throw Refused("no column " + k + " in table " + t.table + " (entry 1)");
      t.keys.push_back(stored);
    }
    if (t.keys.empty()) throw Refused("no key column given for table " + t.table);
    if (s.find(t.table)) throw Refused("keys given twice for table " + t.table);
    s.tables.push_back(std::move(t));
  }
  // Grids: each view catalogue of entry 1 names its data table; the grids of a form whose
  // table has keys become grids of that table.
  std::vector<std::string> views;
  for (const db::TableRef& t : conn->Tables()) {
    if (!t) continue;
    std::string name = t->Name();
    if (startsWithText(name, "ORULINK_")) continue;
    try {
      if (conn->GetTableType(name) == db::kTableTypeView) views.push_back(name);
    } catch (const ComError&) {
    }
  }
  db::DatabaseRef c = conn;
  for (const std::string& view : views) {
    std::string data;
    try {
      data = m.GetOruDataTable(view, &c);
    } catch (const ComError&) {
      continue;
    }
    TableKeys* form = nullptr;
    for (TableKeys& t : s.tables)
      if (textEqual(t.table, data)) form = &t;
    if (!form || !form->parent.empty()) continue;
    const std::string formTable = form->table;
    StringArray grids;
    bool any = false;
    try {
      any = m.GetOruGridList(view, grids, &c);
    } catch (const ComError&) {
      any = false;
    }
    if (!any || !grids.allocated() || grids.dims() != 2) continue;
    for (int32_t i = grids.lbound(1); i <= grids.ubound(1); ++i) {
      const std::string gridView = grids.at(i, grids.lbound(2) + 1);
      std::string gridTable;
      try {
        gridTable = m.GetOruDataTable(gridView, &c);
      } catch (const ComError&) {
        continue;
      }
      if (!gridTable.empty()) form->grids.emplace_back(gridView, gridTable);
      for (TableKeys& t : s.tables)
        if (textEqual(t.table, gridTable) && t.parent.empty() && !textEqual(t.table, formTable)) {
          t.parent = formTable;
          t.gridView = gridView;
        }
    }
  }
  return s;
}

std::string keyText(const std::vector<std::string>& columns, const std::vector<std::string>& values) {
  std::string out;
  for (size_t i = 0; i < columns.size() && i < values.size(); ++i)
    out += (i ? ";" : "") + columns[i] + "=" + values[i];
  return out;
}

std::vector<std::string> parseKeyText(const std::string& text, const std::vector<std::string>& columns) {
  // Each column's value runs up to ";NEXT=" of the following column, so a value may itself
  // hold ';' or '='.
  std::vector<std::string> values;
  size_t pos = 0;
  for (size_t i = 0; i < columns.size(); ++i) {
    const std::string head = (i ? ";" : "") + columns[i] + "=";
    if (text.size() < pos + head.size() || !textEqual(text.substr(pos, head.size()), head))
      throw Refused("record \"" + text + "\" does not name key " + columns[i]);
    pos += head.size();
    size_t end = text.size();
    if (i + 1 < columns.size()) {
      const std::string next = ";" + columns[i + 1] + "=";
      end = findText(text.substr(pos), next);
      if (end == std::string::npos) throw Refused("record \"" + text + "\" does not name key " + columns[i + 1]);
      end += pos;
    }
    values.push_back(text.substr(pos, end - pos));
    pos = end;
  }
  return values;
}

std::string choiceName(Choice c) {
  switch (c) {
    case Choice::Entry1: return "1";
    case Choice::Entry2: return "2";
    case Choice::Typed: return "typed";
    case Choice::Keep: return "keep";
    case Choice::Delete: return "delete";
    case Choice::Undecided: break;
  }
  return "";
}

Choice choiceFromName(const std::string& name) {
  for (Choice c : {Choice::Entry1, Choice::Entry2, Choice::Typed, Choice::Keep, Choice::Delete})
    if (textEqual(choiceName(c), name)) return c;
  if (trimBlanks(name).empty()) return Choice::Undecided;
  throw Refused("unknown choice \"" + name + "\" (1, 2, typed, keep or delete)");
}

namespace {

// One csv record (fields may be quoted, with "" for a quote, and span lines); false at the end.
bool csvRecord(std::istream& in, std::vector<std::string>& fields, size_t& line) {
  fields.clear();
  std::string field;
  bool quoted = false, any = false, wasQuoted = false;
  char ch;
  while (in.get(ch)) {
    any = true;
    if (quoted) {
      if (ch == '"') {
        if (in.peek() == '"') {
          in.get(ch);
          field += '"';
        } else {
          quoted = false;
        }
      } else {
        if (ch == '\n') ++line;
        field += ch;
      }
      continue;
    }
    if (ch == '"' && field.empty() && !wasQuoted) {
      quoted = wasQuoted = true;
    } else if (ch == ',') {
      fields.push_back(field);
      field.clear();
      wasQuoted = false;
    } else if (ch == '\n') {
      ++line;
      break;
    } else if (ch != '\r') {
      field += ch;
    }
  }
  if (quoted) throw Refused("line " + std::to_string(line) + ": a quoted field is not closed");
  if (!any) return false;
  fields.push_back(field);
  return true;
}

}  // namespace

std::vector<Decision> readDecisionsCsv(std::istream& in) {
  std::vector<Decision> out;
  std::vector<std::string> f;
  size_t line = 1;
  const size_t headerLine = line;
  if (!csvRecord(in, f, line)) throw Refused("the decisions file is empty");
  // A spreadsheet may save a byte order mark before the header.
  if (!f.empty() && f[0].rfind("\xEF\xBB\xBF", 0) == 0) f[0].erase(0, 3);
  const std::vector<std::string> header = {"table", "record", "field", "entry1", "entry2", "choose"};
  if (f.size() != header.size())
    throw Refused("line " + std::to_string(headerLine) + ": the header must be table,record,field,entry1,entry2,choose");
  for (size_t i = 0; i < header.size(); ++i)
    if (!textEqual(trimBlanks(f[i]), header[i]))
      throw Refused("line " + std::to_string(headerLine) + ": column " + std::to_string(i + 1) + " must be \"" +
                    header[i] + "\", not \"" + f[i] + "\"");
  for (;;) {
    const size_t at = line;
    if (!csvRecord(in, f, line)) break;
    if (f.size() == 1 && trimBlanks(f[0]).empty()) continue;  // a blank line
    if (f.size() != header.size())
      throw Refused("line " + std::to_string(at) + ": " + std::to_string(f.size()) + " fields, 6 expected");
    Decision d;
    d.table = trimBlanks(f[0]);
    d.record = f[1];
    d.field = trimBlanks(f[2]);
    d.entry1 = f[3];
    d.entry2 = f[4];
    const std::string choose = f[5];
    const std::string trimmed = trimBlanks(choose);
    if (d.table.empty() || d.record.empty())
      throw Refused("line " + std::to_string(at) + ": table and record must not be empty");
    if (!choose.empty() && choose[0] == '=') {
      if (d.field.empty())
        throw Refused("line " + std::to_string(at) + ": a typed value (" + choose +
                      ") is for a field, not for a whole record; choose 1, 2, keep or delete");
      d.choice = Choice::Typed;
      d.typed = choose.substr(1);
    } else if (trimmed == "1") {
      d.choice = Choice::Entry1;
    } else if (trimmed == "2") {
      d.choice = Choice::Entry2;
    } else if (trimmed.empty()) {
      d.choice = Choice::Undecided;
    } else if (d.field.empty() && (textEqual(trimmed, "keep") || textEqual(trimmed, "delete"))) {
      d.choice = textEqual(trimmed, "keep") ? Choice::Keep : Choice::Delete;
    } else {
      throw Refused("line " + std::to_string(at) + ": choose \"" + choose + "\" is not 1, 2, =VALUE" +
                    (d.field.empty() ? ", keep or delete" : "") + " (or empty to leave it undecided)");
    }
    out.push_back(std::move(d));
  }
  return out;
}

std::string nowText() {
  const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

std::string valueText(const Variant& v) {
  if (v.isNull() || v.isEmpty()) return "";
  if (const double* d = v.get<double>()) {
    if (std::isfinite(*d) && std::floor(*d) == *d && std::fabs(*d) < 1e15) return std::to_string(static_cast<int64_t>(*d));
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.15g", *d);
    if (std::strtod(buf, nullptr) != *d) std::snprintf(buf, sizeof buf, "%.17g", *d);
    return buf;
  }
  if (const Currency* c = v.get<Currency>()) {
    const int64_t whole = c->scaled / 10000, frac = std::llabs(c->scaled % 10000);
    std::string out = (c->scaled < 0 && whole == 0 ? "-" : "") + std::to_string(whole);
    if (frac) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "%04lld", static_cast<long long>(frac));
      std::string f = buf;
      while (!f.empty() && f.back() == '0') f.pop_back();
      out += "." + f;
    }
    return out;
  }
  if (const bool* b = v.get<bool>()) return *b ? "True" : "False";
  if (const Date* d = v.get<Date>()) {
    // Days since 1899-12-30, the fraction the time of day.
    const double days = std::floor(d->serial);
    int64_t secs = static_cast<int64_t>(std::llround((d->serial - days) * 86400.0));
    const std::time_t base = static_cast<std::time_t>((static_cast<int64_t>(days) - 25569) * 86400 + secs);
    std::tm tm{};
    gmtime_r(&base, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, secs ? "%Y-%m-%d %H:%M:%S" : "%Y-%m-%d", &tm);
    return buf;
  }
  return concatText(v);
}

}  // namespace ovt::decide
