#include "support/raised.h"
#include "ovtbldiff/runtime/variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

namespace ovt {
namespace {

using ::ovt::test::raisedBy;

void expectRuntime(const std::function<void()>& f, int32_t number, const char* description) {
  ComError e = raisedBy(f);
  EXPECT_EQ(e.number(), number);
  EXPECT_EQ(e.description(), description);
  EXPECT_EQ(e.source(), "OVTblDiffData");
}

struct Obj : Object {};

TEST(VariantType, EachAlternativeReportsItsCode) {
  EXPECT_EQ(Variant().type(), VarType::Empty);
  EXPECT_EQ(Variant(Null{}).type(), VarType::Null);
  EXPECT_EQ(Variant(int16_t{1}).type(), VarType::Integer);
  EXPECT_EQ(Variant(int32_t{1}).type(), VarType::Long);
  EXPECT_EQ(Variant(1.0).type(), VarType::Double);
  EXPECT_EQ(Variant(Currency{1}).type(), VarType::Currency);
  EXPECT_EQ(Variant(Date{1}).type(), VarType::Date);
  EXPECT_EQ(Variant("x").type(), VarType::String);
  EXPECT_EQ(Variant(true).type(), VarType::Boolean);
  EXPECT_EQ(Variant(uint8_t{1}).type(), VarType::Byte);
  EXPECT_EQ(Variant(std::make_shared<Obj>()).type(), VarType::Object);
  EXPECT_EQ(Variant(StringArray{"a"}).type(), VarType::StringArray);
  EXPECT_EQ(Variant(VariantArray{Variant(1)}).type(), VarType::VariantArray);
  EXPECT_TRUE(Variant(StringArray{}).isArray());
  EXPECT_FALSE(Variant("a").isArray());
}

TEST(VariantArrays, CopyIsDeep) {
  Variant a(StringArray{"x", "y"});
  Variant b = a;
  b.stringArray().at(0) = "changed";
  EXPECT_EQ(a.stringArray().at(0), "x");
  Variant c;
  c = a;
  c.stringArray().redim(0, 5);
  EXPECT_EQ(a.stringArray().ubound(), 1);
  EXPECT_EQ(c.stringArray().ubound(), 5);
  Variant nested(VariantArray{Variant(StringArray{"in"})});
  Variant copy = nested;
  copy.variantArray().at(0).stringArray().at(0) = "out";
  EXPECT_EQ(nested.variantArray().at(0).stringArray().at(0), "in");
}

TEST(VariantArrays, WrongAccessorRaisesTypeMismatch) {
  Variant s(StringArray{"a"});
  expectRuntime([&] { s.variantArray(); }, 13, "Type mismatch");
  expectRuntime([] { Variant("a").stringArray(); }, 13, "Type mismatch");
  expectRuntime([] { Variant(1).object(); }, 13, "Type mismatch");
  auto o = std::make_shared<Obj>();
  EXPECT_EQ(Variant(o).object(), o);
}

TEST(VariantEquality, SameTypeAndValue) {
  EXPECT_EQ(Variant(int32_t{3}), Variant(int32_t{3}));
  EXPECT_NE(Variant(int32_t{3}), Variant(int16_t{3}));
  EXPECT_EQ(Variant(StringArray{"a", "b"}), Variant(StringArray{"a", "b"}));
  EXPECT_NE(Variant(StringArray{"a", "b"}), Variant(StringArray{"a", "B"}));
  EXPECT_EQ(Variant(), Variant(Empty{}));
  EXPECT_NE(Variant(), Variant(Null{}));
}

struct TextCase {
  Variant value;
  const char* text;
};

TEST(ToText, ScalarsInPlatformForm) {
  const TextCase cases[] = {
      {Variant(), ""},
      {Variant(true), "True"},
      {Variant(false), "False"},
      {Variant(int16_t{-32768}), "-32768"},
      {Variant(int32_t{2147483647}), "2147483647"},
      {Variant(uint8_t{255}), "255"},
      {Variant(1.0), "1"},
      {Variant(0.1), "0.1"},
      {Variant(-2.5), "-2.5"},
      {Variant(Currency{15000}), "1.5"},
      {Variant(Currency{-1}), "-0.0001"},
      {Variant(Currency{30000}), "3"},
      {Variant(Date{0}), "1899-12-30"},
      {Variant("as is "), "as is "},
  };
  for (const auto& c : cases) EXPECT_EQ(toText(c.value), c.text);
}

TEST(ToText, NullObjectAndArrayRaise) {
  expectRuntime([] { toText(Variant(Null{})); }, 94, "Invalid use of Null");
  expectRuntime([] { toText(Variant(StringArray{"a"})); }, 13, "Type mismatch");
  expectRuntime([] { toText(Variant(std::make_shared<Obj>())); }, 13, "Type mismatch");
  EXPECT_EQ(concatText(Variant(Null{})), "");
  EXPECT_EQ(concatText(Variant(int16_t{7})), "7");
}

struct DoubleCase {
  double value;
  const char* text;
};

TEST(FormatDouble, FifteenDigitsAndExponentBoundaries) {
  const DoubleCase cases[] = {
      {0.0, "0"},
      {-0.0, "0"},
      {1.0, "1"},
      {-1.0, "-1"},
      {0.5, "0.5"},
      {1.0 / 3.0, "0.333333333333333"},
      {2.0 / 3.0, "0.666666666666667"},
      {123.456, "123.456"},
      {0.1 + 0.2, "0.3"},
      {0.0001, "0.0001"},
      {0.00012345, "0.00012345"},
      {0.00001, "1E-05"},
      {0.000015, "1.5E-05"},
      {-0.000015, "-1.5E-05"},
      {1e14, "100000000000000"},
      {123456789012345.0, "123456789012345"},
      {1e15, "1E+15"},
      {1234567890123456.0, "1.23456789012346E+15"},
      {999999999999999.0, "999999999999999"},
      {9999999999999999.0, "1E+16"},
      {999999999999999.9, "1E+15"},
      {1e20, "1E+20"},
      {1e100, "1E+100"},
      {1.5e-300, "1.5E-300"},
      {std::numeric_limits<double>::max(), "1.79769313486232E+308"},
      {2147483648.0, "2147483648"},
  };
  for (const auto& c : cases) EXPECT_EQ(formatDouble(c.value), c.text) << c.value;
}

struct NumberCase {
  Variant value;
  double expected;
};

TEST(ToDouble, FromEveryScalarType) {
  const NumberCase cases[] = {
      {Variant(), 0},
      {Variant(true), -1},
      {Variant(false), 0},
      {Variant(int16_t{-5}), -5},
      {Variant(uint8_t{200}), 200},
      {Variant(Currency{12345}), 1.2345},
      {Variant(Date{43000.5}), 43000.5},
      {Variant("  12.5  "), 12.5},
      {Variant("-3"), -3},
      {Variant("+3"), 3},
      {Variant(".5"), 0.5},
      {Variant("5."), 5},
      {Variant("1e3"), 1000},
      {Variant("1.5E-2"), 0.015},
      {Variant("2D2"), 200},
      {Variant("&H10"), 16},
      {Variant("&HFFFF"), -1},
      {Variant("&O17"), 15},
      {Variant("1e-400"), 0},
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(toDouble(c.value), c.expected) << toText(c.value);
}

TEST(ToDouble, BadTextRaisesTypeMismatchHugeRaisesOverflow) {
  for (const char* bad : {"", " ", "abc", "1 2", "1,5", "\t1", "1\t", "True", "1e", "--1", ".", "&H", "&HZZ", "0x10"})
    expectRuntime([&] { toDouble(Variant(bad)); }, 13, "Type mismatch");
  expectRuntime([] { toDouble(Variant("1e400")); }, 6, "Overflow");
  expectRuntime([] { toDouble(Variant(Null{})); }, 94, "Invalid use of Null");
  expectRuntime([] { toDouble(Variant(VariantArray{})); }, 13, "Type mismatch");
}

struct WholeCase {
  Variant value;
  int32_t expected;
};

TEST(ToInteger, RoundsHalfToEvenWithinSixteenBits) {
  const WholeCase cases[] = {
      {Variant(2.5), 2},
      {Variant(3.5), 4},
      {Variant(-2.5), -2},
      {Variant(-3.5), -4},
      {Variant(2.4999), 2},
      {Variant(2.5001), 3},
      {Variant("0.5"), 0},
      {Variant("1.5"), 2},
      {Variant(" 32767 "), 32767},
      {Variant("-32768"), -32768},
      {Variant(32767.4), 32767},
      {Variant(-32768.5), -32768},
      {Variant(true), -1},
      {Variant(), 0},
      {Variant(Currency{25000}), 2},
      {Variant(Currency{35000}), 4},
      {Variant(Currency{-25001}), -3},
      {Variant(Date{2.5}), 2},
  };
  for (const auto& c : cases) EXPECT_EQ(toInteger(c.value), c.expected) << toText(c.value);
}

TEST(ToInteger, OutOfRangeRaisesOverflow) {
  for (const Variant& v : {Variant(32768), Variant(-32769), Variant(32767.5), Variant("40000"),
                           Variant(std::nan("")), Variant(1e300), Variant(Currency{327680000})})
    expectRuntime([&] { toInteger(v); }, 6, "Overflow");
  expectRuntime([] { toInteger(Variant("x")); }, 13, "Type mismatch");
  expectRuntime([] { toInteger(Variant(Null{})); }, 94, "Invalid use of Null");
}

TEST(ToLong, BoundariesOfThirtyTwoBits) {
  EXPECT_EQ(toLong(Variant("2147483647")), 2147483647);
  EXPECT_EQ(toLong(Variant(-2147483648.0)), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(toLong(Variant(2147483646.5)), 2147483646);
  EXPECT_EQ(toLong(Variant("&HFFFFFFFF")), -1);
  EXPECT_EQ(toLong(Variant(int16_t{-7})), -7);
  expectRuntime([] { toLong(Variant("2147483648")); }, 6, "Overflow");
  expectRuntime([] { toLong(Variant(2147483647.5)); }, 6, "Overflow");
  expectRuntime([] { toLong(Variant("&H100000000")); }, 6, "Overflow");
}

TEST(ToByte, ZeroTo255) {
  EXPECT_EQ(toByte(Variant("255")), 255);
  EXPECT_EQ(toByte(Variant(0.5)), 0);
  EXPECT_EQ(toByte(Variant(true)), 255);
  EXPECT_EQ(toByte(Variant(false)), 0);
  expectRuntime([] { toByte(Variant(256)); }, 6, "Overflow");
  expectRuntime([] { toByte(Variant(-1)); }, 6, "Overflow");
}

TEST(ToBoolean, NumbersAndTrueFalseText) {
  EXPECT_TRUE(toBoolean(Variant("True")));
  EXPECT_TRUE(toBoolean(Variant("tRUE")));
  EXPECT_FALSE(toBoolean(Variant(" FALSE ")));
  EXPECT_TRUE(toBoolean(Variant("-1")));
  EXPECT_TRUE(toBoolean(Variant("0.1")));
  EXPECT_FALSE(toBoolean(Variant("0")));
  EXPECT_FALSE(toBoolean(Variant()));
  EXPECT_TRUE(toBoolean(Variant(int16_t{2})));
  EXPECT_TRUE(toBoolean(Variant(Currency{1})));
  EXPECT_FALSE(toBoolean(Variant(0.0)));
  expectRuntime([] { toBoolean(Variant("yes")); }, 13, "Type mismatch");
  expectRuntime([] { toBoolean(Variant("")); }, 13, "Type mismatch");
  expectRuntime([] { toBoolean(Variant(Null{})); }, 94, "Invalid use of Null");
}

TEST(ToCurrency, FourDecimalsHalfToEvenAndRange) {
  EXPECT_EQ(toCurrency(Variant("1.23455")).scaled, 12346);
  EXPECT_EQ(toCurrency(Variant("1.23445")).scaled, 12344);
  EXPECT_EQ(toCurrency(Variant("1.234450001")).scaled, 12345);
  EXPECT_EQ(toCurrency(Variant("-0.00005")).scaled, 0);
  EXPECT_EQ(toCurrency(Variant("-0.00015")).scaled, -2);
  EXPECT_EQ(toCurrency(Variant(" 922337203685477.5807 ")).scaled,
            std::numeric_limits<int64_t>::max());
  EXPECT_EQ(toCurrency(Variant("-922337203685477.5808")).scaled,
            std::numeric_limits<int64_t>::min());
  EXPECT_EQ(toCurrency(Variant("1e2")).scaled, 1000000);
  EXPECT_EQ(toCurrency(Variant(2.5)).scaled, 25000);
  EXPECT_EQ(toCurrency(Variant(int32_t{-3})).scaled, -30000);
  EXPECT_EQ(toCurrency(Variant(true)).scaled, -10000);
  EXPECT_EQ(formatCurrency(Currency{std::numeric_limits<int64_t>::min()}), "-922337203685477.5808");
  expectRuntime([] { toCurrency(Variant("922337203685477.5808")); }, 6, "Overflow");
  expectRuntime([] { toCurrency(Variant(1e16)); }, 6, "Overflow");
  expectRuntime([] { toCurrency(Variant("1.2.3")); }, 13, "Type mismatch");
}

TEST(RoundHalfEven, Ties) {
  const std::pair<double, double> cases[] = {{0.5, 0},  {1.5, 2},   {2.5, 2},  {-0.5, 0},
                                             {-1.5, -2}, {-2.5, -2}, {2.6, 3},  {-2.6, -3},
                                             {7, 7},     {1e300, 1e300}};
  for (auto [in, out] : cases) EXPECT_EQ(roundHalfEven(in), out) << in;
}

TEST(Dates, MakeFormatParseRoundTrip) {
  EXPECT_EQ(makeDate(1899, 12, 30).serial, 0);
  EXPECT_EQ(makeDate(1900, 1, 1).serial, 2);
  EXPECT_EQ(makeDate(2000, 2, 29).serial, 36585);
  EXPECT_EQ(makeDate(1899, 12, 29, 6).serial, -1.25);
  EXPECT_EQ(formatDate(makeDate(2024, 3, 9, 13, 5, 7)), "2024-03-09 13:05:07");
  EXPECT_EQ(formatDate(makeDate(2024, 3, 9)), "2024-03-09");
  EXPECT_EQ(formatDate(Date{-1.25}), "1899-12-29 06:00:00");
  EXPECT_EQ(formatDate(Date{0.5}), "1899-12-30 12:00:00");
  EXPECT_EQ(formatDate(makeDate(100, 1, 1)), "0100-01-01");
  EXPECT_EQ(formatDate(makeDate(9999, 12, 31, 23, 59, 59)), "9999-12-31 23:59:59");
  // A time that rounds up to midnight moves to the next day.
  EXPECT_EQ(formatDate(Date{1.99998}), "1899-12-31 23:59:58");
  EXPECT_EQ(formatDate(Date{1.999999999}), "1900-01-01");
  EXPECT_EQ(toText(Variant(makeDate(2001, 9, 11, 8, 46))), "2001-09-11 08:46:00");

  Date d;
  ASSERT_TRUE(parseDate("2024-03-09 13:05:07", d));
  EXPECT_EQ(d, makeDate(2024, 3, 9, 13, 5, 7));
  ASSERT_TRUE(parseDate(" 2024-03-09T13:05 ", d));
  EXPECT_EQ(d, makeDate(2024, 3, 9, 13, 5));
  ASSERT_TRUE(parseDate("1800-01-01", d));
  EXPECT_EQ(formatDate(d), "1800-01-01");
  for (const char* bad : {"", "2024-3-9", "2024-02-30", "2023-02-29", "2024-13-01", "2024-01-01 24:00",
                          "2024-01-01 10:60", "2024-01-01 10:00:", "0099-01-01", "x2024-01-01",
                          "2024-01-01Z"})
    EXPECT_FALSE(parseDate(bad, d)) << bad;
  expectRuntime([] { makeDate(2023, 2, 29); }, 5, "Invalid procedure call or argument");
  expectRuntime([] { makeDate(2023, 1, 1, 24); }, 5, "Invalid procedure call or argument");
}

TEST(ToDate, FromTextNumberOrDate) {
  EXPECT_EQ(toDate(Variant("2024-03-09")), makeDate(2024, 3, 9));
  EXPECT_EQ(toDate(Variant(36585)), makeDate(2000, 2, 29));
  EXPECT_EQ(toDate(Variant(Date{3})).serial, 3);
  EXPECT_EQ(toDouble(Variant(makeDate(2000, 2, 29))), 36585);
  expectRuntime([] { toDate(Variant("not a date")); }, 13, "Type mismatch");
  expectRuntime([] { toDate(Variant(1e7)); }, 6, "Overflow");
  expectRuntime([] { toDate(Variant(Null{})); }, 94, "Invalid use of Null");
}

TEST(Deref, NothingRaisesObjectNotSet) {
  std::shared_ptr<Obj> nothing;
  expectRuntime([&] { deref(nothing); }, 91, "Object variable or With block variable not set");
  auto some = std::make_shared<Obj>();
  EXPECT_EQ(&deref(some), some.get());
}

}  // namespace
}  // namespace ovt
