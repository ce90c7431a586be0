// The verification's one pass (prepare, then run) on real databases of every engine: where the
// keys are unique its counts of conflicts, differing values and a grid's unpaired records come
// from the listed records instead of counting statements. Case-only differences, Null against
// a value and against "", numbers, dates, an empty key, a field of one entry only and a single
// compared field must give the counts worked out by hand below, and the very report that the
// counting statements (summarize, then stream) give.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "calls/calls.h"
#include "calls/verify_json.h"
#include "component/component_support.h"
#include "ovtbldiff/host.h"
#include "ovtbldiff/verify.h"
#include "support/engines.h"
#include "support/form.h"

namespace {

using Json = nlohmann::json;

// The members through a late-bound gateway object, as a host reaches them.
class HostMembers : public ovt::verify::Members {
 public:
  HostMembers() : obj_(dispatch(), nullptr) {}
  ovt::Variant call(std::string_view member, std::vector<ovt::com::DispArg> args) override {
    return obj_.call(member, std::move(args));
  }
  void setDB(const ovt::db::DatabaseRef& conn) override { obj_.putRef("DB", ovt::Variant(ovt::ObjectRef(conn))); }

 private:
  static ovt::com::ComPtr<ovt::com::IDispatch> dispatch() {
    ovt::com::ComPtr<ovt::com::IDispatch> d;
    EXPECT_EQ(ovt::test::factory()->CreateInstance(nullptr, ovt::com::kIidIDispatch, d.put()), ovt::com::kOk);
    return d;
  }
  ovt::com::AutomationObject obj_;
};

// Form Q (key K) with the grid R (key L within Q), and form S (key K, one compared field V).
const ovt::test::Statements kForms = ovt::test::statements({
    ovt::test::catalogue("viewQ", "Q", {"K NUMBER", "R GRID 2 gvR"}),
    ovt::test::catalogue("gvR", "R", {"L NUMBER"}),
    {"create table R (UniqueKey long, RecStatus long, FKey long, L long, X text(10), Y long)"},
    ovt::test::catalogue("viewS", "S", {}),
    {"create table S (UniqueKey long, RecStatus long, K long, V text(10))"},
});

class OnePass : public ovt::test::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    one_ = entries().firstLocation();
    two_ = entries().secondLocation();
    auto a = ovt::test::openLocation(one_), b = ovt::test::openLocation(two_);
    for (auto* db : {&a, &b}) ovt::test::runAll(*db, kForms);
    // Entry 1 has the field Z more; Q's values: A case and Null, B text, N number, T Null
    // against "", D a date, C currency, F yes/no, H a short number.
    ovt::test::runAll(a, {
        "create table Q (UniqueKey long, RecStatus long, K long, A text(10), B text(10), N double, T text(10), "
        "D datetime, C currency, F yesno, H short, Z text(10))",
        "insert into Q values (1, 1, 1, 'x', 'b', 1.5, null, #2026-01-02#, 1.25, true, 7, 'z')",
        "insert into Q values (2, 1, 2, null, 'b', 1, 't', #2026-01-02#, 1.25, true, 7, 'z')",
        "insert into Q values (3, 1, 3, 'a', 'b', 2, 't', #2026-01-02#, 1.25, true, 7, 'z')",
        "insert into Q values (4, 1, 4, 'a', 'b', 2, 't', #2026-01-02#, 1.25, false, 7, 'z')",
        "insert into Q values (5, 1, 5, 'a', 'b', 2, 't', #2026-01-02#, 1.25, true, 7, 'z')",  // only here
        "insert into Q values (8, 1, 8, 'a', 'b', 2, '1', #2026-01-02#, 1.25, true, 7, 'z')",
        "insert into Q values (9, 1, null, 'a', 'b', 2, 't', #2026-01-02#, 1.25, true, 7, 'z')",  // empty key
        "insert into Q values (7, 0, 7, 'a', 'b', 2, 't', #2026-01-02#, 1.25, true, 7, 'z')",  // marked deleted
        "insert into R values (1, 1, 1, 1, 'p', 1)",
        "insert into R values (2, 1, 1, 2, null, 2)",
        "insert into R values (3, 1, 1, 3, 'q', 3)",
        "insert into R values (4, 1, 2, 1, 'r', 1)",
        "insert into R values (5, 1, 5, 1, 's', 1)",  // its parent is only here
        "insert into S values (1, 1, 1, null)",
        "insert into S values (2, 1, 2, 'b')",
    });
    ovt::test::runAll(b, {
        "create table Q (UniqueKey long, RecStatus long, K long, A text(10), B text(10), N double, T text(10), "
        "D datetime, C currency, F yesno, H short)",
        "insert into Q values (11, 1, 1, 'X', 'b', 1.5, '', #2026-01-02#, 1.25, true, 7)",  // case, Null and ""
        "insert into Q values (12, 1, 2, 'v', 'b', 1, 't', #2026-01-02#, 1.25, true, 7)",    // A: Null and a value
        "insert into Q values (13, 1, 3, 'a', 'b', 2.5, 't', #2026-01-03#, 1.5, true, 7)",   // N, D, C differ
        "insert into Q values (14, 1, 4, 'a', 'b', 2, 't', #2026-01-02#, 1.25, true, 8)",    // F and H differ
        "insert into Q values (16, 1, 6, 'a', 'b', 2, 't', #2026-01-02#, 1.25, true, 7)",    // only here
        "insert into Q values (17, 1, 7, 'a', 'b', 2, 't', #2026-01-02#, 1.25, true, 7)",    // deleted in entry 1
        "insert into Q values (18, 1, 8, 'a', 'c', 2, '1', #2026-01-02#, 1.25, true, 7)",    // B differs
        "insert into R values (11, 1, 11, 1, 'P', 1)",    // case only
        "insert into R values (12, 1, 11, 2, '', 2)",     // Null and "": listed, not counted
        "insert into R values (13, 1, 11, 3, 'q', 4)",    // Y differs
        "insert into R values (14, 1, 12, null, 'r', 1)",  // empty key
        "insert into S values (11, 1, 1, 'a')",  // Null and a value in the only compared field
        "insert into S values (12, 1, 2, 'b')",
    });
  }

  // The JSON report of the two routes: counting statements, or the one pass.
  std::string report(bool onePass, bool caseSensitive, ovt::verify::Survey* survey = nullptr) {
    ovt::calls::LocationOptions options;
    options.binaryCompare = caseSensitive;
    ovt::verify::Entries entries{ovt::calls::openLocation(one_, two_, options), ovt::calls::openLocation(two_, "", options),
                                 caseSensitive};
    ovt::verify::Settings settings;
    for (const std::string& t : keyed_) settings.at(t).keys = {"K"};
    settings.at("R").keys = {"L"};
    HostMembers members;
    ovt::verify::Verifier v(members, entries, settings);
    std::ostringstream out;
    auto sink = ovt::calls::verifyJsonSink(out, {one_, two_});
    ovt::verify::Survey s = onePass ? v.prepare() : v.summarize();
    if (onePass) v.run(s, *sink);
    else v.stream(s, *sink);
    if (survey) *survey = s;
    return out.str();
  }

  std::string one_, two_;
  std::vector<std::string> keyed_{"Q", "S"};  // forms keyed by K
};

