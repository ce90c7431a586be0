// CopyRec: brings chosen records of a destination table in line with a source table.
//
// Oru mode (form data tables): each record is one transaction. The matching destination record
// is updated from the source (it keeps its UniqueKey and becomes active) or a copy is inserted
// (new key read back); then for every shared grid the destination record's children are
// replaced by copies of the source record's children. Plain mode: each record's destination
// rows are deleted and the source rows inserted, without transaction and without children.
//
// The checks raise; after them nothing is raised (reconcile/phase.h): a record that fails is
// rolled back and reported in ErrMsg with "Query Fails : " and the statement, and the loop goes
// on. ErrMsg texts of this member are not translated.
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
using reconcile::keyText;

const std::string kQueryFails = "Query Fails : ";

class RecordCopy {
 public:
  RecordCopy(cDataGetway& gateway, db::DatabaseRef conn, const std::string& source,
             const std::string& dest, StringArray& matchFld, VariantArray& matchValues,
             StringArray& gridViews)
      : gateway_(gateway), conn_(std::move(conn)), source_(source), dest_(dest),
        matchFld_(matchFld), matchValues_(matchValues), gridViews_(gridViews),
        sourceLink_(reconcile::isLinkTable(source)), destLink_(reconcile::isLinkTable(dest)) {}

  // Column lists: the bracketed key columns followed by the common columns (full list), and
  // the common columns alone. Built once per call, before the checks of the mode.
  void buildLists(StringArray& common) {
    std::string full;
    const int16_t keys = loopUpper(matchFld_);
    for (int16_t k = 0; k <= keys; ++k) full += "[" + matchFld_.at(k, 0) + "],";
    std::string commonList;
    if (!(common.ubound() == 0 && textEqual(common.at(0), ""))) {
      const int16_t n = loopUpper(common);
      for (int16_t c = 0; c <= n; ++c) {
        full += "[" + common.at(c) + "],";
        commonList += "[" + common.at(c) + "],";
      }
    }
    full_ = reconcile::withoutTrailingComma(full);
    common_ = reconcile::withoutTrailingComma(commonList);
  }

  // The condition of record i: "[key] = literal and ..." without the last four characters,
  // so it ends with one blank.
  std::string condition(int16_t i, int16_t keyUpper) const {
    std::string cond;
    for (int16_t k = 0; k <= keyUpper; ++k) {
      cond += "[" + matchFld_.at(k, 0) + "] = " +
              sqltext::GetSQLValue(matchValues_.at(i, k), reconcile::typeCode(matchFld_.at(k, 1))) +
              " and ";
    }
    return dropLast(cond, 4);
  }

  // Oru mode, record i inside its transaction: nullopt when every statement succeeded,
  // else the message for ErrMsg(i). Whatever fails, the caller rolls the transaction back,
  // so a record is either applied whole or not at all.
  std::optional<std::string> oruRecord(int16_t i, int16_t keyUpper) {
    std::string cond;
    if (auto e = attempt([&] { cond = condition(i, keyUpper); }))
      return kQueryFails + e->description();

    const std::string q1 = "select * from [" + dest_ + "] where " + cond;
    db::RecordsetRef found;
    bool exists = false;
    if (attempt([&] {
          found = conn_->OpenRecordset(q1, 2, "");
          exists = deref(found).RecordCount() > 0;
        }))
      return kQueryFails + q1;

    std::string destKey, sourceKey;
    if (exists) {
      if (attempt([&] { destKey = keyText(found->FieldValue("UniqueKey")); })) return kQueryFails + q1;
      found.reset();
      if (auto m = update(cond, destKey, sourceKey)) return m;
    } else {
      found.reset();
      if (auto m = insert(cond, destKey, sourceKey)) return m;
    }
    return grids(destKey, sourceKey);
  }

  // Plain mode, record i: delete the destination rows, insert the source rows. Nothing to roll
  // back; a record whose insert fails stays deleted.
  std::optional<std::string> plainRecord(int16_t i, int16_t keyUpper) {
    std::string cond;
    // Without its full condition the delete could remove other records' rows: the record
    // fails before any statement is sent.
    if (auto e = attempt([&] { cond = condition(i, keyUpper); }))
      return "Delete Record Fails : " + e->description();
    const std::string pd = "delete from [" + dest_ + "] where " + cond;
    if (!execute(pd)) return "Delete Record Fails : " + pd;
    const std::string pi = "insert into " + dest_ + "(" + full_ + ") select " + full_ + " from [" +
                           source_ + "] where " + cond;
    if (!execute(pi)) return "Insert Fails : " + pi;
    return std::nullopt;
  }

