// The Jet (Access) SQL dialect as the library writes it: a tokenizer and precedence parser
// that turn one statement into a parse tree, and renderers that write the tree for an
// engine. No engine is linked here; engine facts come in through SchemaInfo.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dialect/ast.h"

namespace ovt::dialect {

// Error number of a statement the dialect refuses (DB_E_ERRORSINCOMMAND), source "OVDB".
inline constexpr int32_t kSyntaxError = static_cast<int32_t>(0x80040E14u);
inline constexpr const char* kErrorSource = "OVDB";

// Parses exactly one statement; a trailing ";" alone is allowed, any text after it is
// refused. Unknown syntax raises ComError(kSyntaxError) naming the position and the reason.
Statement parse(std::string_view text);

// ---- statement shapes (the engines' statement caches) ----

// One literal of a statement, as shapeOf() reads it.
struct Literal {
  // 'S' text, 'T' text holding a NUL character, 'N' whole number that fits 64 bits, 'R' any
  // other number, 'D' date, 'B' True/False, 'Z' the word Null (wherever it stands).
  char kind;
  std::string text;  // S/T: the value; N/R: as written; D: ISO form; B: "-1"/"0"; Z: ""
};

// A statement with its literals taken out: statements with one key parse to the same tree
// except for the values of their literals. Expr::literal numbers the literals from 1.
struct Shape {
  std::string key;  // the text, each literal replaced by a mark of its kind
  std::vector<Literal> literals;
};

// The shape of a statement; text the tokenizer refuses raises as parse() does.
Shape shapeOf(std::string_view text);
// The same into `shape`, whose buffers are reused (a connection's, kept between statements).
void shapeOf(std::string_view text, Shape& shape);

// Literal numbers above this stay in the statement text (engines limit parameter numbers).
inline constexpr size_t kMaxLiftedLiteral = 30000;

// True when a renderer asked to lift literals may write this one as a parameter: texts
// without NUL, whole numbers that fit 64 bits, dates, True/False and Null (literal kinds S,
// N, D, B and Z). Which of them it does lift depends on where they stand; what it writes is
// in the rendering's `parameters`.
bool liftable(const Expr& e);

// For renderers: literals rendered while one of these lives keep their text (a depth count).
class KeepLiterals {
 public:
  explicit KeepLiterals(int& depth) : depth_(depth) { ++depth_; }
  ~KeepLiterals() { --depth_; }
  KeepLiterals(const KeepLiterals&) = delete;
  KeepLiterals& operator=(const KeepLiterals&) = delete;

 private:
  int& depth_;
};

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
  // Write liftable literals as parameters ?n (n = Expr::literal), except where their value
  // matters to the statement (ORDER BY and GROUP BY items, operands of a sign).
  bool liftLiterals = false;
};

inline constexpr const char* kRowIdColumn = "ovt$rowid";

struct SqliteRendering {
  std::string sql;         // the statement for SQLite (for select-into: the SELECT alone)
  std::string intoTable;   // select-into: the rendered target table name
  bool rowIdAdded = false; // addRowId took effect
  std::string baseTable;   // with rowIdAdded: the rendered base table ("[T]" or "[schema].[T]")
  std::vector<size_t> parameters;  // liftLiterals: the literal numbers written as ?n, ascending
};

SqliteRendering renderSqlite(const Statement& statement, const SqliteRenderOptions& options);

// The table the name stands for after the link-table rule: ORULINK_X (any case) with a link
// schema gives {schema, "X"}; otherwise {"", name}.
struct TableTarget {
  std::string schema;
  std::string table;
};
TableTarget resolveTable(std::string_view name, std::string_view linkSchema);

// ---- PostgreSQL ----

// What the PostgreSQL rendering asks about the database: the stored names and types.
class PgSchemaInfo {
 public:
  virtual ~PgSchemaInfo() = default;
  // The stored table (or view) a table name of the statement stands for, matched
  // case-insensitively, the link prefix already applied by the caller's rule: {schema, table}.
  // The renderer passes the name as the statement writes it (ORULINK_X included).
  virtual std::optional<TableTarget> table(std::string_view name) const = 0;
  // The stored name of a column of that table, matched case-insensitively, or nullopt.
  virtual std::optional<std::string> column(const TableTarget& table, std::string_view column) const = 0;
  // The type of that column as format_type() prints it ("integer", "character varying(50)",
  // "ovt.yesno", ...), or nullopt.
  virtual std::optional<std::string> columnType(const TableTarget& table, std::string_view column) const = 0;
};

