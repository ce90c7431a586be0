// Listening to the statements a connection runs: the same entries a trace file receives,
// handed to a function instead of written and read back.
#pragma once

#include <functional>
#include <string_view>

namespace ovt::db {

// One statement a connection ran, as it ended: the operation ("Execute", "OpenRecordset",
// "BeginTrans", ...), the statement as received and its outcome ("3 rows changed", "1 rows",
// "error: ..."), as a trace file shows them. The views live only during the call.
struct TracedStatement {
  std::string_view operation, received, outcome;
};

// Told of every statement of a connection, in order; it must not raise. The text as run, which
// a trace file also shows, is not given: a connection with a listener and no trace file does
// not build it.
using TraceListener = std::function<void(const TracedStatement&)>;

}  // namespace ovt::db
