// Placeholder until this family is built: each member raises a clear "not available" error.
#include "ovtbldiff/gateway.h"

#include "frame/handler.h"

namespace ovt {

bool cDataGetway::CopyChild(std::string, std::string, std::string, std::string, std::string&, StringArray&, VariantArray&, StringArray&, StringArray&, StringArray&) { frame::raiseNotBuilt("CopyChild"); }

}  // namespace ovt
