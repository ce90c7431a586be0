// The html page and the xlsx workbook of `ovtbldiff verify`.
#include <algorithm>
#include <map>
#include <ostream>

#include <fmt/format.h>
#include <xlsxwriter.h>

#include "members.h"
#include "verify_sinks.h"

namespace ovt::tool {
namespace {

using verify::Finding;
using verify::Record;
using verify::Survey;
using verify::TableSummary;

template <class F>
void eachTable(const Survey& s, F f) {
  for (const TableSummary& t : s.forms) {
    f(t);
    for (const TableSummary& g : t.grids) f(g);
  }
}

// ---- html ------------------------------------------------------------------------------

class HtmlSink : public verify::Sink {
 public:
  HtmlSink(std::ostream& out, const VerifyNames& n) : out_(out), names_(n) {}

  void summary(const Survey& s) override {
    const std::string title = "Verification of " + names_.entries[0] + " and " + names_.entries[1];
    out_ << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" << htmlText(title)
         << "</title>\n<style>\n"
            "body{font-family:sans-serif;margin:1.5em;color:#222}\n"
            "table{border-collapse:collapse;margin:.5em 0 1em}\n"
            "th,td{border:1px solid #bbb;padding:.25em .6em;text-align:left}\n"
            "th{background:#eee}\ntd.n{text-align:right}\n"
            "tbody.pair{border-top:3px solid #666}\n"
            "td.differs{background:#ffd27f;font-weight:bold}\n"
            "p.verdict{font-size:1.2em;font-weight:bold}\n"
            "svg text{font-size:12px;font-family:sans-serif}\n"
            "</style>\n</head>\n<body>\n<h1>"
         << htmlText(title) << "</h1>\n<p>Entry 1: " << htmlText(names_.entries[0]) << "<br>Entry 2: " << htmlText(names_.entries[1])
         << "</p>\n<p class=\"verdict\" id=\"verdict\">" << (s.agrees() ? "The entries agree." : "The entries differ.")
         << "</p>\n<h2>Summary</h2>\n<table id=\"summary\">\n<thead><tr><th>table</th><th>keys</th><th>records 1</th>"
            "<th>records 2</th><th>matched</th><th>conflicting</th><th>missing in 2</th><th>missing in 1</th>"
            "<th>values compared</th><th>values agreeing</th><th>agreement</th></tr></thead>\n<tbody>\n";
    eachTable(s, [&](const TableSummary& t) {
      out_ << "<tr data-table=\"" << htmlText(t.table) << "\"><td>" << htmlText(tableTitle(t)) << "</td>";
      if (!t.notCompared.empty()) {
        out_ << "<td colspan=\"10\">" << htmlText(t.notCompared) << "</td></tr>\n";
        return;
      }
      out_ << "<td>" << htmlText(joinList(t.keys, ",")) << "</td>";
      for (int64_t n : {t.records[0], t.records[1], t.matched, t.conflicting, t.missing[0], t.missing[1],
                        t.valuesCompared(), t.valuesCompared() - t.valuesDiffering()})
        out_ << "<td class=\"n\">" << n << "</td>";
      out_ << "<td class=\"n\">" << percent(t.agreement()) << "</td></tr>\n";
    });
    out_ << "</tbody>\n</table>\n";
    chart(s);
    std::vector<const Finding*> found;
    for (const Finding& f : s.findings) found.push_back(&f);
    eachTable(s, [&](const TableSummary& t) {
      for (const Finding& f : t.findings) found.push_back(&f);
    });
    if (!found.empty()) {
      out_ << "<h2>Structure and key findings</h2>\n<ul id=\"findings\">\n";
      for (const Finding* f : found) out_ << "<li>" << htmlText(f->text) << "</li>\n";
      out_ << "</ul>\n";
    }
  }

  void beginTable(const TableSummary& t) override {
    out_ << "<h2>" << htmlText(tableTitle(t)) << "</h2>\n";
    if (!t.notCompared.empty()) out_ << "<p>" << htmlText(t.notCompared) << "</p>\n";
    phase_ = 0;
    entry_ = 0;
  }

  void conflict(const Record& one, const Record& two, const std::vector<bool>& differs) override {
    if (phase_ == 0) {
      out_ << "<h3>Conflicts</h3>\n<table class=\"conflicts\">\n";
      header(*one.columns);
      phase_ = 1;
    }
    out_ << "<tbody class=\"pair\">\n";
    row(1, one, &differs);
    row(2, two, &differs);
    out_ << "</tbody>\n";
  }

  void unpaired(int entry, const Record& r) override {
    if (entry != entry_) {
      close();
      out_ << "<h3>Records of entry " << entry << " without a partner in entry " << 3 - entry
           << "</h3>\n<table class=\"unpaired\">\n";
      header(*r.columns);
      out_ << "<tbody>\n";
      phase_ = 2;
      entry_ = entry;
    }
    row(entry, r, nullptr);
  }

  void endTable(const TableSummary& t) override {
    close();
    if (t.notCompared.empty() && t.conflicting == 0 && t.missing[0] == 0 && t.missing[1] == 0)
      out_ << "<p>No conflicts and no unpaired records.</p>\n";
  }

