#include "ovtbldiff/runtime/variant.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "ovtbldiff/runtime/text.h"

namespace ovt {

// The array a variant holds. Kept behind a pointer so that Variant can name itself in
// VariantArray; copying a Variant copies the box (deep copy), as the platform copies arrays.
struct Variant::ArrayBox {
  std::variant<StringArray, VariantArray> items;
};

Variant::Variant(StringArray x) : v_(std::make_shared<ArrayBox>(ArrayBox{std::move(x)})) {}
Variant::Variant(VariantArray x) : v_(std::make_shared<ArrayBox>(ArrayBox{std::move(x)})) {}

Variant::Variant(const Variant& o) : v_(o.v_) {
  if (auto* box = std::get_if<std::shared_ptr<ArrayBox>>(&v_); box && *box)
    *box = std::make_shared<ArrayBox>(**box);
}

Variant& Variant::operator=(const Variant& o) {
  if (this != &o) {
    Variant copy(o);
    *this = std::move(copy);
  }
  return *this;
}

Variant::~Variant() = default;

VarType Variant::type() const {
  switch (v_.index()) {
    case 0: return VarType::Empty;
    case 1: return VarType::Null;
    case 2: return VarType::Integer;
    case 3: return VarType::Long;
    case 4: return VarType::Double;
    case 5: return VarType::Currency;
    case 6: return VarType::Date;
    case 7: return VarType::String;
    case 8: return VarType::Boolean;
    case 9: return VarType::Byte;
    case 10: return VarType::Object;
    default: {
      const auto& box = std::get<std::shared_ptr<ArrayBox>>(v_);
      return std::holds_alternative<StringArray>(box->items) ? VarType::StringArray
                                                              : VarType::VariantArray;
    }
  }
}

const ObjectRef& Variant::object() const {
  if (const auto* p = std::get_if<ObjectRef>(&v_)) return *p;
  raiseRuntime(RuntimeError::TypeMismatch);
}

StringArray& Variant::stringArray() {
  if (auto* box = std::get_if<std::shared_ptr<ArrayBox>>(&v_))
    if (auto* a = std::get_if<StringArray>(&(*box)->items)) return *a;
  raiseRuntime(RuntimeError::TypeMismatch);
}
const StringArray& Variant::stringArray() const {
  return const_cast<Variant*>(this)->stringArray();
}

VariantArray& Variant::variantArray() {
  if (auto* box = std::get_if<std::shared_ptr<ArrayBox>>(&v_))
    if (auto* a = std::get_if<VariantArray>(&(*box)->items)) return *a;
  raiseRuntime(RuntimeError::TypeMismatch);
}
const VariantArray& Variant::variantArray() const {
  return const_cast<Variant*>(this)->variantArray();
}

bool Variant::operator==(const Variant& o) const {
  if (v_.index() != o.v_.index()) return false;
  if (const auto* box = std::get_if<std::shared_ptr<ArrayBox>>(&v_)) {
    const auto& other = std::get<std::shared_ptr<ArrayBox>>(o.v_);
    return (*box)->items == other->items;
  }
  return v_ == o.v_;
}

namespace {

[[noreturn]] void mismatch() { raiseRuntime(RuntimeError::TypeMismatch); }
[[noreturn]] void overflow() { raiseRuntime(RuntimeError::Overflow); }
[[noreturn]] void nullUse() { raiseRuntime(RuntimeError::InvalidUseOfNull); }

std::string_view stripBlanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// "&H1F" / "&O17": the platform's hexadecimal and octal literals; 16-bit when they fit
// four hex (six octal) digits, as the platform reads them, else 32-bit.
bool parseRadix(std::string_view s, double& out) {
  if (s.size() < 3 || s[0] != '&') return false;
  int base = 0;
  if (s[1] == 'H' || s[1] == 'h') base = 16;
  else if (s[1] == 'O' || s[1] == 'o') base = 8;
  else return false;
  std::string_view digits = s.substr(2);
  uint64_t v = 0;
  auto [p, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v, base);
  if (ec == std::errc::result_out_of_range || (ec == std::errc() && v > 0xFFFFFFFFull)) overflow();
  if (ec != std::errc() || p != digits.data() + digits.size()) return false;
  if (v <= 0xFFFF && digits.size() <= (base == 16 ? 4u : 6u))
    out = static_cast<int16_t>(static_cast<uint16_t>(v));
  else
    out = static_cast<int32_t>(static_cast<uint32_t>(v));
  return true;
}

// A number written as text: blanks around it, optional sign, digits with an optional
// decimal point, optional exponent (E or D). Not a number: 13; beyond Double: 6.
double parseNumberText(std::string_view text) {
  std::string_view s = stripBlanks(text);
  double radix = 0;
  if (parseRadix(s, radix)) return radix;
  std::string buf;
  buf.reserve(s.size());
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) buf += s[i++];
  size_t digits = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') buf += s[i++], ++digits;
  if (i < s.size() && s[i] == '.') {
    buf += s[i++];
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') buf += s[i++], ++digits;
  }
  if (digits == 0) mismatch();
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
    buf += 'e';
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) buf += s[i++];
    size_t expDigits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') buf += s[i++], ++expDigits;
    if (expDigits == 0) mismatch();
  }
  if (i != s.size()) mismatch();
  const char* first = buf.data();
  if (*first == '+') ++first;
  double d = 0;
  auto [p, ec] = std::from_chars(first, buf.data() + buf.size(), d);
  if (ec == std::errc::result_out_of_range) {
    // from_chars reports both overflow and underflow; only the former is an error.
    double probe = std::strtod(buf.c_str(), nullptr);
    if (std::isinf(probe)) overflow();
    return probe;
  }
  if (ec != std::errc() || p != buf.data() + buf.size()) mismatch();
  return d;
}

