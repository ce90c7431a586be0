#include "dialect/render_walk.h"

#include <algorithm>

#include "ovtbldiff/runtime/error.h"

namespace ovt::dialect {

void refuse(const std::string& reason) {
  raiseError(kSyntaxError, kErrorSource, "Syntax error in statement: " + reason);
}

void refuseAt(const Expr& e, const std::string& reason) {
  refuse(reason + " at position " + std::to_string(e.position + 1));
}

namespace {

bool containsAggregate(const Expr& e) {
  if (e.kind == ExprKind::Call)
    for (std::string_view a : {"count", "sum", "avg", "min", "max"})
      if (iequals(a, e.text)) return true;
  for (const auto& a : e.args)
    if (a && containsAggregate(*a)) return true;
  return false;
}

bool hasAggregate(const Select& s) {
  for (const auto& it : s.items)
    if (it.expr && containsAggregate(*it.expr)) return true;
  return false;
}

}  // namespace

Walked RenderWalk::statement(const Statement& st) {
  Walked w;
  w.sql = std::visit([&](const auto& body) { return render(body, w); }, st.body);
  w.marks = params_.size();
  std::sort(params_.begin(), params_.end());
  params_.erase(std::unique(params_.begin(), params_.end()), params_.end());
  w.parameters = std::move(params_);
  return w;
}

// ---- statements ----
std::string RenderWalk::render(const Select& s, Walked& w) {
  if (s.into) w.intoTable = madeTable(*s.into);
  return select(s, addRowId_ ? &w : nullptr);
}

std::string RenderWalk::render(const Insert& ins, Walked&) {
  std::string out = "INSERT INTO " + tableRef(ins.table);
  if (!ins.columns.empty()) {
    out += " (";
    for (size_t i = 0; i < ins.columns.size(); ++i) out += (i ? ", " : "") + columnOf(ins.table, ins.columns[i]);
    out += ")";
  }
  if (ins.select) {
    out += " " + select(*ins.select, nullptr);
  } else {
    out += " VALUES ";
    for (size_t i = 0; i < ins.rows.size(); ++i) {
      out += i ? ", (" : "(";
      for (size_t j = 0; j < ins.rows[i].size(); ++j) out += (j ? ", " : "") + value(*ins.rows[i][j]);
      out += ")";
    }
  }
  return out;
}

std::string RenderWalk::render(const Update& up, Walked&) {
  scopes_.emplace_back();
  std::string out = "UPDATE " + tableSource(up.table, std::nullopt) + " SET ";
  for (size_t i = 0; i < up.assignments.size(); ++i)
    out += (i ? ", " : "") + columnOf(up.table, up.assignments[i].column) + " = " + value(*up.assignments[i].value);
  if (up.where) out += " WHERE " + predicate(*up.where, true);
  scopes_.pop_back();
  return out;
}

std::string RenderWalk::render(const Delete& del, Walked&) {
  scopes_.emplace_back();
  std::string out = "DELETE FROM " + tableSource(del.table, std::nullopt);
  if (del.where) out += " WHERE " + predicate(*del.where, true);
  scopes_.pop_back();
  return out;
}

std::string RenderWalk::render(const CreateTable& ct, Walked&) {
  const ColumnDef* key = automaticKey(ct);
  std::string out = "CREATE TABLE " + madeTable(ct.table) + " (";
  for (size_t i = 0; i < ct.columns.size(); ++i) {
    const ColumnDef& c = ct.columns[i];
    out += (i ? ", " : "") + ident(c.name.text) + " " + columnType(c);
    if (c.notNull) out += " NOT NULL";
    if (&c == key) continue;
    if (c.primaryKey) out += " PRIMARY KEY";
    if (c.unique) out += " UNIQUE";
    if (c.defaultValue) out += " DEFAULT " + defaultValue(*c.defaultValue);
  }
  // A table key on the automatic column is that column's own key.
  if (!ct.primaryKey.empty() && !key) out += ", PRIMARY KEY (" + nameList(ct.primaryKey) + ")";
  for (const auto& u : ct.uniques) out += ", UNIQUE (" + nameList(u) + ")";
  return out + ")";
}

std::string RenderWalk::render(const CreateIndex& ci, Walked&) {
  std::string out = std::string("CREATE ") + (ci.unique ? "UNIQUE " : "") + "INDEX " + indexOn(ci) + " (";
  for (size_t i = 0; i < ci.columns.size(); ++i)
    out += (i ? ", " : "") + columnOf(ci.table, ci.columns[i].expr->names.back()) +
           (ci.columns[i].descending ? " DESC" : "");
  return out + ")";
}

std::string RenderWalk::defaultValue(const Expr& e) {
  switch (e.kind) {
    case ExprKind::Number: case ExprKind::String: case ExprKind::Date: case ExprKind::Boolean:
    case ExprKind::Null:
      return value(e);
    case ExprKind::Unary:
      if (e.op == "-" && e.args[0]->kind == ExprKind::Number) return "-" + e.args[0]->text;
      [[fallthrough]];
    default:
      refuseAt(e, "a default value must be a literal");
  }
}

std::string RenderWalk::nameList(const std::vector<Name>& names) const {
  std::string out;
  for (size_t i = 0; i < names.size(); ++i) out += (i ? ", " : "") + ident(names[i].text);
  return out;
}

// ---- select ----
std::string RenderWalk::select(const Select& s, Walked* rowId, std::vector<std::string>* outputs) {
  scopes_.emplace_back();
  for (const auto& it : s.items)
    if (it.alias) scopes_.back().aliases.push_back(it.alias->text);
  std::string from;
  for (size_t i = 0; i < s.from.size(); ++i) from += (i ? ", " : "") + source(*s.from[i]);

  std::string out = "SELECT ";
  if (s.distinct) out += "DISTINCT ";
  // The row id of a single table read as it is (each row one record of it).
  if (rowId && s.from.size() == 1 && !s.distinct && s.groupBy.empty() && !s.having && !hasAggregate(s))
    if (const Source* src = rowIdSource(*s.from[0])) {
      out += ident(scopes_.back().entries[0].exposed) + "." + rowIdName() + " AS " + ident(kRowIdColumn) + ", ";
      rowId->rowIdAdded = true;
      rowId->baseTable = tableRef(src->table);
    }
  const std::vector<std::string> grouped = groupedUnderCollation(s);
  int exprNumber = 1000;
  for (size_t i = 0; i < s.items.size(); ++i) {
    const SelectItem& it = s.items[i];
    out += i ? ", " : "";
    if (it.star) {
      out += "*";
    } else if (it.starOf) {
      out += starOf(*it.starOf) + ".*";
    } else {
      out += value(*it.expr);
      if (!grouped.empty() && it.expr->kind == ExprKind::Column &&
          std::find(grouped.begin(), grouped.end(), columnRef(*it.expr)) != grouped.end())
        out += std::string(" COLLATE ") + groupedCollation();
      std::string name;
      // Unnamed expressions are named as the dialect names them: Expr1000, Expr1001, ...
      if (it.alias) name = it.alias->text;
      else if (it.expr->kind != ExprKind::Column) name = "Expr" + std::to_string(exprNumber++);
      if (!name.empty()) out += " AS " + ident(name);
      if (outputs) outputs->push_back(!name.empty() ? name : columnName(*it.expr));
    }
  }
  if (!from.empty()) out += " FROM " + from;
  if (s.where) out += " WHERE " + predicate(*s.where, true);
  // A constant in GROUP BY or ORDER BY would mean a column position.
  KeepLiterals positions(fixed_);
  if (!s.groupBy.empty()) {
    out += " GROUP BY ";
    for (size_t i = 0; i < s.groupBy.size(); ++i) out += (i ? ", " : "") + groupItem(*s.groupBy[i]);
  }
  if (s.having) out += " HAVING " + predicate(*s.having, true);
  if (!s.orderBy.empty()) {
    out += " ORDER BY ";
    for (size_t i = 0; i < s.orderBy.size(); ++i)
      out += (i ? ", " : "") + collated(*s.orderBy[i].expr) + (s.orderBy[i].descending ? " DESC" : "");
  }
  if (s.top) out += " LIMIT " + std::to_string(*s.top);
  scopes_.pop_back();
  return out;
}

std::string RenderWalk::tableSource(const Name& n, const std::optional<Name>& alias) {
  Entry entry;
  entry.table = n.text;
  std::string out = sourceTable(n, entry);
  if (alias) {
    entry.exposed = alias->text;
    out += " AS " + ident(alias->text);
  } else if (linked(n)) {
    entry.exposed = n.text;
    out += " AS " + ident(n.text);
  } else {
    entry.exposed = entry.target ? entry.target->table : n.text;
    entry.written = n.text;
  }
  scopes_.back().entries.push_back(std::move(entry));
  return out;
}

std::string RenderWalk::source(const Source& src) {
  switch (src.kind) {
    case Source::Kind::Table:
      return tableSource(src.table, src.alias);
    case Source::Kind::Subquery: {
      Entry entry;
      entry.exposed = src.alias->text;
      std::string out = "(" + select(*src.select, nullptr, &entry.outputs) + ") AS " + ident(src.alias->text);
      scopes_.back().entries.push_back(std::move(entry));
      return out;
    }
    case Source::Kind::Join: {
      std::string l = source(*src.left);
      std::string r = source(*src.right);
      return "(" + l + " " + src.joinType + " JOIN " + r + " ON " + predicate(*src.on, true) + ")";
    }
  }
  return {};
}

// ---- expressions ----
bool RenderWalk::isPrimary(const Expr& e) {
  switch (e.kind) {
    case ExprKind::Number: case ExprKind::String: case ExprKind::Date: case ExprKind::Boolean:
    case ExprKind::Null: case ExprKind::Column: case ExprKind::Call: case ExprKind::Concat:
    case ExprKind::Subquery:
      return true;
    default:
      return false;
  }
}

std::string RenderWalk::operand(const Expr& e, bool filter) {
  std::string s = expr(e, filter);
  return isPrimary(e) ? s : "(" + s + ")";
}

std::string RenderWalk::expr(const Expr& e, bool filter) {
  if (lifts(e)) return lifted(e);
  switch (e.kind) {
    case ExprKind::Number: return e.text;
    case ExprKind::String: return quoteText(e.text);
    case ExprKind::Date: return dateLiteral(e);
    case ExprKind::Boolean: return e.text;
    case ExprKind::Null: return "NULL";
    case ExprKind::Star: refuseAt(e, "'*' is allowed only in count(*)");
    case ExprKind::Column: return columnRef(e);
    case ExprKind::Unary:
      if (e.op == "NOT") return "NOT " + boolOperand(*e.args[0], false);
      {
        // "-" before "-1" (True) would open a comment.
        KeepLiterals sign(fixed_);
        std::string x = operand(*e.args[0]);
        if (!x.empty() && (x[0] == '-' || x[0] == '+')) x = "(" + x + ")";
        return e.op + x;
      }
    case ExprKind::Binary: return binary(e, filter);
    case ExprKind::Concat: return concat(e.args);
    case ExprKind::Call: return call(e);
    case ExprKind::IsNull: return operand(*e.args[0]) + (e.negated ? " IS NOT NULL" : " IS NULL");
    case ExprKind::InList: {
      std::string out = comparedLeft(*e.args[0], nullptr);
      out += e.negated ? " NOT IN (" : " IN (";
      for (size_t i = 1; i < e.args.size(); ++i) out += (i > 1 ? ", " : "") + value(*e.args[i]);
      return out + ")";
    }
    case ExprKind::InSelect:
      return comparedLeft(*e.args[0], nullptr) + (e.negated ? " NOT IN (" : " IN (") + select(*e.select, nullptr) + ")";
    case ExprKind::Between:
      return rangeLeft(e) + (e.negated ? " NOT BETWEEN " : " BETWEEN ") + operand(*e.args[1]) + " AND " +
             operand(*e.args[2]);
    case ExprKind::Like: return like(e);
    case ExprKind::Exists: return "EXISTS (" + select(*e.select, nullptr) + ")";
    case ExprKind::Subquery: return "(" + select(*e.select, nullptr) + ")";
  }
  return {};
}

std::string RenderWalk::binary(const Expr& e, bool filter) {
  const Expr& l = *e.args[0];
  const Expr& r = *e.args[1];
  const std::string& op = e.op;
  if (op == "AND" || op == "OR") return boolOperand(l, filter) + " " + op + " " + boolOperand(r, filter);
  if (op == "MOD") return operand(l) + " % " + operand(r);
  if (op == "/") return "CAST(" + value(l) + " AS " + floatingType() + ") / " + operand(r);
  if (op == "+" || op == "-" || op == "*") return operand(l) + " " + op + " " + operand(r);
  // Comparisons.
  if ((op == "<>" || op == "=") && l.kind == ExprKind::Concat && r.kind == ExprKind::Concat)
    return groupComparison(op, l.args, r.args, filter);
  return comparedLeft(l, &r) + " " + op + " " + comparedRight(l, r);
}

std::string RenderWalk::call(const Expr& e) {
  const std::string& f = e.text;
  const size_t n = e.args.size();
  auto need = [&](size_t lo, size_t hi) {
    if (n < lo || n > hi) refuseAt(e, "wrong number of arguments for " + f);
  };
  if (iequals(f, "count")) {
    need(1, 1);
    return e.args[0]->kind == ExprKind::Star ? "count(*)" : "count(" + value(*e.args[0]) + ")";
  }
  for (std::string_view agg : {"sum", "avg", "min", "max"})
    if (iequals(f, agg)) {
      need(1, 1);
      return std::string(agg) + "(" + value(*e.args[0]) + ")";
    }
  if (iequals(f, "iif")) {
    need(3, 3);
    return "(CASE WHEN " + predicate(*e.args[0], false) + " THEN " + value(*e.args[1]) + " ELSE " +
           value(*e.args[2]) + " END)";
  }
  if (iequals(f, "isnull")) {
    need(1, 1);
    return isNullCall(e);
  }
  if (iequals(f, "nz")) {
    need(1, 2);
    return nzCall(e);
  }
  if (iequals(f, "cstr")) {
    need(1, 1);
    return cstrCall(e);
  }
  if (iequals(f, "len")) {
    need(1, 1);
    return "length(" + textArg(*e.args[0]) + ")";
  }
  if (iequals(f, "abs")) {
    need(1, 1);
    return "abs(" + value(*e.args[0]) + ")";
  }
  if (iequals(f, "ucase") || iequals(f, "lcase")) {
    need(1, 1);
    return std::string(iequals(f, "ucase") ? "upper(" : "lower(") + textArg(*e.args[0]) + ")";
  }
  if (iequals(f, "mid")) {
    need(2, 3);
    return "substr(" + textArg(*e.args[0]) + ", " + value(*e.args[1]) + (n == 3 ? ", " + value(*e.args[2]) : "") + ")";
  }
  if (iequals(f, "left")) {
    need(2, 2);
    return leftCall(e);
  }
  for (std::string_view t : {"trim", "ltrim", "rtrim"})
    if (iequals(f, t)) {
      need(1, 1);
      return std::string(t == "trim" ? trimFunction() : t) + "(" + textArg(*e.args[0]) + ", ' ')";
    }
  refuseAt(e, "the function " + f + " is not supported");
}

}  // namespace ovt::dialect
