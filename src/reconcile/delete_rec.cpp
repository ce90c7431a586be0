// Placeholder until this family is built: each member raises a clear "not available" error.
#include "ovtbldiff/gateway.h"

#include "frame/handler.h"

namespace ovt {

bool cDataGetway::DeleteRec(std::string, StringArray&, VariantArray&, bool&, StringArray&, db::DatabaseRef*) { frame::raiseNotBuilt("DeleteRec"); }

}  // namespace ovt
