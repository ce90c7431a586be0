// The COM object of cDataGetway (native interface and name-based dispatch), its class factory,
// the counts that decide unloading, and the in-process server entry points.
#include <dlfcn.h>

#include <atomic>
#include <filesystem>
#include <memory>

#include "component/dispatch.h"
#include "frame/handler.h"
#include "registry/registry.h"
#include "ovtbldiff/runtime/text.h"

namespace ovt::com {
namespace {

std::atomic<int> liveObjects{0};
std::atomic<int> serverLocks{0};

// Runs one interface call: the thread's error record is cleared first; an error becomes its
// result code plus the record.
template <class F>
HResult guarded(F&& body) {
  setErrorInfo(std::nullopt);
  try {
    body();
    return kOk;
  } catch (...) {
    return reportError(frame::toComError(std::current_exception()));
  }
}

template <class T>
void required(T* p) {
  if (!p) raiseError(kPointer, "", "Invalid pointer");
}

VariantBool vb(bool b) { return b ? kTrue : kFalse; }

// A by-reference Boolean argument: the member works on a bool, the caller sees -1 / 0.
class BoolRef {
 public:
  explicit BoolRef(VariantBool* p) : p_(p), value_(*p != 0) {}
  ~BoolRef() { *p_ = vb(value_); }
  BoolRef(const BoolRef&) = delete;
  BoolRef& operator=(const BoolRef&) = delete;
  bool& get() { return value_; }

 private:
  VariantBool* p_;
  bool value_;
};

class GatewayObject final : public _cDataGetway {
 public:
  GatewayObject() : gateway_(std::make_unique<cDataGetway>()) { ++liveObjects; }
  ~GatewayObject() { --liveObjects; }
  GatewayObject(const GatewayObject&) = delete;
  GatewayObject& operator=(const GatewayObject&) = delete;

  HResult QueryInterface(const Guid& iid, void** out) override {
    if (!out) return kPointer;
    if (iid == kIidIUnknown || iid == kIidIDispatch || iid == kIid_cDataGetway) {
      *out = static_cast<_cDataGetway*>(this);
      AddRef();
      return kOk;
    }
    *out = nullptr;
    return kNoInterface;
  }
  uint32_t AddRef() override { return ++refs_; }
  uint32_t Release() override {
    const uint32_t n = --refs_;
    if (n == 0) delete this;  // the reference count owns the object
    return n;
  }

  HResult GetTypeInfoCount(uint32_t* count) override {
    return call([&] {
      required(count);
      *count = 1;
    });
  }
  HResult GetTypeInfo(const TypeLibraryInfo** info) override {
    return call([&] {
      required(info);
      *info = &typeLibrary();
    });
  }
  HResult GetIDsOfNames(const std::string* names, uint32_t count, int32_t* ids) override;
  HResult Invoke(int32_t dispId, uint16_t flags, std::vector<DispArg>& args, Variant* result) override;

