// The host side of the component model: creating an object by its programmatic identifier
// (registry file lookup, loading the in-process server, its class factory) and calling its
// members by name with Variant arguments. Failures raise ComError with the number, source and
// description the component reported (a runtime error as its own number, 6 not 0x800A0006).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ovtbldiff/component.h"

namespace ovt::com {

class LoadedServer;

// A late-bound reference to a component object, usable on the creating thread only.
class AutomationObject {
 public:
  AutomationObject(ComPtr<IDispatch> dispatch, std::shared_ptr<LoadedServer> server);

  // Calls a method (or reads a property) by name; by-reference arguments are written back.
  Variant call(std::string_view member, std::vector<DispArg> args = {});
  // Reads a property.
  Variant get(std::string_view property);
  // Sets an object property by reference (Set obj.DB = value).
  void putRef(std::string_view property, const Variant& value);
  // The dispatch identifier of a member name (case-insensitive).
  int32_t dispIdOf(std::string_view member);
  // The type information of the object's class.
  const TypeLibraryInfo& typeInfo();
  // The native interface (a new counted reference), or an empty pointer when not supported.
  ComPtr<_cDataGetway> native();

  IDispatch* dispatch() const { return dispatch_.get(); }

 private:
  Variant invoke(std::string_view member, uint16_t flags, std::vector<DispArg>& args);

  std::shared_ptr<LoadedServer> server_;  // outlives dispatch_ (declared first)
  ComPtr<IDispatch> dispatch_;
};

// Creates an object of the class registered under progId ("OVTblDiffData.cDataGetway") in the
// registry file (registryPath()). Not registered, or a server that cannot be loaded, raises 429
// "ActiveX component can't create object" with the reason.
AutomationObject createObject(std::string_view progId);
// The in-process server path registered for progId, or "" when it is not registered.
std::string registeredServer(std::string_view progId);

// Registers (or unregisters) the in-process server at `libraryPath` by calling its entry point.
void registerServer(const std::string& libraryPath);
void unregisterServer(const std::string& libraryPath);

// Unloads servers whose DllCanUnloadNow answers kOk and that no AutomationObject still uses.
void freeUnusedLibraries();

}  // namespace ovt::com
