// The parse tree of one Jet-dialect statement. Engine-neutral: renderers for SQLite (and
// later PostgreSQL) walk the same tree.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace ovt::dialect {

// An identifier as written: bare (`Name`) or bracketed (`[House No]`).
struct Name {
  std::string text;
  bool bracketed = false;
};

struct Select;
struct Expr;
using ExprPtr = std::unique_ptr<Expr>;
using SelectPtr = std::unique_ptr<Select>;

enum class ExprKind {
  Number,     // text = the literal as written
  String,     // text = the value (quotes removed, doubled quotes undone)
  Date,       // text = ISO form "YYYY-MM-DD[ HH:MM:SS]"
  Boolean,    // text = "-1" or "0"
  Null,
  Column,     // names = [qualifier...,] column
  Star,       // `*` inside count(*)
  Unary,      // op = "-", "+", "NOT"; args[0]
  Binary,     // op = "+", "-", "*", "/", "MOD", "=", "<>", "<", ">", "<=", ">=", "AND", "OR"; args[0], args[1]
  Concat,     // `&` chain, flattened: args = the operands in order
  Call,       // text = function name as written (case kept); args
  IsNull,     // args[0]; negated for IS NOT NULL
  InList,     // args[0] IN (args[1..]); negated for NOT IN
  InSelect,   // args[0] IN (select); negated for NOT IN
  Between,    // args[0] BETWEEN args[1] AND args[2]; negated
  Like,       // args[0] LIKE args[1]; negated
  Exists,     // EXISTS (select)
  Subquery,   // (select) as a value
};

struct Expr {
  ExprKind kind;
  std::string text;
  std::string op;
  std::vector<Name> names;
  std::vector<ExprPtr> args;
  SelectPtr select;
  bool negated = false;
  size_t position = 0;  // byte offset in the statement, for messages
  size_t literal = 0;   // a literal's number among the statement's literals (from 1; see shapeOf)
  int height = 1;       // depth of the operator chain below this node
};

struct SelectItem {
  ExprPtr expr;               // null for `*` and `T.*`
  std::optional<Name> starOf; // `T.*`
  bool star = false;          // `*`
  std::optional<Name> alias;
};

// One source of a FROM clause: a table (or stored query), a subquery, or a join of two.
struct Source {
  enum class Kind { Table, Subquery, Join } kind = Kind::Table;
  Name table;
  std::optional<Name> alias;
  SelectPtr select;
  // Join: left, right, type ("INNER", "LEFT", "RIGHT") and condition.
  std::unique_ptr<Source> left, right;
  std::string joinType;
  ExprPtr on;
};
using SourcePtr = std::unique_ptr<Source>;

struct OrderItem {
  ExprPtr expr;
  bool descending = false;
};

struct Select {
  bool distinct = false;
  std::optional<int64_t> top;
  std::vector<SelectItem> items;
  std::optional<Name> into;  // make-table target of `select ... into`
  std::vector<SourcePtr> from;
  ExprPtr where;
  std::vector<ExprPtr> groupBy;
  ExprPtr having;
  std::vector<OrderItem> orderBy;
};

struct Insert {
  Name table;
  std::vector<Name> columns;
  SelectPtr select;                        // insert ... select
  std::vector<std::vector<ExprPtr>> rows;  // insert ... values (...)
};

struct Assignment {
  Name column;
  ExprPtr value;
};

struct Update {
  Name table;
  std::vector<Assignment> assignments;
  ExprPtr where;
};

struct Delete {
  Name table;
  ExprPtr where;
};

struct ColumnDef {
  Name name;
  std::string type;          // the dialect's type name as written (LONG, TEXT, COUNTER, ...)
  std::vector<int64_t> size; // TEXT(50) -> {50}; DECIMAL(10,2) -> {10, 2}
  bool notNull = false;
  bool primaryKey = false;
  bool unique = false;
  ExprPtr defaultValue;
};

struct CreateTable {
  Name table;
  std::vector<ColumnDef> columns;
  std::vector<Name> primaryKey;  // table constraint PRIMARY KEY (...)
  std::vector<std::vector<Name>> uniques;
};

struct DropTable {
  Name table;
};

struct CreateIndex {
  Name index;
  Name table;
  bool unique = false;
  std::vector<OrderItem> columns;  // Column expressions
};

struct DropIndex {
  Name index;
  Name table;
};

using StatementBody =
    std::variant<Select, Insert, Update, Delete, CreateTable, DropTable, CreateIndex, DropIndex>;

struct Statement {
  StatementBody body;
  bool isSelect() const { return std::holds_alternative<Select>(body) && !std::get<Select>(body).into; }
  bool isSelectInto() const { return std::holds_alternative<Select>(body) && std::get<Select>(body).into.has_value(); }
};

}  // namespace ovt::dialect
