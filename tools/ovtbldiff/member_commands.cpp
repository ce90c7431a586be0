#include "decisions.h"
#include "members.h"

namespace ovt::tool {

void addMemberCommands(CLI::App& app, Globals& g, std::function<int()>& run) {
  addCompareCommands(app, g, run);
  addReconcileCommands(app, g, run);
  addDemoCommand(app, g, run);
  addResolveCommand(app, g, run);
  addReviewCommand(app, g, run);
  addVerifyCommand(app, g, run);
}

}  // namespace ovt::tool
