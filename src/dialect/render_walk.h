// The walk both renderings share: statement and clause order, separators, parentheses,
// scopes of the FROM sources and literal lifting. An engine's renderer derives from it and
// writes only what differs between the engines (quoting, concatenation, LIKE, functions,
// types, collations, the names of its tables and columns).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dialect/dialect.h"

namespace ovt::dialect {

[[noreturn]] void refuse(const std::string& reason);
[[noreturn]] void refuseAt(const Expr& e, const std::string& reason);

// What a walk gives back; each renderer copies it into its own rendering.
struct Walked {
  std::string sql;
  std::string intoTable;
  bool rowIdAdded = false;
  std::string baseTable;
  std::vector<size_t> parameters;  // lifted literal numbers, ascending, once each
  size_t marks = 0;                // lifted literals as written (a number may repeat)

  // As an engine's rendering struct.
  template <class Rendering>
  Rendering as() && {
    Rendering r;
    r.sql = std::move(sql);
    r.intoTable = std::move(intoTable);
    r.rowIdAdded = rowIdAdded;
    r.baseTable = std::move(baseTable);
    r.parameters = std::move(parameters);
    if constexpr (requires { r.marks; }) r.marks = marks;
    return r;
  }
};

class RenderWalk {
 public:
  virtual ~RenderWalk() = default;
  Walked statement(const Statement& st);

 protected:
  RenderWalk(bool liftLiterals, bool addRowId, std::string_view linkSchema)
      : lift_(liftLiterals), addRowId_(addRowId), linkSchema_(linkSchema) {}

  // A source in scope.
  struct Entry {
    std::string exposed;   // the reference name as rendered (alias, table, link name)
    std::string table;     // the table name as written; "" for a subquery
    std::string written;   // the table name as written when not exposed under another name
    std::optional<TableTarget> target;  // the table (stored or assumed); none for a subquery
    std::vector<std::string> outputs;   // a subquery's output column names
  };
  struct Scope {
    std::vector<Entry> entries;
    std::vector<std::string> aliases;  // select-list aliases, as written
  };

  // ---- hooks: names ----
  virtual std::string ident(std::string_view name) const = 0;
  // A table the statement names (INSERT, DROP TABLE, the row id's base table).
  virtual std::string tableRef(const Name& n) const = 0;
  // A table the statement makes (CREATE TABLE, select-into).
  virtual std::string madeTable(const Name& n) const = 0;
  // A column of the one table of an INSERT, UPDATE or CREATE INDEX.
  virtual std::string columnOf(const Name& table, const Name& column) const = 0;
  // A table of a FROM clause or the target of UPDATE/DELETE as the engine names it; may set
  // the entry's target (the stored table).
  virtual std::string sourceTable(const Name& n, Entry& entry) = 0;
  virtual std::string columnRef(const Expr& column) = 0;
  // The name a select item that is a column gives its output.
  virtual std::string columnName(const Expr& column) { return column.names.back().text; }
  // The qualifier of `Q.*`.
  virtual std::string starOf(const Name& q) { return ident(q.text); }
  // The source whose row id a single-source SELECT may add; null when none.
  virtual const Source* rowIdSource(const Source& first) const = 0;
  virtual const char* rowIdName() const = 0;

  // ---- hooks: statements ----
  virtual std::string columnType(const ColumnDef& c) const = 0;
  // The column of CREATE TABLE that the engine numbers itself (its type says all); null when none.
  virtual const ColumnDef* automaticKey(const CreateTable&) const { return nullptr; }
  // "<index> ON <table>" of CREATE INDEX; the index of DROP INDEX.
  virtual std::string indexOn(const CreateIndex& ci) const = 0;
  virtual std::string droppedIndex(const DropIndex& di) const = 0;
  // Select-list columns to select under a collation (they are grouped under it), and it.
  virtual std::vector<std::string> groupedUnderCollation(const Select&) { return {}; }
  virtual const char* groupedCollation() const { return ""; }
  virtual std::string groupItem(const Expr& e) { return collated(e); }