  HResult IsQualifiedMatchKey(const std::string& ColumnName, const std::string& TableName, VariantBool* OruType,
                              db::DatabaseRef* oExtDB, VariantBool* result) override {
    return call([&] {
      required(OruType), required(result);
      BoolRef oru(OruType);
      *result = vb(g().IsQualifiedMatchKey(ColumnName, TableName, oru.get(), oExtDB));
    });
  }
  HResult CopyChild(const std::string& SourceTblName, const std::string& DestTblName,
                    const std::string& SrcChildTblName, const std::string& DestChildTblName,
                    std::string* ChildViewName, StringArray* ParentMatchKeys, VariantArray* ParentMatchValues,
                    StringArray* ChildMatchKey, StringArray* ChildMatchValues, StringArray* ErrMsg,
                    VariantBool* result) override {
    return call([&] {
      required(ChildViewName), required(ParentMatchKeys), required(ParentMatchValues), required(ChildMatchKey);
      required(ChildMatchValues), required(ErrMsg), required(result);
      *result = vb(g().CopyChild(SourceTblName, DestTblName, SrcChildTblName, DestChildTblName, *ChildViewName,
                                 *ParentMatchKeys, *ParentMatchValues, *ChildMatchKey, *ChildMatchValues, *ErrMsg));
    });
  }
  HResult GetOruViewVarList(const std::string& ViewName, StringArray* VariableList, db::DatabaseRef* DB,
                            VariantBool* result) override {
    return call([&] {
      required(VariableList), required(result);
      *result = vb(g().GetOruViewVarList(ViewName, *VariableList, DB));
    });
  }
  HResult TotalMatchedRec(const std::string& Table1Name, const std::string& Table2Name, StringArray* MatchKeys,
                          VariantBool OruType, db::DatabaseRef* oDB, int16_t* result) override {
    return call([&] {
      required(MatchKeys), required(result);
      *result = g().TotalMatchedRec(Table1Name, Table2Name, *MatchKeys, OruType != 0, oDB);
    });
  }
  HResult ShowParent(const std::string& ParentTableName, StringArray* MatchKeys, StringArray* CommonFlds,
                     const std::string& FkeyValue, StringArray* ParentInfo, VariantBool* result) override {
    return call([&] {
      required(MatchKeys), required(CommonFlds), required(ParentInfo), required(result);
      *result = vb(g().ShowParent(ParentTableName, *MatchKeys, *CommonFlds, FkeyValue, *ParentInfo));
    });
  }
  HResult GetOruComparableGridTblList(StringArray* list, db::DatabaseRef* extDB, VariantBool* result) override {
    return call([&] {
      required(list), required(extDB), required(result);
      *result = vb(g().GetOruComparableGridTblList(*list, *extDB));
    });
  }
  HResult GetTblDiffGridRS(const std::string& ParentTbl1Name, const std::string& ChildTbl1Name,
                           const std::string& ParentTbl2Name, const std::string& ChildTbl2Name,
                           const std::string& ChildMatchKey, StringArray* ParentMatchKeys, int32_t eSqlType,
                           db::RecordsetRef* result) override {
    return call([&] {
      required(ParentMatchKeys), required(result);
      *result = g().GetTblDiffGridRS(ParentTbl1Name, ChildTbl1Name, ParentTbl2Name, ChildTbl2Name, ChildMatchKey,
                                     *ParentMatchKeys, eSqlType);
    });
  }
  HResult CompareViewsStructure(db::DatabaseRef* extDB, StringArray* CommonFields, std::string* result) override {
    return call([&] {
      required(extDB), required(CommonFields), required(result);
      *result = g().CompareViewsStructure(*extDB, *CommonFields);
    });
  }
  HResult BackupTable(const std::string& SourceTableName, const std::string& BackupTableName,
                      db::DatabaseRef* extDB, VariantBool* result) override {
    return call([&] {
      required(result);
      *result = vb(g().BackupTable(SourceTableName, BackupTableName, extDB));
    });
  }
  HResult GetOruGridList(const std::string& ViewName, StringArray* GridList, db::DatabaseRef* DB,
                         VariantBool* result) override {
    return call([&] {
      required(GridList), required(result);
      *result = vb(g().GetOruGridList(ViewName, *GridList, DB));
    });
  }
  HResult GetOruDataTable(const std::string& ViewName, db::DatabaseRef* DB, std::string* result) override {
    return call([&] {
      required(result);
      *result = g().GetOruDataTable(ViewName, DB);
    });
  }
  HResult DeleteRec(const std::string& TableName, StringArray* MatchFld, VariantArray* MatchFldValue,
                    VariantBool* OruType, StringArray* ErrMsg, db::DatabaseRef* oExtDB, VariantBool* result) override {
    return call([&] {
      required(MatchFld), required(MatchFldValue), required(OruType), required(ErrMsg), required(result);
      BoolRef oru(OruType);
      *result = vb(g().DeleteRec(TableName, *MatchFld, *MatchFldValue, oru.get(), *ErrMsg, oExtDB));
    });
  }
  HResult CopyRec(const std::string& SourceTableName, const std::string& DestTableName, StringArray* MatchFld,
                  VariantArray* MatchFldValue, StringArray* CommonFldName, VariantBool* OruType,
                  StringArray* CommonGridViews, StringArray* ErrMsg, db::DatabaseRef* oDB,
                  VariantBool* result) override {
    return call([&] {
      required(MatchFld), required(MatchFldValue), required(CommonFldName), required(OruType);
      required(CommonGridViews), required(ErrMsg), required(result);
      BoolRef oru(OruType);
      *result = vb(g().CopyRec(SourceTableName, DestTableName, *MatchFld, *MatchFldValue, *CommonFldName, oru.get(),
                               *CommonGridViews, *ErrMsg, oDB));
    });
  }
  HResult GetFldType(int32_t eDataType, std::string* result) override {
    return call([&] {
      required(result);
      *result = g().GetFldType(eDataType);
    });
  }
  HResult IsMatchKeyUnique(StringArray* pstrMatchFlds, VariantBool* OruType, std::string* psTableName,
                           db::DatabaseRef* oExtDB, VariantBool* result) override {
    return call([&] {
      required(pstrMatchFlds), required(OruType), required(result);
      BoolRef oru(OruType);
      *result = vb(g().IsMatchKeyUnique(*pstrMatchFlds, oru.get(), psTableName, oExtDB));
    });
  }
  HResult CompareTablesStructure(db::TableRef* oTable1, db::TableRef* oTable2, StringArray* CommonFields,
                                 int32_t* eSelectFields, std::string* result) override {
    return call([&] {
      required(oTable1), required(oTable2), required(CommonFields), required(result);
      *result = g().CompareTablesStructure(*oTable1, *oTable2, *CommonFields, eSelectFields);
    });
  }
  HResult putref_DB(db::DatabaseRef value) override {
    return call([&] { g().SetDB(value); });
  }
  HResult get_DB(db::DatabaseRef* result) override {
    return call([&] {
      required(result);
      *result = g().DB();
    });
  }
  HResult GetTblDiffRecRS(const std::string& Table1Name, const std::string& Table2Name, StringArray* MatchKeys,
                          StringArray* CompareFields, int32_t eSqlType, VariantBool OruType, db::DatabaseRef* oDB,
                          db::RecordsetRef* result) override {
    return call([&] {
      required(MatchKeys), required(CompareFields), required(result);
      *result = g().GetTblDiffRecRS(Table1Name, Table2Name, *MatchKeys, *CompareFields, eSqlType, OruType != 0, oDB);
    });
  }

