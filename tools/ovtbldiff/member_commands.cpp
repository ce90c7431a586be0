#include "commands.h"

namespace ovt::tool {

void addMemberCommands(CLI::App&, Globals&, std::function<int()>&) {}

}  // namespace ovt::tool
