#include <fstream>
#include <iostream>

#include "calls/calls.h"
#include "commands.h"
#include "members.h"

namespace ovt::tool {

void addCallCommand(CLI::App& app, Globals& g, std::function<int()>& run) {
  struct CallArgs {
    std::string script, member, args, db;
    bool list = false;
  };
  auto a = std::make_shared<CallArgs>();
  CLI::App* cmd = app.add_subcommand(
      "call",
      "Invoke any member by name with JSON arguments, as a host does. Output: one JSON line per call "
      "{\"member\", \"result\", \"byref\", \"error\"}. Exit 0 when no call raised, 3 when one did, 2 for "
      "malformed input.");
  addSessionOptions(cmd, g);
  cmd->add_option("--script", a->script,
                  "JSON Lines (FILE or - for standard input): {\"member\": M, \"db\": CONN, \"args\": {...}} per "
                  "line, all on one object");
  cmd->add_flag("--list", a->list, "Print the member table from the component's type information");
  cmd->add_option("--db", a->db, "A connection to store in DB before a single call, e.g. '{\"database\": \"f.db\"}'");
  cmd->add_option("member", a->member, "Member to call (case-insensitive)");
  cmd->add_option("args", a->args, "Arguments as a JSON object by parameter name, or a JSON array by position");
  cmd->callback([a, &g, &run] {
    run = [a, &g]() -> int {
      Session session(g.session);
      if (a->list) {
        calls::printMemberList(std::cout, session.gateway().typeInfo());
        return kExitOk;
      }
      if (!a->script.empty()) {
        if (!a->member.empty()) throw UsageError("--script and a MEMBER exclude each other");
        if (a->script == "-") return calls::runScript(session, std::cin, std::cout);
        std::ifstream in(a->script);
        if (!in) throw UsageError("cannot read script " + a->script);
        return calls::runScript(session, in, std::cout);
      }
      if (a->member.empty()) throw UsageError("call needs a MEMBER, --script or --list (see --help)");
      Json line{{"member", a->member}};
      try {
        if (!a->args.empty()) line["args"] = Json::parse(a->args);
        if (!a->db.empty()) line["db"] = Json::parse(a->db);
      } catch (const Json::exception& e) {
        throw UsageError(std::string("malformed JSON: ") + e.what());
      }
      calls::CallRunner runner(session);
      bool raised = false;
      std::cout << runner.run(line, raised).dump(-1, ' ', false, Json::error_handler_t::replace) << "\n";
      return raised ? kExitRaised : kExitOk;
    };
  });
}

}  // namespace ovt::tool
