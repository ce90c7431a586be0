// The review page of the demo in a real headless chromium: values chosen by mouse and by
// keyboard, a typed value with quotes and brackets, apply with preview, then entry 2 and its
// audit read back from the file. Requests without the token are refused.
#include <cstdlib>

#include <fmt/format.h>

#include "cli/browser.h"
#include "cli/demo_fixture.h"
#include "cli/review_server.h"
#include "ovtbldiff/decide.h"

namespace ovt::test {
namespace {

bool haveChromium() { return chromium() == "chromium"; }

std::string statusOf(int port, const std::string& target) { return httpRequest(port, "GET", target).status; }

class ReviewPage : public DemoTest {
 protected:
  void SetUp() override {
    DemoTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(server_.start(dir_.path(), {"d/entry1.db", "d/entry2.db", "--keys", "House=HouseNo", "Member=LineNo",
                                          "--reviewer", "browser"}),
              "");
  }

  ReviewServer server_;
};

TEST_F(ReviewPage, EveryRequestNeedsTheToken) {
  EXPECT_EQ(statusOf(server_.port, "/"), "HTTP/1.1 403 Forbidden");
  EXPECT_EQ(statusOf(server_.port, "/api/state"), "HTTP/1.1 403 Forbidden");
  EXPECT_EQ(statusOf(server_.port, "/?token=" + std::string(32, '0')), "HTTP/1.1 403 Forbidden");
  EXPECT_EQ(statusOf(server_.port, "/api/state?token=" + server_.token.substr(1)), "HTTP/1.1 403 Forbidden");
  EXPECT_EQ(statusOf(server_.port, "/?token=" + server_.token), "HTTP/1.1 200 OK");
}

TEST_F(ReviewPage, AMisspeltKeyEndsTheCommandBeforeItServes) {
  ToolRun r = run("review d/entry1.db d/entry2.db --keys House=HouseNumber");
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "ovtbldiff: no column HouseNumber in table House (entry 1)\n");
}

TEST_F(ReviewPage, DecidedByMouseAndKeyboardThenAppliedIntoEntry2) {
  if (!haveChromium()) GTEST_SKIP() << "chromium is not installed";
  Browser b(dir_.file("profile"));
  b.open(server_.url);
  ASSERT_TRUE(b.waitFor("document.body.dataset.ready === '1'")) << "the page did not load";
  // The demo's differences, grid records after the houses.
  EXPECT_EQ(b.eval("document.getElementById('progress').textContent"), "0 / 9");
  EXPECT_EQ(b.eval("[...document.querySelectorAll('#items tbody tr')].map(r => r.dataset.record + ' ' + "
                   "r.dataset.field).join('|')"),
            "HouseNo=103 Rooms|HouseNo=105 HeadName|HouseNo=105;LineNo=1 MemberName|HouseNo=107 Village|"
            "HouseNo=107 WaterSource|HouseNo=108 |HouseNo=109 |HouseNo=102;LineNo=3 Age|HouseNo=104;LineNo=3 ");
  EXPECT_EQ(b.eval("document.querySelectorAll('td.differs').length"), 18);
  auto progress = [&](int n) {
    return b.waitFor("document.getElementById('progress').textContent === '" + std::to_string(n) + " / 9'");
  };

  b.key("1");  // 103 Rooms: entry 1's 4
  ASSERT_TRUE(progress(1));
  EXPECT_EQ(b.eval("document.querySelector('tr.current').dataset.field"), "HeadName");
  const std::string typed = "Fatuma \"Tuma\" [O'Neil]; drop table House";
  b.key("t");  // 105 HeadName: typed
  b.type(typed);
  b.key("Enter");
  ASSERT_TRUE(progress(2));
  b.key("2");  // member 105/1's name: entry 2's
  ASSERT_TRUE(progress(3));
  b.click("#item-3 button.choose2");  // 107 Village: entry 2's
  ASSERT_TRUE(progress(4));
  b.click("#item-4 button.choose1");  // 107 WaterSource: entry 1's
  ASSERT_TRUE(progress(5));
  EXPECT_EQ(b.eval("document.querySelector('tr.current').id"), "item-5");
  b.key("1");  // 108, only in entry 1: as entry 1 has it, so copied to entry 2
  ASSERT_TRUE(progress(6));
  b.click("#item-6 button.delete");  // 109, only in entry 2: marked deleted
  ASSERT_TRUE(progress(7));
  b.key("1");  // member 102/3: entry 1's age 9
  ASSERT_TRUE(progress(8));
  EXPECT_EQ(b.eval("document.querySelector('tr.current').id"), "item-8");  // the one left undecided
  b.key("p");
  EXPECT_EQ(b.eval("document.querySelector('tr.current').id"), "item-7");
  EXPECT_EQ(b.eval("document.querySelector('#item-1 td.state').textContent"), "= " + typed);
  EXPECT_EQ(b.eval("document.querySelector('#item-3 td.v2').className"), "v2 differs chosen");

  // The decisions are in the review file already.
  EXPECT_EQ(decide::ReviewFile(dir_.file("d/entry1.db.review")).decisions().size(), 8u);

  b.eval("document.getElementById('target').value = '2'");
  b.click("#preview");
  ASSERT_TRUE(b.waitFor("document.querySelector('#result .summary')"));
  EXPECT_EQ(b.eval("document.querySelector('#result .summary').textContent"),
            "Preview (rolled back): 6 values changed, 0 records failed, 0 undecided");
  EXPECT_EQ(rows("entry2.db", "select Rooms from House where HouseNo = 103"), "5\n");

  b.click("#apply");
  ASSERT_TRUE(b.waitFor("document.querySelector('#result .summary') && "
                        "document.querySelector('#result .summary').textContent.startsWith('Applied')"));
  EXPECT_EQ(b.eval("document.querySelector('#result .summary').textContent"),
            "Applied: 6 values changed, 0 records failed, 0 undecided");

  EXPECT_EQ(rows("entry2.db", "select HouseNo, HeadName, Village, Rooms, WaterSource from House where RecStatus <> 0 "
                              "and HouseNo in (103, 105, 107, 108) order by HouseNo"),
            "103|Grace Wanjiru|Gatundu|4|River\n105|" + typed +
                "|Malindi|2|Tap\n107|Mary Njeri|Thika Town|3|Tap\n108|David Kamau|Thika|2|River\n");
  EXPECT_EQ(rows("entry2.db", "select RecStatus from House where HouseNo = 109"), "0\n");
  EXPECT_EQ(rows("entry2.db", "select m.MemberName, m.Age from Member as m inner join House as h on m.FKey = "
                              "h.UniqueKey where h.HouseNo in (102, 108) and m.LineNo >= 1 and h.RecStatus <> 0 and "
                              "m.RecStatus <> 0 and (m.LineNo = 3 or h.HouseNo = 108) order by h.HouseNo"),
            "Kevin Mwangi|9\nDavid Kamau|44\n");
  EXPECT_EQ(rows("entry2.db", "select reviewer, table_name, record_key, field_name, value_before, value_after, "
                              "chosen_from from ovt_audit order by audit_no"),
            "browser|House|HouseNo=103|Rooms|5|4|1\n"
            "browser|House|HouseNo=105|HeadName|Fatma Hassan|" + typed + "|typed\n"
            "browser|House|HouseNo=107|WaterSource|Borehole|Tap|1\n"
            "browser|House|HouseNo=108||(absent)|(present)|1\n"
            "browser|House|HouseNo=109||(present)|(deleted)|1\n"
            "browser|Member|HouseNo=102;LineNo=3|Age|10|9|1\n");
  // Entry 1 is untouched.
  EXPECT_EQ(rows("entry1.db", "select count(*) from House where RecStatus <> 0"), "8\n");
}

// The counts and agreement the page shows per form and grid, as rendered, against what
// `verify --format json` gives for the same entries: before any decision and after an apply.
std::string renderedForms(Browser& b) {
  return b.eval(R"JS(JSON.stringify([...document.querySelectorAll('#forms tbody tr')].map(tr => {
      const o = {table: tr.dataset.table};
      for (const td of tr.querySelectorAll('td.n')) o[td.classList[1]] = td.textContent;
      const a = tr.querySelector('td.agreement');
      if (a) o.value = Number(a.dataset.value);
      return o;
    })))JS")
      .get<std::string>();
}

