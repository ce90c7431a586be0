// The subcommands of the tool: each maps its arguments to one or a few members and renders
// what they return.
#pragma once

#include <CLI/CLI.hpp>

#include "session.h"

namespace ovt::tool {

// Options every subcommand shares.
struct Globals {
  SessionOptions session;
  std::string format = "table";  // table | csv | json | html
};

// Adds the `call` subcommand; its work runs through `run` once parsing succeeded.
void addCallCommand(CLI::App& app, Globals& g, std::function<int()>& run);
// Adds the member-family subcommands (structure, keys, count, diff, ...) and `demo`.
void addMemberCommands(CLI::App& app, Globals& g, std::function<int()>& run);
// Adds `register` and `unregister` (the component's records in a registry file).
void addRegisterCommands(CLI::App& app, Globals& g, std::function<int()>& run);

}  // namespace ovt::tool
