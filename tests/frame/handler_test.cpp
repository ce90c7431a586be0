#include "support/raised.h"
#include "frame/handler.h"

#include <gtest/gtest.h>

#include "ovtbldiff/gateway.h"

namespace ovt {
namespace {

using ::ovt::test::raisedBy;

TEST(HandlerKinds, OwnSourceReplacesSourceKeepsNumberAndDescription) {
  ComError e = raisedBy([] {
    frame::withOwnSource(":TotalMatchedRec", [] { raiseError(-2147217900, "OVDB", "no such table: T"); });
  });
  EXPECT_EQ(e.number(), -2147217900);
  EXPECT_EQ(e.source(), "cDATAGateway:TotalMatchedRec");
  EXPECT_EQ(e.description(), "no such table: T");
  EXPECT_FALSE(e.untrapped());
}

TEST(HandlerKinds, RuntimeErrorGetsMemberSource) {
  ComError e = raisedBy([] { frame::withOwnSource(":X", [] { raiseRuntime(RuntimeError::Overflow); }); });
  EXPECT_EQ(e.number(), 6);
  EXPECT_EQ(e.source(), "cDATAGateway:X");
  EXPECT_EQ(e.description(), "Overflow");
}

TEST(HandlerKinds, UntrappedErrorPassesUnchangedAndLosesItsMark) {
  ComError e = raisedBy([] {
    frame::withOwnSource(":Outer", [] {
      frame::untrapped([] { raiseError(objectError(707), "cDATAGateway:Inner", "Need it"); });
    });
  });
  EXPECT_EQ(e.number(), objectError(707));
  EXPECT_EQ(e.source(), "cDATAGateway:Inner");
  EXPECT_FALSE(e.untrapped());
  // An inner member's untrapped error is an ordinary error to the member that called it.
  ComError nested = raisedBy([] {
    frame::withOwnSource(":Outer", [] {
      frame::withOwnSource(":Inner", [] { frame::raiseUntrapped(objectError(711), "", "none"); });
    });
  });
  EXPECT_EQ(nested.source(), "cDATAGateway:Outer");
  EXPECT_EQ(nested.number(), objectError(711));
}

TEST(HandlerKinds, KeptSourceKeepsTrappedSourceAndMayRewriteDescription) {
  ComError kept = raisedBy([] { frame::withKeptSource([] { raiseError(5, "OVDB", "bad"); }); });
  EXPECT_EQ(kept.source(), "OVDB");
  EXPECT_EQ(kept.description(), "bad");
  ComError rewritten = raisedBy([] {
    frame::withKeptSource([] { raiseError(5, "OVDB", "bad"); },
                          [](const ComError& e) { return e.description() + ":SQLType:Difference"; });
  });
  EXPECT_EQ(rewritten.source(), "OVDB");
  EXPECT_EQ(rewritten.description(), "bad:SQLType:Difference");
}

TEST(HandlerKinds, SwallowingReturnsCurrentResult) {
  std::string result;
  std::string r = frame::swallowing(result, [&] {
    result = "partial";
    raiseError(5, "", "x");
  });
  EXPECT_EQ(r, "partial");
}

TEST(HandlerKinds, ForeignExceptionsBecomeErrorRecords) {
  ComError e = raisedBy([] { frame::withOwnSource(":M", [] { throw std::logic_error("boom"); }); });
  EXPECT_EQ(e.number(), kGenericFailure);
  EXPECT_EQ(e.description(), "boom");
  EXPECT_EQ(e.source(), "cDATAGateway:M");
}

TEST(ConnectionRules, ArgumentOrStored) {
  db::DatabaseRef stored;           // only identities matter here
  db::DatabaseRef none;
  EXPECT_EQ(frame::argumentOrStored(nullptr, stored), stored);
  EXPECT_EQ(frame::argumentOrStored(&none, stored), stored);
  EXPECT_FALSE(none);
}

TEST(DbProperty, NewObjectHasNothingStored) {
  cDataGetway g;
  EXPECT_EQ(g.DB(), nullptr);
}

}  // namespace
}  // namespace ovt
