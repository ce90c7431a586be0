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

#include "dialect/render_walk.h"

namespace ovt::dialect {
namespace {

std::string bracket(std::string_view name) { return "[" + std::string(name) + "]"; }

class Renderer : public RenderWalk {
 public:
  explicit Renderer(const SqliteRenderOptions& o) : RenderWalk(o.liftLiterals, o.addRowId, o.linkSchema), o_(o) {}

 private:
  // ---- names ----
  std::string ident(std::string_view name) const override { return bracket(name); }
  std::string tableRef(const Name& n) const override {
    TableTarget t = resolveTable(n.text, o_.linkSchema);
    return t.schema.empty() ? bracket(t.table) : bracket(t.schema) + "." + bracket(t.table);
  }
  std::string madeTable(const Name& n) const override { return tableRef(n); }
  std::string columnOf(const Name&, const Name& column) const override { return bracket(column.text); }
  std::string sourceTable(const Name& n, Entry&) override { return tableRef(n); }
  std::string columnRef(const Expr& e) override {
    std::string out;
    for (size_t i = 0; i < e.names.size(); ++i) out += (i ? "." : "") + bracket(e.names[i].text);
    return out;
  }
  // A single table, or the left join of an anti-join (each row one record of its left table;
  // the caller asks for the rowid only of a statement that read one table as it was sent).
  const Source* rowIdSource(const Source& first) const override {
    const Source* s = &first;
    if (s->kind == Source::Kind::Join && s->joinType == "LEFT") s = s->left.get();
    return s->kind == Source::Kind::Table ? s : nullptr;
  }
  const char* rowIdName() const override { return "rowid"; }

  // ---- statements ----
  const ColumnDef* automaticKey(const CreateTable& ct) const override {
    const ColumnDef* counter = nullptr;
    for (const auto& c : ct.columns) {
      if (isCounter(c)) {
        if (counter) refuse("a table can have only one COUNTER column");
        counter = &c;
      }
    }
    if (counter) {
      bool otherPk = std::any_of(ct.columns.begin(), ct.columns.end(),
                                 [&](const ColumnDef& c) { return c.primaryKey && &c != counter; });
      if (!ct.primaryKey.empty() && !(ct.primaryKey.size() == 1 && iequals(ct.primaryKey[0].text, counter->name.text)))
        otherPk = true;
      if (otherPk) refuse("a COUNTER column must be the table's only primary key");
    }
    return counter;
  }
  static bool isCounter(const ColumnDef& c) { return iequals(c.type, "COUNTER") || iequals(c.type, "AUTOINCREMENT"); }

  // Declared types keep the dialect's names, so that types read back map to the same codes;
  // the few whose SQLite affinity would turn text into numbers get a name of the same code.
  // The COUNTER column is the engine's automatic key: a rowid alias that never reuses a key.
  std::string columnType(const ColumnDef& c) const override {
    if (isCounter(c)) return "INTEGER PRIMARY KEY AUTOINCREMENT";
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

  // An index lives in its table's schema and names the table without it.
  std::string indexOn(const CreateIndex& ci) const override {
    TableTarget t = resolveTable(ci.table.text, o_.linkSchema);
    return index(ci.index, t) + " ON " + bracket(t.table);
  }
  std::string droppedIndex(const DropIndex& di) const override {
    return index(di.index, resolveTable(di.table.text, o_.linkSchema));
  }
  static std::string index(const Name& index, const TableTarget& t) {
    return (t.schema.empty() ? "" : bracket(t.schema) + ".") + bracket(index.text);
  }

  // ---- expressions ----
  std::string lifted(const Expr& e) override {
    lift(e);
    return "?" + std::to_string(e.literal);
  }
  std::string quoteText(std::string_view s) const override {
    std::string out = "'";
    for (char c : s) {
      if (c == '\'') out += '\'';
      out += c;
    }
    out += '\'';
    return out;
  }
  std::string dateLiteral(const Expr& e) const override { return quoteText(e.text); }
  const char* floatingType() const override { return "REAL"; }

  bool needsCollation(const Expr& a, const Expr* b = nullptr) const {
    return o_.caseInsensitive && !knownNumeric(a) && !(b && knownNumeric(*b));
  }
  std::string collated(const Expr& e) override {
    return needsCollation(e) ? operand(e) + " COLLATE " + kTextCollation : value(e);
  }
  std::string comparedLeft(const Expr& l, const Expr* r) override {
    std::string out = operand(l);
    if (needsCollation(l, r)) {
      out += " COLLATE ";
      out += kTextCollation;
    }
    return out;
  }
  std::string rangeLeft(const Expr& between) override { return comparedLeft(*between.args[0], nullptr); }

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
        for (const auto& entry : s->entries)
          if (auto n = numericIn(entry.table, e.names[0].text)) return *n;
      return false;
    }
    if (e.names.size() == 2) {
      for (auto s = scopes_.rbegin(); s != scopes_.rend(); ++s)
        for (const auto& entry : s->entries)
          if (iequals(entry.exposed, e.names[0].text)) return numericIn(entry.table, e.names[1].text).value_or(false);
    }
    return false;
  }

  std::string like(const Expr& e) override {
    std::string out = std::string(kLikeFunction) + "(" + value(*e.args[1]) + ", " + value(*e.args[0]) + ")";
    return e.negated ? "NOT " + out : out;
  }

  std::string concat(const std::vector<ExprPtr>& parts) override {
    std::string out = std::string(kConcatFunction) + "(";
    for (size_t i = 0; i < parts.size(); ++i) out += (i ? ", " : "") + value(*parts[i]);
    return out + ")";
  }

  // One call that builds both texts and compares them. For n = m in a filter position an
  // exact prefilter goes first: when every pair is the same value (compared without
  // affinity), the texts are the same, so the row cannot differ.
  std::string groupComparison(const std::string& op, const std::vector<ExprPtr>& a, const std::vector<ExprPtr>& b,
                              bool filter) override {
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

  std::string isNullCall(const Expr& e) override { return "(-(" + value(*e.args[0]) + " IS NULL))"; }
  std::string nzCall(const Expr& e) override {
    return "ifnull(" + value(*e.args[0]) + ", " + (e.args.size() == 2 ? value(*e.args[1]) : std::string("''")) + ")";
  }
  std::string cstrCall(const Expr& e) override { return concat(e.args); }
  std::string leftCall(const Expr& e) override {
    return "substr(" + value(*e.args[0]) + ", 1, " + value(*e.args[1]) + ")";
  }
  const char* trimFunction() const override { return "trim"; }

  const SqliteRenderOptions& o_;
};

}  // namespace

SqliteRendering renderSqlite(const Statement& statement, const SqliteRenderOptions& options) {
  return Renderer(options).statement(statement).as<SqliteRendering>();
}

}  // namespace ovt::dialect
