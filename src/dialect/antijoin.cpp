// The missing-record statement as an anti-join on the match key.
//
// As sent, with k the key and s the record status (the status parts only for Oru tables):
//   ... where [T1].[k] not in (select [T1].[k] from [T1] inner join [T2]
//         on [T1].[k] = [T2].[k] and [T1].s = [T2].s) and [T1].s = c ...
// A record r of T1 is listed when no pair (x, y) of the inner join (x of T1, y of T2, any status)
// has x.k equal to r.k; when r.k is Null, when the join has no pair at all. Written as it stands
// the engine first builds the list of every matched key, then scans T1 again.
//
// The rewrite is made only with one key column (with several, the key is their concatenated
// text, and two different key tuples may have the same text: "1" & "23" = "12" & "3"), and only
// when the engine says the key columns of T1 and T2 compare alike (both text, or both numbers),
// so that equality is one equivalence across both tables: x.k = r.k and x.k = y.k give
// r.k = y.k. With a status, both status columns must be numbers and the statement must keep
// only records with [T1].s = c, a number. Then, for a record r with r.s = c and r.k not Null:
//   some pair (x, y) has x.k = r.k
//   <=> some y of T2 has y.k = r.k and (y.s = r.s, r itself being x,
//       or r.k is among the keys of pairs whose status is not c)
// because a pair (x, y) with x.s = c has y.s = c = r.s, so y is r's own partner. The pairs whose
// status is not c are the few deleted records; their list is built only if a record needs it.
// The result, in the form the engine runs best (r has a partner: P = [T1].[k] = [T2].[k] and
// ([T1].s = [T2].s or [T1].[k] in (<keys of pairs with status not c>))):
//   NotExists: not exists (select 1 from [T2] where [T1].[k] = [T2].[k] and [T1].s = [T2].s)
//              and not exists (<pairs with status not c> and [T1].[k] = x.[k])
//              (two anti-joins without a subquery inside a join: both can run in parallel)
//   LeftJoin:  from [T1] left join [T2] on P ... where [T2].[k] is null (a partner's key is not
//              Null, so exactly the records without one remain, once each)
//   KeyList:   ([T1].[k] is null or [T1].[k] not in (select [T2].[k] from [T2]
//                                                   where [T2].[k] is not null and [T2].s = c))
//              and [T1].[k] not in (<keys of pairs with status not c>)
// each followed by the Null rule of `not in`:
//     and ([T1].[k] is not null or not exists (<any pair>))
// Every comparison keeps the orientation and operands of the one it stands for (T1's column on
// the left, T2's on the right), so each renders with the same collation and conversions.
#include "dialect/antijoin.h"

#include <optional>
#include <string>
#include <vector>

#include "dialect/dialect.h"
#include "ovtbldiff/runtime/text.h"

