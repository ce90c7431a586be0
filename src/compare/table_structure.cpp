// Table structure comparison: a one-line report of how the fields of two tables differ, the
// list of fields they share without conflict, and the display names of data-type codes.
#include <string>
#include <vector>

#include "frame/handler.h"
#include "glossary/startup.h"
#include "ovtbldiff/gateway.h"
#include "ovtbldiff/runtime/text.h"

namespace ovt {
namespace {

const char* boolText(bool b) { return b ? "True" : "False"; }

}  // namespace

std::string cDataGetway::CompareTablesStructure(db::TableRef& oTable1, db::TableRef& oTable2,
                                                StringArray& CommonFields,
                                                int32_t* eSelectFields) {
  const int32_t selectFields = eSelectFields ? *eSelectFields : TableDiffAllFields;
  return frame::withOwnSource(":CompareTablesStructure", [&]() -> std::string {
    int16_t nCommon = 0;
    const db::FieldsRef fields1 = deref(oTable1).Fields();
    const db::FieldsRef fields2 = deref(oTable2).Fields();
    const int16_t count1 = toInt16Checked(deref(fields1).Count());
    const int16_t count2 = toInt16Checked(deref(fields2).Count());

    std::string totals;
    if (count1 != count2) {
      totals = glossary::T("Total fields of") + " " + deref(oTable1).Name() + ": " +
               std::to_string(count1) + ";";
      totals += glossary::T("Total fields of") + " " + deref(oTable2).Name() + ": " +
                std::to_string(count2) + ";";
    }

    const std::vector<db::FieldRef> items1 = fields1->Items();
    const std::vector<db::FieldRef> items2 = fields2->Items();
    std::string diffs;

    // Pass 1: each field of table 1 against its first namesake in table 2. A data-type
    // conflict hides a nullability conflict; only a conflict-free field can be common.
    for (const db::FieldRef& f1 : items1) {
      bool found = false;
      const std::string name1 = deref(f1).Name();
      for (const db::FieldRef& f2 : items2) {
        std::string name2 = deref(f2).Name();
        if (!textEqual(name1, name2)) continue;
        found = true;
        if (f1->DataType() != f2->DataType()) {
          diffs += glossary::T("Conflict field dataType for") + " " + name1 + ": " +
                   GetFldType(f1->DataType()) + " <--> " + GetFldType(f2->DataType()) + ";";
        } else if (f1->Nullable() != f2->Nullable()) {
          diffs += glossary::T("Conflict nullable for") + " " + name1 + ": " +
                   boolText(f1->Nullable()) + " <--> " + boolText(f2->Nullable()) + ";";
        } else {
          bool qualifies = true;
          if (selectFields != TableDiffAllFields) {
            // Both tables are asked, even when the first already answers True.
            std::string asked1 = name1;
            const bool auto1 = deref(oTable1).IsAutoField(asked1);
            const bool auto2 = deref(oTable2).IsAutoField(name2);
            qualifies = !auto1 && !auto2;
          }
          if (qualifies) {
            CommonFields.redimPreserve(nCommon);
            CommonFields.at(nCommon) = name1;
            nCommon = toInt16Checked(int32_t{nCommon} + 1);
          }
        }
        break;
      }
      if (!found) diffs += glossary::T("Unmatched field") + " " + name1 + ";";
    }

    diffs += "***;";

    // Pass 2: names of table 2 that table 1 lacks; conflicts were reported in pass 1.
    for (const db::FieldRef& f2 : items2) {
      bool found = false;
      const std::string name2 = deref(f2).Name();
      for (const db::FieldRef& f1 : items1)
        if (textEqual(name2, deref(f1).Name())) found = true;
      if (!found) diffs += glossary::T("Unmatched field") + " " + name2 + ";";
    }

    if (textEqual(trimBlanks(diffs), "***;")) diffs.clear();
    const std::string report = diffs.empty() ? std::string() : dropLast(totals + diffs, 1);

    if (nCommon == 0) {
      CommonFields.redim(0, 0);
      CommonFields.at(0) = "";
    }
    return report;
  });
}

std::string cDataGetway::GetFldType(int32_t eDataType) {
  switch (eDataType) {
    case db::adEmpty: return "Ado Empty";
    case db::adSmallInt: return "Jet Integer";
    case db::adInteger: return "Jet Long";
    case db::adSingle: return "Jet Single";
    case db::adDouble: return "Jet Double";
    case db::adCurrency: return "Jet Currency";
    case db::adDate: return "Jet Date/Time";
    case db::adBSTR: return "Ado BSTR";
    case db::adBoolean: return "Jet Yes/No";
    case db::adDecimal: return "Ado Decimal";
    case db::adTinyInt: return "Ado TinyInt";
    case db::adUnsignedTinyInt: return "Jet Byte";
    case db::adBigInt: return "Ado BigInt";
    case db::adGUID: return "Ado GUID";
    case db::adBinary: return "Ado Binary";
    case db::adChar: return "Ado Char";
    case db::adWChar: return "Ado WChar";
    case db::adNumeric: return "Jet Decimal";
    case db::adDBTime: return "Ado DBTime";
    case db::adDBTimeStamp: return "Ado DBTimeStamp";
    case db::adLongVarChar: return "Ado LongVarChar";
    case db::adVarWChar: return "Jet Text";
    case db::adLongVarWChar: return "Jet Memo";
    case db::adLongVarBinary: return "Ado LongVarBinary";
    case db::adArray: return "Ado Array";
    default: return "unknown data type";
  }
}

}  // namespace ovt
