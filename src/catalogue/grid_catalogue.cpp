// Placeholder until this family is built: each member raises a clear "not available" error.
#include "ovtbldiff/gateway.h"

#include "frame/handler.h"

namespace ovt {

bool cDataGetway::GetOruGridList(std::string, StringArray&, db::DatabaseRef*) { frame::raiseNotBuilt("GetOruGridList"); }

bool cDataGetway::GetOruComparableGridTblList(StringArray&, db::DatabaseRef&) { frame::raiseNotBuilt("GetOruComparableGridTblList"); }

}  // namespace ovt
