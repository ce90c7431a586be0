// SQL text helpers: value literals by data type, and the "~Main" / "~Grid" aliases of the
// column names a parent table and its child table share.
//
// Bare literals. Numbers, currency, dates and Booleans are written without quotes, so their
// text must be a literal of the statement dialect by itself:
//   - whole numbers, doubles and currency: the runtime's text form (toText): plain decimal,
//     "." as separator, exponent form "1E+20" for very large or small doubles;
//   - Booleans: True / False, the dialect's own Boolean literals (-1 / 0);
//   - dates: the date literal #YYYY-MM-DD# (#YYYY-MM-DD HH:MM:SS# when there is a time),
//     which the dialect reads as a Date and the SQLite rendering turns into ISO text. A text
//     value that reads as a date in a date or time field is written the same way, because its
//     bare text (2026-12-05) would be read as arithmetic.
// Any other value (text in a number field, for instance) is written as its text, unquoted.
#include "sqltext/sqltext.h"

#include "ovtbldiff/dbcomp/database.h"
#include "ovtbldiff/runtime/text.h"

namespace ovt::sqltext {
namespace {

bool isBareType(int16_t t) {
  switch (t) {
    case db::adSmallInt: case db::adInteger: case db::adSingle: case db::adDouble:
    case db::adCurrency: case db::adDate: case db::adBoolean: case db::adDecimal:
    case db::adTinyInt: case db::adUnsignedTinyInt: case db::adBinary: case db::adNumeric:
    case db::adDBTime:
      return true;
    default:
      return false;
  }
}

bool isQuotedType(int16_t t) {
  switch (t) {
    case db::adBSTR: case db::adChar: case db::adWChar: case db::adVarWChar:
      return true;
    default:
      return false;
  }
}

std::string dateLiteral(Date d) { return "#" + formatDate(d) + "#"; }

// The unquoted text of a non-Null value in the bare group.
std::string bareText(const Variant& value, int16_t fieldType) {
  if (const Date* d = value.get<Date>()) return dateLiteral(*d);
  if (const bool* b = value.get<bool>()) return *b ? "True" : "False";
  if (const std::string* s = value.get<std::string>()) {
    Date d;
    if ((fieldType == db::adDate || fieldType == db::adDBTime) && parseDate(*s, d))
      return dateLiteral(d);
    return *s;
  }
  return toText(value);
}

// Index of the first element of `names` equal to `name` (text comparison), or -1.
int32_t findCommon(const std::string& name, const StringArray& names) {
  const int32_t upper = loopUpper(names);
  for (int32_t i = 0; i <= upper; ++i)
    if (textEqual(names.at(i), name)) return i;
  return -1;
}

}  // namespace

std::string GetSQLValue(const Variant& Value, int16_t FieldType) {
  if (isBareType(FieldType)) return Value.isNull() ? "0" : bareText(Value, FieldType);
  if (isQuotedType(FieldType)) return Value.isNull() ? "''" : "\"" + toText(Value) + "\"";
  return "";
}

Variant GetAliasedColumn(std::string FieldName, const StringArray& CommonNames,
                         const std::string& TableName, bool IsMain) {
  if (findCommon(FieldName, CommonNames) < 0) return Variant("[" + FieldName + "]");
  return Variant("[" + TableName + "].[" + FieldName + "] as [" + FieldName +
                 (IsMain ? "~Main]" : "~Grid]"));
}

Variant GetAliasName(std::string FieldName, const StringArray& CommonNames,
                     const std::string& /*TableName*/, bool IsMain) {
  if (findCommon(FieldName, CommonNames) < 0) return Variant(FieldName);
  return Variant(FieldName + (IsMain ? "~Main" : "~Grid"));
}

}  // namespace ovt::sqltext
