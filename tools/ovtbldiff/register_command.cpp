// `ovtbldiff register` / `unregister`: writes or removes the component's records in a
// registry file by calling the library's own entry points.
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "commands.h"

namespace ovt::tool {
namespace {

// The component beside this program (a build tree) or under its prefix (an installation).
std::string defaultLibrary() {
  namespace fs = std::filesystem;
  for (const fs::path& p : {fs::path(exeDir()) / "libOVTblDiffData.so",
                            fs::path(exeDir()) / ".." / "lib" / "libOVTblDiffData.so"}) {
    std::error_code ec;
    if (fs::exists(p, ec)) return fs::canonical(p, ec).string();
  }
  throw UsageError("no libOVTblDiffData.so beside ovtbldiff or in ../lib: name the library");
}

}  // namespace

void addRegisterCommands(CLI::App& app, Globals&, std::function<int()>& run) {
  struct Args {
    std::string library, registry;
  };
  for (bool doRegister : {true, false}) {
    auto a = std::make_shared<Args>();
    CLI::App* cmd = app.add_subcommand(
        doRegister ? "register" : "unregister",
        doRegister ? "Register the component (its class, programmatic identifier, interface and type library) in the "
                     "registry file, so that hosts create OVTblDiffData.cDataGetway by name"
                   : "Remove the component's records from the registry file (other components' records stay)");
    cmd->add_option("library", a->library,
                    "The component library (default: libOVTblDiffData.so beside ovtbldiff, or in ../lib)");
    cmd->add_option("--registry", a->registry,
                    "The registry file to write (default: $OVT_REGISTRY, else the user's "
                    "~/.config/ovtbldiff/registry.ini)");
    cmd->callback([a, doRegister, &run] {
      run = [a, doRegister]() -> int {
        if (!a->registry.empty()) setenv("OVT_REGISTRY", a->registry.c_str(), 1);
        const std::string library = a->library.empty() ? defaultLibrary() : a->library;
        if (!std::filesystem::exists(library)) throw UsageError("library not found: " + library);
        if (doRegister) com::registerServer(library);
        else com::unregisterServer(library);
        std::cout << (doRegister ? "registered " : "unregistered ") << library << (doRegister ? " in " : " from ")
                  << com::registryPath() << "\n";
        return kExitOk;
      };
    });
  }
}

}  // namespace ovt::tool