  db::cDatabase& conn() { return *conn_; }

 private:
  // Execute; a statement that raises counts as one that answered False.
  bool execute(const std::string& sql) {
    bool ran = false;
    attempt([&] { ran = conn_->Execute(sql); });
    return ran;
  }

  // Runs a key query and reads UniqueKey of its first record. A query that cannot run, has no
  // record, or whose key cannot be read fails the record: a key read for an earlier record is
  // never reused.
  bool readKey(const std::string& sql, std::string& key, db::RecordsetRef* keep = nullptr) {
    return !attempt([&] {
      db::RecordsetRef rs = conn_->OpenRecordset(sql, 3, "");
      if (deref(rs).RecordCount() <= 0) raiseError(kGenericFailure, "", "no record");
      key = keyText(rs->FieldValue("UniqueKey"));
      if (keep) *keep = rs;
    });
  }

  std::optional<std::string> update(const std::string& cond, const std::string& destKey,
                                    std::string& sourceKey) {
    const std::string q2 = "select " + common_ + ",UniqueKey from [" + source_ + "] where " + cond;
    db::RecordsetRef values;
    if (!readKey(q2, sourceKey, &values)) return kQueryFails + q2;
    std::string assignments;
    if (attempt([&] {
          const auto fieldsRef = values->Recordset();
          const db::cRecordsetFields& fields = deref(fieldsRef);
          const int16_t n = toInt16Checked(fields.Count());
          for (int16_t c = 0; c < n; ++c) {
            const std::string name = fields.Name(c);
            if (textEqual(name, "recstatus") || textEqual(name, "UniqueKey")) continue;
            assignments += name + " = " +
                           sqltext::GetSQLValue(values->FieldValue(name), toInt16Checked(fields.Type(c))) +
                           ", ";
          }
        }))
      return kQueryFails + q2;
    values.reset();
    // An empty common list leaves nothing to assign; the record fails instead of sending an
    // update that names no column.
    if (assignments.empty()) return kQueryFails + q2;
    assignments = dropLast(assignments, 2);
    const std::string u = "update " + dest_ + " set " + assignments + ", recstatus=1" +
                          " where UniqueKey=" + destKey;
    if (!execute(u)) return kQueryFails + u;
    return std::nullopt;
  }

  std::optional<std::string> insert(const std::string& cond, std::string& destKey,
                                    std::string& sourceKey) {
    const std::string q3 = "select UniqueKey from [" + source_ + "] where " + cond;
    if (!readKey(q3, sourceKey)) return kQueryFails + q3;
    const std::string columns =
        findText(full_, "recstatus") != std::string::npos ? full_ : full_ + ", recstatus";
    const std::string ins = "insert into " + dest_ + " (" + columns + ") select " + columns +
                            " from [" + source_ + "] where UniqueKey = " + sourceKey;
    if (!execute(ins)) return kQueryFails + ins;
    const std::string q4 = "select UniqueKey from [" + dest_ + "] where " + cond;
    if (!readKey(q4, destKey)) return kQueryFails + q4;
    return std::nullopt;
  }

  // Replaces the destination record's children (FKey = D) by copies of the source record's
  // children (FKey = S) in every shared grid.
  std::optional<std::string> grids(const std::string& destKey, const std::string& sourceKey) {
    bool none = false;
    int16_t rows = -1;
    // A grid list that cannot be read has no grid step (nothing of the grids is touched).
    if (attempt([&] {
          none = gridViews_.ubound(1) == 0 && textEqual(gridViews_.at(0, 0), "");
          if (!none) rows = loopUpper(gridViews_);
        }))
      return std::nullopt;
    if (none) return std::nullopt;

    for (int16_t j = 0; j <= rows; ++j) {
      std::string view, table, sourceView, sourceTable, destView, destTable;
      if (attempt([&] {
            view = gridViews_.at(j, 0);
            table = gridViews_.at(j, 1);
          }))
        continue;  // a row that cannot be read names no grid: nothing of it is touched
      sourceView = reconcile::onSide(sourceLink_, view);
      sourceTable = reconcile::onSide(sourceLink_, table);
      destView = reconcile::onSide(destLink_, view);
      destTable = reconcile::onSide(destLink_, table);
      const std::string& varView = sourceLink_ ? destView : sourceView;

      const std::string gd = "delete from [" + destTable + "] where FKey = " + destKey;
      if (!execute(gd)) return kQueryFails + gd;

      StringArray vars;
      bool listed = false;
      // A variable list that could not be read (the call raised) fails the record: its
      // children are already deleted and committing would lose them without a copy. A list
      // that is read and answers False keeps the destination's children deleted.
      if (auto e = attempt([&] { listed = gateway_.GetOruViewVarList(varView, vars); }))
        return kQueryFails + e->description();
      if (!listed) continue;

      std::string columns;
      attempt([&] {
        const int16_t n = loopUpper(vars);
        for (int16_t r = 0; r <= n; ++r) {
          const std::string& name = vars.at(r, 0);
          if (textEqual(name, "UniqueKey")) continue;
          columns += "[" + name + "],";
        }
      });
      columns = reconcile::withoutTrailingComma(columns);
      const std::string gi = "insert into " + destTable + "(" + columns + ",recstatus,FKey)" +
                             " select " + columns + ",1," + destKey + " from [" + sourceTable +
                             "] where FKey = " + sourceKey;
      if (!execute(gi)) return kQueryFails + gi;
    }
    return std::nullopt;
  }

