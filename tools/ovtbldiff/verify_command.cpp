// `ovtbldiff verify`: a whole survey's two entries in one run through the verification layer,
// written as table, json, csv, html or xlsx while the records are read.
#include <fstream>
#include <iostream>
#include <unistd.h>

#include <fmt/format.h>

#include "calls/verify_json.h"
#include "members.h"
#include "ovtbldiff/runtime/text.h"
#include "verify_sinks.h"

namespace ovt::tool {

using verify::Finding;
using verify::Record;
using verify::Survey;
using verify::TableSummary;

std::string tableTitle(const TableSummary& t) {
  return t.grid ? t.parentTable + " / grid " + t.form + " (" + t.table + ")" : t.table;
}

std::string percent(double agreement) { return fmt::format("{:.1f}%", agreement * 100.0); }

namespace {

// ---- table -----------------------------------------------------------------------------

// Conflicts and unpaired records are rendered in blocks of this many records, so that the
// columns line up without holding a table's records.
constexpr size_t kBlock = 50;

class TableSink : public verify::Sink {
 public:
  TableSink(std::ostream& out, const VerifyNames& n) : out_(out), names_(n) {}

  void summary(const Survey& s) override {
    out_ << "Verification of " << names_.entries[0] << " (entry 1) and " << names_.entries[1] << " (entry 2)\n\n";
    Report r;
    r.columns = {"table", "keys", "records 1", "records 2", "matched", "conflicting", "missing in 2", "missing in 1",
                 "values", "agreeing", "agreement"};
    std::vector<std::pair<const TableSummary*, const verify::FieldCount*>> fields;
    std::vector<std::string> notes;
    auto add = [&](const TableSummary& t) {
      if (!t.notCompared.empty()) {
        r.rows.push_back({Json(tableTitle(t)), Json(""), Json(t.notCompared)});
        return;
      }
      r.rows.push_back({Json(tableTitle(t)), Json(joinList(t.keys, ",")), Json(t.records[0]), Json(t.records[1]),
                        Json(t.matched), Json(t.conflicting), Json(t.missing[0]), Json(t.missing[1]),
                        Json(t.valuesCompared()), Json(t.valuesCompared() - t.valuesDiffering()),
                        Json(percent(t.agreement()))});
      for (const auto& f : t.fields)
        if (f.differing > 0) fields.emplace_back(&t, &f);
    };
    for (const TableSummary& f : s.forms) {
      add(f);
      for (const TableSummary& g : f.grids) add(g);
    }
    r.title = "Summary";
    render(out_, r, "table");
    auto sentence = [&](const TableSummary& t) {
      if (!t.notCompared.empty()) return;
      out_ << tableTitle(t) << ": " << t.matched << " matched, " << t.conflicting << " conflicting, " << t.missing[0]
           << " missing in entry 2, " << t.missing[1] << " missing in entry 1; "
           << t.valuesCompared() - t.valuesDiffering() << " of " << t.valuesCompared() << " values agree ("
           << percent(t.agreement()) << ")\n";
    };
    for (const TableSummary& f : s.forms) {
      sentence(f);
      for (const TableSummary& g : f.grids) sentence(g);
    }
    if (s.forms.empty()) out_ << "(no form is in both entries)\n";
    std::stable_sort(fields.begin(), fields.end(),
                     [](const auto& a, const auto& b) { return a.second->differing > b.second->differing; });
    if (!fields.empty()) {
      Report top;
      top.title = "\nFields with the most differences";
      top.columns = {"table", "field", "compared", "differing", "agreement"};
      for (size_t i = 0; i < fields.size() && i < 10; ++i) {
        const auto& [t, f] = fields[i];
        top.rows.push_back({Json(t->table), Json(f->field), Json(f->compared), Json(f->differing),
                            Json(percent(f->compared ? 1.0 - double(f->differing) / double(f->compared) : 1.0))});
      }
      render(out_, top, "table");
    }
    std::vector<std::string> found;
    for (const Finding& f : s.findings) found.push_back(f.text);
    for (const TableSummary& f : s.forms) {
      for (const Finding& x : f.findings) found.push_back(x.text);
      for (const TableSummary& g : f.grids)
        for (const Finding& x : g.findings) found.push_back(x.text);
    }
    if (!found.empty()) {
      out_ << "\nFindings\n";
      for (const std::string& t : found) out_ << "- " << t << "\n";
    }
  }

  void beginTable(const TableSummary& t) override {
    table_ = &t;
    conflicts_ = unpaired_ = 0;
  }

  void conflict(const Record& one, const Record& two, const std::vector<bool>& differs) override {
    if (conflicts_++ == 0) {
      out_ << "\nConflicts in " << tableTitle(*table_) << " (" << table_->conflicting << ")\n";
      start(*one.columns, 2);
    }
    addRow(1, one, &differs);
    addRow(2, two, &differs);
    if (block_.rows.size() >= 2 * kBlock) flush();
  }

