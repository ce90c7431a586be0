// The automation runtime's variant value and its standard conversions.
// Conversions follow the original platform: Null raises "Invalid use of Null" (94),
// text that is no number raises "Type mismatch" (13), a value outside the target
// type raises "Overflow" (6); rounding to whole numbers is round-half-to-even.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "ovtbldiff/runtime/safearray.h"

namespace ovt {

// Base of every component object; counted references are std::shared_ptr<Object>.
class Object {
 public:
  virtual ~Object() = default;
};
using ObjectRef = std::shared_ptr<Object>;

// Calls through a reference go through deref: Nothing raises "Object variable or With
// block variable not set" (91), as the platform does.
[[noreturn]] void raiseObjectNotSet();
template <class T>
T& deref(const std::shared_ptr<T>& p) {
  if (!p) raiseObjectNotSet();
  return *p;
}

struct Empty {
  bool operator==(const Empty&) const = default;
};
struct Null {
  bool operator==(const Null&) const = default;
};
// Fixed point with four decimals: the value times 10,000.
struct Currency {
  int64_t scaled = 0;
  bool operator==(const Currency&) const = default;
};
// An automation date: days since 1899-12-30, the fraction being the time of day.
struct Date {
  double serial = 0;
  bool operator==(const Date&) const = default;
};

// Variant type codes as the platform numbers them.
enum class VarType : int32_t {
  Empty = 0, Null = 1, Integer = 2, Long = 3, Double = 5, Currency = 6, Date = 7,
  String = 8, Object = 9, Boolean = 11, Byte = 17, StringArray = 0x2008, VariantArray = 0x200C,
};

class Variant;
using StringArray = SafeArray<std::string>;
using VariantArray = SafeArray<Variant>;

// A value of one of the platform's variant types. Arrays are held by value (copying a
// variant copies its array), as the platform's variants do.
class Variant {
 public:
  Variant() = default;  // Empty
  Variant(Null) : v_(Null{}) {}
  Variant(Empty) : v_(Empty{}) {}
  Variant(int16_t x) : v_(x) {}
  Variant(int32_t x) : v_(x) {}
  Variant(double x) : v_(x) {}
  Variant(Currency x) : v_(x) {}
  Variant(Date x) : v_(x) {}
  Variant(std::string x) : v_(std::move(x)) {}
  Variant(const char* x) : v_(std::string(x)) {}
  Variant(bool x) : v_(x) {}
  Variant(uint8_t x) : v_(x) {}
  Variant(ObjectRef x) : v_(std::move(x)) {}
  template <class T, class = std::enable_if_t<std::is_base_of_v<Object, T>>>
  Variant(std::shared_ptr<T> x) : v_(ObjectRef(std::move(x))) {}
  Variant(StringArray x);
  Variant(VariantArray x);

  Variant(const Variant& o);
  Variant(Variant&&) noexcept = default;
  Variant& operator=(const Variant& o);
  Variant& operator=(Variant&&) noexcept = default;
  ~Variant();

  VarType type() const;
  bool isEmpty() const { return std::holds_alternative<Empty>(v_); }
  bool isNull() const { return std::holds_alternative<Null>(v_); }
  bool isObject() const { return std::holds_alternative<ObjectRef>(v_); }
  bool isArray() const { return type() == VarType::StringArray || type() == VarType::VariantArray; }

  // Typed access without conversion; the wrong type raises Type mismatch (13).
  const ObjectRef& object() const;
  StringArray& stringArray();
  const StringArray& stringArray() const;
  VariantArray& variantArray();
  const VariantArray& variantArray() const;

  // Raw alternative, for code that switches on the type (nullptr when it is another type).
  template <class T> const T* get() const { return std::get_if<T>(&v_); }

  // Same type and same value (an array compares its bounds and elements; an object by
  // identity). Integer 1 and Long 1 differ: this is identity of values, not the `=` operator.
  bool operator==(const Variant& o) const;

 private:
  struct ArrayBox;
  std::variant<Empty, Null, int16_t, int32_t, double, Currency, Date, std::string, bool,
               uint8_t, ObjectRef, std::shared_ptr<ArrayBox>>
      v_;
};

// The platform's standard conversions (CStr, CInt, CLng, CDbl, CBool, CByte, CCur, CDate).
// Empty is "" / 0 / False; Null raises 94; an object or an array raises 13. Text becomes a
// number when it is one (blanks around it allowed, "&H"/"&O" literals too), else 13; Boolean
// True is -1 as a number (255 as a Byte); a Date is its serial; out of range raises 6.
std::string toText(const Variant& v);
int16_t toInteger(const Variant& v);
int32_t toLong(const Variant& v);
double toDouble(const Variant& v);
// Text "True"/"False" (any case) or a number (non-zero is True).
bool toBoolean(const Variant& v);
uint8_t toByte(const Variant& v);
// Decimal text converts exactly; more than four decimals round half to even.
Currency toCurrency(const Variant& v);
// A date, a number (its serial, years 100..9999 else 6) or text parseDate accepts.
Date toDate(const Variant& v);
// Text of a variant where Null counts as "" (the rule of `&` concatenation).
std::string concatText(const Variant& v);

// Text of a Double: the value rounded to 15 significant digits, no trailing zeros, "." as
// separator. Plain form while the decimal exponent e of the rounded value is -4 <= e <= 14
// ("0.0001", "123456789012345"); exponent form otherwise, at least two exponent digits
// ("1E+15", "1.5E-05", "1.23456789012346E+15"). -0 gives "0"; NaN/infinities "NaN",
// "Infinity", "-Infinity" (the platform has none to print).
std::string formatDouble(double d);
// Currency like a Double in plain form, at most 4 decimals ("1.5", "-0.0001", "3").
std::string formatCurrency(Currency c);
// Locale-neutral: "YYYY-MM-DD", or "YYYY-MM-DD HH:MM:SS" when the time (rounded to the
// second) is not midnight; also for serials with no date part ("1899-12-30 12:00:00").
std::string formatDate(Date d);
// Parses "YYYY-MM-DD[ HH:MM[:SS]]" (a "T" may stand for the blank, blanks around allowed);
// false when it is not a valid date of years 100..9999.
bool parseDate(std::string_view text, Date& out);
// The serial of a civil date and time; a field out of its range raises 5. Before
// 1899-12-30 the serial is negative with the time as its (positive) fraction: -1.25 is
// 1899-12-29 06:00:00.
Date makeDate(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

// Rounds half to even, as the platform does when a number becomes a whole number.
double roundHalfEven(double d);

}  // namespace ovt
