// Helpers the decision sources share.
#pragma once

#include <string>
#include <vector>

#include "ovtbldiff/dbcomp/database.h"
#include "ovtbldiff/runtime/variant.h"

namespace ovt::decide::detail {

// 'text' with each quote doubled (the text must be quotable: see typedLiteral).
std::string quotedText(const std::string& s);
// The rows of a recordset, read whole (none for an empty or closed one).
std::vector<std::vector<Variant>> rowsOfRecordset(const db::RecordsetRef& rs);
// Every row of a query, one Variant per selected column.
std::vector<std::vector<Variant>> rowsOf(const db::DatabaseRef& conn, const std::string& sql);
// Runs an action statement; raises Refused with the engine's reason when it fails.
void run(const db::DatabaseRef& conn, const std::string& sql);
// The table `name` of `conn` (case-insensitive), or nullptr.
db::TableRef tableOf(const db::DatabaseRef& conn, const std::string& name);

}  // namespace ovt::decide::detail
