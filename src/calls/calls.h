// `ovtbldiff call`: members invoked by name with JSON arguments, and the JSON forms of the
// values that come back (recordsets read to the end, arrays, objects, errors).
#pragma once

#include <iosfwd>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "ovtbldiff/runtime/variant.h"
#include "session.h"

namespace ovt::tool {

using Json = nlohmann::ordered_json;

// The JSON form of a value: Null as null, Empty as {"empty": true}, dates as ISO text,
// arrays as (nested) JSON arrays, a recordset as {"fields": [...], "rows": [...]}, a
// connection as its description, Nothing as null.
Json toJson(const Variant& v);
// The JSON form of an error record; the hex form is the number as 32 bits.
Json errorJson(const ComError& e);

// Runs calls on one gateway object, keeping named connections ("same") between lines.
class CallRunner {
 public:
  explicit CallRunner(Session& session) : session_(session) {}

  // Runs one input object ({"member", "db", "args"}); the output line, and whether the
  // call raised. Malformed input throws UsageError.
  Json run(const Json& line, bool& raised);

 private:
  Variant value(const Json& j, const std::string& type);
  Variant connection(const Json& j);
  Variant table(const Json& j);

  Session& session_;
  std::map<std::string, db::DatabaseRef> named_;
};

// The member table as text, from the component's own type information.
void printMemberList(std::ostream& out, const com::TypeLibraryInfo& info);

// Runs JSON Lines from `in`; one output line per non-blank input line. Exit code 0, 2 or 3.
int runScript(Session& session, std::istream& in, std::ostream& out);

}  // namespace ovt::tool