  void finish(const Survey&) override { out_ << "</body>\n</html>\n"; }

 private:
  // Agreement per compared field, one bar each (inline SVG, nothing fetched).
  void chart(const Survey& s) {
    struct Bar {
      std::string label;
      double agreement;
      int64_t differing, compared;
    };
    std::vector<Bar> bars;
    eachTable(s, [&](const TableSummary& t) {
      for (const auto& f : t.fields)
        bars.push_back({t.table + "." + f.field,
                        f.compared ? 1.0 - double(f.differing) / double(f.compared) : 1.0, f.differing, f.compared});
    });
    if (bars.empty()) return;
    const int rowH = 20, labelW = 220, barW = 400;
    out_ << "<h2>Agreement per field</h2>\n<svg id=\"chart\" width=\""
         << labelW + barW + 120 << "\" height=\"" << rowH * bars.size() + 10 << "\" role=\"img\">\n";
    for (size_t i = 0; i < bars.size(); ++i) {
      const Bar& b = bars[i];
      const int y = static_cast<int>(i) * rowH + 5;
      out_ << "<text x=\"0\" y=\"" << y + 14 << "\">" << htmlText(b.label) << "</text>"
           << "<rect x=\"" << labelW << "\" y=\"" << y << "\" width=\"" << barW << "\" height=\"" << rowH - 6
           << "\" fill=\"#eee\"/>"
           << "<rect class=\"bar\" data-field=\"" << htmlText(b.label) << "\" x=\"" << labelW << "\" y=\"" << y
           << "\" width=\"" << fmt::format("{:.1f}", b.agreement * barW) << "\" height=\"" << rowH - 6 << "\" fill=\""
           << (b.differing ? "#d98c00" : "#4a9a4a") << "\"/>"
           << "<text x=\"" << labelW + barW + 6 << "\" y=\"" << y + 14 << "\">" << percent(b.agreement) << " ("
           << b.compared - b.differing << "/" << b.compared << ")</text>\n";
    }
    out_ << "</svg>\n";
  }

  void header(const std::vector<std::string>& columns) {
    out_ << "<thead><tr><th>entry</th>";
    for (const std::string& c : columns) out_ << "<th>" << htmlText(c) << "</th>";
    out_ << "</tr></thead>\n";
  }
  void row(int entry, const Record& r, const std::vector<bool>* differs) {
    out_ << "<tr><td>" << entry << "</td>";
    for (size_t i = 0; i < r.values.size(); ++i) {
      const bool d = differs && i < differs->size() && (*differs)[i];
      out_ << (d ? "<td class=\"differs\">" : "<td>") << htmlText(cellText(toJson(r.values[i]))) << "</td>";
    }
    out_ << "</tr>\n";
  }
  void close() {
    if (phase_ == 1) out_ << "</table>\n";
    if (phase_ == 2) out_ << "</tbody>\n</table>\n";
    phase_ = 0;
  }

  std::ostream& out_;
  VerifyNames names_;
  int phase_ = 0, entry_ = 0;
};

// ---- xlsx ------------------------------------------------------------------------------

class XlsxSink : public verify::Sink {
 public:
  XlsxSink(const std::string& file, const VerifyNames& n) : names_(n) {
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;  // rows go to disk as they are written
    book_ = workbook_new_opt(file.c_str(), &options);
    if (!book_) throw UsageError("cannot write " + file);
    bold_ = workbook_add_format(book_);
    format_set_bold(bold_);
    differs_ = workbook_add_format(book_);
    format_set_bg_color(differs_, 0xFFD27F);
    format_set_bold(differs_);
    used_["Summary"] = true;
    percent_ = workbook_add_format(book_);
    format_set_num_format(percent_, "0.0%");
  }
  ~XlsxSink() override {
    if (book_) workbook_close(book_);
  }

