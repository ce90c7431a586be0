// Match statistics and key checks: whether a column can serve as a match key, whether a key
// set identifies every record, and how many records of one table pair with another.
#include "frame/handler.h"
#include "glossary/startup.h"
#include "ovtbldiff/gateway.h"
#include "ovtbldiff/runtime/text.h"

namespace ovt {

bool cDataGetway::IsQualifiedMatchKey(std::string ColumnName, std::string TableName,
                                      bool& OruType, db::DatabaseRef* oExtDB) {
  return frame::withOwnSource(":IsQualifiedMatchKey", [&] {
    bool result = false;
    db::DatabaseRef conn = frame::argumentOrStored(oExtDB, db_);
    // An Oru key must be filled in every active record, and no record may lack its status.
    const std::string statement =
        OruType ? "select count(*) as TotalNull from [" + TableName + "] where ([" + ColumnName +
                      "] is null and Recstatus = 1) OR Recstatus is null"
                : "select count(*) as TotalNull from [" + TableName + "] where [" + ColumnName +
                      "] is null";
    db::RecordsetRef rs = deref(conn).OpenRecordset(statement, 0, "");
    const Variant total = deref(rs).FieldValue("TotalNull");
    if (!total.isNull() && toDouble(total) == 0) result = true;
    return result;
  });
}

int16_t cDataGetway::TotalMatchedRec(std::string Table1Name, std::string Table2Name,
                                     StringArray& MatchKeys, bool OruType, db::DatabaseRef* oDB) {
  db::DatabaseRef omitted;
  return frame::withOwnSource(":TotalMatchedRec", [&]() -> int16_t {
    db::DatabaseRef& conn = frame::filledIn(oDB, omitted, db_);
    if (!conn)
      frame::untrapped([] {
        // The source names the record difference member, as hosts have always received it.
        raiseError(objectError(707), frame::sourceFor(":GetTblDiffRecRs"),
                   glossary::T("Need to set oDB or the DB property"));
      });
    const std::string& t1 = Table1Name;
    const std::string& t2 = Table2Name;
    const int32_t keyUpper = loopUpper(MatchKeys);

    const std::string status = OruType ? "where  [" + t1 + "].recstatus = 1 " : "";  // W

    std::string join;  // J
    for (int32_t i = 0; i <= keyUpper; ++i) {
      const std::string& k = MatchKeys.at(i);
      join += "([" + t1 + "].[" + k + "] = [" + t2 + "].[" + k + "]) and ";
    }
    join = dropLast(join, 4);
    if (OruType) join += " and ([" + t1 + "].recstatus = [" + t2 + "].recstatus)";

    std::string keyText;  // X
    for (int32_t i = 0; i <= keyUpper; ++i) keyText += "[" + t1 + "].[" + MatchKeys.at(i) + "] & ";
    keyText = dropLast(keyText, 2);

    const std::string statement = "select count(*) as totalrec from [" + t1 + "] where " + keyText +
                                  " in (select " + keyText + " from [" + t1 + "] inner join [" +
                                  t2 + "] on " + join + status + ")";
    db::RecordsetRef rs = deref(conn).OpenRecordset(statement, 3, "");
    return toInteger(deref(rs).FieldValue("totalrec"));
  });
}

bool cDataGetway::IsMatchKeyUnique(StringArray& pstrMatchFlds, bool& OruType,
                                   std::string* psTableName, db::DatabaseRef* oExtDB) {
  return frame::withOwnSource(":IsMatchKeyUnique", [&] {
    db::DatabaseRef conn = frame::argumentOrStored(oExtDB, db_);
    // The default table is the stored connection's current view, read even when a table
    // name is given.
    const std::string viewName = deref(db_).ViewName();
    const std::string table = (psTableName && !psTableName->empty()) ? *psTableName : viewName;

    std::string columns;  // L
    const int32_t keyUpper = loopUpper(pstrMatchFlds);
    for (int32_t i = 0; i <= keyUpper; ++i) columns += "[" + pstrMatchFlds.at(i) + "],";
    columns = dropLast(columns, 1);

    const std::string statement =
        OruType ? "select " + columns + " from [" + table + "] where recstatus =1 group by " +
                      columns + " having count(*)>1"
                : "select " + columns + " from [" + table + "] group by " + columns +
                      " having count(*)>1";
    db::RecordsetRef rs = deref(conn).OpenRecordset(statement, 3, "");
    const bool none = deref(rs).RecordCount() == 0;
    const bool bof = rs->IsBOF();
    const bool eof = rs->IsEOF();
    try {
      rs.reset();
    } catch (...) {
    }
    return none && bof && eof;
  });
}

}  // namespace ovt
