#include "ovtbldiff/host.h"

#include <dlfcn.h>

#include <map>
#include <mutex>

#include "registry/registry.h"

namespace ovt::com {

// One loaded in-process server, shared by the objects created from it.
class LoadedServer {
 public:
  LoadedServer(std::string path, void* handle) : path_(std::move(path)), handle_(handle) {}
  ~LoadedServer() {
    if (handle_) ::dlclose(handle_);
  }
  LoadedServer(const LoadedServer&) = delete;
  LoadedServer& operator=(const LoadedServer&) = delete;

  template <class F>
  F* entry(const char* name) const {
    return reinterpret_cast<F*>(::dlsym(handle_, name));
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  void* handle_;
};

namespace {

constexpr int32_t kCantCreate = 429;
constexpr const char* kCantCreateText = "ActiveX component can't create object";
constexpr const char* kHostSource = "OVDB";

using GetClassObjectFn = HResult(const Guid*, const Guid*, void**);
using CanUnloadFn = HResult();
using RegisterFn = HResult();

std::mutex serversMutex;
std::map<std::string, std::shared_ptr<LoadedServer>> servers;

[[noreturn]] void cantCreate(const std::string& why) {
  raiseError(kCantCreate, kHostSource, std::string(kCantCreateText) + ": " + why);
}

std::shared_ptr<LoadedServer> load(const std::string& path, bool forCreate) {
  std::lock_guard lock(serversMutex);
  if (auto it = servers.find(path); it != servers.end()) return it->second;
  void* h = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    const char* err = ::dlerror();
    std::string why = "cannot load " + path + " (" + (err ? err : "unknown reason") + ")";
    if (forCreate) cantCreate(why);
    raiseError(kSelfRegClass, kHostSource, why);
  }
  auto server = std::make_shared<LoadedServer>(path, h);
  servers.emplace(path, server);
  return server;
}

void check(HResult hr) {
  if (hr < 0) throw errorFromResult(hr);
}

void runEntry(const std::string& libraryPath, const char* name) {
  std::shared_ptr<LoadedServer> server = load(libraryPath, false);
  RegisterFn* fn = server->entry<RegisterFn>(name);
  if (!fn) raiseError(kSelfRegClass, kHostSource, libraryPath + " has no entry point " + name);
  setErrorInfo(std::nullopt);
  check(fn());
}

}  // namespace

AutomationObject::AutomationObject(ComPtr<IDispatch> dispatch, std::shared_ptr<LoadedServer> server)
    : server_(std::move(server)), dispatch_(std::move(dispatch)) {}

int32_t AutomationObject::dispIdOf(std::string_view member) {
  std::string name(member);
  int32_t id = -1;
  setErrorInfo(std::nullopt);
  check(dispatch_->GetIDsOfNames(&name, 1, &id));
  return id;
}

Variant AutomationObject::invoke(std::string_view member, uint16_t flags, std::vector<DispArg>& args) {
  const int32_t id = dispIdOf(member);
  Variant result;
  setErrorInfo(std::nullopt);
  check(dispatch_->Invoke(id, flags, args, &result));
  return result;
}

Variant AutomationObject::call(std::string_view member, std::vector<DispArg> args) {
  return invoke(member, kDispatchMethod | kDispatchPropertyGet, args);
}

Variant AutomationObject::get(std::string_view property) {
  std::vector<DispArg> none;
  return invoke(property, kDispatchPropertyGet, none);
}

void AutomationObject::putRef(std::string_view property, const Variant& value) {
  std::vector<DispArg> args{byVal(value)};
  invoke(property, kDispatchPropertyPutRef, args);
}

const TypeLibraryInfo& AutomationObject::typeInfo() {
  const TypeLibraryInfo* info = nullptr;
  setErrorInfo(std::nullopt);
  check(dispatch_->GetTypeInfo(&info));
  return *info;
}

ComPtr<_cDataGetway> AutomationObject::native() {
  ComPtr<_cDataGetway> p;
  if (dispatch_->QueryInterface(kIid_cDataGetway, p.put()) != kOk) p.reset();
  return p;
}

namespace {

// The class identifier and server path registered for progId ("" when not registered).
std::string lookUp(const RegistryFile& reg, const std::string& progId, Guid& clsid) {
  std::optional<std::string> clsidText = reg.value(progId, "CLSID");
  if (!clsidText || !parseGuid(*clsidText, clsid)) return "";
  return reg.value("CLSID\\" + toString(clsid), "InprocServer32").value_or("");
}

// The user's registry file first, then the files installed with the libraries: the first
// that registers progId names the server. `where` lists the files read.
std::string lookUpAll(const std::string& progId, Guid& clsid, std::string& where) {
  std::vector<std::string> files{registryPath()};
  for (std::string& f : systemRegistryPaths()) files.push_back(std::move(f));
  for (const std::string& f : files) {
    where += (where.empty() ? "" : " or ") + f;
    if (std::string path = lookUp(RegistryFile(f), progId, clsid); !path.empty()) return path;
  }
  return "";
}

}  // namespace

std::string registeredServer(std::string_view progId) {
  Guid clsid;
  std::string where;
  return lookUpAll(std::string(progId), clsid, where);
}

AutomationObject createObject(std::string_view progId) {
  const std::string id(progId);
  Guid clsid;
  std::string where;
  const std::string path = lookUpAll(id, clsid, where);
  if (path.empty()) cantCreate(id + " is not registered in " + where);

  std::shared_ptr<LoadedServer> server = load(path, true);
  GetClassObjectFn* getClassObject = server->entry<GetClassObjectFn>("DllGetClassObject");
  if (!getClassObject) cantCreate(path + " has no DllGetClassObject");

  ComPtr<IClassFactory> factory;
  setErrorInfo(std::nullopt);
  check(getClassObject(&clsid, &kIidIClassFactory, factory.put()));
  ComPtr<IDispatch> object;
  check(factory->CreateInstance(nullptr, kIidIDispatch, object.put()));
  return AutomationObject(std::move(object), std::move(server));
}

void registerServer(const std::string& libraryPath) { runEntry(libraryPath, "DllRegisterServer"); }

void unregisterServer(const std::string& libraryPath) { runEntry(libraryPath, "DllUnregisterServer"); }

void freeUnusedLibraries() {
  std::lock_guard lock(serversMutex);
  for (auto it = servers.begin(); it != servers.end();) {
    CanUnloadFn* canUnload = it->second->entry<CanUnloadFn>("DllCanUnloadNow");
    if (it->second.use_count() == 1 && canUnload && canUnload() == kOk) it = servers.erase(it);
    else ++it;
  }
}

}  // namespace ovt::com
