// The recordset every engine of the component hands out: the whole result read into compact
// byte blocks when it opens (exact RecordCount, any number of passes, memory near the size of
// the data), values turned into variants only when read, by the type code of their column.
// An engine fills a RowStore while it streams the rows, and passes a RowWriter when the
// result is the rows of one table, so that Update can write changed fields back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ovtbldiff/dbcomp/database.h"

namespace ovt::db::stored {

struct ResultColumn {
  std::string name;
  int32_t code = adVarWChar;  // eDbDataType the values are read as
  bool declared = false;      // false: read by the stored value (integers as Long, ...)
  std::string origin;         // column of the base table it comes from ("" = not writable)
};

// Columns found by name: by their spelling as given, else case-insensitively; the first column
// of a name wins.
class NameIndex {
 public:
  void build(const std::vector<ResultColumn>& columns);
  bool empty() const { return byName_.empty(); }
  // The column of that name; SIZE_MAX when none.
  size_t find(const std::string& name) const;

 private:
  std::unordered_map<std::string, size_t> byName_;   // folded name -> first column of it
  std::unordered_map<std::string, size_t> asNamed_;  // spelling of a column -> the same
};

// The columns of a result with their index by name and field list, made once and shared by the
// recordsets of every run of a kept statement. Only a result whose columns are all declared
// is read through one (a column without a declared type takes the type of each result's values).
class ColumnSet {
 public:
  explicit ColumnSet(std::vector<ResultColumn> columns);
  const std::vector<ResultColumn>& columns() const { return columns_; }
  bool allDeclared() const { return allDeclared_; }
  size_t find(const std::string& name) const { return index_.find(name); }
  // Whether column i is the one find() gives for its own spelling (the first of its name).
  bool firstOfName(size_t i) const { return first_[i]; }
  // The field list of a recordset over these columns.
  const std::shared_ptr<cRecordsetFields>& fields() const { return fields_; }

 private:
  std::vector<ResultColumn> columns_;
  bool allDeclared_ = true;
  NameIndex index_;
  std::vector<bool> first_;
  std::shared_ptr<cRecordsetFields> fields_;
};

// Rows appended cell by cell; each row is contiguous in a block.
class RowStore {
 public:
  // Room for a row of this many bytes, so that the cells of the first one are added without
  // the buffer growing step by step.
  void reserveRow(size_t bytes);
  void addNull();
  void addInt(int64_t v);
  void addReal(double v);
  void addText(std::string_view v);
  void addBlob(std::string_view v);
  // Closes the row whose cells were just added.
  void endRow();
  size_t rows() const { return rows_.size(); }
  // The same rows in a store of their own.
  RowStore copy() const;

  struct Cell {
    enum Kind : uint8_t { Null, Int, Real, Text, Blob } kind = Null;
    int64_t i = 0;
    double d = 0;
    std::string_view bytes;
  };
  // The cell at (row, col). Reading the cells of one row is linear in its width: where the
  // row's cells begin is found once and kept until another row is read.
  Cell cell(size_t row, size_t col) const;

 private:
  void append(const void* p, size_t n);
  void locate(size_t row) const;
  std::vector<uint8_t> row_;
  struct Block {
    std::unique_ptr<uint8_t[]> bytes;
    size_t size;
  };
  struct Row {
    const uint8_t* start;
    uint32_t cells;  // the number of cells of the row
  };
  std::vector<Block> blocks_;
  size_t blockUsed_ = 0;
  std::vector<Row> rows_;
  uint32_t cells_ = 0;              // cells added to the row being built
  mutable size_t located_ = SIZE_MAX;             // the row whose cells cellStart_ holds
  mutable std::vector<const uint8_t*> cellStart_;  // tag of each cell of that row
};

// Writes the changed fields (base-table column, new value) of one record back to its table.
class RowWriter {
 public:
  virtual ~RowWriter() = default;
  virtual void write(size_t row, const std::vector<std::pair<std::string, Variant>>& changes) = 0;
};

// The value of a stored cell read as a column of that type code (the rules in the .cpp).
Variant toVariant(const RowStore::Cell& cell, const ResultColumn& column);

// A recordset over the rows; without a writer it is read-only (writes raise kDbErrReadOnly).
RecordsetRef makeRecordset(std::vector<ResultColumn> columns, RowStore rows, std::unique_ptr<RowWriter> writer);
// The same over a shared column set (all declared).
RecordsetRef makeRecordset(std::shared_ptr<const ColumnSet> columns, RowStore rows, std::unique_ptr<RowWriter> writer);

}  // namespace ovt::db::stored
