// Statement shapes, the key of the engines' statement caches: statements that differ only in
// the values of their literals share a key and no others do; the literals come out in order with
// their kinds and values; text the tokenizer refuses raises exactly what parse() raises for it.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "dialect/dialect.h"
#include "golden/corpus_line.h"
#include "support/raised.h"

namespace ovt::dialect {
namespace {

using namespace std::string_literals;

std::string literalsOf(const Shape& shape) {
  std::string out;
  for (const Literal& l : shape.literals) out += std::string(1, l.kind) + "[" + l.text + "] ";
  return out;
}

TEST(Shape, LiteralsInOrderWithTheirKindsAndValues) {
  struct Case {
    std::string jet;
    std::string literals;
  };
  const std::vector<Case> cases = {
      {"select * from T where A = 'x' and B = 12 and C = 2.5 and D = #2020-01-02#", "S[x] N[12] R[2.5] D[2020-01-02] "},
      {"update T set A = 'O''Brien', B = \"say \"\"hi\"\"\", C = '' where K = -3", "S[O'Brien] S[say \"hi\"] S[] N[3] "},
      {"select True, FALSE, null, Nullable, TrueValue, [Null] from T", "B[-1] B[0] Z[] "},
      {"select 9223372036854775807, 9223372036854775808, 1e5, .5, 007 from T", "N[9223372036854775807] R[9223372036854775808] R[1e5] R[.5] N[007] "},
      {"select #1/2/2020 10:11:12 PM#, #10:11:12# from T", "D[2020-01-02 22:11:12] D[1899-12-30 10:11:12] "},
      {"select 'a\0b', [x\x01S] from T where y = 'c'"s, "T[a\0b] S[c] "s},
      {"select [a'b'] & 'c]' from [T]", "S[c]] "},
      {"select Straße, 'é''s' from T", "S[é's] "},
  };
  for (const Case& c : cases) EXPECT_EQ(literalsOf(shapeOf(c.jet)), c.literals) << c.jet;
}

TEST(Shape, SameKeyExactlyWhenOnlyLiteralValuesDiffer) {
  struct Pair {
    std::string a, b;
    bool same;
  };
  const std::vector<Pair> pairs = {
      {"select * from T where A = 'x' and B = 1", "select * from T where A = 'O''Brien' and B = 99999", true},
      {"update T set A = #2020-01-02#, B = True where K = 1", "update T set A = #1/3/2021 10:00#, B = false where K = 7", true},
      {"select A from T where A = 1", "select A from T where A = 1.5", false},       // whole number / other number
      {"select A from T where A = 'a'", "select A from T where A = 1", false},        // text / number
      {"select A from T where A = 'a\0'"s, "select A from T where A = 'ab'", false},  // text with NUL
      {"select A from T where A = True", "select A from T where A = Null", false},
      {"select A from T where A = 'a'", "select A from T where A = [a]", false},
      {"select A from T where A = 'a' & 'b'", "select A from T where A = 'a''b'", false},
      {"select A from T where A = 1", "select A from T where A = 1 or 1 = 1", false},
      {"select A from T where A = 1", "select A from T where B = 1", false},
      {"select A from T where A = 1", "select a from T where A = 1", false},
      {"select A from T where A = 1", "select A from T where A = Nullx", false},
      {"select A from T where A = 1", "select A from T where A = -1", false},
      {"select A from T where A = 1", "select A from T where A = 1;", false},
      // A \x01 inside a bracketed name is no literal mark.
      {"select [\x01S] from T"s, "select 'x' from T", false},
      {"select [\x01S from T] from T"s, "select ['x' from T] from T", false},
      {"select [a\x01Sb] from T"s, "select [a'x'b] from T", false},
  };
  for (const Pair& p : pairs) {
    const bool same = shapeOf(p.a).key == shapeOf(p.b).key;
    EXPECT_EQ(same, p.same) << p.a << " / " << p.b;
  }
}

// One shape reused for statement after statement (longer, shorter, with more literals and with
// fewer, after a refused one) holds exactly what a fresh shape of each holds: nothing of the
// statement before stays in its key or literals.
TEST(Shape, AReusedShapeHoldsOnlyItsLastStatement) {
  const std::vector<std::string> sequence = {
      "update T set A = 'a long text value', B = 12, C = #2020-01-02#, D = True where K = 7 and L = 'x'",
      "select A from T where K = 1",
      "select [a from T",
      "select 'O''Brien', Null from T",
      "select A from T",
      "update T set A = 'a long text value', B = 12, C = #2020-01-02#, D = True where K = 7 and L = 'x'",
      "select 1.5",
  };
  Shape reused;
  for (const std::string& jet : sequence) {
    try {
      shapeOf(jet, reused);
    } catch (const ComError&) {
      EXPECT_THROW(shapeOf(jet), ComError) << jet;
      continue;
    }
    const Shape fresh = shapeOf(jet);
    EXPECT_EQ(reused.key, fresh.key) << jet;
    EXPECT_EQ(literalsOf(reused), literalsOf(fresh)) << jet;
  }
}

TEST(Shape, RefusesWhatTheTokenizerRefusesWithItsMessage) {
  const std::vector<std::string> refused = {
      "select [a from T", "select [] from T",  "select 'abc from T", "select \"abc from T", "select #2020-01-02",
      "select #2020-13-45# from T", "select #x# from T", "select 12abc from T", "select 1.5e3x from T",
      "select a ? b from T", "select a from T where b = @x", "select a from T where b = {1}", "select 'a' from T where b = 'c", "["};
  for (const std::string& jet : refused) {
    const ComError byShape = test::raisedBy([&] { shapeOf(jet); });
    const ComError byParse = test::raisedBy([&] { parse(jet); });
    EXPECT_EQ(byShape.number(), kSyntaxError) << jet;
    EXPECT_EQ(byShape.description(), byParse.description()) << jet;
  }
}

// Every statement of the rendering corpus: where the tokenizer refuses it, shapeOf raises what
// parse() raises; where the statement parses, its shape takes it.
TEST(Shape, CorpusStatementsShapeOrRaiseAsTheyParse) {
  std::ifstream corpus(OVT_SOURCE_DIR "/tests/dialect/golden/render_corpus.txt", std::ios::binary);
  ASSERT_TRUE(corpus);
  size_t shaped = 0, refused = 0;
  for (std::string line; std::getline(corpus, line);) {
    const std::string jet = golden::statementOf(line);
    std::string parseError;
    try {
      parse(jet);
    } catch (const ComError& e) {
      parseError = e.description();
    }
    try {
      shapeOf(jet);
      ++shaped;
    } catch (const ComError& e) {
      ++refused;
      EXPECT_EQ(e.description(), parseError) << jet;
    }
  }
  EXPECT_GT(shaped, 1000u);
  EXPECT_GT(refused, 0u);
}

}  // namespace
}  // namespace ovt::dialect