  // ---- hooks: expressions ----
  // A condition; filter = Null and False both mean "not selected" (WHERE/ON/HAVING, through
  // AND/OR only).
  virtual std::string predicate(const Expr& e, bool filter) { return expr(e, filter); }
  virtual std::string value(const Expr& e) { return expr(e, false); }
  // An operand of an operator: parenthesised unless it is a primary.
  virtual std::string operand(const Expr& e, bool filter = false);
  // An operand of AND, OR and NOT.
  virtual std::string boolOperand(const Expr& e, bool filter) { return operand(e, filter); }
  // A lifted literal as the engine writes it; a literal as text, a date literal.
  virtual std::string lifted(const Expr& e) = 0;
  virtual std::string quoteText(std::string_view s) const = 0;
  virtual std::string dateLiteral(const Expr& e) const = 0;
  virtual const char* floatingType() const = 0;
  // The expression under the engine's text collation where it needs one (ORDER BY, GROUP BY).
  virtual std::string collated(const Expr& e) = 0;
  // The operands of a comparison (r null for IN), each with a collation where needed.
  virtual std::string comparedLeft(const Expr& l, const Expr* r) = 0;
  virtual std::string comparedRight(const Expr&, const Expr& r) { return operand(r); }
  virtual std::string rangeLeft(const Expr& between) { return comparedLeft(*between.args[0], between.args[1].get()); }
  virtual std::string concat(const std::vector<ExprPtr>& parts) = 0;
  // a1 & .. & an <> b1 & .. & bm (or =).
  virtual std::string groupComparison(const std::string& op, const std::vector<ExprPtr>& a,
                                      const std::vector<ExprPtr>& b, bool filter) = 0;
  virtual std::string like(const Expr& e) = 0;
  // A function argument taken as text; functions whose forms differ.
  virtual std::string textArg(const Expr& e) { return value(e); }
  virtual std::string isNullCall(const Expr& e) = 0;
  virtual std::string nzCall(const Expr& e) = 0;
  virtual std::string cstrCall(const Expr& e) = 0;
  virtual std::string leftCall(const Expr& e) = 0;
  virtual const char* trimFunction() const = 0;

  // ---- the walk ----
  std::string select(const Select& s, Walked* rowId, std::vector<std::string>* outputs = nullptr);
  std::string expr(const Expr& e, bool filter);
  std::string binary(const Expr& e, bool filter);
  std::string call(const Expr& e);
  std::string nameList(const std::vector<Name>& names) const;
  // A table of a FROM clause or the target of UPDATE/DELETE, entered into the current scope:
  // a link table is aliased back to its statement name.
  std::string tableSource(const Name& n, const std::optional<Name>& alias);
  bool linked(const Name& n) const { return !resolveTable(n.text, linkSchema_).schema.empty(); }
  static bool isPrimary(const Expr& e);

  bool lifts(const Expr& e) const { return lift_ && fixed_ == 0 && liftable(e); }
  // Records a lifted literal; the hook writes it.
  void lift(const Expr& e) { params_.push_back(e.literal); }

  std::vector<Scope> scopes_;

 private:
  std::string render(const Select& s, Walked& w);
  std::string render(const Insert& ins, Walked&);
  std::string render(const Update& up, Walked&);
  std::string render(const Delete& del, Walked&);
  std::string render(const CreateTable& ct, Walked&);
  std::string render(const DropTable& dt, Walked&) { return "DROP TABLE " + tableRef(dt.table); }
  std::string render(const CreateIndex& ci, Walked&);
  std::string render(const DropIndex& di, Walked&) { return "DROP INDEX " + droppedIndex(di); }
  std::string source(const Source& src);
  std::string defaultValue(const Expr& e);

  const bool lift_;
  const bool addRowId_;
  const std::string_view linkSchema_;
  int fixed_ = 0;
  std::vector<size_t> params_;
};

}  // namespace ovt::dialect