// "records/deleted/matched/conflicting/missing" and "field:compared/differing" of a table.
std::string counts(const Json& t) {
  std::string out = std::to_string(t["records"][0].get<int>()) + "," + std::to_string(t["records"][1].get<int>()) + "/" +
                    std::to_string(t["deleted"][0].get<int>()) + "," + std::to_string(t["deleted"][1].get<int>()) + "/" +
                    std::to_string(t["matched"].get<int>()) + "/" + std::to_string(t["conflicting"].get<int>()) + "/" +
                    std::to_string(t["missing"][0].get<int>()) + "," + std::to_string(t["missing"][1].get<int>());
  for (const Json& f : t["fields"])
    if (f["differing"].get<int>() > 0 || f["field"] == "A")
      out += " " + f["field"].get<std::string>() + ":" + std::to_string(f["compared"].get<int>()) + "/" +
             std::to_string(f["differing"].get<int>());
  return out;
}

TEST_P(OnePass, CountsFromTheListedRecordsAreTheCountingStatementsCounts) {
  struct Case {
    bool caseSensitive;
    const char *q, *r, *s;
  } cases[] = {
      // Q: 7 active each (entry 1's empty key and K=5, entry 2's K=6 and K=7 unpaired), 5 pairs;
      // K=2 (A: Null against a value), 3 (N, D, C), 4 (F, H), 8 (B) conflict; K=1 agrees
      // (case only, Null against ""). R: 3 pairs under K=1, L=3 differs in Y; L=2 (Null
      // against "") is listed but agrees as counted. S: its one field, Null against a value.
      {false, "7,7/1,0/5/4/2,2 A:5/1 B:5/1 N:5/1 D:5/1 C:5/1 F:5/1 H:5/1", "5,4/0,0/3/1/2,1 Y:3/1",
       "2,2/0,0/2/1/0,0 V:2/1"},
      // Case-sensitive: A of K=1 and X of R's L=1 differ too.
      {true, "7,7/1,0/5/5/2,2 A:5/2 B:5/1 N:5/1 D:5/1 C:5/1 F:5/1 H:5/1", "5,4/0,0/3/2/2,1 X:3/1 Y:3/1",
       "2,2/0,0/2/1/0,0 V:2/1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.caseSensitive ? "case-sensitive" : "case-insensitive");
    ovt::verify::Survey survey;
    const std::string onePass = report(true, c.caseSensitive, &survey);
    const Json j = Json::parse(onePass);
    ASSERT_EQ(j["forms"].size(), 2u);
    const Json& q = j["forms"][0];
    ASSERT_EQ(q["table"], "Q");
    EXPECT_EQ(counts(q), c.q);
    ASSERT_EQ(q["grids"].size(), 1u);
    EXPECT_EQ(counts(q["grids"][0]), c.r);
    EXPECT_EQ(counts(j["forms"][1]), c.s);
    // The field of entry 1 only is not compared.
    for (const Json& f : q["fields"]) EXPECT_NE(f["field"], "Z");
    EXPECT_FALSE(survey.agrees());
    EXPECT_EQ(survey.forms[0].grids[0].matched, 3);
    // The same report, list for list, as the counting statements give.
    EXPECT_EQ(onePass, report(false, c.caseSensitive));
  }
}

TEST_P(OnePass, KeysUsedTwiceAreCountedByStatementAsBefore) {
  // Entry 2 keys K=3 twice and L=1 of K=1 twice: both tables fall back to the counting statements.
  ovt::test::runAll(ovt::test::openLocation(two_),
                    {"insert into Q values (19, 1, 3, 'a', 'b', 2, 't', #2026-01-02#, 1.25, true, 7)",
                     "insert into R values (15, 1, 11, 1, 'p', 1)"});
  const std::string onePass = report(true, false);
  const Json j = Json::parse(onePass);
  // Q: pairs 1, 2, 3 (twice: 19 agrees with entry 1's K=3, 13 does not), 4, 8.
  EXPECT_EQ(counts(j["forms"][0]), "7,8/1,0/5/4/2,2 A:6/1 B:6/1 N:6/1 D:6/1 C:6/1 F:6/1 H:6/1");
  // R: L=1 of K=1 pairs twice, so the pairs are 4 and each entry has 5 - 4 without partner, as
  // the counting statement has always counted a grid whose keys repeat.
  EXPECT_EQ(counts(j["forms"][0]["grids"][0]), "5,5/0,0/4/1/1,1 Y:4/1");
  EXPECT_EQ(onePass, report(false, false));
}

TEST_P(OnePass, CaseSensitiveTextKeysPairWithTheirExactPartner) {
  // Keys "a" and "A" are two records when case counts; each pairs with its own partner.
  for (const std::string& loc : {one_, two_}) {
    const bool first = loc == one_;
    ovt::test::runAll(ovt::test::openLocation(loc),
                      ovt::test::statements({ovt::test::catalogue("viewT", "T", {}),
                                             {"create table T (UniqueKey long, RecStatus long, K text(5), V long, W long)",
                                              first ? "insert into T values (1, 1, 'a', 1, 1)" : "insert into T values (1, 1, 'a', 1, 9)",
                                              first ? "insert into T values (2, 1, 'A', 2, 2)" : "insert into T values (2, 1, 'A', 3, 2)"}}));
  }
  keyed_.push_back("T");
  const std::string onePass = report(true, true);
  const Json j = Json::parse(onePass);
  ASSERT_EQ(j["forms"].size(), 3u);
  EXPECT_EQ(counts(j["forms"][2]), "2,2/0,0/2/2/0,0 V:2/1 W:2/1");
  EXPECT_EQ(onePass, report(false, true));
}

TEST_P(OnePass, PairsOfOneTextKeyCountedFromTheRecordsWithoutPartner) {
  // One text key, every record active with a key: the pairs come from the records the members
  // list without partner. a/A and B/b pair unless case counts; c and d are only in entry 1, e
  // only in entry 2; W of B/b differs in case only.
  for (const std::string& loc : {one_, two_}) {
    const bool first = loc == one_;
    ovt::test::Statements statements = ovt::test::catalogue("viewU", "U", {});
    statements.push_back("create table U (UniqueKey long, RecStatus long, K text(5), V long, W text(5))");
    for (const char* r : first ? std::vector<const char*>{"(1, 1, 'a', 1, 'x')", "(2, 1, 'B', 2, 'y')",
                                                          "(3, 1, 'c', 3, 'z')", "(4, 1, 'd', 4, 'w')"}
                               : std::vector<const char*>{"(1, 1, 'A', 1, 'x')", "(2, 1, 'b', 2, 'Y')",
                                                          "(3, 1, 'e', 5, 'q')"})
      statements.push_back(std::string("insert into U values ") + r);
    ovt::test::runAll(ovt::test::openLocation(loc), statements);
  }
  keyed_.push_back("U");
  for (bool caseSensitive : {false, true}) {
    SCOPED_TRACE(caseSensitive ? "case-sensitive" : "case-insensitive");
    ovt::verify::Survey survey;
    const std::string onePass = report(true, caseSensitive, &survey);
    const Json j = Json::parse(onePass);
    ASSERT_EQ(j["forms"].size(), 3u);
    const Json& u = j["forms"][2];
    ASSERT_EQ(u["table"], "U");
    EXPECT_EQ(counts(u), caseSensitive ? "4,3/0,0/0/0/4,3" : "4,3/0,0/2/0/2,1");
    EXPECT_EQ(u["values_compared"], caseSensitive ? 0 : 4);
    EXPECT_EQ(survey.forms[2].fields.at(1).compared, caseSensitive ? 0 : 2);
    EXPECT_EQ(onePass, report(false, caseSensitive));
  }
}

OVT_ON_EVERY_ENGINE(OnePass);

}  // namespace
