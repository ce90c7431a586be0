#include "session.h"

#include <cstdlib>
#include <filesystem>

#include "ovtbldiff/dbcomp/postgres.h"
#include "ovtbldiff/dbcomp/sqlite.h"
#include "ovtbldiff/runtime/text.h"

namespace ovt::tool {

std::string exeDir() {
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::current_path().string() : p.parent_path().string();
}

Session::Session(SessionOptions options) : options_(std::move(options)) {}

com::AutomationObject& Session::gateway() {
  if (gateway_) return *gateway_;
  // The language is read when the thread's first object is created.
  if (!options_.lang.empty()) setenv("OVT_LANGUAGE", options_.lang.c_str(), 1);
  const std::string progId(com::kProgId);
  // The component built beside the tool is the one to use: register it when the registry
  // names no server or one that no longer exists.
  const std::string library = (std::filesystem::path(exeDir()) / "libOVTblDiffData.so").string();
  const std::string server = com::registeredServer(progId);
  if (std::filesystem::exists(library) && (server.empty() || !std::filesystem::exists(server)))
    com::registerServer(library);
  gateway_ = std::make_unique<com::AutomationObject>(com::createObject(progId));
  return *gateway_;
}

db::DatabaseRef Session::open(const std::string& file, const std::string& linkFile) {
  const std::string link = linkFile.empty() ? options_.linkFile : (linkFile == "-" ? std::string() : linkFile);
  // A PostgreSQL location names a schema of a server database; its link tables are another
  // schema of the same database.
  if (db::IsPostgresLocation(file)) {
    if (!link.empty() && !db::IsPostgresLocation(link))
      throw UsageError("the link tables of a PostgreSQL database must be another schema of it, not " + link);
    db::PostgresOptions o;
    o.link = link;
    o.traceFile = options_.traceFile;
    o.binaryCompare = options_.binaryCompare;
    return db::OpenPostgres(file, o);
  }
  if (db::IsPostgresLocation(link))
    throw UsageError("a SQLite database file cannot take PostgreSQL link tables: " + link);
  db::SqliteOptions o;
  o.linkFile = link;
  o.traceFile = options_.traceFile;
  o.binaryCompare = options_.binaryCompare;
  if (!std::filesystem::exists(file)) throw UsageError("database file not found: " + file);
  return db::OpenSqlite(file, o);
}

db::TableRef Session::table(const db::DatabaseRef& conn, const std::string& name) {
  for (const db::TableRef& t : deref(conn).Tables())
    if (t && textEqual(t->Name(), name)) return t;
  throw UsageError("no table \"" + name + "\" in " + conn->Describe());
}

void Session::setDB(const db::DatabaseRef& conn) { gateway().putRef("DB", Variant(ObjectRef(conn))); }

}  // namespace ovt::tool