  cDataGetway& gateway_;
  db::DatabaseRef conn_;
  const std::string& source_;
  const std::string& dest_;
  StringArray& matchFld_;
  VariantArray& matchValues_;
  StringArray& gridViews_;
  bool sourceLink_;
  bool destLink_;
  std::string full_;
  std::string common_;
};

}  // namespace

bool cDataGetway::CopyRec(std::string SourceTableName, std::string DestTableName,
                          StringArray& MatchFld, VariantArray& MatchFldValue,
                          StringArray& CommonFldName, bool& OruType, StringArray& CommonGridViews,
                          StringArray& ErrMsg, db::DatabaseRef* oDB) {
  return frame::withOwnSource(":CopyRec", [&]() -> bool {
    bool result = true;
    if (oDB && *oDB) db_ = *oDB;
    const db::DatabaseRef conn = db_;
    const std::string source = frame::sourceFor(":CopyRec");

    if (!deref(conn).TableExists(SourceTableName))
      raiseError(objectError(718), source, glossary::T("Table does not exist:") + SourceTableName);
    if (!conn->TableExists(DestTableName))
      raiseError(objectError(719), source, glossary::T("Table does not exist:") + DestTableName);

    RecordCopy copy(*this, conn, SourceTableName, DestTableName, MatchFld, MatchFldValue,
                    CommonGridViews);
    copy.buildLists(CommonFldName);

    if (OruType) {
      std::string s = SourceTableName, d = DestTableName;
      const int32_t sourceType = conn->GetTableType(s);
      const int32_t destType = conn->GetTableType(d);
      if (sourceType != db::kTableTypeOru || destType != db::kTableTypeOru)
        raiseError(objectError(722), source,
                   glossary::T("Source or Destination Table is not OruTable :") + SourceTableName +
                       "," + DestTableName);
      const std::string sourceView = reconcile::viewTableOf(SourceTableName);
      const std::string destView = reconcile::viewTableOf(DestTableName);
      if (!conn->TableExists(sourceView))
        raiseError(objectError(720), source, glossary::T("Source View Table does not exist:") + sourceView);
      if (!conn->TableExists(destView))
        raiseError(objectError(721), source,
                   glossary::T("Destination View Table does not exist:") + destView);
    }

    // The loop bounds are taken with the checks: an unallocated value array or one above
    // 32767 rows raises (9 / 6) before any record is touched.
    const int16_t records = loopUpper(MatchFldValue, 1);
    const int16_t keyUpper = loopUpper(MatchFldValue, 2);

    // From here on nothing is raised to the caller.
    for (int16_t i = 0; i <= records; ++i) {
      if (!OruType) {
        if (auto message = copy.plainRecord(i, keyUpper)) {
          reconcile::note(ErrMsg, i, [&] { return *message; });
          result = false;
        }
        continue;
      }
      // A record whose transaction cannot be opened is not touched at all.
      if (auto e = attempt([&] { copy.conn().BeginTrans(); })) {
        reconcile::note(ErrMsg, i, [&] { return kQueryFails + e->description(); });
        result = false;
        continue;
      }
      std::optional<std::string> message = copy.oruRecord(i, keyUpper);
      if (!message) {
        // A commit that fails leaves the record failed; what it had written is rolled back.
        if (auto e = attempt([&] { copy.conn().CommitTrans(); })) message = kQueryFails + e->description();
      }
      if (message) {
        attempt([&] { copy.conn().RollbackTrans(); });
        reconcile::note(ErrMsg, i, [&] { return *message; });
        result = false;
      }
    }
    return result;
  });
}

}  // namespace ovt
