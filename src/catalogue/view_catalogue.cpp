// Placeholder until this family is built: each member raises a clear "not available" error.
#include "ovtbldiff/gateway.h"

#include "frame/handler.h"

namespace ovt {

std::string cDataGetway::GetOruDataTable(std::string, db::DatabaseRef*) { frame::raiseNotBuilt("GetOruDataTable"); }

bool cDataGetway::GetOruViewVarList(std::string, StringArray&, db::DatabaseRef*) { frame::raiseNotBuilt("GetOruViewVarList"); }

}  // namespace ovt
