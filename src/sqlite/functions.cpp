// The SQL functions and the collation that give rendered statements the dialect's meaning:
// jet_concat (`&`), group_differs (comparison of two `&` chains), jet_like (LIKE with the
// dialect's wildcards) and jet_text (case-insensitive text order by Unicode case folding).
// All are deterministic and innocuous; per-row work reuses thread-local buffers.
#include <algorithm>
#include <charconv>
#include <cstring>
#include <string>
#include <vector>

#include "dialect/dialect.h"
#include "ovtbldiff/runtime/text.h"
#include "ovtbldiff/runtime/variant.h"
#include "sqlite/handles.h"

namespace ovt::db::sqlite {
namespace {

// Appends the platform's text form of a value ("" for Null). Returns false for Null.
bool appendText(sqlite3_value* v, std::string& out) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_NULL:
      return false;
    case SQLITE_INTEGER: {
      char buf[24];
      auto r = std::to_chars(buf, buf + sizeof buf, static_cast<long long>(sqlite3_value_int64(v)));
      out.append(buf, r.ptr);
      return true;
    }
    case SQLITE_FLOAT: {
      double d = sqlite3_value_double(v);
      // Whole numbers below 1e15 print as integers; the rest as the platform prints a Double.
      if (d == static_cast<double>(static_cast<long long>(d)) && d > -1e15 && d < 1e15) {
        char buf[24];
        auto r = std::to_chars(buf, buf + sizeof buf, static_cast<long long>(d));
        out.append(buf, r.ptr);
      } else {
        out += formatDouble(d);
      }
      return true;
    }
    default: {
      const unsigned char* t = sqlite3_value_text(v);
      int n = sqlite3_value_bytes(v);
      if (t) out.append(reinterpret_cast<const char*>(t), static_cast<size_t>(n));
      return true;
    }
  }
}

unsigned char lowerAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }

// Case-insensitive order: ASCII bytes compared directly, anything else by full case folding.
int compareText(const char* a, size_t na, const char* b, size_t nb) {
  const size_t n = na < nb ? na : nb;
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 0x80 || y >= 0x80) return textCompare(std::string_view(a, na), std::string_view(b, nb));
    x = lowerAscii(x);
    y = lowerAscii(y);
    if (x != y) return x < y ? -1 : 1;
  }
  if (na == nb) return 0;
  // The longer text may still hold non-ASCII characters that fold away.
  const char* rest = na > nb ? a + n : b + n;
  const size_t restLen = (na > nb ? na : nb) - n;
  for (size_t i = 0; i < restLen; ++i)
    if (static_cast<unsigned char>(rest[i]) >= 0x80)
      return textCompare(std::string_view(a, na), std::string_view(b, nb));
  return na < nb ? -1 : 1;
}

int collationCompare(void*, int na, const void* a, int nb, const void* b) {
  return compareText(static_cast<const char*>(a), static_cast<size_t>(na), static_cast<const char*>(b),
                     static_cast<size_t>(nb));
}

bool binaryMode(sqlite3_context* ctx) { return *static_cast<const bool*>(sqlite3_user_data(ctx)); }

void jetConcat(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  thread_local std::string buf;
  buf.clear();
  bool any = false;
  for (int i = 0; i < argc; ++i) any |= appendText(argv[i], buf);
  if (!any) return sqlite3_result_null(ctx);
  sqlite3_result_text(ctx, buf.data(), static_cast<int>(buf.size()), SQLITE_TRANSIENT);
}

// The texts of values[0..n) one after the other, as appendText writes them, read without
// copying text values (numbers are written into a small buffer first).
class ChainReader {
 public:
  ChainReader(sqlite3_value** values, int n) : values_(values), n_(n) {}

  // The unread bytes of the current value, empty after the last value.
  std::string_view rest() {
    while (at_ == size_ && index_ < n_) load(values_[index_++]);
    return std::string_view(bytes_ + at_, size_ - at_);
  }
  void skip(size_t n) { at_ += n; }

