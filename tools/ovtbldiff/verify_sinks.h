// The formats `ovtbldiff verify` writes (json: calls/verify_json.h), each a sink of the verification layer that writes
// records as they arrive: table, csv (long format), html and xlsx.
#pragma once

#include <array>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "ovtbldiff/verify.h"

namespace ovt::tool {

class Session;

// The gateway's members as the verification layer calls them: by name on the session's
// component object, the DB property set through the session.
class SessionMembers : public verify::Members {
 public:
  explicit SessionMembers(Session& s) : s_(s) {}
  Variant call(std::string_view member, std::vector<com::DispArg> args) override;
  void setDB(const db::DatabaseRef& conn) override;

 private:
  Session& s_;
};

// The verification settings of a survey file (may be "") with --keys (TABLE=COL[,COL]) and
// --ignore (TABLE.FIELD,...) over it; a UsageError names a malformed setting.
verify::Settings verifySettings(const std::string& survey, const std::vector<std::string>& keys,
                                const std::vector<std::string>& ignore = {});

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
