// Placeholder until this family is built: each member raises a clear "not available" error.
#include "ovtbldiff/gateway.h"

#include "frame/handler.h"

namespace ovt {

std::string cDataGetway::CompareTablesStructure(db::TableRef&, db::TableRef&, StringArray&, int32_t*) { frame::raiseNotBuilt("CompareTablesStructure"); }

std::string cDataGetway::GetFldType(int32_t) { frame::raiseNotBuilt("GetFldType"); }

}  // namespace ovt
