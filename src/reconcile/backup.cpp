// Placeholder until this family is built: each member raises a clear "not available" error.
#include "ovtbldiff/gateway.h"

#include "frame/handler.h"

namespace ovt {

bool cDataGetway::BackupTable(std::string, std::string, db::DatabaseRef*) { frame::raiseNotBuilt("BackupTable"); }

}  // namespace ovt
