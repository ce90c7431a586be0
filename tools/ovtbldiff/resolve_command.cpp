// resolve: the decisions of a reviewer, filled into the `choose` column of the long csv in a
// spreadsheet, applied into entry 1, entry 2 or a new verified copy of entry 1.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>

#include "decisions.h"

namespace ovt::tool {

namespace {

std::vector<decide::Decision> readDecisions(const std::string& file) {
  try {
    if (file == "-") return decide::readDecisionsCsv(std::cin);
    std::ifstream in(file, std::ios::binary);
    if (!in) throw UsageError("cannot read the decisions file " + file);
    return decide::readDecisionsCsv(in);
  } catch (const decide::Refused& r) {
    throw UsageError(file + ": " + r.what());
  }
}

}  // namespace

void addResolveCommand(CLI::App& app, Globals& g, std::function<int()>& run) {
  struct A {
    Entries entries;
    std::string decisions, into, reviewer;
    bool dry = false;
  };
  auto a = std::make_shared<A>();
  CLI::App* cmd = app.add_subcommand(
      "resolve",
      "Apply a reviewer's decisions, the long csv of the differences with its `choose` column filled in (1, 2, "
      "=VALUE for a typed value; keep / delete for an unpaired record; empty: undecided), into entry 1, entry 2 or a "
      "new verified copy of entry 1. Each record is one transaction; every changed value is recorded in the target's "
      "table ovt_audit. Exit 0 when every decision is applied, 1 when a record failed or decisions are missing.\n"
      "Example: ovtbldiff resolve entry1.db entry2.db --keys House=HouseNo Member=LineNo --decisions review.csv "
      "--into verified.db");
  addCommonOptions(cmd, g);
  a->entries.addOptions(cmd);
  cmd->add_option("--decisions", a->decisions, "The long csv with the choose column filled (- = standard input)")
      ->required();
  cmd->add_option("--into", a->into, "Where the decisions go: 1, 2, or a new file (or PostgreSQL schema) made as a "
                                     "copy of entry 1")
      ->required();
  cmd->add_option("--reviewer", a->reviewer, "Name recorded in the audit (default: the operating-system user)");
  cmd->add_flag("--dry-run", a->dry, "Show the changes inside a transaction that is rolled back");
  cmd->callback([a, &g, &run] {
    run = [a, &g]() -> int {
      a->entries.takeSurveyKeys();
      const std::vector<decide::Decision> decisions = readDecisions(a->decisions);
      if (a->dry && a->into != "1" && a->into != "2")
        throw UsageError("--dry-run applies into entry 1 or 2 only: a new copy would be written first");
      // A dry run traces the target's statements into a scratch file and shows them.
      SessionOptions so = g.session;
      if (a->dry) {
        so.traceFile = (std::filesystem::temp_directory_path() /
                        ("ovtbldiff-resolve-" + std::to_string(getpid()) + ".trace")).string();
        std::filesystem::remove(so.traceFile);
      }
      struct Scratch {
        std::string file;
        ~Scratch() {
          std::error_code ec;
          if (!file.empty()) std::filesystem::remove(file, ec);
        }
      } scratch{a->dry ? so.traceFile : std::string()};
      Session s(so);
      ComponentMembers m(s);
      decide::Sides sides = openTarget(s, a->entries, a->into);
      const decide::Survey survey = surveyOf(m, sides.writer, a->entries);
      decide::ApplyOptions o;
      o.reviewer = reviewerName(a->reviewer);
      Progress progress("resolve", decisions.size());
      o.progress = [&](size_t done, size_t) { progress.update(done); };
      decide::ApplyResult r;
      if (a->dry) dryRun(sides.writer, so.traceFile, std::cout, [&] { r = decide::apply(m, survey, sides, decisions, o); });
      else r = decide::apply(m, survey, sides, decisions, o);

      Report rep;
      rep.columns = {"table", "record", "field", "before", "after", "from", "result"};
      for (const decide::RecordOutcome& rec : r.records) {
        if (!rec.ok) {
          rep.rows.push_back({rec.table, rec.record, "", "", "", "", "failed: " + rec.message});
          continue;
        }
        if (rec.changes.empty()) rep.rows.push_back({rec.table, rec.record, "", "", "", "", "already as decided"});
        for (const decide::Change& c : rec.changes)
          rep.rows.push_back({c.table, c.record, c.field, c.before, c.after, c.from, a->dry ? "would change" : "changed"});
      }
      for (const decide::Decision& d : r.undecided)
        rep.rows.push_back({d.table, d.record, d.field, d.entry1, d.entry2, "", "undecided"});
      const std::string target = a->into == "1" ? "entry 1" : a->into == "2" ? "entry 2" : a->into;
      rep.title = "Decisions applied into " + target + (a->dry ? " (dry run, rolled back)" : "") + ": " +
                  std::to_string(r.changed()) + " values changed, " + std::to_string(r.records.size() - r.failed()) +
                  " of " + std::to_string(r.records.size()) + " records as decided" +
                  (r.failed() ? ", " + std::to_string(r.failed()) + " failed" : "") +
                  (r.undecided.empty() ? "" : ", " + std::to_string(r.undecided.size()) + " undecided");
      render(std::cout, rep, g.format);
      return r.failed() || !r.undecided.empty() ? kExitDifferences : kExitOk;
    };
  });
}

}  // namespace ovt::tool
