#include "frame/events.h"

namespace ovt::frame {

void processPendingEvents() {}

}  // namespace ovt::frame
