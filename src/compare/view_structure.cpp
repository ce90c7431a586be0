// View structure comparison: a one-line report of how the variables and grid counts of the
// stored connection's current view and extDB's current view differ, and the variables both
// share with the same type.
#include <string>

#include "frame/handler.h"
#include "glossary/startup.h"
#include "ovtbldiff/gateway.h"
#include "ovtbldiff/runtime/text.h"

namespace ovt {
namespace {

// The variables of a view: its items past page 0 that are neither grids nor layout items.
std::string variableQuery(const std::string& view) {
  return "select Name, Type from [" + view +
         "] where pagenumber > 0 and type not in('GRID','GROUP','TEXTONLY','MIRROR','RELATE')";
}

std::string gridQuery(const std::string& view) {
  return "select count(*) as GridCount from [" + view + "] where PageNumber > 0 and Type = 'GRID'";
}

// Catalogue texts as they are compared and reported: a Null counts as "".
std::string cell(const VariantArray& rows, int32_t column, int32_t record) {
  return concatText(rows.at(column, record));
}

}  // namespace

std::string cDataGetway::CompareViewsStructure(db::DatabaseRef& extDB, StringArray& CommonFields) {
  // The view comparison has always reported its failures under the table comparison's name.
  return frame::withOwnSource(":CompareTablesStructure", [&]() -> std::string {
    int16_t nCommon = 0;
    const std::string view1 = deref(db_).ViewName();
    const std::string view2 = deref(extDB).ViewName();

    const db::RecordsetRef vars1 = deref(db_).OpenRecordset(variableQuery(view1), 3, "");
    const db::RecordsetRef vars2 = deref(extDB).OpenRecordset(variableQuery(view2), 3, "");
    // A view without variables is reported, not compared; CommonFields stays as passed in.
    if (deref(vars1).RecordCount() == 0)
      return glossary::T("err: view has no variable :") + " " + view1;
    if (deref(vars2).RecordCount() == 0)
      return glossary::T("err: view has no variable :") + " " + view2;

    const VariantArray rows1 = vars1->GetRows();
    const VariantArray rows2 = vars2->GetRows();
    const int16_t last1 = loopUpper(rows1, 2);
    const int16_t last2 = loopUpper(rows2, 2);
    const int16_t count1 = static_cast<int16_t>(last1 + 1);
    const int16_t count2 = static_cast<int16_t>(last2 + 1);

    const db::RecordsetRef gridRs1 = deref(db_).OpenRecordset(gridQuery(view1), 3, "");
    const db::RecordsetRef gridRs2 = deref(extDB).OpenRecordset(gridQuery(view2), 3, "");
    const int16_t grids1 = toInteger(deref(gridRs1).FieldValue("GridCount"));
    const int16_t grids2 = toInteger(deref(gridRs2).FieldValue("GridCount"));

    std::string diffs;
    // Pass 1: each variable of view 1 against its first namesake in view 2.
    for (int16_t i = 0; i <= last1; ++i) {
      bool found = false;
      const std::string name1 = cell(rows1, 0, i);
      for (int16_t j = 0; j <= last2; ++j) {
        if (!textEqual(name1, cell(rows2, 0, j))) continue;
        found = true;
        const std::string type1 = cell(rows1, 1, i);
        const std::string type2 = cell(rows2, 1, j);
        if (!textEqual(type1, type2)) {
          diffs += "Conflict field dataType for " + name1 + ": " + type1 + " <--> " + type2 + ";";
        } else {
          CommonFields.redimPreserve(nCommon);
          CommonFields.at(nCommon) = toText(rows1.at(0, i));
          nCommon = toInt16Checked(int32_t{nCommon} + 1);
        }
        break;
      }
      if (!found) diffs += glossary::T("Unmatched field:") + " " + name1 + ";";
    }

    diffs += "***;";

    // Pass 2: variables of view 2 that view 1 lacks; types were compared in pass 1.
    for (int16_t j = 0; j <= last2; ++j) {
      bool found = false;
      const std::string name2 = cell(rows2, 0, j);
      for (int16_t i = 0; i <= last1; ++i) {
        if (textEqual(name2, cell(rows1, 0, i))) {
          found = true;
          break;
        }
      }
      if (!found) diffs += glossary::T("Unmatched field:") + " " + name2 + ";";
    }

    if (textEqual(trimBlanks(diffs), "***;"))
      diffs.clear();
    else
      diffs = dropLast(diffs, 1);

    std::string report;
    if (!diffs.empty() || count1 != count2 || grids1 != grids2) {
      // The totals keep their final ";", so a report of totals alone ends with one.
      std::string totals = glossary::T("Total fields of") + " " + view1 + " : " +
                           std::to_string(count1) + ";";
      totals += glossary::T("Total fields of") + " " + view2 + " : " + std::to_string(count2) + ";";
      totals += glossary::T("Total grids of") + " " + view1 + " : " + std::to_string(grids1) + ";";
      totals += glossary::T("Total grids of") + " " + view2 + " : " + std::to_string(grids2) + ";";
      report = totals + diffs;
    }

    if (nCommon == 0) {
      CommonFields.redim(0, 0);
      CommonFields.at(0) = "";
    }
    return report;
  });
}

}  // namespace ovt
