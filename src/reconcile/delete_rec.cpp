// DeleteRec: deletes chosen records of one table, named by their key values.
//
// Mark-delete (OruType True, form data tables only): each record is one transaction in which
// the first matching record gets RecStatus 0 through its recordset, and so do its children in
// every grid of the form. Physical delete: one delete statement per record, grids untouched.
//
// The checks raise; after them nothing is raised (reconcile/phase.h): a failed record is
// reported in ErrMsg (translated texts), rolled back in mark-delete mode, and the loop goes on.
#include <functional>
#include <optional>
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

// "name = literal and ..." (bare names for mark-delete, bracketed for physical delete),
// without the last four characters: it ends with one blank.
std::string conditionOf(const StringArray& matchFld, const VariantArray& values, int16_t i,
                        int16_t keyUpper, bool bracketed) {
  std::string cond;
  for (int16_t k = 0; k <= keyUpper; ++k) {
    const std::string& name = matchFld.at(k, 0);
    cond += (bracketed ? "[" + name + "]" : name) + " = " +
            sqltext::GetSQLValue(values.at(i, k), reconcile::typeCode(matchFld.at(k, 1))) + " and ";
  }
  return dropLast(cond, 4);
}

bool execute(db::cDatabase& conn, const std::string& sql) {
  bool ran = false;
  attempt([&] { ran = conn.Execute(sql); });  // a statement that raises counts as failed
  return ran;
}

}  // namespace

bool cDataGetway::DeleteRec(std::string TableName, StringArray& MatchFld, VariantArray& MatchFldValue,
                            bool& OruType, StringArray& ErrMsg, db::DatabaseRef* oExtDB) {
  return frame::withKeptSource([&]() -> bool {
    bool result = true;
    const db::DatabaseRef conn = frame::argumentOrStored(oExtDB, db_);
    const std::string source = frame::sourceFor(":DeleteRec");

    if (!deref(conn).TableExists(TableName))
      frame::untrapped([&] {
        raiseError(objectError(714), source, glossary::T("Table does not exist:") + " " + TableName);
      });
    const bool link = reconcile::isLinkTable(TableName);
    const std::string viewTable = reconcile::viewTableOf(TableName);
    if (OruType) {
      std::string name = TableName;
      if (conn->GetTableType(name) != db::kTableTypeOru)
        frame::untrapped([&] {
          raiseError(objectError(717), source,
                     glossary::T("Conflict with DeleteType. This table is not OruTable :") + " " +
                         TableName);
        });
      if (!conn->TableExists(viewTable))
        frame::untrapped([&] {
          raiseError(objectError(716), source, glossary::T("Table does not exist :") + " " + viewTable);
        });
    }

    // The loop bounds are taken with the checks: an unallocated value array or one above
    // 32767 rows raises (9 / 6) before any record is touched.
    const int16_t records = loopUpper(MatchFldValue, 1);
    const int16_t keyUpper = loopUpper(MatchFldValue, 2);

    // From here on nothing is raised to the caller.
    for (int16_t i = 0; i <= records; ++i) {
      if (!OruType) {
        std::string cond;
        // Without its full condition the delete could remove other records' rows: the record
        // fails before any statement is sent.
        if (auto e = attempt([&] { cond = conditionOf(MatchFld, MatchFldValue, i, keyUpper, true); })) {
          result = false;
          reconcile::note(ErrMsg, i, [&] { return glossary::T("Delete failed. :") + " " + e->description(); });
          continue;
        }
        const std::string pd = "delete from [" + TableName + "] where " + cond;
        if (!execute(*conn, pd)) {
          result = false;
          reconcile::note(ErrMsg, i, [&] { return glossary::T("Delete failed. :") + " " + pd; });
        }
        continue;
      }

      // A record whose transaction cannot be opened is not touched at all.
      if (auto e = attempt([&] { conn->BeginTrans(); })) {
        result = false;
        reconcile::note(ErrMsg, i, [&] { return glossary::T("Query failed. :") + " " + e->description(); });
        continue;
      }
      auto markFails = [&](const std::string& detail) {
        return [detail] { return glossary::T("Mark delete fails : Query =") + " " + detail; };
      };
      // The record's message, once it has failed (empty while it has not).
      std::optional<std::function<std::string()>> message;

      std::string cond;
      if (auto e = attempt([&] { cond = conditionOf(MatchFld, MatchFldValue, i, keyUpper, false); })) {
        message = [d = e->description()] { return glossary::T("Query failed. :") + " " + d; };
      }
      const std::string ml = "select recstatus,UniqueKey from [" + TableName + "] where " + cond;
      std::string key;
      if (!message) {
        db::RecordsetRef rs;
        bool found = false;
        // A lookup that cannot run, finds nothing, or whose key cannot be read fails the record
        // the same way: no statement of this record then uses a key.
        if (attempt([&] {
              rs = conn->OpenRecordset(ml, 1, "");
              if (deref(rs).RecordCount() > 0) {
                key = toText(rs->FieldValue("UniqueKey"));
                found = true;
              }
            }) || !found) {
          message = [ml] { return glossary::T("Query failed. :") + " " + ml; };
        } else if (attempt([&] {
                     rs->SetFieldValue("recstatus", Variant(int16_t{0}));
                     rs->Update();
                   })) {
          // The mark itself did not reach the table: marking its children alone would leave an
          // active record with deleted children.
          message = markFails(ml);
        }
        rs.reset();
      }

      if (!message) {
        StringArray grids;
        bool hasGrids = false;
        // Grids that cannot be listed (the call raised) cannot be marked with the record: the
        // record fails rather than leaving its children active.
        if (auto e = attempt([&] { hasGrids = GetOruGridList(viewTable, grids); })) {
          message = markFails(e->description());
        } else if (hasGrids) {
          int16_t rows = -1;
          if (auto e2 = attempt([&] { rows = loopUpper(grids); })) message = markFails(e2->description());
          for (int16_t g = 0; !message && g <= rows; ++g) {
            std::string table;
            // A grid whose data table cannot be looked up cannot be marked: the record fails.
            if (auto e3 = attempt([&] { table = GetOruDataTable(grids.at(g, 1)); })) {
              message = markFails(e3->description());
              break;
            }
            const std::string mg = "update " + reconcile::onSide(link, table) +
                                   " set recstatus = 0 where FKey = " + key;
            if (!execute(*conn, mg)) message = markFails(mg);
          }
        }
      }

      if (!message) {
        // A commit that fails leaves the record failed; what it had written is rolled back.
        if (auto e = attempt([&] { conn->CommitTrans(); })) message = markFails(e->description());
      }
      if (message) {
        result = false;
        reconcile::note(ErrMsg, i, *message);
        attempt([&] { conn->RollbackTrans(); });
      }
    }
    return result;
  });
}

}  // namespace ovt