namespace ovt::dialect {
namespace {

bool iequals(std::string_view a, std::string_view b) { return textEqual(a, b); }

// `needle` (upper-case ASCII) occurs in `haystack`, in any case.
bool contains(std::string_view haystack, std::string_view needle) {
  std::string upper(haystack);
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return upper.find(needle) != std::string::npos;
}

// The aliases of T1 and T2 inside the added subqueries; a statement naming a table so is left.
constexpr const char* kInnerT1 = "ovt$x";
constexpr const char* kInnerT2 = "ovt$y";

// ---- reading the statement ----

// The column name of `e` when it is [table].[column].
std::optional<std::string> columnOf(const Expr& e, std::string_view table) {
  if (e.kind != ExprKind::Column || e.names.size() != 2 || !iequals(e.names[0].text, table)) return std::nullopt;
  return e.names[1].text;
}

// The slots of the conditions AND-ed together in `e`.
void conjuncts(ExprPtr& e, std::vector<ExprPtr*>& out) {
  if (e->kind == ExprKind::Binary && e->op == "AND") {
    conjuncts(e->args[0], out);
    conjuncts(e->args[1], out);
  } else {
    out.push_back(&e);
  }
}

bool plainTable(const Source& s) { return s.kind == Source::Kind::Table && !s.alias; }

// What the rewrite needs from a matching statement.
struct MissingQuery {
  ExprPtr* notIn = nullptr;  // the `not in` condition's slot in the WHERE clause
  std::string t1, t2, key;
  std::optional<std::string> status;  // the record status column, when the join pairs on it
  std::string statusValue;            // c of [T1].s = c
  size_t statusLiteral = 0;           // c's number among the statement's literals
};

// The join condition [T1].[a] = [T2].[a] and ...: the columns paired, in order.
std::optional<std::vector<std::string>> pairedColumns(ExprPtr& on, const std::string& t1, const std::string& t2) {
  std::vector<ExprPtr*> parts;
  conjuncts(on, parts);
  std::vector<std::string> out;
  for (ExprPtr* p : parts) {
    const Expr& e = **p;
    if (e.kind != ExprKind::Binary || e.op != "=") return std::nullopt;
    auto a = columnOf(*e.args[0], t1);
    auto b = columnOf(*e.args[1], t2);
    if (!a || !b || !iequals(*a, *b)) return std::nullopt;
    out.push_back(*a);
  }
  return out;
}

std::optional<MissingQuery> match(Select& s) {
  if (s.into || s.from.size() != 1 || !plainTable(*s.from[0]) || !s.where) return std::nullopt;
  MissingQuery shape;
  shape.t1 = s.from[0]->table.text;
  std::vector<ExprPtr*> where;
  conjuncts(s.where, where);
  for (ExprPtr* slot : where) {
    Expr& e = **slot;
    if (e.kind != ExprKind::InSelect || !e.negated) continue;
    auto key = columnOf(*e.args[0], shape.t1);
    Select& sub = *e.select;
    if (!key || sub.distinct || sub.top || sub.into || sub.where || !sub.groupBy.empty() || sub.having ||
        !sub.orderBy.empty() || sub.items.size() != 1 || !sub.items[0].expr || sub.from.size() != 1)
      continue;
    auto selected = columnOf(*sub.items[0].expr, shape.t1);
    Source& join = *sub.from[0];
    if (!selected || !iequals(*selected, *key) || join.kind != Source::Kind::Join || join.joinType != "INNER" ||
        !plainTable(*join.left) || !plainTable(*join.right) || !iequals(join.left->table.text, shape.t1))
      continue;
    shape.t2 = join.right->table.text;
    auto paired = pairedColumns(join.on, shape.t1, shape.t2);
    if (!paired || paired->empty() || paired->size() > 2 || !iequals((*paired)[0], *key)) continue;
    shape.key = *key;
    if (paired->size() == 2) shape.status = (*paired)[1];
    shape.notIn = slot;
    break;
  }
  if (!shape.notIn || iequals(shape.t1, shape.t2)) return std::nullopt;
  for (const std::string& t : {shape.t1, shape.t2})
    if (iequals(t, kInnerT1) || iequals(t, kInnerT2)) return std::nullopt;
  if (shape.status) {
    // Only records with [T1].s = c are listed.
    for (ExprPtr* slot : where) {
      const Expr& e = **slot;
      if (e.kind == ExprKind::Binary && e.op == "=" && e.args[1]->kind == ExprKind::Number)
        if (auto c = columnOf(*e.args[0], shape.t1); c && iequals(*c, *shape.status)) {
          shape.statusValue = e.args[1]->text;
          shape.statusLiteral = e.args[1]->literal;
          break;
        }
    }
    if (shape.statusValue.empty()) return std::nullopt;
  }
  return shape;
}

bool proven(const MissingQuery& s, const KeyFacts& facts) {
  const KeyClass k1 = facts.columnClass(s.t1, s.key);
  if (k1 == KeyClass::Unknown || facts.columnClass(s.t2, s.key) != k1) return false;
  if (s.status)
    return facts.columnClass(s.t1, *s.status) == KeyClass::Number &&
           facts.columnClass(s.t2, *s.status) == KeyClass::Number;
  return true;
}

// ---- building the new condition ----

// True when every column `e` names is [T1].[column] and it holds no subquery: the expression
// means the same once T2 joins the FROM clause.
bool onlyFirstTable(const Expr& e, const std::string& t1) {
  if (e.select) return false;
  if (e.kind == ExprKind::Column && !columnOf(e, t1)) return false;
  for (const auto& a : e.args)
    if (a && !onlyFirstTable(*a, t1)) return false;
  return true;
}

bool joinable(Select& s, const MissingQuery& shape) {
  for (const SelectItem& it : s.items) {
    if (it.star || (it.starOf && !iequals(it.starOf->text, shape.t1))) return false;
    if (it.expr && !onlyFirstTable(*it.expr, shape.t1)) return false;
  }
  std::vector<ExprPtr*> where;
  conjuncts(s.where, where);
  for (ExprPtr* slot : where)
    if (slot != shape.notIn && !onlyFirstTable(**slot, shape.t1)) return false;
  for (const auto& g : s.groupBy)
    if (!onlyFirstTable(*g, shape.t1)) return false;
  if (s.having && !onlyFirstTable(*s.having, shape.t1)) return false;
  for (const auto& o : s.orderBy)
    if (!onlyFirstTable(*o.expr, shape.t1)) return false;
  return true;
}

class Builder {
 public:
  Builder(const MissingQuery& s, size_t position) : s_(s), position_(position) {}

