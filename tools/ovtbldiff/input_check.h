// What a person typed, checked before it reaches a statement: table and column names that
// must exist, and key values that must fit their column's type (a number for a numeric
// column, a text the dialect can quote). The members write values as literals by type, so a
// value that does not fit could change the statement it goes into.
#pragma once

#include <string>
#include <vector>

#include "ovtbldiff/dbcomp/database.h"
#include "ovtbldiff/runtime/variant.h"

namespace ovt::tool {

// The table `name` of `conn` (case-insensitive). A UsageError "no table NAME (LABEL)" when
// there is none; the label ("entry 2", "source", ...) is left out when empty.
db::TableRef checkedTable(const db::DatabaseRef& conn, const std::string& name, const std::string& label = "");

// The eDbDataType codes of `columns` in `table`, in the same order. A UsageError
// "no column C in table T (LABEL)" names the first that does not exist.
std::vector<int32_t> checkedColumns(const db::DatabaseRef& conn, const std::string& table,
                                    const std::vector<std::string>& columns, const std::string& label = "");

// `value` as it may go to a member for a key column of type `type`: numbers, dates and
// Booleans converted from their text, texts without a double quote. A UsageError names the
// value, the column and the table (and `where` the value came from, when given).
Variant checkedValue(const Variant& value, int32_t type, const std::string& column, const std::string& table,
                     const std::string& where = "");

// Every value of `records` checked (and converted) in place: column k of each record is
// `columns[k]`, of type `types[k]` in `tables[k]`. `origin` names where the records came from
// ("--value" or the file), used in messages with the record's position.
void checkRecords(std::vector<std::vector<Variant>>& records, const std::vector<std::string>& columns,
                  const std::vector<int32_t>& types, const std::vector<std::string>& tables, const std::string& origin);

// True when `text` is well-formed UTF-8.
bool isUtf8(const std::string& text);

}  // namespace ovt::tool
