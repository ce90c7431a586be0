// CopyChild: copies single grid children, each under the destination record that corresponds
// to its source parent (active parents only on both sides). A child the destination already
// holds (its insert is refused) is made active again instead. No transaction: each child is
// one insert or one revival, and a failed child does not stop the next one.
//
// The two table checks raise; after them nothing is raised (reconcile/phase.h). Failed
// children are reported in ErrMsg with translated texts; the result is True on every normal
// return.
#include <string>

#include "frame/handler.h"
#include "glossary/startup.h"
#include "ovtbldiff/gateway.h"
#include "ovtbldiff/runtime/text.h"
#include "reconcile/phase.h"
#include "sqltext/sqltext.h"

namespace ovt {
namespace {

using reconcile::attempt;

// "name=literal and ..." without the whole trailing " and ".
template <class Values, class Literal>
std::string conditionOf(const StringArray& keys, const Values& values, int16_t i, int16_t upper,
                        Literal literal) {
  std::string cond;
  for (int16_t k = 0; k <= upper; ++k)
    cond += keys.at(k, 0) + "=" +
            sqltext::GetSQLValue(literal(values.at(i, k)), reconcile::typeCode(keys.at(k, 1))) + " and ";
  return dropLast(cond, 5);
}

}  // namespace

bool cDataGetway::CopyChild(std::string SourceTblName, std::string DestTblName,
                            std::string SrcChildTblName, std::string DestChildTblName,
                            std::string& ChildViewName, StringArray& ParentMatchKeys,
                            VariantArray& ParentMatchValues, StringArray& ChildMatchKey,
                            StringArray& ChildMatchValues, StringArray& ErrMsg) {
  return frame::withKeptSource([&]() -> bool {
    const db::DatabaseRef conn = db_;
    const std::string source = frame::sourceFor(":CopyChild");
    if (!deref(conn).TableExists(DestTblName))
      frame::untrapped([&] {
        raiseError(objectError(704), source, glossary::T("Table does not exist:") + " " + DestTblName);
      });
    if (!conn->TableExists(SourceTblName))
      frame::untrapped([&] {
        raiseError(objectError(705), source, glossary::T("Table does not exist:") + " " + SourceTblName);
      });

    // The loop bounds are taken with the checks: an unallocated value array or one above
    // 32767 rows raises (9 / 6) before any child is touched.
    const int16_t children = loopUpper(ParentMatchValues, 1);
    const int16_t parentUpper = loopUpper(ParentMatchValues, 2);
    const int16_t childUpper = loopUpper(ChildMatchValues, 2);

    // From here on nothing is raised to the caller.
    std::string columns;
    attempt([&] {
      StringArray vars;
      if (!GetOruViewVarList(ChildViewName, vars)) return;
      const int16_t n = loopUpper(vars);
      std::string list;
      for (int16_t r = 0; r <= n; ++r) list += "[" + vars.at(r, 0) + "],";
      columns = reconcile::withoutTrailingComma(list);
    });
    // Without columns no insert can name what to copy, and a revival would make a child active
    // that was never copied: every child is reported as failed and nothing is sent.
    if (columns.empty()) {
      for (int16_t i = 0; i <= children; ++i)
        reconcile::note(ErrMsg, i, [&] {
          // The detail has no catalogued phrase of its own and stays in English.
          return glossary::T("Copy child fails :") + " " + "no column to copy from view " + ChildViewName;
        });
      return true;
    }

    for (int16_t i = 0; i <= children; ++i) {
      auto fails = [&](const std::string& phrase, const std::string& detail) {
        reconcile::note(ErrMsg, i, [&] { return glossary::T(phrase) + " " + detail; });
      };
      std::string parentCond, parentKey;
      // A child whose parent condition or source parent key cannot be built is not copied:
      // no statement of it may use a key that belongs to another child.
      if (auto e = attempt([&] {
            parentCond = conditionOf(ParentMatchKeys, ParentMatchValues, i, parentUpper,
                                     [](const Variant& v) { return v; });
            parentKey = std::to_string(toLong(Variant(ChildMatchValues.at(i, 1))));
          })) {
        fails("Copy child fails :", e->description());
        continue;
      }

      const std::string sp = "select * from [" + SourceTblName +
                             "] where recstatus=1 and UniqueKey = " + parentKey;
      bool sourceParent = false;
      attempt([&] {
        db::RecordsetRef rs = conn->OpenRecordset(sp, 1, "");
        sourceParent = deref(rs).RecordCount() > 0;
      });
      if (!sourceParent) {
        fails("Can't copy, since source parent record does not exist, Query fails :", sp);
        continue;
      }

      const std::string dp = "select UniqueKey from [" + DestTblName +
                             "] where recstatus = 1 and " + parentCond;
      std::string destKey;
      // A destination parent that cannot be looked up, or whose key cannot be read, counts as
      // missing: the child is never placed under another child's parent.
      if (attempt([&] {
            db::RecordsetRef rs = conn->OpenRecordset(dp, 3, "");
            if (deref(rs).RecordCount() <= 0) raiseError(kGenericFailure, "", "no record");
            destKey = reconcile::keyText(rs->FieldValue("UniqueKey"));
          })) {
        fails("Destination Parent Record does not exist, can't copy this child. Query:", dp);
        continue;
      }

      std::string childCond;
      if (auto e = attempt([&] {
            childCond = conditionOf(ChildMatchKey, ChildMatchValues, i, childUpper,
                                    [](const std::string& s) { return Variant(s); });
          })) {
        fails("Copy child fails :", e->description());
        continue;
      }

      const std::string ci = "insert into " + DestChildTblName + " (" + columns +
                             ",recstatus, Fkey) select " + columns + ",1," + destKey + " from [" +
                             SrcChildTblName + "] where " + childCond;
      bool inserted = false;
      attempt([&] { inserted = conn->Execute(ci); });
      if (inserted) continue;

      // The revival names child key column 0 only: the condition up to and including the
      // blank in front of its first " and". With a single key column there is no " and" and
      // the shortened condition is empty, so the revival statement cannot run and the child
      // is reported as failed.
      const size_t at = findText(childCond, " and");
      const std::string shortCond = at == std::string::npos ? std::string() : childCond.substr(0, at + 1);
      const std::string cu = "update " + DestChildTblName + " set recstatus = 1 where " + shortCond +
                             " and Fkey = " + destKey;
      bool revived = false;
      attempt([&] { revived = conn->Execute(cu); });
      if (!revived) fails("Copy child fails :", cu);
    }
    return true;
  });
}

}  // namespace ovt
