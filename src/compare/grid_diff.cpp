// Placeholder until this family is built: each member raises a clear "not available" error.
#include "ovtbldiff/gateway.h"

#include "frame/handler.h"

namespace ovt {

db::RecordsetRef cDataGetway::GetTblDiffGridRS(std::string, std::string, std::string, std::string, std::string, StringArray&, int32_t) { frame::raiseNotBuilt("GetTblDiffGridRS"); }

}  // namespace ovt
