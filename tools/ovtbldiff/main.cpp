// ovtbldiff: double-entry verification and reconciliation of SQLite data-entry tables from the
// shell, through the OVTblDiffData component.
#include <iostream>

#include <CLI/CLI.hpp>

#include "commands.h"

int main(int argc, char** argv) {
  using namespace ovt::tool;
  CLI::App app{"ovtbldiff: compare and reconcile the tables of two data entries (double-entry verification)\n"
               "Exit codes: 0 no difference / success, 1 differences found, 2 usage error, 3 error raised by the "
               "library."};
  app.require_subcommand(1);
  Globals g;
  app.add_option("--lang", g.session.lang, "Phrase language of error texts (e.g. English, German)");
  app.add_option("--trace", g.session.traceFile, "Write every statement sent to the database into FILE");
  app.add_option("--link", g.session.linkFile, "Attach FILE (or, for a PostgreSQL database, another schema of it) as the link tables (prefix ORULINK_)");
  app.add_option("--format", g.format, "Output format of results")
      ->check(CLI::IsMember({"table", "csv", "json", "html"}));
  std::function<int()> run;
  addCallCommand(app, g, run);
  addMemberCommands(app, g, run);
  addRegisterCommands(app, g, run);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  }
  try {
    return run ? run() : kExitUsage;
  } catch (const UsageError& e) {
    std::cerr << "ovtbldiff: " << e.what() << "\n";
    return kExitUsage;
  } catch (const ovt::ComError& e) {
    std::cerr << "ovtbldiff: error " << e.number() << " (0x" << std::hex << std::uppercase
              << static_cast<uint32_t>(e.number()) << std::dec << ")\n  source: " << e.source()
              << "\n  description: " << e.description() << "\n";
    return kExitRaised;
  }
}
