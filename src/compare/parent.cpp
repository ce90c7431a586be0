// ShowParent: the values of chosen fields of a child record's parent (UniqueKey = FKey).
#include "frame/handler.h"
#include "glossary/startup.h"
#include "ovtbldiff/gateway.h"
#include "ovtbldiff/runtime/text.h"

namespace ovt {

bool cDataGetway::ShowParent(std::string ParentTableName, StringArray& MatchKeys,
                             StringArray& CommonFlds, std::string FkeyValue,
                             StringArray& ParentInfo) {
  return frame::withOwnSource(":ShowParent", [&] {
    bool result = false;
    std::string fieldText;
    const int32_t keyUpper = loopUpper(MatchKeys);
    for (int32_t i = 0; i <= keyUpper; ++i) {
      if (textEqual(MatchKeys.at(i), ""))
        frame::untrapped([i] {
          raiseError(objectError(700), frame::sourceFor(":ShowParent"),
                     "MatchKeys " + glossary::T("has an empty field name :") + std::to_string(i));
        });
      fieldText += MatchKeys.at(i) + ",";
    }
    // A further list whose first element is "" stands for no further fields at all.
    if (!textEqual(CommonFlds.at(0), "")) {
      const int32_t upper = loopUpper(CommonFlds);
      for (int32_t i = 0; i <= upper; ++i) fieldText += CommonFlds.at(i) + ",";
    }
    fieldText = dropLast(fieldText, 1);
    const StringArray names = splitText(fieldText, ",");

    // The key value goes in unquoted: UniqueKey is a whole number.
    const std::string query =
        "select " + fieldText + " from [" + ParentTableName + "] where UniqueKey = " + FkeyValue;
    db::RecordsetRef rs = deref(db_).OpenRecordset(query, 3, "");
    if (deref(rs).RecordCount() > 0) {
      const int32_t upper = loopUpper(names);
      ParentInfo.redim(0, upper);
      for (int32_t i = 0; i <= upper; ++i) {
        if (rs->FieldValue(names.at(i)).isNull())
          ParentInfo.at(i) = "";
        else
          ParentInfo.at(i) = toText(rs->FieldValue(names.at(i)));
      }
      result = true;
    } else {
      ParentInfo.redim(0, 0);
      ParentInfo.at(0) = "";
    }
    return result;
  });
}

}  // namespace ovt
