// The JSON form of a verification (`ovtbldiff verify --format json`), shared by the tool and
// the C interface so that both write the same object.
#pragma once

#include <array>
#include <iosfwd>
#include <memory>
#include <string>

#include "calls/calls.h"
#include "ovtbldiff/verify.h"

namespace ovt::calls {

// A sink writing the verification as one JSON object, records as they arrive; `labels` are
// how the report names entry 1 and entry 2.
std::unique_ptr<verify::Sink> verifyJsonSink(std::ostream& out, const std::array<std::string, 2>& labels);

}  // namespace ovt::calls
