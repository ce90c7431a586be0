// Helpers the member subcommands share: calling a member by name on the gateway, the arrays
// the members take, recordsets read into rows, and key values from the command line or from a
// result file of `diff` / `grid-diff`.
#pragma once

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "calls/calls.h"
#include "commands.h"
#include "render.h"

namespace ovt::tool {

// Calls a member of the gateway by name (by-reference arguments are written back).
Variant callMember(Session& s, const std::string& name, std::vector<com::DispArg> args);

// A one-dimensional string array (lower bound 0); an empty list is the single element "".
StringArray stringList(const std::vector<std::string>& items);
std::vector<std::string> fromList(const StringArray& a);
// "A,B , C" as {"A", "B", "C"}.
std::vector<std::string> splitList(const std::string& text);
std::string joinList(const std::vector<std::string>& items, const std::string& sep = ", ");

// The rows of a recordset the member returned (Nothing gives no columns and no rows).
struct Rows {
  std::vector<std::string> columns;
  std::vector<std::vector<Variant>> rows;
};
Rows readRows(const Variant& recordset);

// The eDbDataType code of a column of `table` (a UsageError names a missing column).
int32_t columnType(const db::DatabaseRef& conn, const std::string& table, const std::string& column);
// True when both tables are data tables of a form (the component's table kind 0).
bool formTables(const db::DatabaseRef& conn, const std::string& t1, const std::string& t2);
// The catalogue of the form whose data table is `table` ("ORULINK_view..." for a link table).
std::string viewOf(const std::string& table);

// Where the records to work on come from: --value (repeated, one record each, its key values
// separated by commas) or --from FILE (csv or json output of diff / grid-diff, "-" = stdin).
struct KeySource {
  std::vector<std::string> values;
  std::string file;
  void addOptions(CLI::App* cmd);
  // Where the records come from, for messages: "--value", "standard input" or the file.
  std::string origin() const { return file.empty() ? "--value" : file == "-" ? "standard input" : file; }
  // One row per record, one value per column of `columns` (looked up by name in the file,
  // also as name~Main / name~Grid); rows with the same values are taken once.
  std::vector<std::vector<Variant>> read(const std::vector<std::string>& columns) const;
};

// --oru / --plain: whether the tables follow the form conventions (default: asked of the
// database component).
struct Mode {
  bool oru = false, plain = false;
  void addOptions(CLI::App* cmd);
  bool resolve(const db::DatabaseRef& conn, const std::string& t1, const std::string& t2) const;
};

// The options every subcommand repeats after its name (--lang, --trace, --link, --format);
// addSessionOptions adds --lang and --trace alone.
void addCommonOptions(CLI::App* cmd, Globals& g);
void addSessionOptions(CLI::App* cmd, Globals& g);
// --keys (or another name for the same list), required.
void addKeysOption(CLI::App* cmd, std::string& keys, const std::string& name = "--keys");
// --parent-keys and --child-key of the grid subcommands, both required.
void addGridKeyOptions(CLI::App* cmd, std::string& parentKeys, std::string& childKey);
// --dry-run of the reconciling subcommands.
void addDryRunOption(CLI::App* cmd, bool& dry);
// The required first positional of a subcommand: a database file or a PostgreSQL location.
void addDatabaseArgument(CLI::App* cmd, std::string& db);

// Runs `work` on `conn` inside a transaction that is rolled back, and prints the statements
// the connection received (from its trace) to `out`. The connection must trace into `trace`.
void dryRun(const db::DatabaseRef& conn, const std::string& trace, std::ostream& out,
            const std::function<void()>& work);

// A progress line on standard error while `done` of `total` records are handled; silent
// when standard error is not a terminal or the work is small.
class Progress {
 public:
  Progress(std::string what, size_t total);
  ~Progress();
  void update(size_t done);

 private:
  std::string what_;
  size_t total_;
  bool shown_;
};

// The family registrations (compare_commands.cpp, reconcile_commands.cpp, demo.cpp).
void addCompareCommands(CLI::App& app, Globals& g, std::function<int()>& run);
void addReconcileCommands(CLI::App& app, Globals& g, std::function<int()>& run);
void addDemoCommand(CLI::App& app, Globals& g, std::function<int()>& run);
void addVerifyCommand(CLI::App& app, Globals& g, std::function<int()>& run);

}  // namespace ovt::tool
