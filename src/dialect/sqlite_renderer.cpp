// Writes a parsed Jet statement as SQLite SQL with the dialect's meaning:
// - names always in brackets (so a name SQLite reserves, such as Order, stays a name);
// - text literals in single quotes, whichever quote the dialect used;
// - #date# as ISO text, True/False as -1/0, `/` as floating division, Mod as %;
// - `&` as the registered jet_concat() (Null counts as "", the result is Null only when
//   every operand is Null, numbers as the platform prints them);
// - a comparison of two `&` chains with = or <> as the registered group_differs(), and in a
//   filter position (WHERE/ON/HAVING, through AND/OR only) behind an exact binary prefilter;
// - text comparisons, IN, BETWEEN, GROUP BY and ORDER BY with the case-insensitive collation
//   jet_text, left out where an operand is known to be a number so integer keys keep their
//   indexes;
// - LIKE with the dialect's wildcards as the registered jet_like();
// - ORULINK_X as X of the attached link schema, aliased back to its statement name;
// - with liftLiterals, literals as numbered parameters ?n, except in ORDER BY and GROUP BY
//   items (a constant there would mean a column position) and under a sign.
#include <algorithm>
#include <cctype>

#include "dialect/dialect.h"
#include "ovtbldiff/runtime/error.h"

namespace ovt::dialect {
namespace {

bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::string bracket(std::string_view name) { return "[" + std::string(name) + "]"; }

std::string quoteText(std::string_view s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += '\'';
    out += c;
  }
  out += '\'';
  return out;
}

[[noreturn]] void refuseAt(const Expr& e, const std::string& reason) {
  raiseError(kSyntaxError, kErrorSource,
             "Syntax error in statement: " + reason + " at position " + std::to_string(e.position + 1));
}

bool isAggregate(std::string_view fn) {
  for (std::string_view a : {"count", "sum", "avg", "min", "max"})
    if (iequals(a, fn)) return true;
  return false;
}

class Renderer {
 public:
  explicit Renderer(const SqliteRenderOptions& o) : o_(o) {}

  SqliteRendering statement(const Statement& st) {
    SqliteRendering r;
    std::visit([&](const auto& body) { render(body, r); }, st.body);
    std::sort(params_.begin(), params_.end());
    params_.erase(std::unique(params_.begin(), params_.end()), params_.end());
    r.parameters = std::move(params_);
    return r;
  }

 private:
  bool lifts(const Expr& e) const { return o_.liftLiterals && fixed_ == 0 && liftable(e); }
  std::string parameter(const Expr& e) {
    params_.push_back(e.literal);
    return "?" + std::to_string(e.literal);
  }

  struct ScopeEntry {
    std::string exposed;  // alias, or the table name as written
    std::string table;    // table or stored query name as written; "" for a subquery
  };

  // ---- names ----
  std::string table(const Name& n) const {
    TableTarget t = resolveTable(n.text, o_.linkSchema);
    return t.schema.empty() ? bracket(t.table) : bracket(t.schema) + "." + bracket(t.table);
  }
  bool linked(const Name& n) const { return !resolveTable(n.text, o_.linkSchema).schema.empty(); }

  // ---- statements ----
  void render(const Select& s, SqliteRendering& r) {
    if (s.into) r.intoTable = table(*s.into);
    r.sql = select(s, o_.addRowId ? &r : nullptr);
  }

