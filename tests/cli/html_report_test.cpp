// The HTML report of diff: a self-contained page with both entries side by side and the
// differing values highlighted, checked as a real headless browser renders it.
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

#include "cli/browser.h"
#include "cli/demo_fixture.h"

namespace {

using ovt::test::DemoTest;
using ovt::test::ToolRun;

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

class HtmlReport : public DemoTest {
 protected:
  std::string page() {
    ToolRun r = linked("diff d/entry1.db House ORULINK_House --keys HouseNo --format html");
    EXPECT_EQ(r.code, 1) << r.err;
    return r.out;
  }
};

TEST_F(HtmlReport, PagePairsTheEntriesAndNeedsNothingFromTheNetwork) {
  const std::string html = page();
  EXPECT_EQ(html.rfind("<!DOCTYPE html>\n", 0), 0u);
  EXPECT_EQ(count(html, "<tbody class=\"pair\">"), 3u);
  EXPECT_EQ(count(html, "<td class=\"differs\">"), 8u);
  EXPECT_NE(html.find("<td class=\"differs\">Fatma Hassan</td>"), std::string::npos);
  EXPECT_EQ(html.find("http"), std::string::npos);
  EXPECT_EQ(html.find("src="), std::string::npos);
  EXPECT_EQ(html.find("<link"), std::string::npos);
}

TEST_F(HtmlReport, HeadlessBrowserRendersTheHighlightedCells) {
  const std::string b = ovt::test::chromium();
  if (b.empty()) GTEST_SKIP() << "chromium is not installed";
  // The page is checked as rendered: a probe script appended to a copy reads the computed
  // style of a differing cell and of an ordinary one back into the dumped DOM.
  std::ofstream(dir_.file("report.html"))
      << page()
      << "<script>const d=getComputedStyle(document.querySelector('td.differs')).backgroundColor;"
         "const o=getComputedStyle(document.querySelector('td:not(.differs)')).backgroundColor;"
         "document.body.setAttribute('data-probe',d+'|'+o);</script>\n";
  ASSERT_TRUE(ovt::test::dumpDom(b, dir_.file("report.html"), dir_.file("profile"), dir_.file("dom.html")));
  const std::string out = dir_.read("dom.html");
  EXPECT_NE(out.find("<h1>3 conflicts between House (entry 1) and ORULINK_House (entry 2) on HouseNo</h1>"), std::string::npos)
      << out;
  EXPECT_EQ(count(out, "class=\"differs\""), 8u);
  // The browser built one table row per entry of each pair.
  EXPECT_EQ(count(out, "<tr>"), 7u);
  EXPECT_TRUE(std::regex_search(out, std::regex("<td class=\"differs\">Thika Town</td>")));
  // Differing values are painted; the others are not.
  EXPECT_NE(out.find("data-probe=\"rgb(255, 210, 127)|rgba(0, 0, 0, 0)\""), std::string::npos) << out;
}

}  // namespace
