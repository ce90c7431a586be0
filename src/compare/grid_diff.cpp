// GetTblDiffGridRS: grid (child) records of one parent/child pair that conflict with, or have
// no partner in, a second pair. Each pair becomes a temporary stored query (the child joined to
// its parent, active records only); one query over the two stored queries lists the records;
// the stored queries are dropped again. A failed call leaves them for the next call to replace.
#include <vector>

#include "frame/events.h"
#include "frame/handler.h"
#include "glossary/startup.h"
#include "ovtbldiff/gateway.h"
#include "ovtbldiff/runtime/text.h"
#include "sqltext/sqltext.h"

namespace ovt {
namespace {

const std::string kView1 = "QryTblDiff1";
const std::string kView2 = "QryTblDiff2";

bool isSystemColumn(const std::string& name) {
  return textEqual(name, "UniqueKey") || textEqual(name, "RecStatus");
}

std::vector<db::FieldRef> fieldsOf(const db::TableRef& table) {
  return deref(deref(table).Fields()).Items();
}

// Names of parent 1's fields (system columns aside) that child 1 also has, as the parent
// writes them, followed by one "" (so an empty list is the single element "").
StringArray commonNames(const db::TableRef& parent, const db::TableRef& child) {
  StringArray names{""};
  for (const db::FieldRef& pf : fieldsOf(parent)) {
    const std::string parentName = deref(pf).Name();
    if (isSystemColumn(parentName)) continue;
    for (const db::FieldRef& cf : fieldsOf(child)) {
      if (textEqual(deref(cf).Name(), parentName)) {
        names.redimPreserve(names.ubound() + 1);
        names.at(names.ubound() - 1) = parentName;
        break;
      }
    }
  }
  return names;
}

std::string text(const Variant& v) { return toText(v); }

// The statement of one stored query: the child joined to its parent, active records only.
// `fkeyJoin` is "].FKey=[" for the first pair and "].Fkey=[" for the second.
std::string viewStatement(const std::string& parentName, const std::string& childName,
                          const db::TableRef& child, const StringArray& parentKeys,
                          const StringArray& common, const char* fkeyJoin) {
  const std::string childTable = deref(child).Name();
  std::string childColumns;
  for (const db::FieldRef& f : fieldsOf(child)) {
    const std::string name = deref(f).Name();
    if (isSystemColumn(name)) continue;
    childColumns += text(sqltext::GetAliasedColumn(name, common, childTable, false)) + ",";
  }
  childColumns = dropLast(childColumns, 1);

  std::string keyColumns;
  const int32_t keyUpper = loopUpper(parentKeys);
  for (int32_t i = 0; i <= keyUpper; ++i)
    keyColumns += text(sqltext::GetAliasedColumn(parentKeys.at(i), common, parentName, true)) + ",";

  return "select " + keyColumns + childColumns + " from [" + childName + "] inner join [" +
         parentName + "] on [" + childName + fkeyJoin + parentName + "].UniqueKey" + " where [" +
         parentName + "].recstatus=1 and [" + childName + "].recstatus=1";
}

}  // namespace

db::RecordsetRef cDataGetway::GetTblDiffGridRS(std::string ParentTbl1Name, std::string ChildTbl1Name,
                                               std::string ParentTbl2Name, std::string ChildTbl2Name,
                                               std::string ChildMatchKey,
                                               StringArray& ParentMatchKeys, int32_t eSqlType) {
  // The trapped error goes on with its own number and source; the description says which
  // query kind was asked for. These words are not translated.
  auto describe = [eSqlType](const ComError& e) {
    return e.description() + ":SQLType:" + (eSqlType == TableDiffSQLConfilct ? "Difference" : "Unmatched");
  };
  return frame::withKeptSource([&]() -> db::RecordsetRef {
    db::RecordsetRef result;
    const db::DatabaseRef connection = db_;  // held for the whole call
    db::cDatabase& conn = deref(connection);

    db::TableRef child1, child2, parent1;
    for (const db::TableRef& t : conn.Tables()) {
      const std::string name = deref(t).Name();
      if (textEqual(name, ChildTbl1Name)) child1 = t;
      if (textEqual(name, ChildTbl2Name)) child2 = t;
      if (textEqual(name, ParentTbl1Name)) parent1 = t;
    }

    const StringArray common = commonNames(parent1, child1);
    auto alias = [&common](const std::string& name, const std::string& table, bool main) {
      return text(sqltext::GetAliasName(name, common, table, main));
    };

    conn.DropView(kView1);
    conn.DropView(kView2);

    const std::string view1 =
        viewStatement(ParentTbl1Name, ChildTbl1Name, child1, ParentMatchKeys, common, "].FKey=[");
    if (!conn.CreateView(kView1, view1))
      frame::untrapped([&] {
        raiseError(objectError(702), frame::sourceFor(":GetTblDiffGridRS"),
                   glossary::T("Create View fails :") + view1);
      });
    const std::string view2 =
        viewStatement(ParentTbl2Name, ChildTbl2Name, child2, ParentMatchKeys, common, "].Fkey=[");
    if (!conn.CreateView(kView2, view2))
      frame::untrapped([&] {
        raiseError(objectError(703), frame::sourceFor(":GetTblDiffGridRS"),
                   glossary::T("Create View fails:") + view2);
      });

    const int32_t keyUpper = loopUpper(ParentMatchKeys);
    const std::string childKey1 = alias(ChildMatchKey, ParentTbl1Name, false);
    const std::string childKey2 = alias(ChildMatchKey, ParentTbl2Name, false);

    std::string join;
    for (int32_t i = 0; i <= keyUpper; ++i) {
      const std::string& k = ParentMatchKeys.at(i);
      join += kView1 + ".[" + alias(k, ParentTbl1Name, true) + "] = " + kView2 + ".[" +
              alias(k, ParentTbl2Name, true) + "] and ";
    }
    join += kView1 + ".[" + childKey1 + "] = " + kView2 + ".[" + childKey2 + "]";

    // Compared fields: every child field but the system columns and the child's own key.
    std::vector<std::string> compared;
    for (const db::FieldRef& f : fieldsOf(child1)) {
      const std::string name = deref(f).Name();
      if (isSystemColumn(name) || textEqual(name, "FKey") || textEqual(name, ChildMatchKey)) continue;
      compared.push_back(alias(name, ParentTbl1Name, false));
    }

    std::string fieldList;
    for (const std::string& c : compared) fieldList += kView1 + ".[" + c + "],";
    fieldList += kView1 + ".FKey";

    std::string keyList;
    for (int32_t i = 0; i <= keyUpper; ++i)
      keyList += kView1 + ".[" + alias(ParentMatchKeys.at(i), ParentTbl1Name, true) + "],";

    // A field differs when both values differ, or exactly one of them is Null.
    std::string difference;
    for (const std::string& c : compared) {
      const std::string a = kView1 + ".[" + c + "]";
      const std::string b = kView2 + ".[" + c + "]";
      difference += " (" + a + " <> " + b + ") or ";
      difference += " (" + a + " is null and " + b + " is not null) or ";
      difference += " (" + a + " is not null and " + b + " is null) or ";
    }
    difference = dropLast(difference, 3);

    std::string keyConcat;
    for (int32_t i = 0; i <= keyUpper; ++i)
      keyConcat += kView1 + ".[" + alias(ParentMatchKeys.at(i), ParentTbl1Name, true) + "]&";
    keyConcat += kView1 + ".[" + childKey1 + "]";

    const std::string outer = "select " + keyList + kView1 + ".[" + childKey1 + "], " + fieldList +
                              " from [" + kView1 + "] where " + keyConcat;
    std::string query;
    if (eSqlType == TableDiffSQLConfilct)
      query = outer + "  in (select " + keyConcat + " from [" + kView1 + "] inner join [" + kView2 +
              "] on " + join + " where " + difference + ")";
    else if (eSqlType == TableDiffSQLMissing)
      query = outer + " not in (select " + keyConcat + " from " + "[" + kView1 + "] inner join [" +
              kView2 + "] on " + join + ")";

    const std::string statement = query + " order by " + dropLast(keyList, 1);
    if (eSqlType == TableDiffSQLConfilct) result = conn.OpenRecordset(statement, 2, "");
    else if (eSqlType == TableDiffSQLMissing) result = conn.OpenRecordset(statement, 0, "");

    frame::processPendingEvents();

    // Clean-up failures do not spoil the result.
    try {
      conn.DropView(kView1);
    } catch (...) {
    }
    try {
      conn.DropView(kView2);
    } catch (...) {
    }
    return result;
  }, describe);
}

}  // namespace ovt
