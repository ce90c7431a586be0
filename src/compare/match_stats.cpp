// Placeholder until this family is built: each member raises a clear "not available" error.
#include "ovtbldiff/gateway.h"

#include "frame/handler.h"

namespace ovt {

bool cDataGetway::IsQualifiedMatchKey(std::string, std::string, bool&, db::DatabaseRef*) { frame::raiseNotBuilt("IsQualifiedMatchKey"); }

int16_t cDataGetway::TotalMatchedRec(std::string, std::string, StringArray&, bool, db::DatabaseRef*) { frame::raiseNotBuilt("TotalMatchedRec"); }

bool cDataGetway::IsMatchKeyUnique(StringArray&, bool&, std::string*, db::DatabaseRef*) { frame::raiseNotBuilt("IsMatchKeyUnique"); }

}  // namespace ovt
