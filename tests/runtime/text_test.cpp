#include "ovtbldiff/runtime/text.h"

#include <gtest/gtest.h>

#include <functional>

#include "support/raised.h"

namespace ovt {
namespace {

struct Pair {
  const char* a;
  const char* b;
  bool equal;
};

TEST(TextEqual, CaseInsensitiveOnUnicode) {
  const Pair cases[] = {
      {"UniqueKey", "UNIQUEKEY", true},
      {"uniquekey", "UniqueKey", true},
      {"", "", true},
      {"", " ", false},
      {"a", "", false},
      {"", "a", false},
      {"abc", "abd", false},
      {"abc", "ab", false},
      {"é", "É", true},
      {"Café", "CAFÉ", true},
      {"café", "cafe", false},
      {"Ärger", "ärger", true},
      {"Ωμέγα", "ΩΜΈΓΑ", true},
      {"Σίσυφος", "ΣΊΣΥΦΟΣ", true},      // final sigma folds like sigma
      {"ПРИВЕТ", "привет", true},
      {"straße", "STRASSE", true},       // full folding: ß is "ss"
      {"straße", "strase", false},
      {"ﬁle", "FILE", true},             // ligature fi folds to "fi"
      {"日本", "日本", true},
      {"日本", "日木", false},
      {"😀A", "😀a", true},
      {"e\xCC\x81", "é", false},         // no normalisation: decomposed differs
      {"a\xFF", "A\xFF", true},          // malformed bytes compared as they are
      {"a\xFF", "a\xFE", false},
      {"a\xC3", "a\xC3\xA9", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(textEqual(c.a, c.b), c.equal) << c.a << " / " << c.b;
    EXPECT_EQ(textEqual(c.b, c.a), c.equal) << c.b << " / " << c.a;
    EXPECT_EQ(textCompare(c.a, c.b) == 0, c.equal) << c.a << " / " << c.b;
  }
}

TEST(TextCompare, OrdersByFoldedText) {
  EXPECT_LT(textCompare("apple", "Banana"), 0);
  EXPECT_GT(textCompare("BANANA", "apple"), 0);
  EXPECT_LT(textCompare("ab", "ABC"), 0);
  EXPECT_GT(textCompare("abc", "AB"), 0);
  EXPECT_LT(textCompare("", "a"), 0);
  EXPECT_LT(textCompare("Z", "é"), 0);
  EXPECT_GT(textCompare("Éa", "éA") + 1, 0);
  EXPECT_EQ(textCompare("Éa", "éA"), 0);
  // Antisymmetric on a mixed set.
  const char* words[] = {"a", "B", "ß", "ss", "st", "É", "ę", "日", "", "_"};
  for (const char* x : words)
    for (const char* y : words) EXPECT_EQ(textCompare(x, y), -textCompare(y, x)) << x << " " << y;
}

TEST(FoldCase, FullFolding) {
  EXPECT_EQ(foldCase("UniqueKey"), "uniquekey");
  EXPECT_EQ(foldCase("STRAßE"), "strasse");
  EXPECT_EQ(foldCase("ÉCOLE"), "école");
  EXPECT_EQ(foldCase(""), "");
  EXPECT_EQ(foldCase("İ"), "i\xCC\x87");  // dotted capital I: i + combining dot
  EXPECT_EQ(foldCase("x\xFFY"), "x\xFFy");
}

TEST(FindText, CaseInsensitivePositionsInBytes) {
  EXPECT_EQ(findText("SELECT * FROM T", "from"), 9u);
  EXPECT_EQ(findText("abc", ""), 0u);
  EXPECT_EQ(findText("", "a"), std::string_view::npos);
  EXPECT_EQ(findText("abc", "abcd"), std::string_view::npos);
  EXPECT_EQ(findText("ORULINK_x", "orulink_"), 0u);
  EXPECT_EQ(findText("xxÉcole", "école"), 2u);
  EXPECT_EQ(findText("éÉ", "é"), 0u);
  EXPECT_EQ(findText("aéÉ", "ÉÉ"), 1u);
  // A match covers whole characters: "ss" is all of "ß", "s" only half of it.
  EXPECT_EQ(findText("Straße", "SS"), 4u);
  EXPECT_EQ(findText("Straße", "SSE"), 4u);
  EXPECT_EQ(findText("Straße", "aS"), std::string_view::npos);
  EXPECT_EQ(findText("ß", "s"), std::string_view::npos);
  EXPECT_EQ(findText("Straße", "STRASSE"), 0u);
  EXPECT_EQ(findText("die straße", "Straße"), 4u);
  EXPECT_EQ(findText("abc", "C"), 2u);
}

TEST(StartsWithText, Prefixes) {
  EXPECT_TRUE(startsWithText("ORULINK_Person", "orulink_"));
  EXPECT_TRUE(startsWithText("abc", ""));
  EXPECT_TRUE(startsWithText("", ""));
  EXPECT_FALSE(startsWithText("", "a"));
  EXPECT_FALSE(startsWithText("ab", "abc"));
  EXPECT_FALSE(startsWithText("xabc", "abc"));
  EXPECT_TRUE(startsWithText("Éclair", "éC"));
  EXPECT_TRUE(startsWithText("STRASSE 5", "straße"));
  EXPECT_FALSE(startsWithText("ßa", "s"));
}

TEST(TrimBlanks, BlanksOnlyAtBothEnds) {
  EXPECT_EQ(trimBlanks("  a b  "), "a b");
  EXPECT_EQ(trimBlanks("\ta\t"), "\ta\t");
  EXPECT_EQ(trimBlanks(" \t a"), "\t a");
  EXPECT_EQ(trimBlanks("   "), "");
  EXPECT_EQ(trimBlanks(""), "");
  EXPECT_EQ(trimBlanks("\xC2\xA0x"), "\xC2\xA0x");  // no-break space is not a blank
}

TEST(SplitText, KeepsEveryPart) {
  StringArray empty = splitText("", ",");
  EXPECT_TRUE(empty.allocated());
  EXPECT_EQ(empty.lbound(), 0);
  EXPECT_EQ(empty.ubound(), -1);

  EXPECT_EQ(splitText("a,b", ","), (StringArray{"a", "b"}));
  EXPECT_EQ(splitText(",a,,b,", ","), (StringArray{"", "a", "", "b", ""}));
  EXPECT_EQ(splitText(",", ","), (StringArray{"", ""}));
  EXPECT_EQ(splitText("abc", ";"), (StringArray{"abc"}));
  EXPECT_EQ(splitText("a;;b", ";;"), (StringArray{"a", "b"}));
  EXPECT_EQ(splitText("a;;;b", ";;"), (StringArray{"a", ";b"}));
  EXPECT_EQ(splitText("aXbxc", "x"), (StringArray{"aXb", "c"}));
  EXPECT_EQ(splitText("abc", ""), (StringArray{"abc"}));
}

TEST(DropLast, RemovesTrailingBytes) {
  EXPECT_EQ(dropLast("a, b, ", 2), "a, b");
  EXPECT_EQ(dropLast("ab", 2), "");
  EXPECT_EQ(dropLast("ab", 0), "ab");
  const ComError e = test::raisedBy([] { dropLast("a", 2); });
  EXPECT_EQ(e.number(), 5);
  EXPECT_EQ(e.description(), "Invalid procedure call or argument");
  EXPECT_EQ(e.source(), "OVTblDiffData");
}

}  // namespace
}  // namespace ovt