  // Replaces the `not in` condition of `select` (and, for LeftJoin, its FROM clause).
  void rewrite(Select& target, AntiJoinForm form) {
    ExprPtr unmatched;
    switch (form) {
      case AntiJoinForm::NotExists: {
        ExprPtr own = binary("=", column(s_.t1, s_.key), column(s_.t2, s_.key));
        if (s_.status) own = binary("AND", std::move(own), binary("=", column(s_.t1, *s_.status), column(s_.t2, *s_.status)));
        unmatched = notOf(exists(select(number("1"), table(s_.t2, std::nullopt), std::move(own))));
        if (s_.status) {
          ExprPtr same = binary("=", column(s_.t1, s_.key), column(kInnerT1, s_.key));
          unmatched = binary("AND", std::move(unmatched), notOf(exists(pairs(nullptr, otherStatus(std::move(same))))));
        }
        break;
      }
      case AntiJoinForm::LeftJoin: {
        auto join = std::make_unique<Source>();
        join->kind = Source::Kind::Join;
        join->joinType = "LEFT";
        join->left = std::move(target.from[0]);
        join->right = table(s_.t2, std::nullopt);
        join->on = partner();
        target.from[0] = std::move(join);
        unmatched = isNull(column(s_.t2, s_.key), false);
        break;
      }
      case AntiJoinForm::KeyList:
        unmatched = keyList();
        break;
    }
    // `not in` with a Null key: listed only when the join has no pair at all.
    ExprPtr nullRule = binary("OR", isNull(column(s_.t1, s_.key), true), notOf(exists(pairs(nullptr, nullptr))));
    *s_.notIn = binary("AND", std::move(unmatched), std::move(nullRule));
  }

 private:
  // P: T2's record is r's partner, or r's key is among those of pairs of another status.
  ExprPtr partner() {
    ExprPtr where = binary("=", column(s_.t1, s_.key), column(s_.t2, s_.key));
    if (!s_.status) return where;
    ExprPtr own = binary("=", column(s_.t1, *s_.status), column(s_.t2, *s_.status));
    return binary("AND", std::move(where),
                  binary("OR", std::move(own), in(column(s_.t1, s_.key), otherStatusKeys(), false)));
  }

  ExprPtr keyList() {
    ExprPtr where = isNull(column(s_.t2, s_.key), true);
    if (s_.status) where = binary("AND", std::move(where), binary("=", column(s_.t2, *s_.status), status()));
    ExprPtr own = binary(
        "OR", isNull(column(s_.t1, s_.key), false),
        in(column(s_.t1, s_.key), select(column(s_.t2, s_.key), table(s_.t2, std::nullopt), std::move(where)), true));
    if (!s_.status) return own;
    return binary("AND", std::move(own), in(column(s_.t1, s_.key), otherStatusKeys(), true));
  }

  // The keys of the inner join's pairs whose status is not c.
  SelectPtr otherStatusKeys() { return pairs(column(kInnerT1, s_.key), otherStatus(nullptr)); }

  // x.s <> c and y.s <> c [and more].
  ExprPtr otherStatus(ExprPtr more) {
    ExprPtr where = binary("AND", binary("<>", column(kInnerT1, *s_.status), status()),
                           binary("<>", column(kInnerT2, *s_.status), status()));
    return more ? binary("AND", std::move(where), std::move(more)) : std::move(where);
  }

  // select <item> from [T1] as x inner join [T2] as y on <the statement's join> [where ...];
  // item null: select 1.
  SelectPtr pairs(ExprPtr item, ExprPtr where) {
    ExprPtr on = binary("=", column(kInnerT1, s_.key), column(kInnerT2, s_.key));
    if (s_.status) on = binary("AND", std::move(on), binary("=", column(kInnerT1, *s_.status), column(kInnerT2, *s_.status)));
    auto join = std::make_unique<Source>();
    join->kind = Source::Kind::Join;
    join->joinType = "INNER";
    join->left = table(s_.t1, kInnerT1);
    join->right = table(s_.t2, kInnerT2);
    join->on = std::move(on);
    return select(item ? std::move(item) : number("1"), std::move(join), std::move(where));
  }