 private:
  void load(sqlite3_value* v) {
    at_ = 0;
    size_ = 0;
    const int type = sqlite3_value_type(v);
    if (type == SQLITE_NULL) return;
    if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) {
      number_.clear();
      appendText(v, number_);
      bytes_ = number_.data();
      size_ = number_.size();
      return;
    }
    bytes_ = reinterpret_cast<const char*>(sqlite3_value_text(v));
    size_ = bytes_ ? static_cast<size_t>(sqlite3_value_bytes(v)) : 0;
  }

  sqlite3_value** values_;
  int n_;
  int index_ = 0;
  const char* bytes_ = "";
  size_t at_ = 0, size_ = 0;
  std::string number_;
};

bool allNull(sqlite3_value** values, int n) {
  for (int i = 0; i < n; ++i)
    if (sqlite3_value_type(values[i]) != SQLITE_NULL) return false;
  return true;
}

// 1, 0 or -1 (undecided: a byte beyond ASCII differs while comparing case-insensitively) for
// the texts of two chains, read up to the first difference. Equal runs of bytes are equal texts
// whatever they hold; only where the bytes differ are they compared ignoring ASCII case.
int chainsDiffer(ChainReader& a, ChainReader& b, bool binary) {
  for (;;) {
    const std::string_view x = a.rest(), y = b.rest();
    if (x.empty() || y.empty()) return x.empty() && y.empty() ? 0 : 1;
    const size_t n = std::min(x.size(), y.size());
    if (std::memcmp(x.data(), y.data(), n) != 0) {
      if (binary) return 1;
      for (size_t i = 0; i < n; ++i) {
        const unsigned char p = static_cast<unsigned char>(x[i]), q = static_cast<unsigned char>(y[i]);
        if (p == q) continue;
        if ((p | q) & 0x80) return -1;
        if (lowerAscii(p) != lowerAscii(q)) return 1;
      }
    }
    a.skip(n);
    b.skip(n);
  }
}

// group_differs(n, a1..an, b1..bm): 1 when the texts a1&..&an and b1&..&bm differ, 0 when they
// are equal, Null when either side is all Null (the `<>` of the dialect). The texts are
// compared as they are read; only where a character beyond ASCII decides are both built and
// compared by case folding.
void groupDiffers(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (argc < 1) return sqlite3_result_error(ctx, "group_differs needs a count", -1);
  const sqlite3_int64 n = sqlite3_value_int64(argv[0]);
  if (n < 0 || n > argc - 1) return sqlite3_result_error(ctx, "group_differs: bad count", -1);
  sqlite3_value** left = argv + 1;
  sqlite3_value** right = argv + 1 + n;
  const int nLeft = static_cast<int>(n), nRight = argc - 1 - nLeft;
  if (allNull(left, nLeft) || allNull(right, nRight)) return sqlite3_result_null(ctx);
  ChainReader a(left, nLeft), b(right, nRight);
  int differ = chainsDiffer(a, b, binaryMode(ctx));
  if (differ < 0) {
    thread_local std::string x, y;
    x.clear();
    y.clear();
    for (int i = 0; i < nLeft; ++i) appendText(left[i], x);
    for (int i = 0; i < nRight; ++i) appendText(right[i], y);
    differ = compareText(x.data(), x.size(), y.data(), y.size()) != 0 ? 1 : 0;
  }
  sqlite3_result_int(ctx, differ);
}

// ---- LIKE with the dialect's wildcards: * any run, ? one character, # one digit,
// [abc] [a-z] [!abc] one character of (not of) the list. ----
std::u32string decode(std::string_view s) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    char32_t cp = c;
    size_t len = 1;
    if (c >= 0xF0) len = 4, cp = c & 0x07;
    else if (c >= 0xE0) len = 3, cp = c & 0x0F;
    else if (c >= 0xC0) len = 2, cp = c & 0x1F;
    if (i + len > s.size()) len = 1, cp = c;
    for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    out.push_back(cp);
    i += len;
  }
  return out;
}

struct LikeToken {
  enum Kind { Star, One, Digit, Set, Literal } kind = Literal;
  char32_t ch = 0;
  bool negated = false;
  std::vector<std::pair<char32_t, char32_t>> ranges;
};

