// Tokenizer and recursive-descent parser of the Jet dialect. Operator precedence, loosest
// first: OR, AND, NOT, comparisons (= <> < > <= >=, IS [NOT] NULL, [NOT] IN, [NOT] BETWEEN,
// [NOT] LIKE), & (concatenation), + -, MOD, * /, unary - +. Keywords are recognised by
// position only, so a column named Type or Name needs no brackets.
#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "dialect/dialect.h"
#include "ovtbldiff/runtime/error.h"
#include "ovtbldiff/runtime/variant.h"

namespace ovt::dialect {
namespace {

enum class Tok { Word, Bracketed, String, Number, Date, Symbol, End };

struct Token {
  Tok kind;
  std::string text;
  size_t pos;
  size_t literal = 0;  // literals (texts, numbers, dates, True, False, Null) numbered from 1
};

std::string snippet(std::string_view text, size_t pos) {
  std::string s(text.substr(pos, 20));
  return s;
}

[[noreturn]] void refuse(std::string_view text, size_t pos, const std::string& reason) {
  std::string msg = "Syntax error in statement: " + reason;
  if (pos < text.size())
    msg += " at position " + std::to_string(pos + 1) + " near '" + snippet(text, pos) + "'";
  else
    msg += " at the end of the statement";
  raiseError(kSyntaxError, kErrorSource, msg);
}

// ASCII letters and digits, as the C locale has them, whatever locale the host set.
constexpr bool isAsciiLetter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool isWordStart(unsigned char c) { return isAsciiLetter(c) || c == '_' || c >= 0x80; }
constexpr bool isWordChar(unsigned char c) { return isAsciiLetter(c) || (c >= '0' && c <= '9') || c == '_' || c >= 0x80; }

// Date literal text between the hashes: ISO "y-m-d[ h:m[:s]]" or US "m/d/y[ h:m[:s] [AM|PM]]",
// or a time alone.
std::optional<std::string> dateLiteral(std::string_view s) {
  std::string t(s);
  while (!t.empty() && t.front() == ' ') t.erase(t.begin());
  while (!t.empty() && t.back() == ' ') t.pop_back();
  int y = 1899, mo = 12, d = 30, h = 0, mi = 0, se = 0;
  char ampm[3] = {0, 0, 0};
  int n = 0;
  bool ok = false;
  auto full = [&](int consumed) { return consumed == static_cast<int>(t.size()); };
  if (std::sscanf(t.c_str(), "%d-%d-%d %d:%d:%d%n", &y, &mo, &d, &h, &mi, &se, &n) == 6 && full(n)) ok = true;
  else if (n = 0, h = mi = se = 0, std::sscanf(t.c_str(), "%d-%d-%d %d:%d%n", &y, &mo, &d, &h, &mi, &n) == 5 && full(n)) ok = true;
  else if (n = 0, h = mi = se = 0, std::sscanf(t.c_str(), "%d-%d-%d%n", &y, &mo, &d, &n) == 3 && full(n)) ok = true;
  else if (n = 0, h = mi = se = 0, std::sscanf(t.c_str(), "%d/%d/%d %d:%d:%d%n", &mo, &d, &y, &h, &mi, &se, &n) == 6 && full(n)) ok = true;
  else if (n = 0, h = mi = se = 0, std::sscanf(t.c_str(), "%d/%d/%d %d:%d:%d %2s%n", &mo, &d, &y, &h, &mi, &se, ampm, &n) == 7 && full(n)) ok = true;
  else if (n = 0, h = mi = se = 0, std::sscanf(t.c_str(), "%d/%d/%d %d:%d%n", &mo, &d, &y, &h, &mi, &n) == 5 && full(n)) ok = true;
  else if (n = 0, h = mi = se = 0, std::sscanf(t.c_str(), "%d/%d/%d%n", &mo, &d, &y, &n) == 3 && full(n)) ok = true;
  else if (n = 0, y = 1899, mo = 12, d = 30, h = mi = se = 0,
           std::sscanf(t.c_str(), "%d:%d:%d%n", &h, &mi, &se, &n) == 3 && full(n)) ok = true;
  if (!ok) return std::nullopt;
  if (ampm[0]) {
    std::string a(ampm);
    if (iequals(a, "PM") && h < 12) h += 12;
    else if (iequals(a, "AM") && h == 12) h = 0;
    else if (!iequals(a, "PM") && !iequals(a, "AM")) return std::nullopt;
  }
  if (y >= 0 && y < 30) y += 2000;  // two-digit years as the platform reads them
  else if (y >= 30 && y < 100) y += 1900;
  try {
    return formatDate(makeDate(y, mo, d, h, mi, se));
  } catch (const ComError&) {
    return std::nullopt;
  }
}

bool isLiteralWord(std::string_view w) { return iequals(w, "TRUE") || iequals(w, "FALSE") || iequals(w, "NULL"); }

bool isLiteralToken(const Token& t) {
  switch (t.kind) {
    case Tok::String: case Tok::Number: case Tok::Date: return true;
    case Tok::Word: return isLiteralWord(t.text);
    default: return false;
  }
}

// Cuts a statement into tokens in one pass, handing each to `emit(kind, text, pos)` without
// keeping it: `text` is the token's value (a text literal unquoted, a date in ISO form, a
// bracketed name without its brackets) and lives only during the call. The End token closes.
template <class Emit>
void scanTokens(std::string_view text_, Emit&& emit) {
  std::string value;  // a text literal with doubled quotes, unquoted
  size_t i = 0;
  while (true) {
    while (i < text_.size() && (text_[i] == ' ' || text_[i] == '\t' || text_[i] == '\r' || text_[i] == '\n')) ++i;
    if (i >= text_.size()) break;
    const size_t start = i;
    const unsigned char c = static_cast<unsigned char>(text_[i]);
    if (c == '[') {
      size_t close = text_.find(']', i + 1);
      if (close == std::string_view::npos) refuse(text_, start, "unterminated bracketed name");
      if (close == i + 1) refuse(text_, start, "empty bracketed name");
      emit(Tok::Bracketed, text_.substr(i + 1, close - i - 1), start);
      i = close + 1;
    } else if (c == '\'' || c == '"') {
      ++i;
      const size_t from = i;
      bool closed = false, doubled = false;
      value.clear();
      while (i < text_.size()) {
        if (static_cast<unsigned char>(text_[i]) == c) {
          if (i + 1 < text_.size() && static_cast<unsigned char>(text_[i + 1]) == c) {
            if (!doubled) value.assign(text_.substr(from, i - from));
            doubled = true;
            value += static_cast<char>(c);
            i += 2;
            continue;
          }
          ++i;
          closed = true;
          break;
        }
        if (doubled) value += text_[i];
        ++i;
      }
      if (!closed) refuse(text_, start, "unterminated text literal");
      emit(Tok::String, doubled ? std::string_view(value) : text_.substr(from, i - 1 - from), start);
    } else if (c == '#') {
      size_t close = text_.find('#', i + 1);
      if (close == std::string_view::npos) refuse(text_, start, "unterminated date literal");
      auto iso = dateLiteral(text_.substr(i + 1, close - i - 1));
      if (!iso) refuse(text_, start, "invalid date literal");
      emit(Tok::Date, std::string_view(*iso), start);
      i = close + 1;
    } else if (std::isdigit(c) || (c == '.' && i + 1 < text_.size() && std::isdigit(static_cast<unsigned char>(text_[i + 1])))) {
      while (i < text_.size() && std::isdigit(static_cast<unsigned char>(text_[i]))) ++i;
      if (i < text_.size() && text_[i] == '.') {
        ++i;
        while (i < text_.size() && std::isdigit(static_cast<unsigned char>(text_[i]))) ++i;
      }
      if (i < text_.size() && (text_[i] == 'e' || text_[i] == 'E')) {
        size_t j = i + 1;
        if (j < text_.size() && (text_[j] == '+' || text_[j] == '-')) ++j;
        if (j < text_.size() && std::isdigit(static_cast<unsigned char>(text_[j]))) {
          i = j;
          while (i < text_.size() && std::isdigit(static_cast<unsigned char>(text_[i]))) ++i;
        }
      }
      if (i < text_.size() && isWordStart(static_cast<unsigned char>(text_[i])))
        refuse(text_, start, "malformed number");
      emit(Tok::Number, text_.substr(start, i - start), start);
    } else if (isWordStart(c)) {
      while (i < text_.size() && isWordChar(static_cast<unsigned char>(text_[i]))) ++i;
      emit(Tok::Word, text_.substr(start, i - start), start);
    } else {
      static constexpr std::array<std::string_view, 3> two = {"<>", "<=", ">="};
      std::string_view sym;
      for (auto t : two)
        if (text_.substr(i, 2) == t) sym = t;
      if (sym.empty()) {
        static constexpr std::string_view one = "=<>+-*/&(),.;";
        if (one.find(static_cast<char>(c)) == std::string_view::npos)
          refuse(text_, start, std::string("unexpected character '") + static_cast<char>(c) + "'");
        sym = text_.substr(i, 1);
      }
      emit(Tok::Symbol, sym, start);
      i += sym.size();
    }
  }
  emit(Tok::End, std::string_view(), text_.size());
}

class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {}

