// The host platform's "process pending events" call.
#pragma once

namespace ovt::frame {

// Gives the host's pending events one turn. There is no event loop in this build, so it
// does nothing; it stays one named hook so that a host with a loop can be served here.
void processPendingEvents();

}  // namespace ovt::frame
