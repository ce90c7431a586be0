// Placeholder until this family is built: each member raises a clear "not available" error.
#include "ovtbldiff/gateway.h"

#include "frame/handler.h"

namespace ovt {

std::string cDataGetway::CompareViewsStructure(db::DatabaseRef&, StringArray&) { frame::raiseNotBuilt("CompareViewsStructure"); }

}  // namespace ovt