  void summary(const Survey& s) override {
    lxw_worksheet* sh = workbook_add_worksheet(book_, "Summary");
    lxw_row_t r = 0;
    put(sh, r, 0, "Entry 1", bold_);
    put(sh, r++, 1, names_.entries[0]);
    put(sh, r, 0, "Entry 2", bold_);
    put(sh, r++, 1, names_.entries[1]);
    put(sh, r++, 0, s.agrees() ? "The entries agree." : "The entries differ.", bold_);
    ++r;
    const char* heads[] = {"table", "keys", "records 1", "records 2", "matched", "conflicting", "missing in 2",
                           "missing in 1", "values compared", "values differing", "agreement"};
    for (lxw_col_t c = 0; c < 11; ++c) put(sh, r, c, heads[c], bold_);
    ++r;
    eachTable(s, [&](const TableSummary& t) {
      put(sh, r, 0, tableTitle(t));
      if (!t.notCompared.empty()) {
        put(sh, r++, 1, t.notCompared);
        return;
      }
      put(sh, r, 1, joinList(t.keys, ","));
      lxw_col_t c = 2;
      for (int64_t n : {t.records[0], t.records[1], t.matched, t.conflicting, t.missing[0], t.missing[1],
                        t.valuesCompared(), t.valuesDiffering()})
        worksheet_write_number(sh, r, c++, static_cast<double>(n), nullptr);
      worksheet_write_number(sh, r++, c, t.agreement(), percent_);
    });
    ++r;
    put(sh, r, 0, "table", bold_);
    put(sh, r, 1, "field", bold_);
    put(sh, r, 2, "compared", bold_);
    put(sh, r++, 3, "differing", bold_);
    eachTable(s, [&](const TableSummary& t) {
      for (const auto& f : t.fields) {
        put(sh, r, 0, t.table);
        put(sh, r, 1, f.field);
        worksheet_write_number(sh, r, 2, static_cast<double>(f.compared), nullptr);
        worksheet_write_number(sh, r++, 3, static_cast<double>(f.differing), nullptr);
      }
    });
    std::vector<std::string> found;
    for (const Finding& f : s.findings) found.push_back(f.text);
    eachTable(s, [&](const TableSummary& t) {
      for (const Finding& f : t.findings) found.push_back(f.text);
    });
    if (!found.empty()) {
      ++r;
      put(sh, r++, 0, "Findings", bold_);
      for (const std::string& f : found) put(sh, r++, 0, f);
    }
  }

  void beginTable(const TableSummary& t) override {
    // Sheet names: at most 31 characters, unique, none of []:*?/\ .
    std::string name;
    for (char c : t.table)
      if (std::string("[]:*?/\\").find(c) == std::string::npos) name += c;
    name = name.substr(0, 28);
    if (name.empty()) name = "Table";
    std::string unique = name;
    for (int i = 2; used_.count(unique); ++i) unique = name + "_" + std::to_string(i);
    used_[unique] = true;
    sheet_ = workbook_add_worksheet(book_, unique.c_str());
    row_ = 0;
    put(sheet_, row_++, 0, tableTitle(t), bold_);
    if (!t.notCompared.empty()) put(sheet_, row_++, 0, t.notCompared);
    headed_ = false;
  }

  void conflict(const Record& one, const Record& two, const std::vector<bool>& differs) override {
    head(*one.columns);
    write(1, "conflict", one, &differs);
    write(2, "conflict", two, &differs);
  }

  void unpaired(int entry, const Record& r) override {
    head(*r.columns);
    write(entry, "unpaired", r, nullptr);
  }

  void endTable(const TableSummary&) override {}
  void finish(const Survey&) override {
    if (workbook_close(book_) != LXW_NO_ERROR) {
      book_ = nullptr;
      throw UsageError("could not write the workbook");
    }
    book_ = nullptr;
  }

 private:
  void put(lxw_worksheet* sh, lxw_row_t r, lxw_col_t c, const std::string& text, lxw_format* f = nullptr) {
    worksheet_write_string(sh, r, c, text.c_str(), f);
  }
  void head(const std::vector<std::string>& columns) {
    if (headed_ && columns == columns_) return;
    columns_ = columns;
    headed_ = true;
    put(sheet_, row_, 0, "kind", bold_);
    put(sheet_, row_, 1, "entry", bold_);
    for (size_t i = 0; i < columns.size(); ++i) put(sheet_, row_, static_cast<lxw_col_t>(i + 2), columns[i], bold_);
    ++row_;
  }
  void write(int entry, const char* kind, const Record& r, const std::vector<bool>* differs) {
    put(sheet_, row_, 0, kind);
    worksheet_write_number(sheet_, row_, 1, entry, nullptr);
    for (size_t i = 0; i < r.values.size(); ++i) {
      const bool d = differs && i < differs->size() && (*differs)[i];
      const Variant& v = r.values[i];
      const lxw_col_t c = static_cast<lxw_col_t>(i + 2);
      if (v.isNull() || v.isEmpty()) {
        if (d) worksheet_write_blank(sheet_, row_, c, differs_);
      } else if (v.get<int16_t>() || v.get<int32_t>() || v.get<double>() || v.get<uint8_t>()) {
        worksheet_write_number(sheet_, row_, c, toDouble(v), d ? differs_ : nullptr);
      } else {
        put(sheet_, row_, c, cellText(toJson(v)), d ? differs_ : nullptr);
      }
    }
    ++row_;
  }

  VerifyNames names_;
  lxw_workbook* book_ = nullptr;
  lxw_format *bold_ = nullptr, *differs_ = nullptr, *percent_ = nullptr;
  lxw_worksheet* sheet_ = nullptr;
  lxw_row_t row_ = 0;
  bool headed_ = false;
  std::vector<std::string> columns_;
  std::map<std::string, bool> used_;
};

}  // namespace

std::unique_ptr<verify::Sink> htmlSink(std::ostream& out, const VerifyNames& n) { return std::make_unique<HtmlSink>(out, n); }
std::unique_ptr<verify::Sink> xlsxSink(const std::string& file, const VerifyNames& n) {
  return std::make_unique<XlsxSink>(file, n);
}

}  // namespace ovt::tool
