// Results as an aligned table (terminal), csv, json or a self-contained html page.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace ovt::tool {

struct Report {
  std::string title;                    // heading (table, html, json); not in csv
  std::vector<std::string> columns;
  std::vector<std::vector<nlohmann::ordered_json>> rows;
  std::vector<std::vector<bool>> marked;  // per row and column: a value that differs
  std::vector<std::string> notes;       // lines after the table (table, html, json)
  size_t group = 1;                     // rows shown together (2: an entry-1/entry-2 pair)
};

// The text of a cell: strings as they are, null as "", numbers and booleans in JSON form.
std::string cellText(const nlohmann::ordered_json& v);
// A csv field, quoted when it holds a comma, a quote or a line break.
std::string csvField(const std::string& s);
// Text with & < > " escaped for html.
std::string htmlText(const std::string& s);
// Writes the report in `format` (table | csv | json | html).
void render(std::ostream& out, const Report& r, const std::string& format);

}  // namespace ovt::tool