  void render(const Insert& ins, SqliteRendering& r) {
    std::string out = "INSERT INTO " + table(ins.table);
    if (!ins.columns.empty()) {
      out += " (";
      for (size_t i = 0; i < ins.columns.size(); ++i) out += (i ? ", " : "") + bracket(ins.columns[i].text);
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
    r.sql = out;
  }

  void render(const Update& up, SqliteRendering& r) {
    scopes_.push_back({{up.table.text, up.table.text}});
    std::string out = "UPDATE " + table(up.table);
    if (linked(up.table)) out += " AS " + bracket(up.table.text);
    out += " SET ";
    for (size_t i = 0; i < up.assignments.size(); ++i)
      out += (i ? ", " : "") + bracket(up.assignments[i].column.text) + " = " + value(*up.assignments[i].value);
    if (up.where) out += " WHERE " + predicate(*up.where);
    scopes_.pop_back();
    r.sql = out;
  }

  void render(const Delete& del, SqliteRendering& r) {
    scopes_.push_back({{del.table.text, del.table.text}});
    std::string out = "DELETE FROM " + table(del.table);
    if (linked(del.table)) out += " AS " + bracket(del.table.text);
    if (del.where) out += " WHERE " + predicate(*del.where);
    scopes_.pop_back();
    r.sql = out;
  }

  void render(const CreateTable& ct, SqliteRendering& r) {
    const ColumnDef* counter = nullptr;
    for (const auto& c : ct.columns) {
      if (iequals(c.type, "COUNTER") || iequals(c.type, "AUTOINCREMENT")) {
        if (counter) raiseError(kSyntaxError, kErrorSource, "Syntax error in statement: a table can have only one COUNTER column");
        counter = &c;
      }
    }
    bool pkIsCounter = false;
    if (counter) {
      bool otherPk = std::any_of(ct.columns.begin(), ct.columns.end(),
                                 [&](const ColumnDef& c) { return c.primaryKey && &c != counter; });
      if (!ct.primaryKey.empty()) {
        if (ct.primaryKey.size() == 1 && iequals(ct.primaryKey[0].text, counter->name.text)) pkIsCounter = true;
        else otherPk = true;
      }
      if (otherPk)
        raiseError(kSyntaxError, kErrorSource,
                   "Syntax error in statement: a COUNTER column must be the table's only primary key");
    }
    std::string out = "CREATE TABLE " + table(ct.table) + " (";
    for (size_t i = 0; i < ct.columns.size(); ++i) {
      const ColumnDef& c = ct.columns[i];
      out += (i ? ", " : "") + bracket(c.name.text) + " ";
      if (&c == counter) {
        // The engine's automatic key: a rowid alias that never reuses a key.
        out += "INTEGER PRIMARY KEY AUTOINCREMENT";
        if (c.notNull) out += " NOT NULL";
        continue;
      }
      out += columnType(c);
      if (c.notNull) out += " NOT NULL";
      if (c.primaryKey) out += " PRIMARY KEY";
      if (c.unique) out += " UNIQUE";
      if (c.defaultValue) out += " DEFAULT " + literal(*c.defaultValue);
    }
    if (!ct.primaryKey.empty() && !pkIsCounter) out += ", PRIMARY KEY (" + nameList(ct.primaryKey) + ")";
    for (const auto& u : ct.uniques) out += ", UNIQUE (" + nameList(u) + ")";
    out += ")";
    r.sql = out;
  }

  // Declared types keep the dialect's names, so that types read back map to the same codes;
  // the few whose SQLite affinity would turn text into numbers get a name of the same code.
  static std::string columnType(const ColumnDef& c) {
    std::string t = c.type;
    if (iequals(t, "MEMO") || iequals(t, "NOTE")) t = "LONGTEXT";
    else if (iequals(t, "STRING")) t = "VARCHAR";
    for (char& ch : t) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    if (!c.size.empty()) {
      t += "(";
      for (size_t i = 0; i < c.size.size(); ++i) {
        if (i) t += ',';
        t += std::to_string(c.size[i]);
      }
      t += ")";
    }
    return t;
  }

  std::string literal(const Expr& e) {
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

  static std::string nameList(const std::vector<Name>& names) {
    std::string out;
    for (size_t i = 0; i < names.size(); ++i) out += (i ? ", " : "") + bracket(names[i].text);
    return out;
  }

  void render(const DropTable& dt, SqliteRendering& r) { r.sql = "DROP TABLE " + table(dt.table); }

  void render(const CreateIndex& ci, SqliteRendering& r) {
    TableTarget t = resolveTable(ci.table.text, o_.linkSchema);
    std::string out = std::string("CREATE ") + (ci.unique ? "UNIQUE " : "") + "INDEX ";
    if (!t.schema.empty()) out += bracket(t.schema) + ".";
    out += bracket(ci.index.text) + " ON " + bracket(t.table) + " (";
    for (size_t i = 0; i < ci.columns.size(); ++i)
      out += (i ? ", " : "") + bracket(ci.columns[i].expr->names[0].text) + (ci.columns[i].descending ? " DESC" : "");
    r.sql = out + ")";
  }

  void render(const DropIndex& di, SqliteRendering& r) {
    TableTarget t = resolveTable(di.table.text, o_.linkSchema);
    r.sql = "DROP INDEX " + (t.schema.empty() ? "" : bracket(t.schema) + ".") + bracket(di.index.text);
  }

  // ---- select ----
  std::string select(const Select& s, SqliteRendering* rowId) {
    scopes_.emplace_back();
    std::string from;
    for (size_t i = 0; i < s.from.size(); ++i) from += (i ? ", " : "") + source(*s.from[i]);

    std::string out = "SELECT ";
    if (s.distinct) out += "DISTINCT ";
    // A single table, or the left join of an anti-join (each row one record of its left table;
    // the caller asks for the rowid only of a statement that read one table as it was sent).
    const Source* first = s.from.empty() ? nullptr : s.from[0].get();
    if (first && first->kind == Source::Kind::Join && first->joinType == "LEFT") first = first->left.get();
    if (rowId && s.from.size() == 1 && first->kind == Source::Kind::Table && !s.distinct &&
        s.groupBy.empty() && !s.having && !hasAggregate(s)) {
      const Source& src = *first;
      out += bracket(src.alias ? src.alias->text : src.table.text) + ".rowid AS " + bracket(kRowIdColumn) + ", ";
      rowId->rowIdAdded = true;
      rowId->baseTable = table(src.table);
    }
    int exprNumber = 1000;
    for (size_t i = 0; i < s.items.size(); ++i) {
      const SelectItem& it = s.items[i];
      out += i ? ", " : "";
      if (it.star) {
        out += "*";
      } else if (it.starOf) {
        out += bracket(it.starOf->text) + ".*";
      } else {
        out += value(*it.expr);
        // Unnamed expressions are named as the dialect names them: Expr1000, Expr1001, ...
        if (it.alias) out += " AS " + bracket(it.alias->text);
        else if (it.expr->kind != ExprKind::Column) out += " AS " + bracket("Expr" + std::to_string(exprNumber++));
      }
    }
    if (!from.empty()) out += " FROM " + from;
    if (s.where) out += " WHERE " + predicate(*s.where);
    KeepLiterals positions(fixed_);
    if (!s.groupBy.empty()) {
      out += " GROUP BY ";
      for (size_t i = 0; i < s.groupBy.size(); ++i) out += (i ? ", " : "") + collated(*s.groupBy[i]);
    }
    if (s.having) out += " HAVING " + predicate(*s.having);
    if (!s.orderBy.empty()) {
      out += " ORDER BY ";
      for (size_t i = 0; i < s.orderBy.size(); ++i)
        out += (i ? ", " : "") + collated(*s.orderBy[i].expr) + (s.orderBy[i].descending ? " DESC" : "");
    }
    if (s.top) out += " LIMIT " + std::to_string(*s.top);
    scopes_.pop_back();
    return out;
  }

  static bool hasAggregate(const Select& s) {
    for (const auto& it : s.items)
      if (it.expr && containsAggregate(*it.expr)) return true;
    return false;
  }
  static bool containsAggregate(const Expr& e) {
    if (e.kind == ExprKind::Call && isAggregate(e.text)) return true;
    for (const auto& a : e.args)
      if (a && containsAggregate(*a)) return true;
    return false;
  }

  std::string source(const Source& src) {
    switch (src.kind) {
      case Source::Kind::Table: {
        std::string out = table(src.table);
        if (src.alias) out += " AS " + bracket(src.alias->text);
        else if (linked(src.table)) out += " AS " + bracket(src.table.text);
        scopes_.back().push_back({src.alias ? src.alias->text : src.table.text, src.table.text});
        return out;
      }
      case Source::Kind::Subquery: {
        std::string out = "(" + select(*src.select, nullptr) + ") AS " + bracket(src.alias->text);
        scopes_.back().push_back({src.alias->text, ""});
        return out;
      }
      case Source::Kind::Join: {
        std::string l = source(*src.left);
        std::string r = source(*src.right);
        return "(" + l + " " + src.joinType + " JOIN " + r + " ON " + predicate(*src.on) + ")";
      }
    }
    return {};
  }

  // ---- expressions ----
  // A condition whose Null and False both mean "not selected".
  std::string predicate(const Expr& e) { return expr(e, true); }
  std::string value(const Expr& e) { return expr(e, false); }

  // An operand of an operator: parenthesised unless it is a primary.
  std::string operand(const Expr& e, bool filter = false) {
    std::string s = expr(e, filter);
    switch (e.kind) {
      case ExprKind::Number: case ExprKind::String: case ExprKind::Date: case ExprKind::Boolean:
      case ExprKind::Null: case ExprKind::Column: case ExprKind::Call: case ExprKind::Concat:
      case ExprKind::Subquery:
        return s;
      default:
        return "(" + s + ")";
    }
  }

  bool needsCollation(const Expr& a, const Expr* b = nullptr) const {
    return o_.caseInsensitive && !knownNumeric(a) && !(b && knownNumeric(*b));
  }
  std::string collated(const Expr& e) {
    return needsCollation(e) ? operand(e) + " COLLATE " + kTextCollation : value(e);
  }

  bool knownNumeric(const Expr& e) const {
    switch (e.kind) {
      case ExprKind::Number: case ExprKind::Boolean:
        return true;
      case ExprKind::Unary:
        return e.op != "NOT";
      case ExprKind::Binary:
        return e.op == "+" || e.op == "-" || e.op == "*" || e.op == "/" || e.op == "MOD";
      case ExprKind::Call:
        for (std::string_view f : {"count", "sum", "avg", "len", "abs", "isnull"})
          if (iequals(f, e.text)) return true;
        if ((iequals(e.text, "min") || iequals(e.text, "max")) && e.args.size() == 1) return knownNumeric(*e.args[0]);
        return false;
      case ExprKind::Column:
        return columnIsNumeric(e);
      default:
        return false;
    }
  }

  bool columnIsNumeric(const Expr& e) const {
    if (!o_.schema) return false;
    auto numericIn = [&](const std::string& tbl, const std::string& col) -> std::optional<bool> {
      if (tbl.empty()) return std::nullopt;
      auto t = o_.schema->columnType(tbl, col);
      if (!t) return std::nullopt;
      return isNumericTypeCode(jetTypeCode(*t));
    };
    if (e.names.size() == 1) {
      for (auto s = scopes_.rbegin(); s != scopes_.rend(); ++s)
        for (const auto& entry : *s)
          if (auto n = numericIn(entry.table, e.names[0].text)) return *n;
      return false;
    }
    if (e.names.size() == 2) {
      for (auto s = scopes_.rbegin(); s != scopes_.rend(); ++s)
        for (const auto& entry : *s)
          if (iequals(entry.exposed, e.names[0].text)) return numericIn(entry.table, e.names[1].text).value_or(false);
    }
    return false;
  }

  std::string expr(const Expr& e, bool filter) {
    switch (e.kind) {
      case ExprKind::Number: return lifts(e) ? parameter(e) : e.text;
      case ExprKind::String: return lifts(e) ? parameter(e) : quoteText(e.text);
      case ExprKind::Date: return lifts(e) ? parameter(e) : quoteText(e.text);
      case ExprKind::Boolean: return lifts(e) ? parameter(e) : e.text;
      case ExprKind::Null: return lifts(e) ? parameter(e) : "NULL";
      case ExprKind::Star: refuseAt(e, "'*' is allowed only in count(*)");
      case ExprKind::Column: {
        std::string out;
        for (size_t i = 0; i < e.names.size(); ++i) out += (i ? "." : "") + bracket(e.names[i].text);
        return out;
      }
      case ExprKind::Unary:
        if (e.op == "NOT") return "NOT " + operand(*e.args[0]);
        {
          // "-" before "-1" (True) would open a comment for SQLite.
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
        std::string out = needsCollation(*e.args[0]) ? operand(*e.args[0]) + " COLLATE " + kTextCollation
                                                      : operand(*e.args[0]);
        out += e.negated ? " NOT IN (" : " IN (";
        for (size_t i = 1; i < e.args.size(); ++i) out += (i > 1 ? ", " : "") + value(*e.args[i]);
        return out + ")";
      }
      case ExprKind::InSelect: {
        std::string out = needsCollation(*e.args[0]) ? operand(*e.args[0]) + " COLLATE " + kTextCollation
                                                      : operand(*e.args[0]);
        return out + (e.negated ? " NOT IN (" : " IN (") + select(*e.select, nullptr) + ")";
      }
      case ExprKind::Between: {
        std::string out = needsCollation(*e.args[0]) ? operand(*e.args[0]) + " COLLATE " + kTextCollation
                                                      : operand(*e.args[0]);
        return out + (e.negated ? " NOT BETWEEN " : " BETWEEN ") + operand(*e.args[1]) + " AND " + operand(*e.args[2]);
      }
      case ExprKind::Like: {
        std::string out = std::string(kLikeFunction) + "(" + value(*e.args[1]) + ", " + value(*e.args[0]) + ")";
        return e.negated ? "NOT " + out : out;
      }
      case ExprKind::Exists: return "EXISTS (" + select(*e.select, nullptr) + ")";
      case ExprKind::Subquery: return "(" + select(*e.select, nullptr) + ")";
    }
    return {};
  }

  std::string concat(const std::vector<ExprPtr>& parts) {
    std::string out = std::string(kConcatFunction) + "(";
    for (size_t i = 0; i < parts.size(); ++i) out += (i ? ", " : "") + value(*parts[i]);
    return out + ")";
  }

  std::string binary(const Expr& e, bool filter) {
    const Expr& l = *e.args[0];
    const Expr& r = *e.args[1];
    const std::string& op = e.op;
    if (op == "AND" || op == "OR") return operand(l, filter) + " " + op + " " + operand(r, filter);
    if (op == "MOD") return operand(l) + " % " + operand(r);
    if (op == "/") return "CAST(" + value(l) + " AS REAL) / " + operand(r);
    if (op == "+" || op == "-" || op == "*") return operand(l) + " " + op + " " + operand(r);
    // Comparisons.
    if ((op == "<>" || op == "=") && l.kind == ExprKind::Concat && r.kind == ExprKind::Concat)
      return groupComparison(op, l.args, r.args, filter);
    std::string out = operand(l);
    if (needsCollation(l, &r)) out += std::string(" COLLATE ") + kTextCollation;
    return out + " " + op + " " + operand(r);
  }

  // a1 & .. & an <> b1 & .. & bm: one call that builds both texts and compares them. For
  // n = m in a filter position an exact prefilter goes first: when every pair is the same
  // value (compared without affinity), the texts are the same, so the row cannot differ.
  std::string groupComparison(const std::string& op, const std::vector<ExprPtr>& a,
                              const std::vector<ExprPtr>& b, bool filter) {
    std::string call = std::string(kGroupDiffersFunction) + "(" + std::to_string(a.size());
    for (const auto& x : a) call += ", " + value(*x);
    for (const auto& x : b) call += ", " + value(*x);
    call += ")";
    if (op == "=") return "NOT " + call;
    if (!filter || a.size() != b.size()) return call;
    std::string pre = "(";
    for (size_t i = 0; i < a.size(); ++i)
      pre += (i ? " OR +" : "+") + operand(*a[i]) + " IS NOT +" + operand(*b[i]);
    return pre + ") AND " + call;
  }

  std::string call(const Expr& e) {
    const std::string& f = e.text;
    const size_t n = e.args.size();
    auto args = [&](size_t from = 0) {
      std::string out;
      for (size_t i = from; i < n; ++i) out += (i > from ? ", " : "") + value(*e.args[i]);
      return out;
    };
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
        return std::string(agg) + "(" + args() + ")";
      }
    if (iequals(f, "iif")) {
      need(3, 3);
      return "(CASE WHEN " + value(*e.args[0]) + " THEN " + value(*e.args[1]) + " ELSE " + value(*e.args[2]) + " END)";
    }
    if (iequals(f, "isnull")) {
      need(1, 1);
      return "(-(" + value(*e.args[0]) + " IS NULL))";
    }
    if (iequals(f, "nz")) {
      need(1, 2);
      return "ifnull(" + value(*e.args[0]) + ", " + (n == 2 ? value(*e.args[1]) : std::string("''")) + ")";
    }
    if (iequals(f, "cstr")) {
      need(1, 1);
      return concat(e.args);
    }
    struct Simple {
      std::string_view jet, sqlite;
      size_t lo, hi;
    };
    static constexpr Simple simple[] = {
        {"len", "length", 1, 1}, {"abs", "abs", 1, 1}, {"ucase", "upper", 1, 1}, {"lcase", "lower", 1, 1},
        {"mid", "substr", 2, 3},
    };
    for (const auto& s : simple)
      if (iequals(f, s.jet)) {
        need(s.lo, s.hi);
        return std::string(s.sqlite) + "(" + args() + ")";
      }
    for (std::string_view t : {"trim", "ltrim", "rtrim"})
      if (iequals(f, t)) {
        need(1, 1);
        return std::string(t) + "(" + args() + ", ' ')";
      }
    if (iequals(f, "left")) {
      need(2, 2);
      return "substr(" + value(*e.args[0]) + ", 1, " + value(*e.args[1]) + ")";
    }
    refuseAt(e, "the function " + f + " is not supported");
  }

  const SqliteRenderOptions& o_;
  std::vector<std::vector<ScopeEntry>> scopes_;
  int fixed_ = 0;
  std::vector<size_t> params_;
};

}  // namespace

SqliteRendering renderSqlite(const Statement& statement, const SqliteRenderOptions& options) {
  return Renderer(options).statement(statement);
}

}  // namespace ovt::dialect