  std::vector<Token> run() {
    std::vector<Token> out;
    out.reserve(text_.size() / 4 + 2);
    size_t literals = 0;
    scanTokens(text_, [&](Tok kind, std::string_view text, size_t pos) {
      out.push_back({kind, std::string(text), pos});
      if (isLiteralToken(out.back())) out.back().literal = ++literals;
    });
    return out;
  }

 private:
  std::string_view text_;
};

// Words that end an expression or start a clause; never taken as a bare column name.
constexpr std::array<std::string_view, 43> kReserved = {
    "SELECT", "FROM", "WHERE", "GROUP", "ORDER", "HAVING", "AND", "OR", "NOT", "IN", "IS",
    "LIKE", "BETWEEN", "AS", "ON", "JOIN", "INNER", "LEFT", "RIGHT", "OUTER", "INTO", "UNION",
    "BY", "NULL", "TRUE", "FALSE", "EXISTS", "SET", "VALUES", "MOD", "XOR", "EQV", "IMP",
    "DISTINCT", "DISTINCTROW", "TOP", "ASC", "DESC", "INSERT", "UPDATE", "DELETE", "FULL", "CROSS"};

bool isReserved(std::string_view w) {
  return std::any_of(kReserved.begin(), kReserved.end(), [&](std::string_view r) { return iequals(r, w); });
}

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text), toks_(Lexer(text).run()) {}

  Statement statement() {
    Statement st = [&]() -> Statement {
      if (word("SELECT")) return Statement{parseSelect()};
      if (word("INSERT")) return Statement{parseInsert()};
      if (word("UPDATE")) return Statement{parseUpdate()};
      if (word("DELETE")) return Statement{parseDelete()};
      if (word("CREATE")) return parseCreate();
      if (word("DROP")) return parseDrop();
      if (peek().kind == Tok::Symbol && peek().text == "(") fail("a statement cannot begin with a parenthesis");
      fail("unknown statement; expected SELECT, INSERT, UPDATE, DELETE, CREATE or DROP");
    }();
    if (symbol(";")) {
      if (peek().kind != Tok::End) fail("only one statement is allowed; text follows the first one");
    }
    if (peek().kind != Tok::End) {
      if (word("UNION")) fail("UNION is not supported");
      fail("unexpected text after the end of the statement");
    }
    return st;
  }

 private:
  const Token& peek(size_t ahead = 0) const { return toks_[std::min(pos_ + ahead, toks_.size() - 1)]; }
  const Token& next() {
    const Token& t = toks_[pos_];
    if (pos_ + 1 < toks_.size()) ++pos_;
    return t;
  }
  bool isWord(std::string_view w, size_t ahead = 0) const {
    return peek(ahead).kind == Tok::Word && iequals(peek(ahead).text, w);
  }
  bool word(std::string_view w) {
    if (!isWord(w)) return false;
    next();
    return true;
  }
  bool isSymbol(std::string_view s, size_t ahead = 0) const {
    return peek(ahead).kind == Tok::Symbol && peek(ahead).text == s;
  }
  bool symbol(std::string_view s) {
    if (!isSymbol(s)) return false;
    next();
    return true;
  }
  [[noreturn]] void fail(const std::string& reason) const { refuse(text_, peek().pos, reason); }
  void expectWord(std::string_view w) {
    if (!word(w)) fail("expected " + std::string(w));
  }
  void expectSymbol(std::string_view s) {
    if (!symbol(s)) fail("expected '" + std::string(s) + "'");
  }

  // Any identifier: bracketed, or a bare word (keywords too when `anyWord`).
  Name name(const char* what, bool anyWord = false) {
    const Token& t = peek();
    if (t.kind == Tok::Bracketed) {
      next();
      return {t.text, true};
    }
    if (t.kind == Tok::Word && (anyWord || !isReserved(t.text))) {
      next();
      return {t.text, false};
    }
    fail(std::string("expected ") + what);
  }
  bool atName() const {
    return peek().kind == Tok::Bracketed || (peek().kind == Tok::Word && !isReserved(peek().text));
  }

  // Table names may be qualified only by nothing: a `db.table` or `IN 'file'` form is refused.
  Name tableName() {
    Name n = name("a table name", true);
    if (isSymbol(".")) fail("qualified table names are not supported");
    return n;
  }

  // ---- statements ----
  Select parseSelect() {
    Select s;
    if (word("DISTINCT") || word("DISTINCTROW")) s.distinct = true;
    if (word("TOP")) {
      if (peek().kind != Tok::Number) fail("expected a number after TOP");
      int64_t n = 0;
      const std::string& t = next().text;
      auto r = std::from_chars(t.data(), t.data() + t.size(), n);
      if (r.ec != std::errc() || r.ptr != t.data() + t.size()) refuse(text_, peek().pos, "TOP needs a whole number");
      if (isWord("PERCENT")) fail("TOP ... PERCENT is not supported");
      s.top = n;
    }
    do s.items.push_back(selectItem());
    while (symbol(","));
    if (word("INTO")) s.into = tableName();
    if (word("FROM")) {
      do s.from.push_back(joinedSource());
      while (symbol(","));
    }
    if (word("WHERE")) s.where = expr();
    if (word("GROUP")) {
      expectWord("BY");
      do s.groupBy.push_back(expr());
      while (symbol(","));
    }
    if (word("HAVING")) s.having = expr();
    if (word("ORDER")) {
      expectWord("BY");
      do s.orderBy.push_back(orderItem());
      while (symbol(","));
    }
    return s;
  }

  OrderItem orderItem() {
    OrderItem o;
    o.expr = expr();
    if (word("DESC")) o.descending = true;
    else word("ASC");
    return o;
  }

  SelectItem selectItem() {
    SelectItem it;
    if (symbol("*")) {
      it.star = true;
      return it;
    }
    // T.* : a name, a dot and a star.
    if ((peek().kind == Tok::Bracketed || peek().kind == Tok::Word) && isSymbol(".", 1) && isSymbol("*", 2)) {
      it.starOf = name("a table name", true);
      next();
      next();
      return it;
    }
    it.expr = expr();
    if (word("AS")) it.alias = name("an alias", true);
    return it;
  }

  SourcePtr joinedSource() {
    SourcePtr left = primarySource();
    while (true) {
      std::string type;
      if (word("INNER")) type = "INNER";
      else if (word("LEFT")) type = "LEFT", word("OUTER");
      else if (word("RIGHT")) type = "RIGHT", word("OUTER");
      else if (isWord("JOIN")) type = "INNER";
      else if (isWord("FULL") || isWord("CROSS")) fail("this kind of join is not supported");
      else break;
      expectWord("JOIN");
      auto j = std::make_unique<Source>();
      j->kind = Source::Kind::Join;
      j->joinType = type;
      j->left = std::move(left);
      j->right = primarySource();
      expectWord("ON");
      j->on = expr();
      left = std::move(j);
    }
    return left;
  }

  SourcePtr primarySource() {
    auto src = std::make_unique<Source>();
    if (isSymbol("(") && ++depth_ > kMaxDepth) fail("the statement is nested too deeply");
    if (symbol("(")) {
      if (word("SELECT")) {
        src->kind = Source::Kind::Subquery;
        src->select = std::make_unique<Select>(parseSelect());
        expectSymbol(")");
      } else {
        src = joinedSource();
        expectSymbol(")");
        --depth_;
        return src;
      }
      --depth_;
    } else {
      src->table = tableName();
    }
    if (word("AS")) src->alias = name("an alias", true);
    else if (atName()) src->alias = name("an alias");
    if (src->kind == Source::Kind::Subquery && !src->alias) fail("a subquery in FROM needs an alias");
    return src;
  }

  Insert parseInsert() {
    Insert ins;
    expectWord("INTO");
    ins.table = tableName();
    if (symbol("(")) {
      do ins.columns.push_back(name("a column name", true));
      while (symbol(","));
      expectSymbol(")");
    }
    if (word("SELECT")) {
      ins.select = std::make_unique<Select>(parseSelect());
      if (ins.select->into) fail("INSERT ... SELECT cannot have INTO");
    } else if (word("VALUES")) {
      do {
        expectSymbol("(");
        std::vector<ExprPtr> row;
        do row.push_back(expr());
        while (symbol(","));
        expectSymbol(")");
        ins.rows.push_back(std::move(row));
      } while (symbol(","));
    } else {
      fail("expected SELECT or VALUES");
    }
    return ins;
  }

  Update parseUpdate() {
    Update up;
    up.table = tableName();
    if (!isWord("SET")) fail("expected SET (joins in UPDATE are not supported)");
    next();
    do {
      Assignment a;
      a.column = name("a column name", true);
      if (symbol(".")) a.column = name("a column name", true);  // [T].[col]: the column alone
      expectSymbol("=");
      a.value = expr();
      up.assignments.push_back(std::move(a));
    } while (symbol(","));
    if (word("WHERE")) up.where = expr();
    return up;
  }

  Delete parseDelete() {
    Delete del;
    if (symbol("*")) {
    } else if (!isWord("FROM")) {
      name("a table name", true);
      expectSymbol(".");
      expectSymbol("*");
    }
    expectWord("FROM");
    del.table = tableName();
    if (word("WHERE")) del.where = expr();
    return del;
  }

  Statement parseCreate() {
    bool unique = word("UNIQUE");
    if (word("INDEX")) {
      CreateIndex ci;
      ci.unique = unique;
      ci.index = name("an index name", true);
      expectWord("ON");
      ci.table = tableName();
      expectSymbol("(");
      do {
        OrderItem o;
        auto e = std::make_unique<Expr>();
        e->kind = ExprKind::Column;
        e->position = peek().pos;
        e->names.push_back(name("a column name", true));
        o.expr = std::move(e);
        if (word("DESC")) o.descending = true;
        else word("ASC");
        ci.columns.push_back(std::move(o));
      } while (symbol(","));
      expectSymbol(")");
      return Statement{std::move(ci)};
    }
    if (unique) fail("expected INDEX");
    expectWord("TABLE");
    CreateTable ct;
    ct.table = tableName();
    expectSymbol("(");
    do {
      if (word("CONSTRAINT")) name("a constraint name", true);
      if (word("PRIMARY")) {
        expectWord("KEY");
        ct.primaryKey = nameList();
      } else if (word("UNIQUE")) {
        ct.uniques.push_back(nameList());
      } else {
        ct.columns.push_back(columnDef());
      }
    } while (symbol(","));
    expectSymbol(")");
    if (ct.columns.empty()) fail("a table needs at least one column");
    return Statement{std::move(ct)};
  }

  std::vector<Name> nameList() {
    std::vector<Name> names;
    expectSymbol("(");
    do names.push_back(name("a column name", true));
    while (symbol(","));
    expectSymbol(")");
    return names;
  }

  ColumnDef columnDef() {
    ColumnDef c;
    c.name = name("a column name", true);
    if (peek().kind != Tok::Word) fail("expected a data type");
    c.type = next().text;
    if (symbol("(")) {
      do {
        if (peek().kind != Tok::Number) fail("expected a size");
        int64_t n = 0;
        const std::string& t = next().text;
        auto r = std::from_chars(t.data(), t.data() + t.size(), n);
        if (r.ec != std::errc() || r.ptr != t.data() + t.size()) fail("a size must be a whole number");
        c.size.push_back(n);
      } while (symbol(","));
      expectSymbol(")");
    }
    while (true) {
      if (word("NOT")) {
        expectWord("NULL");
        c.notNull = true;
      } else if (word("NULL")) {
      } else if (word("PRIMARY")) {
        expectWord("KEY");
        c.primaryKey = true;
      } else if (word("UNIQUE")) {
        c.unique = true;
      } else if (word("DEFAULT")) {
        c.defaultValue = unary();
      } else if (word("CONSTRAINT")) {
        name("a constraint name", true);
      } else {
        break;
      }
    }
    return c;
  }

  Statement parseDrop() {
    if (word("TABLE")) return Statement{DropTable{tableName()}};
    if (word("INDEX")) {
      DropIndex di;
      di.index = name("an index name", true);
      expectWord("ON");
      di.table = tableName();
      return Statement{std::move(di)};
    }
    fail("expected TABLE or INDEX");
  }

  // ---- expressions ----
  ExprPtr make(ExprKind k, size_t pos) {
    auto e = std::make_unique<Expr>();
    e->kind = k;
    e->position = pos;
    return e;
  }
  ExprPtr makeLiteral(ExprKind k, const Token& t) {
    auto e = make(k, t.pos);
    e->literal = t.literal;
    return e;
  }
  ExprPtr binary(std::string op, ExprPtr l, ExprPtr r, size_t pos) {
    // A long chain of operators makes a deep tree; the renderers walk it recursively.
    const int height = 1 + std::max(heightOf(*l), heightOf(*r));
    if (height > kMaxHeight) refuse(text_, pos, "the expression is too long");
    auto e = make(ExprKind::Binary, pos);
    e->height = height;
    e->op = std::move(op);
    e->args.push_back(std::move(l));
    e->args.push_back(std::move(r));
    return e;
  }

  ExprPtr expr() {
    if (++depth_ > kMaxDepth) fail("the statement is nested too deeply");
    ExprPtr e = orExpr();
    --depth_;
    return e;
  }

  ExprPtr orExpr() {
    ExprPtr l = andExpr();
    while (isWord("OR")) {
      size_t p = next().pos;
      l = binary("OR", std::move(l), andExpr(), p);
    }
    if (isWord("XOR") || isWord("EQV") || isWord("IMP")) fail("XOR, EQV and IMP are not supported");
    return l;
  }

  ExprPtr andExpr() {
    ExprPtr l = notExpr();
    while (isWord("AND")) {
      size_t p = next().pos;
      l = binary("AND", std::move(l), notExpr(), p);
    }
    return l;
  }

  ExprPtr notExpr() {
    if (isWord("NOT") && !isWord("IN", 1)) {
      size_t p = next().pos;
      if (++depth_ > kMaxDepth) fail("the statement is nested too deeply");
      auto e = make(ExprKind::Unary, p);
      e->op = "NOT";
      e->args.push_back(notExpr());
      --depth_;
      return e;
    }
    return comparison();
  }

  ExprPtr comparison() {
    ExprPtr l = concat();
    while (true) {
      const Token& t = peek();
      if (t.kind == Tok::Symbol && (t.text == "=" || t.text == "<>" || t.text == "<" || t.text == ">" ||
                                    t.text == "<=" || t.text == ">=")) {
        std::string op = next().text;
        l = binary(op, std::move(l), concat(), t.pos);
        continue;
      }
      if (isWord("IS")) {
        size_t p = next().pos;
        auto e = make(ExprKind::IsNull, p);
        e->negated = word("NOT");
        expectWord("NULL");
        e->args.push_back(std::move(l));
        l = std::move(e);
        continue;
      }
      bool negated = false;
      if (isWord("NOT") && (isWord("IN", 1) || isWord("BETWEEN", 1) || isWord("LIKE", 1))) {
        next();
        negated = true;
      }
      if (isWord("IN")) {
        size_t p = next().pos;
        expectSymbol("(");
        ExprPtr e;
        if (word("SELECT")) {
          e = make(ExprKind::InSelect, p);
          e->select = std::make_unique<Select>(parseSelect());
          if (e->select->into) fail("a subquery cannot have INTO");
        } else {
          e = make(ExprKind::InList, p);
          e->args.push_back(nullptr);
          do e->args.push_back(expr());
          while (symbol(","));
        }
        expectSymbol(")");
        e->negated = negated;
        if (e->kind == ExprKind::InList) e->args[0] = std::move(l);
        else e->args.insert(e->args.begin(), std::move(l));
        l = std::move(e);
        continue;
      }
      if (isWord("BETWEEN")) {
        size_t p = next().pos;
        auto e = make(ExprKind::Between, p);
        e->negated = negated;
        e->args.push_back(std::move(l));
        e->args.push_back(concat());
        expectWord("AND");
        e->args.push_back(concat());
        l = std::move(e);
        continue;
      }
      if (isWord("LIKE")) {
        size_t p = next().pos;
        auto e = make(ExprKind::Like, p);
        e->negated = negated;
        e->args.push_back(std::move(l));
        e->args.push_back(concat());
        l = std::move(e);
        continue;
      }
      if (negated) fail("expected IN, BETWEEN or LIKE after NOT");
      return l;
    }
  }

  ExprPtr concat() {
    ExprPtr l = additive();
    if (!isSymbol("&")) return l;
    auto e = make(ExprKind::Concat, peek().pos);
    auto add = [&](ExprPtr x) {
      if (x->kind == ExprKind::Concat)  // (a & b) & c has the meaning of a & b & c
        for (auto& a : x->args) e->args.push_back(std::move(a));
      else
        e->args.push_back(std::move(x));
    };
    add(std::move(l));
    while (symbol("&")) add(additive());
    return e;
  }

  ExprPtr additive() {
    ExprPtr l = modulo();
    while (isSymbol("+") || isSymbol("-")) {
      const Token& t = next();
      l = binary(t.text, std::move(l), modulo(), t.pos);
    }
    return l;
  }

  ExprPtr modulo() {
    ExprPtr l = multiplicative();
    while (isWord("MOD")) {
      size_t p = next().pos;
      l = binary("MOD", std::move(l), multiplicative(), p);
    }
    return l;
  }

  ExprPtr multiplicative() {
    ExprPtr l = unary();
    while (isSymbol("*") || isSymbol("/")) {
      const Token& t = next();
      l = binary(t.text, std::move(l), unary(), t.pos);
    }
    return l;
  }

  ExprPtr unary() {
    if (isSymbol("-") || isSymbol("+")) {
      const Token& t = next();
      if (++depth_ > kMaxDepth) fail("the statement is nested too deeply");
      auto e = make(ExprKind::Unary, t.pos);
      e->op = t.text;
      e->args.push_back(unary());
      --depth_;
      return e;
    }
    return primary();
  }

  ExprPtr primary() {
    const Token& t = peek();
    switch (t.kind) {
      case Tok::Number: {
        auto e = makeLiteral(ExprKind::Number, t);
        e->text = next().text;
        return e;
      }
      case Tok::String: {
        auto e = makeLiteral(ExprKind::String, t);
        e->text = next().text;
        return e;
      }
      case Tok::Date: {
        auto e = makeLiteral(ExprKind::Date, t);
        e->text = next().text;
        return e;
      }
      case Tok::Symbol:
        if (t.text == "(") {
          size_t p = next().pos;
          if (word("SELECT")) {
            auto e = make(ExprKind::Subquery, p);
            e->select = std::make_unique<Select>(parseSelect());
            if (e->select->into) fail("a subquery cannot have INTO");
            expectSymbol(")");
            return e;
          }
          ExprPtr e = expr();
          expectSymbol(")");
          return e;
        }
        fail("expected a value");
      case Tok::End:
        fail("the statement ends where a value is expected");
      case Tok::Word:
        if (iequals(t.text, "NULL")) return next(), makeLiteral(ExprKind::Null, t);
        if (iequals(t.text, "TRUE") || iequals(t.text, "FALSE")) {
          auto e = makeLiteral(ExprKind::Boolean, t);
          e->text = iequals(next().text, "TRUE") ? "-1" : "0";
          return e;
        }
        if (iequals(t.text, "EXISTS")) {
          size_t p = next().pos;
          expectSymbol("(");
          expectWord("SELECT");
          auto e = make(ExprKind::Exists, p);
          e->select = std::make_unique<Select>(parseSelect());
          expectSymbol(")");
          return e;
        }
        if (isSymbol("(", 1)) return call();
        if (isReserved(t.text)) fail("unexpected keyword " + t.text);
        return column();
      case Tok::Bracketed:
        return column();
    }
    fail("expected a value");
  }

  ExprPtr column() {
    auto e = make(ExprKind::Column, peek().pos);
    e->names.push_back(name("a name", true));
    while (symbol(".")) {
      if (e->names.size() >= 3) fail("too many name parts");
      e->names.push_back(name("a name", true));
    }
    return e;
  }

  ExprPtr call() {
    auto e = make(ExprKind::Call, peek().pos);
    e->text = next().text;
    expectSymbol("(");
    if (symbol(")")) return e;
    if (isSymbol("*")) {
      e->args.push_back(make(ExprKind::Star, next().pos));
    } else {
      if (word("DISTINCT")) fail("DISTINCT inside a function is not supported");
      do e->args.push_back(expr());
      while (symbol(","));
    }
    expectSymbol(")");
    return e;
  }

  static constexpr int kMaxDepth = 200;
  static constexpr int kMaxHeight = 2000;
  static int heightOf(const Expr& e) { return e.height; }

  std::string_view text_;
  std::vector<Token> toks_;
  size_t pos_ = 0;
  int depth_ = 0;
};

}  // namespace

