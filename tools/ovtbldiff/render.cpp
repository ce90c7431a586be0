#include "render.h"

#include <algorithm>
#include <ostream>

#include <fmt/format.h>

#include "input_check.h"

namespace ovt::tool {
namespace {

using Json = nlohmann::ordered_json;

bool isMarked(const Report& r, size_t row, size_t col) {
  return row < r.marked.size() && col < r.marked[row].size() && r.marked[row][col];
}

// Display width of UTF-8 text: one column per code point.
size_t width(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

std::string hex(const std::string& bytes) {
  std::string out;
  for (unsigned char b : bytes) out += fmt::format("{:02x}", b);
  return out;
}

void renderTable(std::ostream& out, const Report& r) {
  if (!r.title.empty()) out << r.title << "\n";
  bool anyMark = false;
  std::vector<std::vector<std::string>> text(r.rows.size());
  std::vector<size_t> w(r.columns.size());
  for (size_t c = 0; c < r.columns.size(); ++c) w[c] = width(r.columns[c]);
  for (size_t i = 0; i < r.rows.size(); ++i) {
    for (size_t c = 0; c < r.columns.size(); ++c) {
      std::string t = c < r.rows[i].size() ? cellText(r.rows[i][c]) : "";
      if (isMarked(r, i, c)) {
        t += " *";
        anyMark = true;
      }
      w[c] = std::max(w[c], width(t));
      text[i].push_back(std::move(t));
    }
  }
  auto line = [&](const std::vector<std::string>& cells) {
    std::string s;
    for (size_t c = 0; c < cells.size(); ++c) {
      if (c) s += "  ";
      s += cells[c];
      if (c + 1 < cells.size()) s.append(w[c] - width(cells[c]), ' ');
    }
    out << s << "\n";
  };
  if (!r.columns.empty() && !r.rows.empty()) {
    line(r.columns);
    std::vector<std::string> rule;
    for (size_t c = 0; c < w.size(); ++c) rule.push_back(std::string(w[c], '-'));
    line(rule);
    for (size_t i = 0; i < text.size(); ++i) {
      if (r.group > 1 && i > 0 && i % r.group == 0) out << "\n";
      line(text[i]);
    }
  }
  if (anyMark) out << "(* the value differs between the two entries)\n";
  for (const std::string& n : r.notes) out << n << "\n";
}

void renderCsv(std::ostream& out, const Report& r) {
  for (size_t c = 0; c < r.columns.size(); ++c) out << (c ? "," : "") << csvField(r.columns[c]);
  out << "\n";
  for (const auto& row : r.rows) {
    for (size_t c = 0; c < r.columns.size(); ++c) out << (c ? "," : "") << csvField(c < row.size() ? cellText(row[c]) : "");
    out << "\n";
  }
}

void renderJson(std::ostream& out, const Report& r) {
  Json j = Json::object();
  j["title"] = r.title;
  j["columns"] = r.columns;
  Json rows = Json::array(), marked = Json::array();
  for (size_t i = 0; i < r.rows.size(); ++i) {
    rows.push_back(Json(r.rows[i]));
    Json m = Json::array();
    for (size_t c = 0; c < r.columns.size(); ++c)
      if (isMarked(r, i, c)) m.push_back(r.columns[c]);
    marked.push_back(std::move(m));
  }
  j["rows"] = std::move(rows);
  j["differs"] = std::move(marked);
  j["notes"] = r.notes;
  // Text that is not UTF-8 is written with replacement characters; its bytes are kept here.
  Json raw = Json::array();
  for (size_t i = 0; i < r.rows.size(); ++i)
    for (size_t c = 0; c < r.rows[i].size() && c < r.columns.size(); ++c)
      if (r.rows[i][c].is_string() && !isUtf8(r.rows[i][c].get_ref<const std::string&>()))
        raw.push_back(Json{{"row", i}, {"column", r.columns[c]}, {"hex", hex(r.rows[i][c].get_ref<const std::string&>())}});
  if (!raw.empty()) j["raw"] = std::move(raw);
  out << j.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
}

void renderHtml(std::ostream& out, const Report& r) {
  out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" << htmlText(r.title)
      << "</title>\n<style>\n"
         "body{font-family:sans-serif;margin:1.5em;color:#222}\n"
         "table{border-collapse:collapse;margin-top:1em}\n"
         "th,td{border:1px solid #bbb;padding:.25em .6em;text-align:left}\n"
         "th{background:#eee}\n"
         "tbody.pair{border-top:3px solid #666}\n"
         "td.differs{background:#ffd27f;font-weight:bold}\n"
         "p.legend span{background:#ffd27f;font-weight:bold;padding:0 .3em}\n"
         "</style>\n</head>\n<body>\n<h1>"
      << htmlText(r.title) << "</h1>\n";
  bool anyMark = false;
  for (const auto& m : r.marked) anyMark = anyMark || std::find(m.begin(), m.end(), true) != m.end();
  if (anyMark) out << "<p class=\"legend\"><span>highlighted</span> values differ between the two entries</p>\n";
  out << "<table>\n<thead><tr>";
  for (const std::string& c : r.columns) out << "<th>" << htmlText(c) << "</th>";
  out << "</tr></thead>\n";
  const size_t g = std::max<size_t>(1, r.group);
  for (size_t i = 0; i < r.rows.size(); ++i) {
    if (i % g == 0) out << (g > 1 ? "<tbody class=\"pair\">\n" : (i == 0 ? "<tbody>\n" : ""));
    out << "<tr>";
    for (size_t c = 0; c < r.columns.size(); ++c) {
      std::string t = c < r.rows[i].size() ? cellText(r.rows[i][c]) : "";
      out << (isMarked(r, i, c) ? "<td class=\"differs\">" : "<td>") << htmlText(t) << "</td>";
    }
    out << "</tr>\n";
    if (g > 1 && (i % g == g - 1 || i + 1 == r.rows.size())) out << "</tbody>\n";
  }
  if (g == 1) out << (r.rows.empty() ? "<tbody></tbody>\n" : "</tbody>\n");
  out << "</table>\n";
  for (const std::string& n : r.notes) out << "<p class=\"note\">" << htmlText(n) << "</p>\n";
  out << "</body>\n</html>\n";
}

}  // namespace

std::string csvField(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string out = "\"";
  for (char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

std::string htmlText(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string cellText(const Json& v) {
  if (v.is_null()) return "";
  if (v.is_string()) return v.get<std::string>();
  if (v.is_object() && v.contains("empty")) return "";
  return v.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void render(std::ostream& out, const Report& r, const std::string& format) {
  if (format == "csv") renderCsv(out, r);
  else if (format == "json") renderJson(out, r);
  else if (format == "html") renderHtml(out, r);
  else renderTable(out, r);
}

}  // namespace ovt::tool