nlohmann::json verifiedForms(const std::string& out) {
  using Json = nlohmann::json;
  Json rows = Json::array();
  auto row = [&](const Json& t) {
    auto text = [&](const char* key, int i = -1) {
      return std::to_string((i < 0 ? t[key] : t[key][i]).get<int64_t>());
    };
    rows.push_back({{"table", t["table"]}, {"records1", text("records", 0)}, {"records2", text("records", 1)},
                    {"matched", text("matched")}, {"conflicting", text("conflicting")},
                    {"missing2", text("missing", 0)}, {"missing1", text("missing", 1)},
                    {"compared", text("values_compared")}, {"differing", text("values_differing")},
                    {"agreement", fmt::format("{:.1f}%", t["agreement"].get<double>() * 100.0)},
                    {"value", t["agreement"]}});
  };
  const Json report = Json::parse(out);
  for (const Json& f : report["forms"]) {
    row(f);
    for (const Json& g : f["grids"]) row(g);
  }
  return rows;
}

TEST_F(ReviewPage, FormsShowTheCountsAndAgreementVerifyGives) {
  if (!haveChromium()) GTEST_SKIP() << "chromium is not installed";
  Browser b(dir_.file("profile"));
  b.open(server_.url);
  ASSERT_TRUE(b.waitFor("document.body.dataset.ready === '1'")) << "the page did not load";
  auto compare = [&](int verifyExit) {
    ToolRun v = run("verify d/entry1.db d/entry2.db --keys House=HouseNo Member=LineNo --format json");
    ASSERT_EQ(v.code, verifyExit) << v.err;
    const nlohmann::json expected = verifiedForms(v.out);
    nlohmann::json shown = nlohmann::json::parse(renderedForms(b));
    ASSERT_EQ(shown.size(), expected.size()) << shown.dump();
    for (size_t i = 0; i < shown.size(); ++i) {
      SCOPED_TRACE(expected[i]["table"].get<std::string>());
      for (const char* key : {"table", "records1", "records2", "matched", "conflicting", "missing2", "missing1",
                              "compared", "differing", "agreement"})
        EXPECT_EQ(shown[i][key], expected[i][key]) << key;
      EXPECT_DOUBLE_EQ(shown[i]["value"].get<double>(), expected[i]["value"].get<double>());
    }
  };
  compare(1);
  // The demo's figures, worked out by hand: 7 of 8 houses matched, 24 of 28 values agree.
  EXPECT_EQ(b.eval("document.querySelector('#forms tr[data-table=House] td.matched').textContent"), "7");
  EXPECT_EQ(b.eval("document.querySelector('#forms tr[data-table=House] td.agreement').textContent"), "85.7%");
  EXPECT_EQ(b.eval("document.querySelector('#forms tr[data-table=House] td.todecide').textContent"), "6");

  // Everything decided as entry 1 has it, applied into entry 2: the page's figures follow.
  for (int i = 0; i < 9; ++i) {
    b.key("1");
    ASSERT_TRUE(b.waitFor("document.getElementById('progress').textContent === '" + std::to_string(i + 1) + " / 9'"));
  }
  b.eval("document.getElementById('target').value = '2'");
  b.click("#apply");
  ASSERT_TRUE(b.waitFor("document.querySelector('#result .summary') && "
                        "document.querySelector('#result .summary').textContent.startsWith('Applied')"));
  ASSERT_TRUE(b.waitFor("document.getElementById('progress').textContent === '0 / 0'"));
  compare(0);
  EXPECT_EQ(b.eval("document.querySelector('#forms tr[data-table=House] td.agreement').textContent"), "100.0%");
}

}  // namespace
}  // namespace ovt::test
