// Values typed by a reviewer (or taken from an entry) as literals of their column's type. A
// value is checked before it becomes part of a statement: a number for a numeric column, a
// real date for a date column, Yes/No for a Boolean, text the dialect can quote.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <regex>

#include "decide/internal.h"
#include "ovtbldiff/decide.h"
#include "ovtbldiff/runtime/text.h"

namespace ovt::decide {
namespace {

using namespace ovt::db;

bool isInteger(int32_t t) {
  return t == adSmallInt || t == adInteger || t == adTinyInt || t == adUnsignedTinyInt || t == adBigInt;
}
bool isDecimal(int32_t t) {
  return t == adSingle || t == adDouble || t == adCurrency || t == adDecimal || t == adNumeric;
}
bool isText(int32_t t) {
  return t == adBSTR || t == adChar || t == adWChar || t == adVarChar || t == adLongVarChar || t == adVarWChar ||
         t == adLongVarWChar || t == adGUID;
}
bool isDate(int32_t t) { return t == adDate || t == adDBDate || t == adDBTimeStamp; }


// True for well-formed UTF-8 without NUL.
bool quotable(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == 0) return false;
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
    i += n;
  }
  return true;
}

std::string typeName(int32_t t) {
  if (isInteger(t)) return "a whole number";
  if (isDecimal(t)) return "a number";
  if (isDate(t)) return "a date (YYYY-MM-DD or YYYY-MM-DD HH:MM:SS)";
  if (t == adBoolean) return "Yes/No (True, False, Yes, No, -1, 0, 1)";
  return "text";
}

[[noreturn]] void refuse(const std::string& value, int32_t type, const std::string& place, const std::string& why = "") {
  throw Refused("value \"" + value + "\" for " + place + " is refused: " +
                (why.empty() ? "the column takes " + typeName(type) : why));
}

bool leapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

}  // namespace

namespace detail {

std::string quotedText(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

std::vector<std::vector<Variant>> rowsOfRecordset(const db::RecordsetRef& rs) {
  std::vector<std::vector<Variant>> out;
  if (!rs || (rs->IsBOF() && rs->IsEOF())) return out;
  VariantArray all = rs->GetRows();
  if (!all.allocated() || all.dims() != 2) return out;
  for (int32_t r = all.lbound(2); r <= all.ubound(2); ++r) {
    std::vector<Variant> row;
    for (int32_t c = all.lbound(1); c <= all.ubound(1); ++c) row.push_back(all.at(c, r));
    out.push_back(std::move(row));
  }
  return out;
}

std::vector<std::vector<Variant>> rowsOf(const db::DatabaseRef& conn, const std::string& sql) {
  return rowsOfRecordset(deref(conn).OpenRecordset(sql, 3, ""));
}

void run(const db::DatabaseRef& conn, const std::string& sql) {
  if (!deref(conn).Execute(sql)) throw Refused("statement failed: " + conn->LastFailure());
}

db::TableRef tableOf(const db::DatabaseRef& conn, const std::string& name) {
  for (const db::TableRef& t : deref(conn).Tables())
    if (t && textEqual(t->Name(), name)) return t;
  return nullptr;
}

}  // namespace detail

std::string typedLiteral(const std::string& value, int32_t type, const std::string& place) {
  if (!quotable(value)) refuse(value, type, place, "it holds a character the statement text cannot carry");
  const std::string v = isText(type) ? value : trimBlanks(value);
  if (!isText(type) && v.empty()) return "Null";
  if (isInteger(type) || isDecimal(type)) {
    static const std::regex integer(R"([+-]?[0-9]+)");
    static const std::regex decimal(R"([+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?)");
    if (isInteger(type)) {
      if (!std::regex_match(v, integer)) refuse(value, type, place);
      errno = 0;
      const long long n = std::strtoll(v.c_str(), nullptr, 10);
      long long lo = INT32_MIN, hi = INT32_MAX;
      if (type == adSmallInt) lo = -32768, hi = 32767;
      if (type == adTinyInt || type == adUnsignedTinyInt) lo = 0, hi = 255;
      if (type == adBigInt) lo = INT64_MIN, hi = INT64_MAX;
      if (errno == ERANGE || n < lo || n > hi)
        refuse(value, type, place, "it is outside " + std::to_string(lo) + " .. " + std::to_string(hi));
      return std::to_string(n);
    }
    if (!std::regex_match(v, decimal)) refuse(value, type, place);
    const double d = std::strtod(v.c_str(), nullptr);
    if (!std::isfinite(d)) refuse(value, type, place, "it is too large");
    if (type == adCurrency && std::fabs(d) > 922337203685477.0) refuse(value, type, place, "it is too large");
    std::string out = v[0] == '+' ? v.substr(1) : v;
    if (out[0] == '.') out = "0" + out;
    if (out.rfind("-.", 0) == 0) out = "-0" + out.substr(1);
    if (out.back() == '.') out.pop_back();
    return out;
  }
  if (isDate(type)) {
    static const std::regex date(R"(([0-9]{4})-([0-9]{2})-([0-9]{2})( ([0-9]{2}):([0-9]{2})(:([0-9]{2}))?)?)");
    std::smatch m;
    if (!std::regex_match(v, m, date)) refuse(value, type, place);
    const int y = std::stoi(m[1]), mo = std::stoi(m[2]), d = std::stoi(m[3]);
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 100 || mo < 1 || mo > 12 || d < 1 || d > days[mo - 1] + (mo == 2 && leapYear(y) ? 1 : 0))
      refuse(value, type, place, "there is no such date");
    std::string out = m[1].str() + "-" + m[2].str() + "-" + m[3].str();
    if (m[4].matched) {
      const int h = std::stoi(m[5]), mi = std::stoi(m[6]), s = m[8].matched ? std::stoi(m[8]) : 0;
      if (h > 23 || mi > 59 || s > 59) refuse(value, type, place, "there is no such time of day");
      out += " " + m[5].str() + ":" + m[6].str() + ":" + (m[8].matched ? m[8].str() : std::string("00"));
    }
    return "#" + out + "#";
  }
  if (type == adBoolean) {
    for (const char* t : {"True", "Yes", "-1", "1"})
      if (textEqual(v, t)) return "True";
    for (const char* f : {"False", "No", "0"})
      if (textEqual(v, f)) return "False";
    refuse(value, type, place);
  }
  if (isText(type)) return detail::quotedText(value);
  refuse(value, type, place, "values of this column's type cannot be typed");
}

}  // namespace ovt::decide
