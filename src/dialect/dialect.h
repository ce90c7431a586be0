// The Jet (Access) SQL dialect as the library writes it: a tokenizer and precedence parser
// that turn one statement into a parse tree, and renderers that write the tree for an
// engine. No engine is linked here; engine facts come in through SchemaInfo.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "dialect/ast.h"

namespace ovt::dialect {

// Error number of a statement the dialect refuses (DB_E_ERRORSINCOMMAND), source "OVDB".
inline constexpr int32_t kSyntaxError = static_cast<int32_t>(0x80040E14u);
inline constexpr const char* kErrorSource = "OVDB";

// Parses exactly one statement; a trailing ";" alone is allowed, any text after it is
// refused. Unknown syntax raises ComError(kSyntaxError) naming the position and the reason.
Statement parse(std::string_view text);

// What a renderer may ask about the database: the declared type of a column of a table or
// stored query as the statement names it (link-table prefix included), or nullopt.
class SchemaInfo {
 public:
  virtual ~SchemaInfo() = default;
  virtual std::optional<std::string> columnType(std::string_view table, std::string_view column) const = 0;
};

// Names of the engine functions and collation the SQLite rendering calls; the connection
// registers them under these names.
inline constexpr const char* kConcatFunction = "jet_concat";
inline constexpr const char* kGroupDiffersFunction = "group_differs";
inline constexpr const char* kLikeFunction = "jet_like";
inline constexpr const char* kTextCollation = "jet_text";

struct SqliteRenderOptions {
  // The dialect compares text case-insensitively; false gives binary comparison.
  bool caseInsensitive = true;
  // Schema name of the attached link file; "" when none (ORULINK_ names stay as they are).
  std::string linkSchema;
  // Column types for choosing where text collation is needed; null = unknown everywhere.
  const SchemaInfo* schema = nullptr;
  // For a SELECT over a single table: add its rowid as a first column named kRowIdColumn.
  bool addRowId = false;
};

inline constexpr const char* kRowIdColumn = "ovt$rowid";

struct SqliteRendering {
  std::string sql;         // the statement for SQLite (for select-into: the SELECT alone)
  std::string intoTable;   // select-into: the rendered target table name
  bool rowIdAdded = false; // addRowId took effect
  std::string baseTable;   // with rowIdAdded: the rendered base table ("[T]" or "[schema].[T]")
};

SqliteRendering renderSqlite(const Statement& statement, const SqliteRenderOptions& options);

// The table the name stands for after the link-table rule: ORULINK_X (any case) with a link
// schema gives {schema, "X"}; otherwise {"", name}.
struct TableTarget {
  std::string schema;
  std::string table;
};
TableTarget resolveTable(std::string_view name, std::string_view linkSchema);

// ADO DataTypeEnum code of a declared column type in the dialect's names (LONG, TEXT(50),
// MEMO, ...), case-insensitive, size ignored; 0 when the name is not one of the dialect's.
int32_t jetTypeCode(std::string_view declaredType);
// True for codes whose values are numbers (integers, floating, currency, Yes/No, decimal).
bool isNumericTypeCode(int32_t code);

// True when `name` begins with "ORULINK_" in any case.
bool isLinkName(std::string_view name);
inline constexpr std::string_view kLinkPrefix = "ORULINK_";

}  // namespace ovt::dialect
