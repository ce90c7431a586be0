// ovtbldiff: double-entry verification and reconciliation of SQLite data-entry tables from the
// shell, through the OVTblDiffData component.
#include <iostream>
#include <map>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "members.h"
#include "ovtbldiff/dbcomp/sqlite.h"

namespace {

// One example per subcommand, shown at the end of its --help.
void addExamples(CLI::App& app) {
  static const std::map<std::string, std::string> examples = {
      {"structure", "ovtbldiff structure entry1.db House ORULINK_House --link entry2.db"},
      {"keys", "ovtbldiff keys entry1.db House --keys HouseNo"},
      {"count", "ovtbldiff count entry1.db House ORULINK_House --keys HouseNo --link entry2.db"},
      {"diff", "ovtbldiff diff entry1.db House entry2.db House --keys HouseNo --missing"},
      {"grid-diff", "ovtbldiff grid-diff entry1.db House Member ORULINK_House ORULINK_Member --parent-keys HouseNo "
                    "--child-key LineNo --link entry2.db"},
      {"parent", "ovtbldiff parent entry1.db House 4 --keys HouseNo --fields HeadName,Village"},
      {"grids", "ovtbldiff grids entry1.db viewHouse entry2.db viewHouse"},
      {"copy", "ovtbldiff copy entry1.db House ORULINK_House --keys HouseNo --value 103 --link entry2.db --dry-run"},
      {"copy-child", "ovtbldiff copy-child entry1.db House ORULINK_House Member ORULINK_Member --child-view gvMember "
                     "--parent-keys HouseNo --child-key LineNo --value 104,3,4 --link entry2.db"},
      {"delete", "ovtbldiff delete entry2.db House --keys HouseNo --value 109"},
      {"backup", "ovtbldiff backup entry2.db House"},
      {"demo", "ovtbldiff demo build/demo --force"},
      {"call", "ovtbldiff call --db '{\"database\": \"entry1.db\"}' GetFldType '[202]'"},
  };
  for (CLI::App* cmd : app.get_subcommands({})) {
    auto it = examples.find(cmd->get_name());
    if (it != examples.end()) cmd->footer("Example:\n  " + it->second);
  }
}

}  // namespace

int main(int argc, char** argv) {
  using namespace ovt::tool;
  // The tool owns its process: SQLite's memory statistics (a global mutex taken by each of the
  // engine's allocations) are not wanted, and must be turned off before any database opens.
  ovt::db::SqliteQuietMemoryStatistics();
  CLI::App app{"ovtbldiff: compare and reconcile the tables of two data entries (double-entry verification)\n"
               "Exit codes: 0 no difference / success, 1 differences found, 2 usage error, 3 error raised by the "
               "library."};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("ovtbldiff ") + OVT_TOOL_VERSION);
  Globals g;
  addCommonOptions(&app, g);
  std::function<int()> run;
  addCallCommand(app, g, run);
  addMemberCommands(app, g, run);
  addRegisterCommands(app, g, run);
  addExamples(app);
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
  } catch (const std::exception& e) {
    std::cerr << "ovtbldiff: unexpected error: " << e.what() << "\n";
    return kExitRaised;
  } catch (...) {
    std::cerr << "ovtbldiff: unexpected error\n";
    return kExitRaised;
  }
}
