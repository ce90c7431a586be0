#include "ovtbldiff/runtime/safearray.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "support/raised.h"

namespace ovt {
namespace {

int32_t raisedNumber(const std::function<void()>& f) {
  const ComError e = test::raisedBy(f);
  EXPECT_EQ(e.source(), "OVTblDiffData");
  return e.number();
}

using Strings = SafeArray<std::string>;

TEST(SafeArrayBounds, UnallocatedRaisesSubscriptOutOfRange) {
  Strings a;
  EXPECT_FALSE(a.allocated());
  EXPECT_EQ(raisedNumber([&] { a.ubound(); }), 9);
  EXPECT_EQ(raisedNumber([&] { a.lbound(); }), 9);
  EXPECT_EQ(raisedNumber([&] { a.at(0); }), 9);
  EXPECT_EQ(raisedNumber([&] { loopUpper(a); }), 9);
}

TEST(SafeArrayBounds, LowerBoundsAndIndexing) {
  Strings a;
  a.redim(1, 3);
  EXPECT_EQ(a.lbound(), 1);
  EXPECT_EQ(a.ubound(), 3);
  a.at(1) = "one";
  a.at(3) = "three";
  EXPECT_EQ(raisedNumber([&] { a.at(0); }), 9);
  EXPECT_EQ(raisedNumber([&] { a.at(4); }), 9);
  EXPECT_EQ(raisedNumber([&] { a.ubound(2); }), 9);
  EXPECT_EQ(raisedNumber([&] { a.at(1, 1); }), 9);
  a.redim(-2, 2);
  EXPECT_EQ(a.lbound(), -2);
  EXPECT_EQ(a.at(-2), "");  // redim discards contents

  Strings empty;
  empty.redim(0, -1);
  EXPECT_TRUE(empty.allocated());
  EXPECT_EQ(empty.ubound(), -1);
  EXPECT_EQ(raisedNumber([&] { empty.at(0); }), 9);
  EXPECT_EQ(raisedNumber([&] { empty.redim(0, -2); }), 9);
}

TEST(SafeArrayRedim, PreserveKeepsElementsOfTheLastDimension) {
  Strings a{"a", "b", "c"};
  a.redimPreserve(4);
  EXPECT_EQ(a.ubound(), 4);
  EXPECT_EQ(a.at(2), "c");
  EXPECT_EQ(a.at(4), "");
  a.redimPreserve(0);
  EXPECT_EQ(a.elements(), std::vector<std::string>{"a"});

  Strings fresh;
  fresh.redimPreserve(1);  // on an unallocated array it simply allocates
  EXPECT_EQ(fresh.ubound(), 1);

  Strings grid = Strings::of2({{"k1", "3"}, {"k2", "202"}});
  EXPECT_EQ(grid.ubound(1), 1);
  EXPECT_EQ(grid.ubound(2), 1);
  EXPECT_EQ(grid.at(1, 1), "202");
  grid.redimPreserve(0, 1, 0, 2);
  EXPECT_EQ(grid.at(1, 0), "k2");
  EXPECT_EQ(grid.at(1, 1), "202");
  EXPECT_EQ(grid.at(1, 2), "");
  grid.redimPreserve(0, 1, 0, 0);
  EXPECT_EQ(grid.at(0, 0), "k1");
  EXPECT_EQ(grid.at(1, 0), "k2");
  // Only the last dimension may change while the contents are kept.
  EXPECT_EQ(raisedNumber([&] { grid.redimPreserve(0, 2, 0, 0); }), 9);
  EXPECT_EQ(raisedNumber([&] { grid.redimPreserve(1, 2, 0, 0); }), 9);
  EXPECT_EQ(raisedNumber([&] { grid.redimPreserve(0, 1, 1, 1); }), 9);
  EXPECT_EQ(raisedNumber([&] { grid.redimPreserve(5); }), 9);
  // The one-bound form means 0 to ub: another lower bound raises 9 and leaves the array whole.
  Strings one;
  one.redim(1, 2);
  one.at(1) = "x";
  EXPECT_EQ(raisedNumber([&] { one.redimPreserve(0); }), 9);
  EXPECT_EQ(one.lbound(), 1);
  EXPECT_EQ(one.ubound(), 2);
  EXPECT_EQ(one.at(1), "x");
  // An array that ends at the last 32-bit index.
  Strings last;
  last.redim(2147483647, 2147483647);
  EXPECT_EQ(last.ubound(), 2147483647);
  EXPECT_EQ(raisedNumber([&] { a.redimPreserve(0, 0, 0, 0); }), 9);
  grid.erase();
  EXPECT_FALSE(grid.allocated());
}

TEST(SafeArrayTwoDims, BoundsPerDimension) {
  Strings g;
  g.redim(1, 2, 5, 7);
  EXPECT_EQ(g.dims(), 2);
  EXPECT_EQ(g.lbound(1), 1);
  EXPECT_EQ(g.ubound(1), 2);
  EXPECT_EQ(g.lbound(2), 5);
  EXPECT_EQ(g.ubound(2), 7);
  g.at(2, 7) = "last";
  EXPECT_EQ(g.elements().back(), "last");
  EXPECT_EQ(raisedNumber([&] { g.at(0, 5); }), 9);
  EXPECT_EQ(raisedNumber([&] { g.at(1, 8); }), 9);
  EXPECT_EQ(raisedNumber([&] { g.at(1); }), 9);
  EXPECT_EQ(raisedNumber([&] { g.ubound(3); }), 9);
  EXPECT_EQ(raisedNumber([&] { g.ubound(0); }), 9);
}

TEST(LoopUpper, SixteenBitCounterLimit) {
  SafeArray<int> a;
  a.redim(0, 32766);  // 32767 elements: the largest array a 16-bit counter walks
  EXPECT_EQ(loopUpper(a), 32766);
  a.redim(0, 32767);  // 32768 elements
  EXPECT_EQ(raisedNumber([&] { loopUpper(a); }), 6);
  a.redim(0, 40000);
  EXPECT_EQ(raisedNumber([&] { loopUpper(a); }), 6);
  a.redim(0, -1);
  EXPECT_EQ(loopUpper(a), -1);

  SafeArray<int> g;
  g.redim(0, 1, 0, 32767);
  EXPECT_EQ(loopUpper(g, 1), 1);
  EXPECT_EQ(raisedNumber([&] { loopUpper(g, 2); }), 6);

  EXPECT_EQ(toInt16Checked(32767), 32767);
  EXPECT_EQ(toInt16Checked(-32768), -32768);
  EXPECT_EQ(raisedNumber([] { toInt16Checked(32768); }), 6);
  EXPECT_EQ(raisedNumber([] { toInt16Checked(-32769); }), 6);
}

}  // namespace
}  // namespace ovt