struct PgRenderOptions {
  bool caseInsensitive = true;      // text compares case-insensitively; false = binary
  std::string mainSchema = "public"; // schema of the connection's own tables
  std::string linkSchema;           // schema of the ORULINK_ tables; "" = none
  const PgSchemaInfo* schema = nullptr;  // null = nothing known (names quoted as written)
  bool addRowId = false;            // single-table SELECT: add ctid first, named kRowIdColumn
  // Write liftable literals as marks for spliceLiterals(), except where their value matters
  // to the statement (ORDER BY and GROUP BY items, operands of a sign, LIKE patterns).
  bool liftLiterals = false;
};

struct PgRendering {
  std::string sql;         // for select-into: the SELECT alone
  std::string intoTable;   // select-into: "schema"."Name" of the table to make
  bool rowIdAdded = false;
  std::string baseTable;   // with rowIdAdded: "schema"."Table"
  std::vector<size_t> parameters;  // liftLiterals: the literal numbers written as marks, ascending
  size_t marks = 0;                // how many marks the text holds
};

// Writes the statement for PostgreSQL; refusals raise ComError(kSyntaxError) as parse() does.
PgRendering renderPostgres(const Statement& statement, const PgRenderOptions& options);

// The marks of literals in a rendering made with liftLiterals: kLiteralMark, a form letter,
// the literal's number, kLiteralMarkEnd.
inline constexpr char kLiteralMark = '\x01';
inline constexpr char kLiteralMarkEnd = '\x02';

// A rendering made with liftLiterals, its marks replaced by the statement's literals written
// as the rendering writes them, so the text is the one rendered without lifting; nullopt when
// a mark is malformed or names no literal.
std::optional<std::string> spliceLiterals(std::string_view marked, const std::vector<Literal>& literals);

// Server types of the parameters a prepared statement declares (PostgreSQL type OIDs); 0 leaves
// the type to the server, which gives the parameter the type its first use asks for, as it does
// for a quoted literal.
inline constexpr uint32_t kPgUntyped = 0;
inline constexpr uint32_t kPgInteger = 23;
inline constexpr uint32_t kPgBigint = 20;
inline constexpr uint32_t kPgTimestamp = 1114;
inline constexpr uint32_t kPgText = 25;

// One parameter of a marked rendering run as a prepared statement: the value in its text form
// (nullopt for Null) and its declared type.
struct PgParameter {
  std::optional<std::string> value;
  uint32_t type = kPgUntyped;
};

// The marked rendering with each mark, in order, written as the parameter $1, $2, ... (one per
// mark, also where a literal's number repeats).
std::string numberedParameters(std::string_view marked);

// The parameters of numberedParameters(marked) for these literals, each meaning what the literal
// spliceLiterals() writes in its place means: a whole number as integer (int4) when it fits 32
// bits, else bigint, as the server types such a literal; a date written as a timestamp literal
// as timestamp; True/False written as a number as integer; a quoted text and Null untyped, as a
// quoted literal is; a value written as its text for `&` and the text functions (the 't' marks)
// as text, the type the server gives such a literal there. Nullopt when a mark is malformed or
// names no literal.
std::optional<std::vector<PgParameter>> literalParameters(std::string_view marked, const std::vector<Literal>& literals);

// Statements (each one statement) a session runs once after connecting, before any rendered
// statement: they create, idempotently and safely when two sessions do it at once (take
// pg_advisory_xact_lock inside one DO block, or equivalent), the schema "ovt" with the
// functions, collation and the domain ovt.yesno that rendered statements use.
std::vector<std::string> postgresSessionSetup();

// The anchored regular expression (PostgreSQL's advanced syntax) that a LIKE pattern with the
// dialect's wildcards (* ? # [abc] [a-z] [!abc]) renders as; an unclosed '[' raises kSyntaxError.
std::string likePatternRegex(std::string_view pattern);

// The schema and the objects of it that rendered statements name.
inline constexpr const char* kPgSchema = "ovt";
inline constexpr const char* kPgYesNoType = "ovt.yesno";

// ADO DataTypeEnum code of a declared column type in the dialect's names (LONG, TEXT(50),
// MEMO, ...), case-insensitive, size ignored; 0 when the name is not one of the dialect's.
int32_t jetTypeCode(std::string_view declaredType);
// True for codes whose values are numbers (integers, floating, currency, Yes/No, decimal).
bool isNumericTypeCode(int32_t code);

// ASCII case-insensitive equality of names and words, as the parser and renderers compare them.
bool iequals(std::string_view a, std::string_view b);

// True when `name` begins with "ORULINK_" in any case.
bool isLinkName(std::string_view name);
inline constexpr std::string_view kLinkPrefix = "ORULINK_";

}  // namespace ovt::dialect
