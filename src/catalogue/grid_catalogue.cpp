// Grid catalogue: the grids of one view with their grid views, and the grids that the
// stored connection's view and extDB's view share with the same structure.
#include <string>
#include <utility>
#include <vector>

#include "frame/handler.h"
#include "glossary/startup.h"
#include "ovtbldiff/gateway.h"
#include "ovtbldiff/runtime/text.h"

namespace ovt {
namespace {

// The empty form of a two-column list: one row of two empty strings.
void setEmptyList(StringArray& list) {
  list.redim(0, 0, 0, 1);
  list.at(0, 0) = "";
  list.at(0, 1) = "";
}

bool isEmptyList(const StringArray& list) {
  return textEqual(list.at(0, 0), "") && list.ubound(1) == 0;
}

}  // namespace

bool cDataGetway::GetOruGridList(std::string ViewName, StringArray& GridList, db::DatabaseRef* DB) {
  bool result = false;
  return frame::withOwnSource(":GetOruGridList", [&] {
    db::DatabaseRef conn = frame::argumentOrStored(DB, db_);
    // Raised without a source of their own: the caller sees the default one.
    if (!deref(conn).TableExists(ViewName))
      frame::untrapped([&] {
        raiseError(objectError(711), "",
                   glossary::T("Table:") + ViewName + " " + glossary::T("does not exist"));
      });

    // A grid row names a data-source row of page 0 of the same catalogue, whose DataTable is
    // the grid view; a grid without that row is not listed.
    const std::string query =
        "select A.Name as GridName, B.Datatable as GridViewName from [" + ViewName + "] as A, [" +
        ViewName +
        "] as B where A.Type ='GRID' and A.Datatable = B.Name and B.PageNumber=0 and B.Type = "
        "'SOURCE'";
    const db::RecordsetRef rs = conn->OpenRecordset(query, 3, "");
    if (deref(rs).RecordCount() < 1) {
      setEmptyList(GridList);
      return result;
    }

    // A recordset yielding more records than it counted fails on the first surplus row
    // (subscript out of range) rather than dropping it silently.
    GridList.redim(0, rs->RecordCount() - 1, 0, 1);
    rs->MoveFirst();
    int16_t k = 0;
    while (!rs->IsEOF()) {
      GridList.at(k, 0) = toText(rs->FieldValue("GridName"));
      GridList.at(k, 1) = toText(rs->FieldValue("GridViewName"));
      rs->MoveNext();
      k = toInt16Checked(int32_t{k} + 1);
    }
    result = true;
    return result;
  });
}

bool cDataGetway::GetOruComparableGridTblList(StringArray& ComparableGridDataTblList,
                                              db::DatabaseRef& extDB) {
  bool result = true;
  return frame::withOwnSource(":GetOruComparableGridTblList", [&] {
    StringArray list1, list2;
    GetOruGridList(deref(db_).ViewName(), list1, nullptr);
    GetOruGridList(deref(extDB).ViewName(), list2, &extDB);

    // Candidates: grid views that both views list under the same grid name.
    StringArray candidates;
    int16_t nCandidates = 0;
    if (!isEmptyList(list1) && !isEmptyList(list2)) {
      const int16_t last1 = loopUpper(list1, 1);
      const int16_t last2 = loopUpper(list2, 1);
      for (int16_t i = 0; i <= last1; ++i) {
        const std::string& name1 = list1.at(i, 0);
        const std::string& view1 = list1.at(i, 1);
        for (int16_t j = 0; j <= last2; ++j) {
          if (textEqual(list2.at(j, 0), name1) && textEqual(list2.at(j, 1), view1)) {
            candidates.redimPreserve(nCandidates);
            candidates.at(nCandidates) = view1;
            nCandidates = toInt16Checked(int32_t{nCandidates} + 1);
            break;
          }
        }
      }
    }
    if (nCandidates == 0) {
      setEmptyList(ComparableGridDataTblList);
      result = false;
      return result;
    }

    // Each candidate is compared with both connections set to it; nothing restores their
    // earlier views afterwards.
    std::vector<std::pair<std::string, std::string>> rows;
    int16_t nRows = 0;
    StringArray fields;
    for (int16_t c = 0; c < nCandidates; ++c) {
      const std::string& gv = candidates.at(c);
      deref(db_).SetViewName(gv);
      deref(extDB).SetViewName(gv);
      if (textEqual(CompareViewsStructure(extDB, fields), "")) {
        rows.emplace_back(gv, GetOruDataTable(gv, nullptr));
        nRows = toInt16Checked(int32_t{nRows} + 1);
      }
    }

    if (nRows == 0) {
      setEmptyList(ComparableGridDataTblList);
      return result;
    }
    ComparableGridDataTblList.redim(0, nRows - 1, 0, 1);
    for (int16_t k = 0; k < nRows; ++k) {
      ComparableGridDataTblList.at(k, 0) = rows[static_cast<size_t>(k)].first;
      ComparableGridDataTblList.at(k, 1) = rows[static_cast<size_t>(k)].second;
    }
    return result;
  });
}

}  // namespace ovt
