#include "sqltext/sqltext.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ovtbldiff/dbcomp/database.h"
#include "support/raised.h"

namespace ovt {
namespace {

using sqltext::GetAliasedColumn;
using sqltext::GetAliasName;
using sqltext::GetSQLValue;

struct LiteralCase {
  Variant value;
  int16_t type;
  std::string literal;
};

TEST(SqlValue, LiteralsByDataType) {
  const std::vector<LiteralCase> cases = {
      {Variant(Null{}), db::adInteger, "0"},
      {Variant(Null{}), db::adVarWChar, "''"},
      {Variant("x"), db::adVarChar, ""},
      {Variant(Null{}), db::adVarChar, ""},
      {Variant("x"), db::adLongVarWChar, ""},
      {Variant("O'Brien"), db::adVarWChar, "\"O'Brien\""},
      {Variant(int32_t{5}), db::adWChar, "\"5\""},
      {Variant(int32_t{-12}), db::adInteger, "-12"},
      {Variant(int16_t{7}), db::adSmallInt, "7"},
      {Variant(-2.5), db::adDouble, "-2.5"},
      {Variant(1.0), db::adDouble, "1"},
      {Variant(1e20), db::adDouble, "1E+20"},
      {Variant(Currency{125000}), db::adCurrency, "12.5"},
      {Variant(true), db::adBoolean, "True"},
      {Variant(false), db::adBoolean, "False"},
      {Variant(makeDate(2026, 12, 5)), db::adDate, "#2026-12-05#"},
      {Variant(makeDate(2026, 12, 5, 10, 30, 0)), db::adDate, "#2026-12-05 10:30:00#"},
      {Variant("2026-12-05"), db::adDate, "#2026-12-05#"},
      {Variant("12"), db::adInteger, "12"},
      {Variant("say \"hi\""), db::adBSTR, "\"say \"hi\"\""},
  };
  for (const LiteralCase& c : cases)
    EXPECT_EQ(GetSQLValue(c.value, c.type), c.literal) << "type " << c.type << " expected " << c.literal;
}

TEST(SqlValue, EveryCodeBelongsToItsGroup) {
  for (int16_t t : {2, 3, 4, 5, 6, 7, 11, 14, 16, 17, 128, 131, 134}) {
    EXPECT_EQ(GetSQLValue(Variant(int32_t{1}), t), "1") << t;
    EXPECT_EQ(GetSQLValue(Variant(Null{}), t), "0") << t;
  }
  for (int16_t t : {8, 129, 130, 202}) {
    EXPECT_EQ(GetSQLValue(Variant(int32_t{1}), t), "\"1\"") << t;
    EXPECT_EQ(GetSQLValue(Variant(Null{}), t), "''") << t;
  }
  for (int16_t t : {0, 20, 72, 133, 135, 200, 201, 203, 204, 205}) {
    EXPECT_EQ(GetSQLValue(Variant(int32_t{1}), t), "") << t;
    EXPECT_EQ(GetSQLValue(Variant(Null{}), t), "") << t;
  }
}

TEST(Aliases, SharedNamesGetSuffixesKeepingCallersCase) {
  StringArray common{"HouseNo", ""};
  EXPECT_EQ(toText(GetAliasedColumn("houseno", common, "Member", true)),
            "[Member].[houseno] as [houseno~Main]");
  EXPECT_EQ(toText(GetAliasedColumn("HouseNo", common, "Member", false)),
            "[Member].[HouseNo] as [HouseNo~Grid]");
  EXPECT_EQ(toText(GetAliasedColumn("Age", common, "Member", true)), "[Age]");
  EXPECT_EQ(toText(GetAliasName("HOUSENO", common, "ignored", true)), "HOUSENO~Main");
  EXPECT_EQ(toText(GetAliasName("HouseNo", common, "", false)), "HouseNo~Grid");
  EXPECT_EQ(toText(GetAliasName("Age", common, "", false)), "Age");
  // "" is in every list built for a grid pair, yet it is only a name like any other.
  EXPECT_EQ(toText(GetAliasName("", common, "", true)), "~Main");
  EXPECT_EQ(GetAliasName("Age", common, "", true).type(), VarType::String);
}

TEST(Aliases, EmptyWalkAndBadLists) {
  StringArray none = StringArray::of({});
  EXPECT_EQ(toText(GetAliasName("Age", none, "", true)), "Age");
  EXPECT_EQ(toText(GetAliasedColumn("Age", none, "T", true)), "[Age]");
  StringArray unallocated;
  EXPECT_EQ(test::raisedBy([&] { GetAliasName("Age", unallocated, "", true); }).number(), 9);
  StringArray huge;
  huge.redim(0, 32768);
  EXPECT_EQ(test::raisedBy([&] { GetAliasedColumn("Age", huge, "T", true); }).number(), 6);
}

}  // namespace
}  // namespace ovt
