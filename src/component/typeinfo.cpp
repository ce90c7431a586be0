// The type information of OVTblDiffData: the class, its interface with the members in
// interface order, their dispatch identifiers, parameters and defaults, and the enumerations.
#include "ovtbldiff/component.h"

namespace ovt::com {
namespace {

ParamInfo val(std::string name, std::string type) { return {std::move(name), std::move(type), false, false, ""}; }
ParamInfo ref(std::string name, std::string type) { return {std::move(name), std::move(type), true, false, ""}; }
ParamInfo optVal(std::string name, std::string type, std::string def) {
  return {std::move(name), std::move(type), false, true, std::move(def)};
}
ParamInfo optRef(std::string name, std::string type, std::string def) {
  return {std::move(name), std::move(type), true, true, std::move(def)};
}

const std::string S = "String", B = "Boolean", SA = "String()", VA = "Variant()", DB = "cDatabase";

MemberInfo method(int position, int32_t dispId, std::string name, std::vector<ParamInfo> params,
                  std::string result) {
  return {position, dispId, std::move(name), MemberKind::Method, std::move(params), std::move(result)};
}

TypeLibraryInfo build() {
  TypeLibraryInfo t;
  t.name = "OVTblDiffData";
  t.libId = kLibIdOVTblDiffData;
  t.className = "cDataGetway";
  t.clsid = kClsidcDataGetway;
  t.interfaceName = "_cDataGetway";
  t.iid = kIid_cDataGetway;
  t.importedTypes = {"OVDB.cDatabase", "OVDB.cRecordset", "OVDB.cTable", "OVDB.eDbDataType"};
  t.members = {
      method(1, 0x60030013, "IsQualifiedMatchKey",
             {val("ColumnName", S), val("TableName", S), ref("OruType", B), optRef("oExtDB", DB, "Nothing")}, B),
      method(2, 0x60030014, "CopyChild",
             {val("SourceTblName", S), val("DestTblName", S), val("SrcChildTblName", S),
              val("DestChildTblName", S), ref("ChildViewName", S), ref("ParentMatchKeys", SA),
              ref("ParentMatchValues", VA), ref("ChildMatchKey", SA), ref("ChildMatchValues", SA),
              ref("ErrMsg", SA)},
             B),
      // Optional without a default of its own: an omitted DB is Nothing.
      method(3, 0x60030015, "GetOruViewVarList",
             {val("ViewName", S), ref("VariableList", SA), optRef("DB", DB, "")}, B),
      method(4, 0x60030016, "TotalMatchedRec",
             {val("Table1Name", S), val("Table2Name", S), ref("MatchKeys", SA), val("OruType", B),
              optRef("oDB", DB, "Nothing")},
             "Integer"),
      method(5, 0x60030017, "ShowParent",
             {val("ParentTableName", S), ref("MatchKeys", SA), ref("CommonFlds", SA), val("FkeyValue", S),
              ref("ParentInfo", SA)},
             B),
      method(6, 0x60030018, "GetOruComparableGridTblList",
             {ref("ComparableGridDataTblList", SA), ref("extDB", DB)}, B),
      method(7, 0x60030019, "GetTblDiffGridRS",
             {val("ParentTbl1Name", S), val("ChildTbl1Name", S), val("ParentTbl2Name", S),
              val("ChildTbl2Name", S), val("ChildMatchKey", S), ref("ParentMatchKeys", SA),
              val("eSqlType", "eTableDiffSQLType")},
             "cRecordset"),
      method(8, 0x6003001A, "CompareViewsStructure", {ref("extDB", DB), ref("CommonFields", SA)}, S),
      method(9, 0x6003001B, "BackupTable",
             {val("SourceTableName", S), optVal("BackupTableName", S, "\"\""), optRef("extDB", DB, "Nothing")}, B),
      method(10, 0x6003001C, "GetOruGridList",
             {val("ViewName", S), ref("GridList", SA), optRef("DB", DB, "Nothing")}, B),
      method(11, 0x6003001D, "GetOruDataTable", {val("ViewName", S), optRef("DB", DB, "Nothing")}, S),
      method(12, 0x6003001E, "DeleteRec",
             {val("TableName", S), ref("MatchFld", SA), ref("MatchFldValue", VA), ref("OruType", B),
              ref("ErrMsg", SA), optRef("oExtDB", DB, "Nothing")},
             B),
      method(13, 0x6003001F, "CopyRec",
             {val("SourceTableName", S), val("DestTableName", S), ref("MatchFld", SA), ref("MatchFldValue", VA),
              ref("CommonFldName", SA), ref("OruType", B), ref("CommonGridViews", SA), ref("ErrMsg", SA),
              optRef("oDB", DB, "Nothing")},
             B),
      method(14, 0x60030020, "GetFldType", {val("eDataType", "eDbDataType")}, S),
      method(15, 0x60030021, "IsMatchKeyUnique",
             {ref("pstrMatchFlds", SA), ref("OruType", B), optRef("psTableName", S, "\"\""),
              optRef("oExtDB", DB, "Nothing")},
             B),
      method(16, 0x60030022, "CompareTablesStructure",
             {ref("oTable1", "cTable"), ref("oTable2", "cTable"), ref("CommonFields", SA),
              optRef("eSelectFields", "eTableDiffFields", "TableDiffAllFields (1)")},
             S),
      {17, 0x68030012, "DB", MemberKind::PropertyPutRef, {val("value", DB)}, ""},
      {18, 0x68030012, "DB", MemberKind::PropertyGet, {}, DB},
      method(19, 0x60030023, "GetTblDiffRecRS",
             {val("Table1Name", S), val("Table2Name", S), ref("MatchKeys", SA), ref("CompareFields", SA),
              val("eSqlType", "eTableDiffSQLType"), val("OruType", B), optRef("oDB", DB, "Nothing")},
             "cRecordset"),
  };
  t.enums = {
      {"eTableDiffSQLType", kGuideTableDiffSQLType, {{"TableDiffSQLConfilct", 1}, {"TableDiffSQLMissing", 2}}},
      {"eTableDiffFields", kGuideTableDiffFields, {{"TableDiffAllFields", 1}, {"TableDiffNoAutoFields", 2}}},
  };
  return t;
}

}  // namespace

const TypeLibraryInfo& typeLibrary() {
  static const TypeLibraryInfo info = build();
  return info;
}

}  // namespace ovt::com
