// Placeholder until this family is built: each member raises a clear "not available" error.
#include "ovtbldiff/gateway.h"

#include "frame/handler.h"

namespace ovt {

db::RecordsetRef cDataGetway::GetTblDiffRecRS(std::string, std::string, StringArray&, StringArray&, int32_t, bool, db::DatabaseRef*) { frame::raiseNotBuilt("GetTblDiffRecRS"); }

}  // namespace ovt