Statement parse(std::string_view text) { return Parser(text).statement(); }

namespace {

bool wholeNumber(std::string_view text) {
  if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
  int64_t n = 0;
  auto r = std::from_chars(text.data(), text.data() + text.size(), n);
  return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

// The statement's tokens as scanTokens cuts them, for text the single pass below does not take:
// raises the tokenizer's own refusal.
[[noreturn]] void refuseAsTokenizer(std::string_view text, size_t pos) {
  scanTokens(text, [](Tok, std::string_view, size_t) {});
  refuse(text, pos, "unexpected text");  // not reached: the tokenizer refuses what the pass does
}

// ASCII case-insensitive comparison of a word with an upper-case keyword of the same length.
bool isKeyword(const char* word, std::string_view upper) {
  for (size_t k = 0; k < upper.size(); ++k)
    if ((static_cast<unsigned char>(word[k]) | 0x20) != (static_cast<unsigned char>(upper[k]) | 0x20)) return false;
  return true;
}

// What a character starts (or continues) for the tokenizer; kOther is refused.
enum CharClass : uint8_t { kOther, kLetter, kDigit, kBlank, kSymbol, kBracket, kQuote, kHash, kDot };

constexpr std::array<uint8_t, 256> kCharClass = [] {
  std::array<uint8_t, 256> t{};
  for (int c = 0; c < 256; ++c) {
    const auto u = static_cast<unsigned char>(c);
    if (isWordStart(u)) t[c] = kLetter;
    else if (c >= '0' && c <= '9') t[c] = kDigit;
  }
  for (char c : std::string_view(" \t\r\n")) t[static_cast<unsigned char>(c)] = kBlank;
  for (char c : std::string_view("=<>+-*/&(),;")) t[static_cast<unsigned char>(c)] = kSymbol;
  t['['] = kBracket;
  t['\''] = kQuote;
  t['"'] = kQuote;
  t['#'] = kHash;
  t['.'] = kDot;
  return t;
}();

uint8_t classOf(char c) { return kCharClass[static_cast<unsigned char>(c)]; }

// A whole number that fits 64 bits (digits only): as wholeNumber, without converting short ones.
bool wholeDigits(std::string_view digits, bool onlyDigits) {
  if (!onlyDigits) return false;
  return digits.size() <= 18 || wholeNumber(digits);
}

}  // namespace

// One pass over the text, with the tokenizer's rules. The key is the text itself with each
// literal replaced by \x01 and its kind: between literals the text is the same, so the tokens
// are; a \x01 of the text itself can stand only inside a bracketed name, where no literal
// starts. Text the pass does not accept goes to the tokenizer for its refusal.
Shape shapeOf(std::string_view text) {
  Shape shape;
  shapeOf(text, shape);
  return shape;
}

void shapeOf(std::string_view text, Shape& shape) {
  const char* const s = text.data();
  const size_t n = text.size();
  shape.literals.clear();
  // Written in place: a literal (of one character at least) takes two in the key. What the
  // key held before is overwritten up to the end of the new one.
  shape.key.resize(2 * n + 2);
  char* out = shape.key.data();
  if (shape.literals.capacity() < 16) shape.literals.reserve(16);
  size_t copied = 0;  // the text before this position is in the key
  auto literal = [&](size_t from, size_t to, char kind) -> std::string& {
    std::memcpy(out, s + copied, from - copied);
    out += from - copied;
    *out++ = '\x01';
    *out++ = kind;
    copied = to;
    Literal& l = shape.literals.emplace_back();
    l.kind = kind;
    return l.text;
  };
  auto digit = [&](size_t at) { return at < n && classOf(s[at]) == kDigit; };
  size_t i = 0;
  while (i < n) {
    const uint8_t c = classOf(s[i]);
    const size_t start = i;
    switch (c) {
      case kLetter: {
        uint8_t k;
        while (++i < n && ((k = classOf(s[i])) == kLetter || k == kDigit)) {
        }
        const size_t len = i - start;
        if (len == 4 && isKeyword(s + start, "NULL")) literal(start, i, 'Z');
        else if (len == 4 && isKeyword(s + start, "TRUE")) literal(start, i, 'B') = "-1";
        else if (len == 5 && isKeyword(s + start, "FALSE")) literal(start, i, 'B') = "0";
        break;
      }
      case kBlank:
      case kSymbol: ++i; break;
      case kBracket: {
        const void* close = i + 1 < n ? std::memchr(s + i + 1, ']', n - i - 1) : nullptr;
        if (!close || close == s + i + 1) refuseAsTokenizer(text, start);
        i = static_cast<size_t>(static_cast<const char*>(close) - s) + 1;
        break;
      }
      case kQuote: {
        // Up to the closing quote; a doubled quote stands for one.
        const char q = s[i];
        size_t from = i + 1;
        std::string* value = nullptr;
        while (true) {
          const void* at = from < n ? std::memchr(s + from, q, n - from) : nullptr;
          if (!at) refuseAsTokenizer(text, start);
          const size_t a = static_cast<size_t>(static_cast<const char*>(at) - s);
          const bool doubled = a + 1 < n && s[a + 1] == q;
          if (!value) value = &literal(start, start, 'S');
          value->append(s + from, a + doubled - from);
          if (doubled) {
            from = a + 2;
            continue;
          }
          i = a + 1;
          break;
        }
        copied = i;
        if (value->find('\0') != std::string::npos) {
          shape.literals.back().kind = 'T';
          out[-1] = 'T';
        }
        break;
      }
      case kHash: {
        const void* close = i + 1 < n ? std::memchr(s + i + 1, '#', n - i - 1) : nullptr;
        if (!close) refuseAsTokenizer(text, start);
        const size_t end = static_cast<size_t>(static_cast<const char*>(close) - s);
        std::optional<std::string> iso = dateLiteral(text.substr(i + 1, end - i - 1));
        if (!iso) refuseAsTokenizer(text, start);
        i = end + 1;
        literal(start, i, 'D') = std::move(*iso);
        break;
      }
      case kDigit:
      case kDot: {
        if (c == kDot && !digit(i + 1)) {
          ++i;  // the symbol "."
          break;
        }
        bool onlyDigits = true;
        while (digit(i)) ++i;
        if (i < n && s[i] == '.') {
          onlyDigits = false;
          ++i;
          while (digit(i)) ++i;
        }
        if (i < n && (s[i] == 'e' || s[i] == 'E')) {
          size_t j = i + 1;
          if (j < n && (s[j] == '+' || s[j] == '-')) ++j;
          if (digit(j)) {
            onlyDigits = false;
            i = j;
            while (digit(i)) ++i;
          }
        }
        if (i < n && classOf(s[i]) == kLetter) refuseAsTokenizer(text, start);
        const std::string_view number = text.substr(start, i - start);
        literal(start, i, wholeDigits(number, onlyDigits) ? 'N' : 'R').assign(number.data(), number.size());
        break;
      }
      default: refuseAsTokenizer(text, start);
    }
  }
  std::memcpy(out, s + copied, n - copied);
  out += n - copied;
  shape.key.resize(static_cast<size_t>(out - shape.key.data()));
}

bool liftable(const Expr& e) {
  if (!e.literal || e.literal > kMaxLiftedLiteral) return false;
  switch (e.kind) {
    case ExprKind::String: return e.text.find('\0') == std::string::npos;
    case ExprKind::Number: return wholeNumber(e.text);
    case ExprKind::Date: case ExprKind::Boolean: case ExprKind::Null: return true;
    default: return false;
  }
}

bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

bool isLinkName(std::string_view name) {
  return name.size() >= kLinkPrefix.size() && iequals(name.substr(0, kLinkPrefix.size()), kLinkPrefix);
}

TableTarget resolveTable(std::string_view name, std::string_view linkSchema) {
  if (!linkSchema.empty() && isLinkName(name) && name.size() > kLinkPrefix.size())
    return {std::string(linkSchema), std::string(name.substr(kLinkPrefix.size()))};
  return {"", std::string(name)};
}

int32_t jetTypeCode(std::string_view declared) {
  std::string t(declared);
  while (!t.empty() && t.front() == ' ') t.erase(t.begin());
  bool sized = false;
  if (auto p = t.find('('); p != std::string::npos) {
    sized = true;
    t.erase(p);
  }
  while (!t.empty() && t.back() == ' ') t.pop_back();
  // A multi-word declared type is named by its first word ("DOUBLE PRECISION").
  if (auto p = t.find(' '); p != std::string::npos) t.erase(p);
  struct Entry {
    std::string_view name;
    int32_t code;
  };
  static constexpr Entry table[] = {
      {"BYTE", 17},        {"TINYINT", 17},      {"SHORT", 2},        {"SMALLINT", 2},
      {"INTEGER2", 2},     {"LONG", 3},          {"INT", 3},          {"INTEGER", 3},
      {"INTEGER4", 3},     {"COUNTER", 3},       {"AUTOINCREMENT", 3}, {"SINGLE", 4},
      {"REAL", 4},         {"FLOAT4", 4},        {"DOUBLE", 5},       {"FLOAT", 5},
      {"FLOAT8", 5},       {"NUMBER", 5},        {"CURRENCY", 6},     {"MONEY", 6},
      {"DATETIME", 7},     {"DATE", 7},          {"TIME", 7},         {"TIMESTAMP", 7},
      {"YESNO", 11},       {"BIT", 11},          {"BOOLEAN", 11},     {"LOGICAL", 11},
      {"DECIMAL", 131},    {"NUMERIC", 131},     {"GUID", 72},        {"UNIQUEIDENTIFIER", 72},
      {"VARCHAR", 202},    {"CHAR", 202},        {"CHARACTER", 202},  {"STRING", 202},
      {"MEMO", 203},       {"LONGTEXT", 203},    {"LONGCHAR", 203},   {"NOTE", 203},
      {"BINARY", 128},     {"VARBINARY", 128},   {"LONGBINARY", 205}, {"OLEOBJECT", 205},
      {"BLOB", 205},       {"IMAGE", 205},
  };
  if (iequals(t, "TEXT")) return sized ? 202 : 203;
  for (const auto& e : table)
    if (iequals(t, e.name)) return e.code;
  return 0;
}

bool isNumericTypeCode(int32_t code) {
  switch (code) {
    case 2: case 3: case 4: case 5: case 6: case 11: case 14: case 16: case 17: case 20: case 131:
      return true;
    default:
      return false;
  }
}

}  // namespace ovt::dialect