LikeToken make(LikeToken::Kind k) {
  LikeToken t;
  t.kind = k;
  return t;
}

bool parseLike(const std::u32string& p, std::vector<LikeToken>& out) {
  for (size_t i = 0; i < p.size(); ++i) {
    char32_t c = p[i];
    if (c == U'*') out.push_back(make(LikeToken::Star));
    else if (c == U'?') out.push_back(make(LikeToken::One));
    else if (c == U'#') out.push_back(make(LikeToken::Digit));
    else if (c == U'[') {
      size_t close = p.find(U']', i + 1);
      if (close == std::u32string::npos) return false;
      LikeToken t = make(LikeToken::Set);
      size_t j = i + 1;
      if (j < close && p[j] == U'!') t.negated = true, ++j;
      for (; j < close; ++j) {
        if (j + 2 < close && p[j + 1] == U'-') {
          t.ranges.push_back({p[j], p[j + 2]});
          j += 2;
        } else {
          t.ranges.push_back({p[j], p[j]});
        }
      }
      out.push_back(std::move(t));
      i = close;
    } else {
      LikeToken t = make(LikeToken::Literal);
      t.ch = c;
      out.push_back(t);
    }
  }
  return true;
}

bool tokenMatches(const LikeToken& t, char32_t c) {
  switch (t.kind) {
    case LikeToken::One: return true;
    case LikeToken::Digit: return c >= U'0' && c <= U'9';
    case LikeToken::Literal: return t.ch == c;
    case LikeToken::Set: {
      bool in = false;
      for (auto [lo, hi] : t.ranges) in |= (c >= lo && c <= hi);
      return in != t.negated;
    }
    case LikeToken::Star: return false;
  }
  return false;
}

bool likeMatch(const std::vector<LikeToken>& p, const std::u32string& s) {
  size_t pi = 0, si = 0, starP = std::string::npos, starS = 0;
  while (si < s.size()) {
    if (pi < p.size() && p[pi].kind == LikeToken::Star) {
      starP = pi++;
      starS = si;
    } else if (pi < p.size() && tokenMatches(p[pi], s[si])) {
      ++pi;
      ++si;
    } else if (starP != std::string::npos) {
      pi = starP + 1;
      si = ++starS;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi].kind == LikeToken::Star) ++pi;
  return pi == p.size();
}

// jet_like(pattern, value)
void jetLike(sqlite3_context* ctx, int, sqlite3_value** argv) {
  std::string pattern, value;
  if (!appendText(argv[0], pattern) || !appendText(argv[1], value)) return sqlite3_result_null(ctx);
  if (!binaryMode(ctx)) {
    pattern = foldCase(pattern);
    value = foldCase(value);
  }
  std::vector<LikeToken> tokens;
  if (!parseLike(decode(pattern), tokens)) return sqlite3_result_error(ctx, "Invalid pattern string", -1);
  sqlite3_result_int(ctx, likeMatch(tokens, decode(value)) ? 1 : 0);
}

const bool kBinary = true;
const bool kText = false;

}  // namespace

void registerDialectFunctions(sqlite3* db, bool binaryCompare) {
  void* mode = const_cast<bool*>(binaryCompare ? &kBinary : &kText);
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
  int rc = sqlite3_create_function_v2(db, dialect::kConcatFunction, -1, flags, mode, jetConcat, nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK)
    rc = sqlite3_create_function_v2(db, dialect::kGroupDiffersFunction, -1, flags, mode, groupDiffers, nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK)
    rc = sqlite3_create_function_v2(db, dialect::kLikeFunction, 2, flags, mode, jetLike, nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK)
    rc = sqlite3_create_collation_v2(db, dialect::kTextCollation, SQLITE_UTF8, nullptr, collationCompare, nullptr);
  if (rc != SQLITE_OK) raise(kErrFailure, std::string("Cannot register the dialect functions: ") + sqlite3_errmsg(db));
}

}  // namespace ovt::db::sqlite
