// One run of the tool: the gateway object created through the component model, the
// connections the command line or a script names, and the options every connection gets.
#pragma once

#include <map>
#include <string>

#include "calls/calls.h"
#include "ovtbldiff/dbcomp/database.h"
#include "ovtbldiff/host.h"

namespace ovt::tool {

// Exit codes of every subcommand.
enum Exit : int { kExitOk = 0, kExitDifferences = 1, kExitUsage = 2, kExitRaised = 3 };

// A usage or input fault of the tool itself (exit code 2), not an error of the library.
using calls::UsageError;
using calls::Json;
using calls::toJson;

struct SessionOptions {
  std::string lang;       // "" = the configured language
  std::string traceFile;  // "" = no statement trace
  db::TraceListener traceListener = {};  // told of every statement of every connection (none when empty)
  std::string linkFile;   // "" = no link tables
  bool wal = false;       // SQLite files in WAL journal mode
  bool binaryCompare = false;  // text compares in binary (case-sensitive)
};

class Session : public calls::CallHost {
 public:
  explicit Session(SessionOptions options);

  // The gateway object, created on first use (after OVT_LANGUAGE is set from --lang).
  com::AutomationObject& gateway() override;
  // Opens a connection of the SQLite database component on `file` (link file: the argument,
  // else the --link option; "-" or "" in the argument means none).
  db::DatabaseRef open(const std::string& file, const std::string& linkFile = "") override;
  // The table `name` of `conn` (case-insensitive), or a UsageError naming what is missing.
  static db::TableRef table(const db::DatabaseRef& conn, const std::string& name);
  // Sets the stored DB property of the gateway (by reference).
  void setDB(const db::DatabaseRef& conn);

  const SessionOptions& options() const { return options_; }

 private:
  SessionOptions options_;
  std::unique_ptr<com::AutomationObject> gateway_;
};

// The path of this executable's directory.
std::string exeDir();

}  // namespace ovt::tool
