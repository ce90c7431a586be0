// Placeholder until this family is built: each member raises a clear "not available" error.
#include "ovtbldiff/gateway.h"

#include "frame/handler.h"

namespace ovt {

bool cDataGetway::ShowParent(std::string, StringArray&, StringArray&, std::string, StringArray&) { frame::raiseNotBuilt("ShowParent"); }

}  // namespace ovt