  void unpaired(int entry, const Record& r) override {
    if (unpaired_++ == 0 || entry != entry_) {
      flush();
      entry_ = entry;
      out_ << "\nRecords of " << names_.entries[entry - 1] << " (entry " << entry << ") in " << tableTitle(*table_)
           << " without a partner in entry " << 3 - entry << "\n";
      start(*r.columns, 1);
    }
    addRow(entry, r, nullptr);
    if (block_.rows.size() >= kBlock) flush();
  }

  void endTable(const TableSummary&) override {
    flush();
    entry_ = 0;
  }
  void finish(const Survey& s) override {
    out_ << "\n" << (s.agrees() ? "The entries agree." : "The entries differ.") << "\n";
  }

 private:
  void start(const std::vector<std::string>& columns, size_t group) {
    flush();
    block_ = Report{};
    block_.columns = {"entry"};
    block_.columns.insert(block_.columns.end(), columns.begin(), columns.end());
    block_.group = group;
  }
  void addRow(int entry, const Record& r, const std::vector<bool>* differs) {
    std::vector<Json> row{Json(entry)};
    std::vector<bool> marks{false};
    for (size_t i = 0; i < r.values.size(); ++i) {
      row.push_back(toJson(r.values[i]));
      marks.push_back(differs && i < differs->size() && (*differs)[i]);
    }
    block_.rows.push_back(std::move(row));
    block_.marked.push_back(std::move(marks));
  }
  void flush() {
    if (block_.rows.empty()) return;
    render(out_, block_, "table");
    block_.rows.clear();
    block_.marked.clear();
  }

  std::ostream& out_;
  VerifyNames names_;
  const TableSummary* table_ = nullptr;
  size_t conflicts_ = 0, unpaired_ = 0;
  int entry_ = 0;
  Report block_;
};

// ---- csv (long format) -----------------------------------------------------------------

class CsvSink : public verify::Sink {
 public:
  explicit CsvSink(std::ostream& out) : out_(out) {}
  void summary(const Survey&) override { out_ << "table,record,field,entry1,entry2,choose\n"; }
  void beginTable(const TableSummary& t) override { table_ = t.table; }
  void conflict(const Record& one, const Record& two, const std::vector<bool>& differs) override {
    for (size_t i = 0; i < differs.size() && i < one.columns->size(); ++i)
      if (differs[i])
        line(one.key, (*one.columns)[i], cellText(toJson(one.values[i])), cellText(toJson(two.values[i])));
  }
  void unpaired(int entry, const Record& r) override {
    line(r.key, "", entry == 1 ? "present" : "missing", entry == 1 ? "missing" : "present");
  }
  void endTable(const TableSummary&) override {}
  void finish(const Survey&) override {}