// A whole number of a variant, rounded half to even, checked against [lo, hi].
int64_t wholeNumber(const Variant& v, int64_t lo, int64_t hi);

double numberOf(const Variant& v) {
  switch (v.type()) {
    case VarType::Empty: return 0;
    case VarType::Null: nullUse();
    case VarType::Integer: return *v.get<int16_t>();
    case VarType::Long: return *v.get<int32_t>();
    case VarType::Double: return *v.get<double>();
    case VarType::Currency: return static_cast<double>(v.get<Currency>()->scaled) / 10000.0;
    case VarType::Date: return v.get<Date>()->serial;
    case VarType::String: return parseNumberText(*v.get<std::string>());
    case VarType::Boolean: return *v.get<bool>() ? -1.0 : 0.0;
    case VarType::Byte: return *v.get<uint8_t>();
    default: mismatch();
  }
}

// Currency / 10,000 rounded half to even, exactly in integers.
int64_t currencyWhole(int64_t scaled) {
  int64_t q = scaled / 10000, r = scaled % 10000;
  if (r > 5000 || (r == 5000 && (q & 1))) ++q;
  else if (r < -5000 || (r == -5000 && (q & 1))) --q;
  return q;
}

int64_t wholeNumber(const Variant& v, int64_t lo, int64_t hi) {
  int64_t n = 0;
  if (const auto* c = v.get<Currency>()) {
    n = currencyWhole(c->scaled);
  } else {
    double d = roundHalfEven(numberOf(v));
    if (!(d >= static_cast<double>(lo) && d <= static_cast<double>(hi))) overflow();
    n = static_cast<int64_t>(d);
  }
  if (n < lo || n > hi) overflow();
  return n;
}

// Decimal text as currency, exactly: at most 4 decimals kept, the rest rounded half to even.
// False when the text is not plain decimal (exponents etc. go through Double).
bool parseCurrencyExact(std::string_view text, int64_t& out) {
  std::string_view s = stripBlanks(text);
  size_t i = 0;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  __int128 acc = 0;
  int decimals = 0;
  bool seenPoint = false, any = false;
  int roundDigit = -1;   // first dropped decimal
  bool stickyTail = false;  // any non-zero dropped decimal after it
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (c == '.' && !seenPoint) {
      seenPoint = true;
      continue;
    }
    if (c < '0' || c > '9') return false;
    any = true;
    if (seenPoint && decimals == 4) {
      if (roundDigit < 0) roundDigit = c - '0';
      else if (c != '0') stickyTail = true;
      continue;
    }
    acc = acc * 10 + (c - '0');
    if (seenPoint) ++decimals;
    if (acc > (static_cast<__int128>(1) << 64)) overflow();
  }
  if (!any) return false;
  for (; decimals < 4; ++decimals) acc *= 10;
  if (roundDigit > 5 || (roundDigit == 5 && (stickyTail || (acc & 1)))) ++acc;
  if (neg) acc = -acc;
  if (acc > std::numeric_limits<int64_t>::max() || acc < std::numeric_limits<int64_t>::min())
    overflow();
  out = static_cast<int64_t>(acc);
  return true;
}

