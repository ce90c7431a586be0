// The formats `ovtbldiff verify` writes (json: calls/verify_json.h), each a sink of the verification layer that writes
// records as they arrive: table, csv (long format), html and xlsx.
#pragma once

#include <array>
#include <iosfwd>
#include <memory>
#include <string>

#include "ovtbldiff/verify.h"

namespace ovt::tool {

struct VerifyNames {
  std::array<std::string, 2> entries;  // how the report names entry 1 and entry 2
};

std::unique_ptr<verify::Sink> tableSink(std::ostream& out, const VerifyNames& n);
std::unique_ptr<verify::Sink> csvSink(std::ostream& out);
std::unique_ptr<verify::Sink> htmlSink(std::ostream& out, const VerifyNames& n);
// Writes the workbook into `file` (xlsx is never written to a terminal).
std::unique_ptr<verify::Sink> xlsxSink(const std::string& file, const VerifyNames& n);

// "House" or "House / grid Members (Member)": how reports name a table.
std::string tableTitle(const verify::TableSummary& t);
// Agreement as a percentage text ("85.7%").
std::string percent(double agreement);

}  // namespace ovt::tool