  ExprPtr make(ExprKind kind) {
    auto e = std::make_unique<Expr>();
    e->kind = kind;
    e->position = position_;
    return e;
  }
  ExprPtr column(const std::string& table, const std::string& column) {
    ExprPtr e = make(ExprKind::Column);
    e->names = {Name{table, true}, Name{column, true}};
    return e;
  }
  ExprPtr number(const std::string& text) {
    ExprPtr e = make(ExprKind::Number);
    e->text = text;
    return e;
  }
  // The statement's own status literal once more: where literals are bound as parameters it
  // is the same parameter, so that a statement of the same shape with another value reads
  // that value everywhere.
  ExprPtr status() {
    ExprPtr e = number(s_.statusValue);
    e->literal = s_.statusLiteral;
    return e;
  }
  ExprPtr binary(const char* op, ExprPtr l, ExprPtr r) {
    ExprPtr e = make(ExprKind::Binary);
    e->op = op;
    e->height = std::max(l->height, r->height) + 1;
    e->args.push_back(std::move(l));
    e->args.push_back(std::move(r));
    return e;
  }
  ExprPtr notOf(ExprPtr a) {
    ExprPtr e = make(ExprKind::Unary);
    e->op = "NOT";
    e->height = a->height + 1;
    e->args.push_back(std::move(a));
    return e;
  }
  ExprPtr isNull(ExprPtr a, bool negated) {
    ExprPtr e = make(ExprKind::IsNull);
    e->negated = negated;
    e->args.push_back(std::move(a));
    return e;
  }
  ExprPtr exists(SelectPtr sel) {
    ExprPtr e = make(ExprKind::Exists);
    e->select = std::move(sel);
    return e;
  }
  ExprPtr in(ExprPtr value, SelectPtr sel, bool negated) {
    ExprPtr e = make(ExprKind::InSelect);
    e->negated = negated;
    e->args.push_back(std::move(value));
    e->select = std::move(sel);
    return e;
  }
  static SourcePtr table(const std::string& name, std::optional<std::string> alias) {
    auto src = std::make_unique<Source>();
    src->table = Name{name, true};
    if (alias) src->alias = Name{*alias, true};
    return src;
  }
  static SelectPtr select(ExprPtr item, SourcePtr from, ExprPtr where) {
    auto sel = std::make_unique<Select>();
    SelectItem it;
    it.expr = std::move(item);
    sel->items.push_back(std::move(it));
    sel->from.push_back(std::move(from));
    sel->where = std::move(where);
    return sel;
  }

  const MissingQuery& s_;
  size_t position_;
};

}  // namespace

bool rewriteMissingKeys(Statement& statement, const KeyFacts& facts) {
  if (!std::holds_alternative<Select>(statement.body)) return false;
  Select& select = std::get<Select>(statement.body);
  std::optional<MissingQuery> shape = match(select);
  if (!shape || !proven(*shape, facts)) return false;
  AntiJoinForm form = facts.form(shape->t2, shape->key);
  if (form == AntiJoinForm::LeftJoin && !joinable(select, *shape)) form = AntiJoinForm::KeyList;
  Builder(*shape, (*shape->notIn)->position).rewrite(select, form);
  return true;
}

KeyClass sqliteKeyClass(const std::optional<std::string>& declaredType) {
  if (!declaredType) return KeyClass::Unknown;
  const std::string& t = *declaredType;
  const int32_t code = jetTypeCode(t);
  // The engine's affinity rules, in their order.
  const bool integer = contains(t, "INT");
  const bool text = !integer && (contains(t, "CHAR") || contains(t, "CLOB") || contains(t, "TEXT"));
  const bool blob = !integer && !text && (contains(t, "BLOB") || t.find_first_not_of(' ') == std::string::npos);
  if (code != 0 && isNumericTypeCode(code) && !text && !blob) return KeyClass::Number;
  if ((code == 202 || code == 203) && text) return KeyClass::Text;
  return KeyClass::Unknown;
}

KeyClass postgresKeyClass(const std::optional<std::string>& formattedType) {
  if (!formattedType) return KeyClass::Unknown;
  const std::string& t = *formattedType;
  if (t == "text" || t.rfind("character varying", 0) == 0) return KeyClass::Text;
  if (t == "smallint" || t == "integer" || t == "bigint" || t == "real" || t == "double precision" ||
      t.rfind("numeric", 0) == 0 || t == kPgYesNoType)
    return KeyClass::Number;
  return KeyClass::Unknown;
}

}  // namespace ovt::dialect
