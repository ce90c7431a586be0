// Placeholder until this family is built: each member raises a clear "not available" error.
#include "ovtbldiff/gateway.h"

#include "frame/handler.h"

namespace ovt {

bool cDataGetway::CopyRec(std::string, std::string, StringArray&, VariantArray&, StringArray&, bool&, StringArray&, StringArray&, db::DatabaseRef*) { frame::raiseNotBuilt("CopyRec"); }

}  // namespace ovt
