#include "input_check.h"

#include <climits>
#include <cmath>

#include "ovtbldiff/runtime/text.h"
#include "session.h"

namespace ovt::tool {
namespace {

size_t digitsAt(const std::string& t, size_t i) {
  size_t n = 0;
  while (i + n < t.size() && t[i + n] >= '0' && t[i + n] <= '9') ++n;
  return n;
}

// [+-]?[0-9]{1,18}
bool wholeText(const std::string& t) {
  const size_t sign = !t.empty() && (t[0] == '+' || t[0] == '-') ? 1 : 0;
  const size_t n = digitsAt(t, sign);
  return n >= 1 && n <= 18 && sign + n == t.size();
}

// [+-]?([0-9]+(\.[0-9]*)?|\.[0-9]+)([eE][+-]?[0-9]{1,3})?
bool numberText(const std::string& t) {
  size_t i = !t.empty() && (t[0] == '+' || t[0] == '-') ? 1 : 0;
  if (const size_t whole = digitsAt(t, i)) {
    i += whole;
    if (i < t.size() && t[i] == '.') i += 1 + digitsAt(t, i + 1);
  } else {
    if (i >= t.size() || t[i] != '.') return false;
    const size_t fraction = digitsAt(t, i + 1);
    if (fraction == 0) return false;
    i += 1 + fraction;
  }
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    const size_t exponent = digitsAt(t, i);
    if (exponent < 1 || exponent > 3) return false;
    i += exponent;
  }
  return i == t.size();
}

enum class Kind { Whole, Number, Boolean, Date, Text, None };

// How a member writes a value of each column type into a statement: bare (so the text must
// be a literal of its kind) or between double quotes (nothing escaped).
Kind kindOf(int32_t type) {
  switch (type) {
    case db::adSmallInt: case db::adInteger: case db::adTinyInt: case db::adUnsignedTinyInt:
      return Kind::Whole;
    case db::adSingle: case db::adDouble: case db::adCurrency: case db::adDecimal: case db::adNumeric:
      return Kind::Number;
    case db::adBoolean:
      return Kind::Boolean;
    case db::adDate: case db::adDBTime:
      return Kind::Date;
    case db::adBSTR: case db::adChar: case db::adWChar: case db::adVarWChar:
      return Kind::Text;
    default:
      return Kind::None;
  }
}

std::string shown(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c < 0x20) out += "\\x" + std::string(1, "0123456789abcdef"[c >> 4]) + "0123456789abcdef"[c & 15];
    else out += static_cast<char>(c);
  }
  return out + "\"";
}

std::string labelled(const std::string& text, const std::string& label) {
  return label.empty() ? text : text + " (" + label + ")";
}

// A link table named beside "entry 2" goes by its own name there: House, not ORULINK_House.
std::string shownTable(const std::string& table, const std::string& label) {
  return label == "entry 2" && startsWithText(table, "ORULINK_") ? table.substr(8) : table;
}

}  // namespace

bool isUtf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n;  // continuation bytes
    unsigned char lo = 0x80, hi = 0xBF;  // range of the first continuation byte
    if (c < 0x80) n = 0;
    else if (c >= 0xC2 && c <= 0xDF) n = 1;
    else if (c >= 0xE0 && c <= 0xEF) n = 2, lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
    else if (c >= 0xF0 && c <= 0xF4) n = 3, lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
    else return false;
    if (n > s.size() - i - 1) return false;
    for (size_t k = 1; k <= n; ++k) {
      const unsigned char d = static_cast<unsigned char>(s[i + k]);
      if (k == 1 ? (d < lo || d > hi) : (d & 0xC0) != 0x80) return false;
    }
    i += n + 1;
  }
  return true;
}

db::TableRef checkedTable(const db::DatabaseRef& conn, const std::string& name, const std::string& label) {
  for (const db::TableRef& t : deref(conn).Tables())
    if (t && textEqual(t->Name(), name)) return t;
  throw UsageError(labelled("no table " + shownTable(name, label), label));
}

std::vector<int32_t> checkedColumns(const db::DatabaseRef& conn, const std::string& table,
                                    const std::vector<std::string>& columns, const std::string& label) {
  const db::TableRef t = checkedTable(conn, table, label);
  const std::vector<db::FieldRef> fields = deref(t->Fields()).Items();
  std::vector<int32_t> types;
  for (const std::string& c : columns) {
    const db::FieldRef* found = nullptr;
    for (const db::FieldRef& f : fields)
      if (f && textEqual(f->Name(), c)) found = &f;
    if (!found) throw UsageError(labelled("no column " + c + " in table " + shownTable(table, label), label));
    types.push_back((*found)->DataType());
  }
  return types;
}

Variant checkedValue(const Variant& value, int32_t type, const std::string& column, const std::string& table,
                     const std::string& where) {
  auto of = [&] { return " column " + column + " of table " + table + (where.empty() ? "" : " (" + where + ")"); };
  const Kind kind = kindOf(type);
  if (kind == Kind::None)
    throw UsageError("column " + column + " of table " + table + " has a type (code " + std::to_string(type) +
                     ") that a key value cannot be written in");
  if (value.isNull() || value.isEmpty()) {
    if (kind == Kind::Text) return value;
    throw UsageError("an empty value for" + of() + ", which needs a value");
  }
  const std::string* s = value.get<std::string>();
  if (!s) {
    // Numbers, Booleans and dates read from a JSON file are literals by themselves.
    if (kind == Kind::Text) return Variant(toText(value));
    if (const double* d = value.get<double>(); d && !std::isfinite(*d))
      throw UsageError("the value " + toText(value) + " is not a finite number, as" + of() + " needs");
    return value;
  }
  const std::string text = trimBlanks(*s);
  switch (kind) {
    case Kind::Whole: {
      if (!wholeText(text)) throw UsageError("the value " + shown(*s) + " is not a whole number, as" + of() + " needs");
      const long long n = std::stoll(text);
      if (n >= INT32_MIN && n <= INT32_MAX) return Variant(static_cast<int32_t>(n));
      return Variant(text);
    }
    case Kind::Number:
      if (!numberText(text)) throw UsageError("the value " + shown(*s) + " is not a number, as" + of() + " needs");
      return Variant(text);
    case Kind::Boolean: {
      const std::string f = foldCase(text);
      if (f == "true" || f == "yes" || f == "-1" || f == "1") return Variant(true);
      if (f == "false" || f == "no" || f == "0") return Variant(false);
      throw UsageError("the value " + shown(*s) + " is not True or False, as" + of() + " needs");
    }
    case Kind::Date: {
      Date d;
      if (!parseDate(text, d)) throw UsageError("the value " + shown(*s) + " is not a date, as" + of() + " needs");
      return Variant(d);
    }
    default:
      break;
  }
  // Text goes between double quotes with nothing escaped: a quote would end it early.
  if (s->find('"') != std::string::npos || s->find('\0') != std::string::npos)
    throw UsageError("the value " + shown(*s) + " cannot be written as a text for" + of() +
                     " (it holds a double quote or a NUL byte)");
  return value;
}

void checkRecords(std::vector<std::vector<Variant>>& records, const std::vector<std::string>& columns,
                  const std::vector<int32_t>& types, const std::vector<std::string>& tables, const std::string& origin) {
  for (size_t i = 0; i < records.size(); ++i) {
    const std::string where = origin + (records.size() > 1 ? ", record " + std::to_string(i + 1) : "");
    for (size_t k = 0; k < records[i].size() && k < columns.size(); ++k)
      records[i][k] = checkedValue(records[i][k], types[k], columns[k], tables[k], where);
  }
}

}  // namespace ovt::tool
