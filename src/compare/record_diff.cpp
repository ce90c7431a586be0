// GetTblDiffRecRS: one SELECT that lists the records of a first table which conflict with, or
// have no partner in, a second table when the two are paired on key fields.
//
// The statement is written for the Jet dialect: names in brackets exactly as passed, `&` as
// text concatenation (Null counts as ""), several compared fields compared as concatenated
// groups of at most 31 fields, so that no single expression grows past what the engine takes.
#include <array>

#include "frame/handler.h"
#include "glossary/startup.h"
#include "ovtbldiff/gateway.h"
#include "ovtbldiff/runtime/text.h"

namespace ovt {
namespace {

constexpr std::string_view kSource = ":GetTblDiffRecRs";

// Indexes after which a group of compared fields is closed. The last fixed end is 260, so the
// group after 240 holds 20 fields and every field after 260 goes into one final group.
constexpr std::array<int32_t, 9> kGroupEnds = {30, 60, 90, 120, 150, 180, 210, 240, 260};

bool isGroupEnd(int32_t i) {
  for (int32_t end : kGroupEnds)
    if (i == end) return true;
  return false;
}

std::string column(const std::string& table, const std::string& field) {
  return "[" + table + "].[" + field + "]";
}

// The difference condition D over the compared fields.
std::string differenceCondition(const std::string& t1, const std::string& t2,
                                const StringArray& fields) {
  const int32_t n = loopUpper(fields);
  if (n == 0) return column(t1, fields.at(0)) + "<>" + column(t2, fields.at(0));
  std::string d, g1, g2;
  for (int32_t i = 0; i <= n; ++i) {
    const std::string& f = fields.at(i);
    g1 += " " + column(t1, f) + "&";
    g2 += " " + column(t2, f) + "&";
    if (isGroupEnd(i)) {
      d += dropLast(g1, 1) + "<>" + dropLast(g2, 1) + " OR ";
      g1.clear();
      g2.clear();
    }
    if (i == n) {
      if (!g1.empty())
        d += dropLast(g1, 1) + "<>" + dropLast(g2, 1);
      else
        d = dropLast(d, 4);
    }
  }
  return d;
}

}  // namespace

db::RecordsetRef cDataGetway::GetTblDiffRecRS(std::string Table1Name, std::string Table2Name,
                                              StringArray& MatchKeys, StringArray& CompareFields,
                                              int32_t eSqlType, bool OruType,
                                              db::DatabaseRef* oDB) {
  // A database failure with the generic failure code is, in practice, a statement with more
  // compared fields than the engine accepts; the user is told so instead.
  auto describe = [](const ComError& e) {
    std::string tooMany = glossary::T("Too many fields to compare! Select less fields and try again.");
    return e.number() == kGenericFailure ? tooMany : e.description();
  };
  db::DatabaseRef omitted;
  return frame::withKeptSource([&]() -> db::RecordsetRef {
    db::DatabaseRef& conn = frame::filledIn(oDB, omitted, db_);
    if (!conn)
      frame::untrapped([] {
        raiseError(objectError(723), frame::sourceFor(kSource),
                   glossary::T("Need to set oDB or the DB property"));
      });

    const std::string& t1 = Table1Name;
    const std::string& t2 = Table2Name;
    const int32_t keyUpper = loopUpper(MatchKeys);

    std::string keys;  // K
    for (int32_t i = 0; i <= keyUpper; ++i) keys += column(t1, MatchKeys.at(i)) + ", ";

    if (textEqual(CompareFields.at(0), "") && CompareFields.ubound() == 0)
      frame::untrapped([] {
        raiseError(objectError(724), frame::sourceFor(kSource),
                   glossary::T("There are no fields to compare."));
      });

    std::string compared;  // C
    const int32_t fieldUpper = loopUpper(CompareFields);
    for (int32_t i = 0; i <= fieldUpper; ++i) compared += column(t1, CompareFields.at(i)) + ", ";
    compared = dropLast(compared, 2);

    const std::string order = dropLast(keys, 2);  // O
    const std::string status = OruType ? " and [" + t1 + "].recstatus = 1 " : "";  // R

    std::string join;  // J
    for (int32_t i = 0; i <= keyUpper; ++i)
      join += column(t1, MatchKeys.at(i)) + " = " + column(t2, MatchKeys.at(i)) + " and ";
    join = dropLast(join, 4);
    if (OruType) join += " and [" + t1 + "].recstatus = [" + t2 + "].recstatus ";

    const std::string difference = differenceCondition(t1, t2, CompareFields);  // D

    std::string keyText;  // X
    for (int32_t i = 0; i <= keyUpper; ++i) keyText += column(t1, MatchKeys.at(i)) + " & ";
    keyText = dropLast(keyText, 2);

    const std::string head = "select " + keys + compared + " from [" + t1 + "] where " + keyText;

    std::string statement;
    if (eSqlType == TableDiffSQLConfilct) {
      const std::string where = difference.empty() ? "" : " where " + difference;
      statement = head + " in (select " + keyText + " from [" + t1 + "] inner join [" + t2 +
                  "] on " + join + where + ")" + status + " order by " + order;
      return deref(conn).OpenRecordset(statement, 1, "");
    }
    if (eSqlType == TableDiffSQLMissing) {
      statement = head + " not in (select " + keyText + " from [" + t1 + "] inner join [" + t2 +
                  "] on " + join + ")" + status + " order by " + order;
      return deref(conn).OpenRecordset(statement, 0, "");
    }
    return nullptr;
  }, describe);
}

}  // namespace ovt