 private:
  void line(const std::string& record, const std::string& field, const std::string& v1, const std::string& v2) {
    out_ << csvField(table_) << "," << csvField(record) << "," << csvField(field) << "," << csvField(v1) << ","
         << csvField(v2) << ",\n";
  }
  std::ostream& out_;
  std::string table_;
};

// ---- the command -----------------------------------------------------------------------

// "TABLE=COL[,COL]" of --keys.
void addKeys(verify::Settings& s, const std::string& text) {
  const size_t eq = text.find('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 == text.size())
    throw UsageError("--keys " + text + ": TABLE=COLUMN[,COLUMN] is expected");
  std::vector<std::string> cols = splitList(text.substr(eq + 1));
  if (cols.empty()) throw UsageError("--keys " + text + ": no key column");
  s.at(trimBlanks(text.substr(0, eq))).keys = cols;
}

// "TABLE.FIELD,..." of --ignore.
void addIgnored(verify::Settings& s, const std::string& text) {
  for (const std::string& item : splitList(text)) {
    const size_t dot = item.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == item.size())
      throw UsageError("--ignore " + item + ": TABLE.FIELD is expected");
    s.at(item.substr(0, dot)).ignore.push_back(item.substr(dot + 1));
  }
}

}  // namespace

Variant SessionMembers::call(std::string_view member, std::vector<com::DispArg> args) {
  return s_.gateway().call(member, std::move(args));
}

void SessionMembers::setDB(const db::DatabaseRef& conn) { s_.setDB(conn); }

verify::Settings verifySettings(const std::string& survey, const std::vector<std::string>& keys,
                                const std::vector<std::string>& ignore) {
  verify::Settings settings;
  try {
    if (!survey.empty()) settings = verify::readSurvey(survey);
    verify::Settings given;
    for (const std::string& k : keys) addKeys(given, k);
    for (const std::string& i : ignore) addIgnored(given, i);
    settings.merge(given);
  } catch (const verify::SettingsError& e) {
    throw UsageError(e.what());
  }
  return settings;
}

std::unique_ptr<verify::Sink> tableSink(std::ostream& out, const VerifyNames& n) { return std::make_unique<TableSink>(out, n); }
std::unique_ptr<verify::Sink> csvSink(std::ostream& out) { return std::make_unique<CsvSink>(out); }

void addVerifyCommand(CLI::App& app, Globals& g, std::function<int()>& run) {
  struct A {
    std::string entry1, entry2, survey, format = "table", output;
    std::vector<std::string> keys, ignore, labels;
    bool caseSensitive = false;
  };
  auto a = std::make_shared<A>();
  CLI::App* cmd = app.add_subcommand(
      "verify",
      "Verify a whole survey: every form both entries hold, with its grids; records, matched, conflicting and "
      "missing records, agreement per field, key and structure findings, then the conflicts and unpaired records. "
      "Exit 0 when the entries agree, 1 when anything differs.\n"
      "Example: ovtbldiff verify entry1.db entry2.db --keys House=HouseNo --keys Member=LineNo");
  cmd->add_option("entry1", a->entry1, "Entry 1: a database file or a PostgreSQL location")->required();
  cmd->add_option("entry2", a->entry2, "Entry 2 (or give it as --link)");
  cmd->add_option("--lang", g.session.lang, "Phrase language of error texts (e.g. English, German)");
  cmd->add_option("--trace", g.session.traceFile, "Write every statement sent to the database into FILE");
  cmd->add_option("--link", g.session.linkFile, "Entry 2, as ENTRY2");
  cmd->add_option("--keys", a->keys, "Match keys of a data table: TABLE=COL[,COL] (repeat for more tables; a grid's "
                                     "table takes its key within the parent record)");
  cmd->add_option("--survey", a->survey, "Survey file (TOML, or JSON when named *.json) with keys, ignore and compare per table");
  cmd->add_option("--ignore", a->ignore, "Fields left out of the comparison: TABLE.FIELD,...");
  cmd->add_flag("--case-sensitive", a->caseSensitive, "Text values that differ only in case differ");
  cmd->add_option("--format", a->format, "Output format: table (default), json, csv, html or xlsx")
      ->check(CLI::IsMember({"table", "json", "csv", "html", "xlsx"}));
  cmd->add_option("--output", a->output, "Write the report into FILE (xlsx needs one)");
  cmd->add_option("--label", a->labels, "Names for the entries in the report (once or twice: entry 1, then entry 2)");
  cmd->callback([a, &g, &run] {
    run = [a, &g]() -> int {
      std::string entry2 = a->entry2;
      if (entry2.empty()) entry2 = g.session.linkFile;
      else if (!g.session.linkFile.empty() && g.session.linkFile != entry2)
        throw UsageError("entry 2 is given twice: " + entry2 + " and --link " + g.session.linkFile);
      if (entry2.empty()) throw UsageError("verify needs ENTRY2 (or --link ENTRY2)");
      if (a->labels.size() > 2) throw UsageError("--label is given at most twice (entry 1, entry 2)");
      if (a->format == "xlsx" && a->output.empty()) throw UsageError("--format xlsx needs --output FILE");

      verify::Settings settings = verifySettings(a->survey, a->keys, a->ignore);

      SessionOptions options = g.session;
      options.binaryCompare = a->caseSensitive;
      options.linkFile = "";
      Session s(options);
      verify::Entries entries{s.open(a->entry1, entry2), s.open(entry2, "-"), a->caseSensitive};
      SessionMembers members(s);
      verify::Verifier v(members, entries, std::move(settings));
      // What is being done, on standard error when it is a terminal (long surveys take minutes).
      if (isatty(STDERR_FILENO))
        v.onProgress([](const std::string& what) {
          std::cerr << "\r\033[K" << (what.empty() ? "" : "verify: " + what + " ...") << std::flush;
        });
      Survey survey;
      try {
        survey = v.prepare();
      } catch (const verify::SettingsError& e) {
        throw UsageError(e.what());
      }

      VerifyNames names;
      for (int i = 0; i < 2; ++i) {
        const std::string& loc = i == 0 ? a->entry1 : entry2;
        names.entries[i] = i < static_cast<int>(a->labels.size()) ? a->labels[i] + " (" + loc + ")" : loc;
      }
      std::ofstream file;
      if (!a->output.empty() && a->format != "xlsx") {
        file.open(a->output, std::ios::binary);
        if (!file) throw UsageError("cannot write " + a->output);
      }
      std::ostream& out = a->output.empty() ? std::cout : file;
      std::unique_ptr<verify::Sink> sink;
      if (a->format == "json") sink = calls::verifyJsonSink(out, names.entries);
      else if (a->format == "csv") sink = csvSink(out);
      else if (a->format == "html") sink = htmlSink(out, names);
      else if (a->format == "xlsx") sink = xlsxSink(a->output, names);
      else sink = tableSink(out, names);
      v.run(survey, *sink);
      out.flush();
      if (!out) throw UsageError("could not write the report" + (a->output.empty() ? std::string() : " into " + a->output));
      return survey.agrees() ? kExitOk : kExitDifferences;
    };
  });
}

}  // namespace ovt::tool
