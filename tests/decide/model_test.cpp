// The decision model without the entries: typed values against column types, key texts, the
// long csv, and the review file kept across openings.
#include <gtest/gtest.h>

#include <sstream>

#include "ovtbldiff/decide.h"
#include "support/temp_dir.h"

namespace ovt::test {
namespace {

using namespace ovt::decide;
using namespace ovt::db;

struct LiteralCase {
  std::string value;
  int32_t type;
  std::string literal;  // "" = refused
};

TEST(TypedLiteral, EachValueBecomesALiteralOfItsColumnTypeOrIsRefused) {
  const LiteralCase cases[] = {
      {"10", adInteger, "10"},
      {" -7 ", adInteger, "-7"},
      {"+3", adSmallInt, "3"},
      {"40000", adSmallInt, ""},
      {"2147483648", adInteger, ""},
      {"1.5", adInteger, ""},
      {"ten", adInteger, ""},
      {"1;drop table x", adInteger, ""},
      {"", adInteger, "Null"},
      {"256", adUnsignedTinyInt, ""},
      {"2.50", adDouble, "2.50"},
      {".5", adDouble, "0.5"},
      {"1e3", adDouble, "1e3"},
      {"1e999", adDouble, ""},
      {"12.3456", adCurrency, "12.3456"},
      {"2026-12-05", adDate, "#2026-12-05#"},
      {"2026-12-05 10:30", adDate, "#2026-12-05 10:30:00#"},
      {"2026-02-30", adDate, ""},
      {"2024-02-29", adDate, "#2024-02-29#"},
      {"2026-12-05 25:00", adDate, ""},
      {"05/12/2026", adDate, ""},
      {"yes", adBoolean, "True"},
      {"0", adBoolean, "False"},
      {"maybe", adBoolean, ""},
      {"O'Brien", adVarWChar, "'O''Brien'"},
      {"a \"b\" [c]; --", adVarWChar, "'a \"b\" [c]; --'"},
      {"", adVarWChar, "''"},
      {std::string("a\0b", 3), adVarWChar, ""},
      {"\xC3\x28", adLongVarWChar, ""},
      {"\xC3\xA9t\xC3\xA9", adLongVarWChar, "'\xC3\xA9t\xC3\xA9'"},
      {"x", adLongVarBinary, ""},
  };
  for (const LiteralCase& c : cases) {
    if (c.literal.empty()) {
      EXPECT_THROW(typedLiteral(c.value, c.type, "field F of T K=1"), Refused) << c.value << " / " << c.type;
    } else {
      EXPECT_EQ(typedLiteral(c.value, c.type, "field F of T K=1"), c.literal) << c.value << " / " << c.type;
    }
  }
}

TEST(TypedLiteral, TheRefusalNamesTheValueAndTheColumn) {
  try {
    typedLiteral("ten", adInteger, "field Rooms of House HouseNo=103");
    FAIL() << "not refused";
  } catch (const Refused& e) {
    EXPECT_STREQ(e.what(),
                 "value \"ten\" for field Rooms of House HouseNo=103 is refused: the column takes a whole number");
  }
}

TEST(KeyText, RoundTripsValuesHoldingSeparators) {
  EXPECT_EQ(keyText({"HouseNo", "LineNo"}, {"102", "2"}), "HouseNo=102;LineNo=2");
  EXPECT_EQ(parseKeyText("HouseNo=102;LineNo=2", {"HouseNo", "LineNo"}), (std::vector<std::string>{"102", "2"}));
  EXPECT_EQ(parseKeyText("code=a;b=c;LineNo=x=y", {"Code", "LineNo"}), (std::vector<std::string>{"a;b=c", "x=y"}));
  EXPECT_EQ(parseKeyText("HouseNo=", {"HouseNo"}), (std::vector<std::string>{""}));
  EXPECT_THROW(parseKeyText("House=102", {"HouseNo"}), Refused);
  EXPECT_THROW(parseKeyText("HouseNo=102", {"HouseNo", "LineNo"}), Refused);
}

TEST(DecisionsCsv, ReadsChoicesAndLeavesEmptyOnesUndecided) {
  std::istringstream in(
      "\xEF\xBB\xBFtable,record,field,entry1,entry2,choose\r\n"
      "House,HouseNo=103,Rooms,4,5,2\r\n"
      "House,HouseNo=105,HeadName,Fatuma,Fatma,\"=Fatuma \"\"Tuma\"\", [H]\"\r\n"
      "House,HouseNo=107,Village,Thika,Thika Town,\r\n"
      "House,HouseNo=108,,(present),(absent),1\r\n"
      "House,HouseNo=109,,(absent),(present),delete\r\n"
      "\"Member\",\"HouseNo=102;LineNo=3\",Age,9,10, 1 \r\n"
      "House,HouseNo=104,Note,\"two\nlines\",x,=\n");
  auto ds = readDecisionsCsv(in);
  ASSERT_EQ(ds.size(), 7u);
  EXPECT_EQ(ds[0].choice, Choice::Entry2);
  EXPECT_EQ(ds[0].entry1, "4");
  EXPECT_EQ(ds[1].choice, Choice::Typed);
  EXPECT_EQ(ds[1].typed, "Fatuma \"Tuma\", [H]");
  EXPECT_EQ(ds[2].choice, Choice::Undecided);
  EXPECT_EQ(ds[3].choice, Choice::Entry1);
  EXPECT_EQ(ds[3].field, "");
  EXPECT_EQ(ds[4].choice, Choice::Delete);
  EXPECT_EQ(ds[5].record, "HouseNo=102;LineNo=3");
  EXPECT_EQ(ds[5].choice, Choice::Entry1);
  EXPECT_EQ(ds[6].entry1, "two\nlines");
  EXPECT_EQ(ds[6].choice, Choice::Typed);
  EXPECT_EQ(ds[6].typed, "");
}

TEST(DecisionsCsv, MalformedFilesAreRefusedWithTheLine) {
  struct Case {
    std::string text, message;
  } cases[] = {
      {"", "the decisions file is empty"},
      {"table,record,field,entry1,entry2\n", "line 1: the header must be table,record,field,entry1,entry2,choose"},
      {"table,record,field,entry1,entry2,choose\nHouse,HouseNo=1,Rooms,1,2,3\n",
       "line 2: choose \"3\" is not 1, 2, =VALUE (or empty to leave it undecided)"},
      {"table,record,field,entry1,entry2,choose\nHouse,HouseNo=1,,a,b,=x\n",
       "line 2: a typed value (=x) is for a field, not for a whole record; choose 1, 2, keep or delete"},
      {"table,record,field,entry1,entry2,choose\nHouse,HouseNo=1,Rooms,1,2\n", "line 2: 5 fields, 6 expected"},
      {"table,record,field,entry1,entry2,choose\n\nHouse,HouseNo=1,Rooms,\"1,2,1\n",
       "line 4: a quoted field is not closed"},
  };
  for (const Case& c : cases) {
    std::istringstream in(c.text);
    try {
      readDecisionsCsv(in);
      ADD_FAILURE() << "not refused: " << c.text;
    } catch (const Refused& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
}

TEST(ReviewFile, DecisionsSurviveReopeningAndReplaceEachOther) {
  TempDir dir;
  const std::string path = dir.file("house.review");
  Decision a;
  a.table = "House";
  a.record = "HouseNo=103";
  a.field = "Rooms";
  a.choice = Choice::Entry2;
  a.reviewer = "ann";
  Decision b = a;
  b.field = "HeadName";
  b.choice = Choice::Typed;
  b.typed = "O'Brien [x]";
  {
    ReviewFile f(path);
    f.setSetting("entry1", "e1.db");
    f.save(a);
    f.save(b);
  }
  {
    ReviewFile f(path);
    EXPECT_EQ(f.setting("entry1"), "e1.db");
    EXPECT_EQ(f.setting("entry2"), "");
    auto ds = f.decisions();
    ASSERT_EQ(ds.size(), 2u);
    EXPECT_EQ(ds[1].typed, "O'Brien [x]");
    EXPECT_EQ(ds[1].reviewer, "ann");
    EXPECT_EQ(ds[0].decidedAt.size(), 19u);
    a.choice = Choice::Entry1;  // changed mind: replaces, keeps its place
    f.save(a);
    b.choice = Choice::Undecided;  // taken back
    f.save(b);
    f.markApplied(a, "2", "2026-12-07 10:00:00");
  }
  ReviewFile f(path);
  auto ds = f.decisions();
  ASSERT_EQ(ds.size(), 1u);
  EXPECT_EQ(ds[0].choice, Choice::Entry1);
  EXPECT_EQ(f.appliedAt(a, "2"), "2026-12-07 10:00:00");
  EXPECT_EQ(f.appliedAt(a, "1"), "");
}

}  // namespace
}  // namespace ovt::test
