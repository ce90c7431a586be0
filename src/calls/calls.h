// Members invoked by name with JSON arguments, and the JSON forms of the values that come back
// (recordsets read to the end, arrays, objects, errors): the one implementation behind
// `ovtbldiff call` and the C interface.
#pragma once

#include <iosfwd>
#include <map>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "ovtbldiff/dbcomp/database.h"
#include "ovtbldiff/dbcomp/trace.h"
#include "ovtbldiff/host.h"
#include "ovtbldiff/runtime/variant.h"

namespace ovt::calls {

using Json = nlohmann::ordered_json;

// A fault of the input (malformed JSON, an unknown member or parameter), not an error of the
// library.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// What a host gives the runner: its gateway object and how it opens a connection.
class CallHost {
 public:
  virtual ~CallHost() = default;
  // The gateway object the calls go to.
  virtual com::AutomationObject& gateway() = 0;
  // A connection on `location` (a SQLite file or a PostgreSQL location); `link` "" means the
  // host's own link tables (if any), "-" none.
  virtual db::DatabaseRef open(const std::string& location, const std::string& link) = 0;
};

// How a location is opened: the statement trace ("" = none), WAL journal mode for a SQLite
// file, and text compared in binary (case-sensitive) instead of the dialect's case-insensitive way.
struct LocationOptions {
  std::string traceFile;
  db::TraceListener traceListener = {};  // told of every statement as well (none when empty)
  bool walJournal = false;
  bool binaryCompare = false;
};
// Opens a connection of the database component on a SQLite file or a PostgreSQL location,
// with link tables in `link` ("" = none). A missing file or a link of the other engine raises UsageError.
db::DatabaseRef openLocation(const std::string& location, const std::string& link, const LocationOptions& options = {});
// The table `name` of `conn` (case-insensitive), or a UsageError naming what is missing.
db::TableRef findTable(const db::DatabaseRef& conn, const std::string& name);

// The JSON form of a value: Null as null, Empty as {"empty": true}, dates as ISO text,
// arrays as (nested) JSON arrays, a recordset as {"fields": [...], "rows": [...]}, a
// connection as its description, Nothing as null.
Json toJson(const Variant& v);
// The JSON form of an error record; the hex form is the number as 32 bits.
Json errorJson(const ComError& e);

// Runs calls on one gateway object, keeping named connections ("same") between lines.
class CallRunner {
 public:
  explicit CallRunner(CallHost& host) : host_(host) {}

  // Runs one input object ({"member", "db", "args"}); the output line, and whether the
  // call raised. Malformed input throws UsageError.
  Json run(const Json& line, bool& raised);
  // The connection a JSON connection ({"database", "link", "view", "same"}) describes;
  // {"database": null} is Nothing.
  Variant connection(const Json& j);

 private:
  Variant value(const Json& j, const std::string& type);
  Variant table(const Json& j);

  CallHost& host_;
  std::map<std::string, db::DatabaseRef> named_;
};

// The member table as text, from the component's own type information.
void printMemberList(std::ostream& out, const com::TypeLibraryInfo& info);
// The member table as JSON: [{"name", "kind", "result", "params": [{"name", "type", "byref",
// "optional"}]}], kind one of "method", "get", "putref".
Json memberListJson(const com::TypeLibraryInfo& info);

// How a script went: every call ran, some line was malformed, or some call raised.
enum ScriptStatus : int { kScriptOk = 0, kScriptMalformed = 2, kScriptRaised = 3 };
// Runs JSON Lines from `in`; one output line per non-blank input line.
int runScript(CallHost& host, std::istream& in, std::ostream& out);

}  // namespace ovt::calls