void appendExponent(std::string& out, int exp) {
  out += 'E';
  out += exp < 0 ? '-' : '+';
  int a = exp < 0 ? -exp : exp;
  if (a < 10) out += '0';
  out += std::to_string(a);
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian), and back.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

// Serial 0 = 1899-12-30 = 25569 days before 1970-01-01.
constexpr int64_t kEpochOffset = 25569;

bool isLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int daysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && isLeap(y) ? 29 : kDays[m - 1];
}

}  // namespace

std::string toText(const Variant& v) {
  switch (v.type()) {
    case VarType::Empty: return std::string();
    case VarType::Null: nullUse();
    case VarType::Integer: return std::to_string(*v.get<int16_t>());
    case VarType::Long: return std::to_string(*v.get<int32_t>());
    case VarType::Double: return formatDouble(*v.get<double>());
    case VarType::Currency: return formatCurrency(*v.get<Currency>());
    case VarType::Date: return formatDate(*v.get<Date>());
    case VarType::String: return *v.get<std::string>();
    case VarType::Boolean: return *v.get<bool>() ? "True" : "False";
    case VarType::Byte: return std::to_string(*v.get<uint8_t>());
    default: mismatch();
  }
}

std::string concatText(const Variant& v) { return v.isNull() ? std::string() : toText(v); }

int16_t toInteger(const Variant& v) {
  return static_cast<int16_t>(wholeNumber(v, std::numeric_limits<int16_t>::min(),
                                          std::numeric_limits<int16_t>::max()));
}

int32_t toLong(const Variant& v) {
  return static_cast<int32_t>(wholeNumber(v, std::numeric_limits<int32_t>::min(),
                                          std::numeric_limits<int32_t>::max()));
}

uint8_t toByte(const Variant& v) {
  // A Boolean True is -1 as a number; as a byte the platform keeps its low eight bits (255).
  if (const auto* b = v.get<bool>()) return *b ? 255 : 0;
  return static_cast<uint8_t>(wholeNumber(v, 0, 255));
}

double toDouble(const Variant& v) { return numberOf(v); }

bool toBoolean(const Variant& v) {
  if (const auto* b = v.get<bool>()) return *b;
  if (const auto* s = v.get<std::string>()) {
    std::string_view t = stripBlanks(*s);
    if (textEqual(t, "True")) return true;
    if (textEqual(t, "False")) return false;
    return parseNumberText(t) != 0;
  }
  if (const auto* c = v.get<Currency>()) return c->scaled != 0;
  return numberOf(v) != 0;
}

Currency toCurrency(const Variant& v) {
  switch (v.type()) {
    case VarType::Currency: return *v.get<Currency>();
    case VarType::Integer: return Currency{int64_t{*v.get<int16_t>()} * 10000};
    case VarType::Long: return Currency{int64_t{*v.get<int32_t>()} * 10000};
    case VarType::Byte: return Currency{int64_t{*v.get<uint8_t>()} * 10000};
    case VarType::Boolean: return Currency{*v.get<bool>() ? -10000 : 0};
    case VarType::String: {
      int64_t scaled = 0;
      if (parseCurrencyExact(*v.get<std::string>(), scaled)) return Currency{scaled};
      break;
    }
    default: break;
  }
  double scaled = roundHalfEven(numberOf(v) * 10000.0);
  // 2^63 is exactly representable; anything at or beyond it does not fit.
  constexpr double kLimit = 9223372036854775808.0;
  if (!(scaled >= -kLimit && scaled < kLimit)) overflow();
  return Currency{static_cast<int64_t>(scaled)};
}

Date toDate(const Variant& v) {
  if (const auto* d = v.get<Date>()) return *d;
  if (const auto* s = v.get<std::string>()) {
    Date out;
    if (parseDate(*s, out)) return out;
  }
  double serial = numberOf(v);
  // The platform's date range: years 100 to 9999.
  if (!(serial >= -657434.0 && serial < 2958466.0)) overflow();
  return Date{serial};
}