 private:
  cDataGetway& g() { return *gateway_; }

  // Every interface call (but the counted-reference ones) runs on the creating thread only.
  template <class F>
  HResult call(F&& body) {
    return guarded([&] {
      gateway_->checkThread();
      body();
    });
  }

  std::atomic<uint32_t> refs_{1};
  std::unique_ptr<cDataGetway> gateway_;
};

HResult GatewayObject::GetIDsOfNames(const std::string* names, uint32_t count, int32_t* ids) {
  HResult hr = kOk;
  HResult status = call([&] {
    required(ids);
    if (count > 0) required(names);
    for (uint32_t i = 0; i < count; ++i) ids[i] = -1;
    const MemberInfo* member = nullptr;
    for (const MemberInfo& m : typeLibrary().members) {
      if (count > 0 && textEqual(m.name, names[0])) {
        member = &m;
        break;
      }
    }
    if (!member) {
      hr = kUnknownName;
      return;
    }
    ids[0] = member->dispId;
    for (uint32_t i = 1; i < count; ++i) {
      for (size_t p = 0; p < member->params.size(); ++p)
        if (textEqual(member->params[p].name, names[i])) ids[i] = static_cast<int32_t>(p);
      if (ids[i] < 0) hr = kUnknownName;
    }
  });
  return status != kOk ? status : hr;
}

HResult GatewayObject::Invoke(int32_t dispId, uint16_t flags, std::vector<DispArg>& args, Variant* result) {
  HResult notFound = kOk;
  HResult status = call([&] {
    const MemberInfo* member = findMember(dispId, flags);
    if (!member) {
      notFound = kMemberNotFound;
      return;
    }
    Variant r = invokeMember(g(), *member, args);
    if (result) *result = std::move(r);
  });
  return status != kOk ? status : notFound;
}

class Factory final : public IClassFactory {
 public:
  Factory() { ++liveObjects; }
  ~Factory() { --liveObjects; }
  Factory(const Factory&) = delete;
  Factory& operator=(const Factory&) = delete;

  HResult QueryInterface(const Guid& iid, void** out) override {
    if (!out) return kPointer;
    if (iid == kIidIUnknown || iid == kIidIClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return kOk;
    }
    *out = nullptr;
    return kNoInterface;
  }
  uint32_t AddRef() override { return ++refs_; }
  uint32_t Release() override {
    const uint32_t n = --refs_;
    if (n == 0) delete this;  // the reference count owns the object
    return n;
  }

