// A small host: it registers the component when needed, creates the object by its
// programmatic identifier (without linking the component), calls members by name and prints
// their results and error records.
#include <unistd.h>

#include <filesystem>
#include <iostream>

#include "ovtbldiff/host.h"

namespace {

std::filesystem::path exeDir() {
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::current_path() : p.parent_path();
}

void show(const ovt::ComError& e) {
  std::cout << "  error " << e.number() << " (0x" << std::hex << static_cast<uint32_t>(e.number()) << std::dec
            << ")\n  source: " << e.source() << "\n  description: " << e.description() << "\n";
}

}  // namespace

int main() {
  using namespace ovt;
  try {
    const std::string progId(com::kProgId);
    // The component built beside this program is the one to use; (re-)register it when the
    // registry names no server or another one.
    const std::string library = std::filesystem::weakly_canonical(exeDir() / "libOVTblDiffData.so").string();
    std::string server = com::registeredServer(progId);
    if (std::filesystem::exists(library) && server != library) {
      std::cout << "registering " << library << " in " << com::registryPath() << "\n";
      com::registerServer(library);
      server = com::registeredServer(progId);
    }
    std::cout << progId << " -> " << server << "\n";

    com::AutomationObject gateway = com::createObject(progId);
    const com::TypeLibraryInfo& info = gateway.typeInfo();
    std::cout << "class " << info.className << " " << com::toString(info.clsid) << ", " << info.members.size()
              << " members\n";

    // A member that needs no database.
    for (int32_t code : {3, 202, 7}) {
      Variant name = gateway.call("getfldtype", {com::byVal(code)});
      std::cout << "GetFldType(" << code << ") = " << toText(name) << "\n";
    }

    // DB is Nothing: the record difference query reports its own error through the record.
    gateway.putRef("DB", Variant(ObjectRef()));
    Variant db = gateway.get("DB");
    std::cout << "DB is " << (db.object() ? "set" : "Nothing") << "\n";
    Variant keys(StringArray{"UniqueKey"});
    Variant fields(StringArray{"Name"});
    try {
      gateway.call("GetTblDiffRecRS", {com::byVal("Table1"), com::byVal("Table2"), com::byRef(keys),
                                       com::byRef(fields), com::byVal(int32_t{1}), com::byVal(true)});
      std::cout << "GetTblDiffRecRS unexpectedly succeeded\n";
    } catch (const ComError& e) {
      std::cout << "GetTblDiffRecRS without a database:\n";
      show(e);
    }
    return 0;
  } catch (const ComError& e) {
    std::cerr << "example_host failed:\n";
    show(e);
    return 1;
  }
}
