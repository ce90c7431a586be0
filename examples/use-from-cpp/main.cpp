// count_matched ENTRY1 ENTRY2: how many House records both entries have, and which conflict.
#include <iostream>

#include <ovtbldiff/dbcomp/sqlite.h>
#include <ovtbldiff/host.h>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: count_matched ENTRY1 ENTRY2\n";
    return 2;
  }
  using namespace ovt;
  try {
    com::AutomationObject g = com::createObject("OVTblDiffData.cDataGetway");
    g.putRef("DB", Variant(ObjectRef(db::OpenSqlite(argv[1], {.linkFile = argv[2]}))));
    Variant keys(StringArray{"HouseNo"});
    Variant fields(StringArray{"HeadName", "Rooms", "Village"});
    Variant matched = g.call("TotalMatchedRec", {com::byVal("House"), com::byVal("ORULINK_House"),
                                                 com::byRef(keys), com::byVal(true)});
    std::cout << "matched: " << toText(matched) << "\n";
    Variant rs = g.call("GetTblDiffRecRS", {com::byVal("House"), com::byVal("ORULINK_House"), com::byRef(keys),
                                            com::byRef(fields), com::byVal(int32_t{1}), com::byVal(true)});
    auto conflicts = std::dynamic_pointer_cast<db::cRecordset>(rs.object());
    const std::string key = conflicts->Recordset()->Name(0);
    for (; !conflicts->IsEOF(); conflicts->MoveNext())
      std::cout << "conflict: " << key << " " << toText(conflicts->FieldValue(key)) << "\n";
  } catch (const ComError& e) {
    std::cerr << "error " << e.number() << " (" << e.source() << "): " << e.description() << "\n";
    return 1;
  }
  return 0;
}