std::string formatDouble(double d) {
  if (std::isnan(d)) return "NaN";
  if (std::isinf(d)) return d < 0 ? "-Infinity" : "Infinity";
  if (d == 0) return "0";
  // Fifteen significant digits, rounded by printf; the exponent is that of the rounded value.
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.14e", d);
  const char* p = buf;
  std::string out;
  if (*p == '-') out += *p++;
  std::string digits;
  for (; *p && *p != 'e'; ++p)
    if (*p != '.') digits += *p;
  int exp = std::atoi(p + 1);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  if (exp >= 15 || exp < -4) {
    out += digits[0];
    if (digits.size() > 1) {
      out += '.';
      out.append(digits, 1, std::string::npos);
    }
    appendExponent(out, exp);
  } else if (exp < 0) {
    out += "0.";
    out.append(static_cast<size_t>(-exp - 1), '0');
    out += digits;
  } else {
    size_t intLen = static_cast<size_t>(exp) + 1;
    if (digits.size() <= intLen) {
      out += digits;
      out.append(intLen - digits.size(), '0');
    } else {
      out.append(digits, 0, intLen);
      out += '.';
      out.append(digits, intLen, std::string::npos);
    }
  }
  return out;
}

std::string formatCurrency(Currency c) {
  uint64_t mag = c.scaled < 0 ? 0 - static_cast<uint64_t>(c.scaled) : static_cast<uint64_t>(c.scaled);
  std::string out = c.scaled < 0 ? "-" : "";
  out += std::to_string(mag / 10000);
  unsigned frac = static_cast<unsigned>(mag % 10000);
  if (frac != 0) {
    char buf[8];
    std::snprintf(buf, sizeof buf, ".%04u", frac);
    std::string f(buf);
    while (f.back() == '0') f.pop_back();
    out += f;
  }
  return out;
}

std::string formatDate(Date d) {
  double serial = d.serial;
  if (!std::isfinite(serial) || serial <= -1e9 || serial >= 1e9) overflow();
  // The whole number counts days from 1899-12-30; the fraction (its absolute value, also
  // for dates before the epoch) is the time of day.
  double whole = std::trunc(serial);
  int64_t day = static_cast<int64_t>(whole);
  int64_t secs = static_cast<int64_t>(std::llround(std::fabs(serial - whole) * 86400.0));
  if (secs >= 86400) {
    secs -= 86400;
    day += serial < 0 ? -1 : 1;
  }
  int64_t y;
  unsigned m, dd;
  civilFromDays(day - kEpochOffset, y, m, dd);
  char buf[48];
  if (secs == 0)
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u", static_cast<long long>(y), m, dd);
  else
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02d:%02d:%02d", static_cast<long long>(y), m,
                  dd, static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60),
                  static_cast<int>(secs % 60));
  return buf;
}

namespace {

bool readFixed(std::string_view s, size_t& i, size_t n, int& out) {
  if (i + n > s.size()) return false;
  int v = 0;
  for (size_t k = 0; k < n; ++k) {
    char c = s[i + k];
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  i += n;
  out = v;
  return true;
}

}  // namespace

bool parseDate(std::string_view text, Date& out) {
  std::string_view s = stripBlanks(text);
  size_t i = 0;
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0;
  if (!readFixed(s, i, 4, y) || i >= s.size() || s[i++] != '-' || !readFixed(s, i, 2, mo) ||
      i >= s.size() || s[i++] != '-' || !readFixed(s, i, 2, d))
    return false;
  if (i < s.size()) {
    if (s[i] != ' ' && s[i] != 'T') return false;
    ++i;
    if (!readFixed(s, i, 2, h) || i >= s.size() || s[i++] != ':' || !readFixed(s, i, 2, mi))
      return false;
    if (i < s.size()) {
      if (s[i++] != ':' || !readFixed(s, i, 2, se)) return false;
    }
    if (i != s.size()) return false;
  }
  if (y < 100 || mo < 1 || mo > 12 || d < 1 || d > daysInMonth(y, mo) || h > 23 || mi > 59 ||
      se > 59)
    return false;
  out = makeDate(y, mo, d, h, mi, se);
  return true;
}

Date makeDate(int year, int month, int day, int hour, int minute, int second) {
  if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > daysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
      second < 0 || second > 59)
    raiseRuntime(RuntimeError::InvalidProcedureCall);
  int64_t days = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
                 kEpochOffset;
  double time = (hour * 3600 + minute * 60 + second) / 86400.0;
  // Before the epoch the serial is negative but the time still counts forward from midnight.
  return Date{days < 0 ? static_cast<double>(days) - time : static_cast<double>(days) + time};
}

double roundHalfEven(double d) {
  if (!std::isfinite(d)) return d;
  double f = std::floor(d);
  double diff = d - f;
  if (diff > 0.5) return f + 1;
  if (diff < 0.5) return f;
  return std::fmod(f, 2.0) == 0 ? f : f + 1;
}

}  // namespace ovt
