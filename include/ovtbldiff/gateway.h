// cDataGetway: the library's one creatable class. Its members compare two tables or two
// data-entry views and reconcile their records; every statement goes through the
// database component (ovtbldiff/dbcomp/database.h). Members raise ComError on failure.
//
// Parameter conventions: `T&` is by reference (the member may write it); a pointer
// parameter is an optional by-reference argument where nullptr means "omitted".
// Members are declared in the order of the native interface.
#pragma once

#include <cstdint>
#include <string>
#include <thread>

#include "ovtbldiff/dbcomp/database.h"
#include "ovtbldiff/runtime/variant.h"

namespace ovt {

enum eTableDiffSQLType : int32_t {
  TableDiffSQLConfilct = 1,  // records whose compared fields differ
  TableDiffSQLMissing = 2,   // records without a partner in the other table
};

enum eTableDiffFields : int32_t {
  TableDiffAllFields = 1,     // compare all fields
  TableDiffNoAutoFields = 2,  // leave out fields the system fills automatically
};

class cDataGetway : public Object {
 public:
  // Runs the thread's start-up (translator, language) when it is the thread's first object.
  cDataGetway();
  ~cDataGetway() override;
  cDataGetway(const cDataGetway&) = delete;
  cDataGetway& operator=(const cDataGetway&) = delete;

  // 1. True when no (active) record leaves ColumnName Null.
  bool IsQualifiedMatchKey(std::string ColumnName, std::string TableName, bool& OruType,
                           db::DatabaseRef* oExtDB = nullptr);
  // 2. Copies single grid children under their destination parents; failures in ErrMsg.
  bool CopyChild(std::string SourceTblName, std::string DestTblName, std::string SrcChildTblName,
                 std::string DestChildTblName, std::string& ChildViewName,
                 StringArray& ParentMatchKeys, VariantArray& ParentMatchValues,
                 StringArray& ChildMatchKey, StringArray& ChildMatchValues, StringArray& ErrMsg);
  // 3. Fills VariableList with the view's variables (read by the component's cView).
  bool GetOruViewVarList(std::string ViewName, StringArray& VariableList,
                         db::DatabaseRef* DB = nullptr);
  // 4. Number of records of Table1Name that pair with Table2Name on MatchKeys.
  int16_t TotalMatchedRec(std::string Table1Name, std::string Table2Name, StringArray& MatchKeys,
                          bool OruType, db::DatabaseRef* oDB = nullptr);
  // 5. Reads the parent record of a child (UniqueKey = FkeyValue) into ParentInfo.
  bool ShowParent(std::string ParentTableName, StringArray& MatchKeys, StringArray& CommonFlds,
                  std::string FkeyValue, StringArray& ParentInfo);
  // 6. Grids of the DB view and the extDB view that share structure: (grid view, data table).
  bool GetOruComparableGridTblList(StringArray& ComparableGridDataTblList, db::DatabaseRef& extDB);
  // 7. Grid children of pair 1 that conflict with / are missing from pair 2.
  db::RecordsetRef GetTblDiffGridRS(std::string ParentTbl1Name, std::string ChildTbl1Name,
                                    std::string ParentTbl2Name, std::string ChildTbl2Name,
                                    std::string ChildMatchKey, StringArray& ParentMatchKeys,
                                    int32_t eSqlType);
  // 8. Report of how the DB view and the extDB view differ; shared variables in CommonFields.
  std::string CompareViewsStructure(db::DatabaseRef& extDB, StringArray& CommonFields);
  // 9. Copies SourceTableName into a backup table (default name: source + "_bk").
  bool BackupTable(std::string SourceTableName, std::string BackupTableName = "",
                   db::DatabaseRef* extDB = nullptr);
  // 10. Lists a view's grids as (grid name, grid view name) rows.
  bool GetOruGridList(std::string ViewName, StringArray& GridList, db::DatabaseRef* DB = nullptr);
  // 11. The data table of a view, or "".
  std::string GetOruDataTable(std::string ViewName, db::DatabaseRef* DB = nullptr);
  // 12. Marks records deleted (with their grid children) or deletes them physically.
  bool DeleteRec(std::string TableName, StringArray& MatchFld, VariantArray& MatchFldValue,
                 bool& OruType, StringArray& ErrMsg, db::DatabaseRef* oExtDB = nullptr);
  // 13. Copies records (and their grid children) from source to destination.
  bool CopyRec(std::string SourceTableName, std::string DestTableName, StringArray& MatchFld,
               VariantArray& MatchFldValue, StringArray& CommonFldName, bool& OruType,
               StringArray& CommonGridViews, StringArray& ErrMsg, db::DatabaseRef* oDB = nullptr);
  // 14. Display name of a data-type code ("Jet Text", ...); never fails.
  std::string GetFldType(int32_t eDataType);
  // 15. True when no combination of key values occurs twice.
  bool IsMatchKeyUnique(StringArray& pstrMatchFlds, bool& OruType, std::string* psTableName = nullptr,
                        db::DatabaseRef* oExtDB = nullptr);
  // 16. Report of how two tables differ in structure; conflict-free shared fields in CommonFields.
  std::string CompareTablesStructure(db::TableRef& oTable1, db::TableRef& oTable2,
                                     StringArray& CommonFields, int32_t* eSelectFields = nullptr);
  // 17. DB property, set by reference: keeps a counted reference (Nothing empties it).
  void SetDB(const db::DatabaseRef& value);
  // 18. DB property, get: the stored connection or Nothing.
  db::DatabaseRef DB() const;
  // 19. Records of Table1Name that conflict with / are missing from Table2Name.
  db::RecordsetRef GetTblDiffRecRS(std::string Table1Name, std::string Table2Name,
                                   StringArray& MatchKeys, StringArray& CompareFields,
                                   int32_t eSqlType, bool OruType, db::DatabaseRef* oDB = nullptr);

  // Raises an error when called from a thread other than the one that created the object.
  void checkThread() const;

 private:
  db::DatabaseRef db_;
  std::thread::id owner_;
};

}  // namespace ovt