  HResult CreateInstance(IUnknown* outer, const Guid& iid, void** out) override {
    if (!out) return kPointer;
    *out = nullptr;
    if (outer) return kNoAggregation;
    return guarded([&] {
      ComPtr<GatewayObject> object = ComPtr<GatewayObject>::attach(std::make_unique<GatewayObject>().release());
      HResult hr = object->QueryInterface(iid, out);
      if (hr != kOk) raiseError(hr, "", "No such interface supported");
    });
  }
  HResult LockServer(bool lock) override {
    if (lock) ++serverLocks;
    else if (serverLocks.load() > 0) --serverLocks;
    return kOk;
  }

 private:
  std::atomic<uint32_t> refs_{1};
};

// The file of this library, as the server path to register.
std::string serverPath() {
  Dl_info info{};
  if (!::dladdr(reinterpret_cast<void*>(&DllRegisterServer), &info) || !info.dli_fname)
    raiseError(kSelfRegClass, "", "Cannot find the path of the component library");
  std::error_code ec;
  std::filesystem::path p = std::filesystem::canonical(info.dli_fname, ec);
  return ec ? std::string(info.dli_fname) : p.string();
}

const std::string kVersion = "2.0";

}  // namespace

int liveObjectCount() { return liveObjects.load(); }
int serverLockCount() { return serverLocks.load(); }

}  // namespace ovt::com

using namespace ovt::com;

extern "C" HResult DllRegisterServer() {
  return guarded([] {
    const std::string path = serverPath();
    const std::string clsid = toString(kClsidcDataGetway), libid = toString(kLibIdOVTblDiffData);
    const std::string classKey = "CLSID\\" + clsid;
    const std::string progId(kProgId);
    RegistryFile reg(registryPath());
    reg.setValue(classKey, "@", progId);
    reg.setValue(classKey, "ProgID", progId);
    reg.setValue(classKey, "InprocServer32", path);
    reg.setValue(classKey, "ThreadingModel", "Apartment");
    reg.setValue(classKey, "TypeLib", libid);
    reg.setValue(classKey, "Version", kVersion);
    reg.setValue(progId, "@", progId);
    reg.setValue(progId, "CLSID", clsid);
    const std::string interfaceKey = "Interface\\" + toString(kIid_cDataGetway);
    reg.setValue(interfaceKey, "@", "_cDataGetway");
    reg.setValue(interfaceKey, "TypeLib", libid);
    reg.setValue(interfaceKey, "TypeLibVersion", kVersion);
    const std::string libKey = "TypeLib\\" + libid + "\\" + kVersion;
    reg.setValue(libKey, "@", "OVTblDiffData");
    reg.setValue(libKey, "LCID", "409");
    reg.setValue(libKey, "Path", path);
    reg.save();
  });
}

extern "C" HResult DllUnregisterServer() {
  return guarded([] {
    RegistryFile reg(registryPath());
    const std::string clsid = toString(kClsidcDataGetway);
    reg.removeKey("CLSID\\" + clsid);
    // The programmatic identifier goes only while it still names this class.
    if (auto c = reg.value(kProgId, "CLSID"); c && ovt::textEqual(*c, clsid)) reg.removeKey(kProgId);
    reg.removeKey("Interface\\" + toString(kIid_cDataGetway));
    reg.removeKey("TypeLib\\" + toString(kLibIdOVTblDiffData) + "\\" + kVersion);
    reg.save();
  });
}

extern "C" HResult DllGetClassObject(const Guid* clsid, const Guid* iid, void** out) {
  if (!out || !clsid || !iid) return kPointer;
  *out = nullptr;
  if (!(*clsid == kClsidcDataGetway)) return kClassNotAvailable;
  return guarded([&] {
    ComPtr<Factory> factory = ComPtr<Factory>::attach(std::make_unique<Factory>().release());
    HResult hr = factory->QueryInterface(*iid, out);
    if (hr != kOk) ovt::raiseError(hr, "", "No such interface supported");
  });
}

extern "C" HResult DllCanUnloadNow() { return liveObjectCount() == 0 && serverLockCount() == 0 ? kOk : kSFalse; }

extern "C" int DllMain(void*, uint32_t, void*) { return 1; }
