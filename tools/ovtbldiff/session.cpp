#include "session.h"

#include <cstdlib>
#include <filesystem>
#include <iostream>

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
  if (std::filesystem::exists(library) && (server.empty() || !std::filesystem::exists(server))) {
    com::registerServer(library);
    // A file in the user's home is written only with a word about it.
    const char* chosen = std::getenv("OVT_REGISTRY");
    if (!chosen || !*chosen) std::cerr << "ovtbldiff: registered " << library << " in " << com::registryPath() << "\n";
  }
  gateway_ = std::make_unique<com::AutomationObject>(com::createObject(progId));
  return *gateway_;
}

db::DatabaseRef Session::open(const std::string& file, const std::string& linkFile) {
  const std::string link = linkFile.empty() ? options_.linkFile : (linkFile == "-" ? std::string() : linkFile);
  calls::LocationOptions o;
  o.traceFile = options_.traceFile;
  o.traceListener = options_.traceListener;
  o.walJournal = options_.wal;
  o.binaryCompare = options_.binaryCompare;
  return calls::openLocation(file, link, o);
}

db::TableRef Session::table(const db::DatabaseRef& conn, const std::string& name) {
  return calls::findTable(conn, name);
}

void Session::setDB(const db::DatabaseRef& conn) { gateway().putRef("DB", Variant(ObjectRef(conn))); }

}  // namespace ovt::tool
