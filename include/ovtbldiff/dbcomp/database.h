// The abstract database component OVDB: the operations the library calls on a connection
// and on the objects it returns. Engines (SQLite now, PostgreSQL later) implement it;
// the library depends on this header only. Objects are counted references (shared_ptr).
// Operations raise ComError on failure except where a comment says the result reports it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ovtbldiff/runtime/variant.h"

namespace ovt::db {

// Field data-type codes, numbered as the ADO DataTypeEnum.
enum eDbDataType : int32_t {
  adEmpty = 0, adSmallInt = 2, adInteger = 3, adSingle = 4, adDouble = 5, adCurrency = 6,
  adDate = 7, adBSTR = 8, adBoolean = 11, adDecimal = 14, adTinyInt = 16,
  adUnsignedTinyInt = 17, adBigInt = 20, adGUID = 72, adBinary = 128, adChar = 129,
  adWChar = 130, adNumeric = 131, adDBDate = 133, adDBTime = 134, adDBTimeStamp = 135,
  adVarChar = 200, adLongVarChar = 201, adVarWChar = 202, adLongVarWChar = 203,
  adVarBinary = 204, adLongVarBinary = 205, adArray = 8192,
};

// Table kinds answered by cDatabase::GetTableType.
inline constexpr int32_t kTableTypeOru = 0;   // data table of a form (UniqueKey, RecStatus)
inline constexpr int32_t kTableTypeView = 1;  // a view's catalogue table
inline constexpr int32_t kTableTypeOther = 2; // neither

// Error numbers the component raises, always with source "OVDB".
inline constexpr int32_t kDbErrCommand = static_cast<int32_t>(0x80040E14u);  // statement refused: syntax, unknown name, wrong kind
inline constexpr int32_t kDbErrFailure = static_cast<int32_t>(0x80004005u);  // any other engine failure
inline constexpr int32_t kDbErrNoTable = static_cast<int32_t>(0x80040E37u);  // GetTableType of a missing table
inline constexpr int32_t kDbErrNoCurrentRecord = 3021;  // FieldValue/Update/MoveNext at BOF or EOF
inline constexpr int32_t kDbErrReadOnly = 3027;         // a write to a recordset that is not one table's rows
inline constexpr int32_t kDbErrNoTransaction = 3034;    // commit or rollback without BeginTrans
inline constexpr int32_t kDbErrItemNotFound = 3265;     // a field name the recordset does not have

class cField : public Object {
 public:
  virtual bool Nullable() const = 0;
  virtual int32_t DataType() const = 0;  // eDbDataType code
  virtual std::string Name() const = 0;
};
using FieldRef = std::shared_ptr<cField>;

class cFields : public Object {
 public:
  virtual int32_t Count() const = 0;
  // Enumeration: every field once, in the table's field order.
  virtual std::vector<FieldRef> Items() const = 0;
};
using FieldsRef = std::shared_ptr<cFields>;

class cTable : public Object {
 public:
  virtual FieldsRef Fields() = 0;
  virtual std::string Name() const = 0;
  // True when the system fills this field by itself (automatic key, system columns).
  virtual bool IsAutoField(std::string& fieldName) = 0;
};
using TableRef = std::shared_ptr<cTable>;

// The underlying recordset as name-based callers see it: its "fields" collection with
// "Count", and items by 0-based position with "Name" and "Type" (the eDbDataType code).
class cRecordsetFields : public Object {
 public:
  virtual int32_t Count() const = 0;
  virtual std::string Name(int32_t position) const = 0;  // 9 outside 0..Count-1
  virtual int32_t Type(int32_t position) const = 0;
};

class cRecordset : public Object {
 public:
  // All records: first index the column (0 = first selected column), second the record.
  virtual VariantArray GetRows() = 0;
  // Changes a field of the current record; reaches the table on Update.
  virtual void SetFieldValue(const std::string& field, const Variant& value) = 0;
  // The value of a field (by name or query alias, case-insensitive) of the current record.
  virtual Variant FieldValue(const std::string& field) = 0;
  // The BOF and EOF properties (EOF is a C macro, hence the names).
  virtual bool IsBOF() const = 0;
  virtual bool IsEOF() const = 0;
  virtual int32_t RecordCount() const = 0;
  virtual std::shared_ptr<cRecordsetFields> Recordset() = 0;
  virtual void Update() = 0;
  virtual void MoveNext() = 0;
  virtual void MoveFirst() = 0;
};
using RecordsetRef = std::shared_ptr<cRecordset>;

class cDatabase : public Object {
 public:
  // Runs a SELECT statement; `option` 0..3 selects the kind of recordset (engine-documented).
  virtual RecordsetRef OpenRecordset(const std::string& sql, int32_t option, const std::string& text) = 0;
  virtual void CommitTrans() = 0;
  virtual void RollbackTrans() = 0;
  virtual void BeginTrans() = 0;
  // A view that does not exist is no error; the result is not read by the library.
  virtual bool DropView(const std::string& viewName) = 0;
  // True when the view was stored; a bad statement gives False, not an error.
  virtual bool CreateView(const std::string& viewName, const std::string& sql) = 0;
  virtual bool TableExists(const std::string& tableName) = 0;
  // kTableTypeOru, kTableTypeView, or another value for any other table.
  virtual int32_t GetTableType(std::string& tableName) = 0;
  // Every table once.
  virtual std::vector<TableRef> Tables() = 0;
  // Runs an action statement; True when it ran, False (not an error) when it failed.
  virtual bool Execute(const std::string& sql) = 0;
  // True when the table was removed; False (not an error) when the drop failed.
  virtual bool DropTable(const std::string& tableName) = 0;
  virtual void SetViewName(const std::string& viewName) = 0;
  virtual std::string ViewName() const = 0;

  // Diagnostics beyond the platform's interface: the reason the last Execute, CreateView
  // or DropTable answered False ("" when it succeeded).
  virtual std::string LastFailure() const = 0;
  // A short description of the connection (its file or connection string) for hosts.
  virtual std::string Describe() const = 0;
  // The database file (or connection string) the connection was opened on.
  virtual std::string Location() const = 0;
};
using DatabaseRef = std::shared_ptr<cDatabase>;

// A view's catalogue reader, created afresh for each use. Set Database, then ViewName,
// then call GetVariableList.
class cView : public Object {
 public:
  // Fills `list` (two dimensions: one row per variable, column 0 the name, column 1 its
  // Type text) with the view's variables in catalogue order; False when there is none.
  virtual bool GetVariableList(StringArray& list) = 0;
  virtual void SetViewName(const std::string& viewName) = 0;
  virtual void SetDatabase(DatabaseRef db) = 0;
};
using ViewRef = std::shared_ptr<cView>;

// Creates a new cView object. It reads the catalogue through the cDatabase interface
// only, so it serves every engine.
ViewRef NewView();

}  // namespace ovt::db
