// The component model of OVTblDiffData: fixed identifiers, the counted-reference interfaces
// (IUnknown, IDispatch, IClassFactory and the dual interface _cDataGetway), the type
// information of the member table, the per-thread error-information record, and the
// in-process server entry points exported with C linkage by libOVTblDiffData.so.
//
// Errors cross this boundary as a result code plus the calling thread's error-information
// record: a runtime error n as 0x800A0000 + n, an object error (a negative number) unchanged.
// Objects belong to the thread that created them (single-threaded apartment).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ovtbldiff/dbcomp/database.h"
#include "ovtbldiff/runtime/error.h"
#include "ovtbldiff/runtime/variant.h"

namespace ovt::com {

using HResult = int32_t;
using VariantBool = int16_t;  // the platform's Boolean: True = -1, False = 0
inline constexpr VariantBool kTrue = -1;
inline constexpr VariantBool kFalse = 0;

inline constexpr HResult kOk = 0;
inline constexpr HResult kSFalse = 1;
inline constexpr HResult kNoInterface = static_cast<HResult>(0x80004002u);
inline constexpr HResult kPointer = static_cast<HResult>(0x80004003u);
inline constexpr HResult kNoAggregation = static_cast<HResult>(0x80040110u);
inline constexpr HResult kClassNotAvailable = static_cast<HResult>(0x80040111u);
inline constexpr HResult kClassNotRegistered = static_cast<HResult>(0x80040154u);
inline constexpr HResult kSelfRegClass = static_cast<HResult>(0x80040201u);
inline constexpr HResult kUnknownName = static_cast<HResult>(0x80020006u);
inline constexpr HResult kMemberNotFound = static_cast<HResult>(0x80020003u);
inline constexpr HResult kWrongThread = static_cast<HResult>(0x8001010Eu);

struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0, data3 = 0;
  uint8_t data4[8] = {};
  bool operator==(const Guid&) const = default;
};
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case.
std::string toString(const Guid& g);
// Parses the braced form (any case); false when it is not one.
bool parseGuid(std::string_view text, Guid& out);

// The platform's own interface identifiers.
inline constexpr Guid kIidIUnknown{0x00000000, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr Guid kIidIDispatch{0x00020400, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr Guid kIidIClassFactory{0x00000001, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// The component's identifiers, fixed once: hosts find the class and interface by them.
inline constexpr Guid kLibIdOVTblDiffData{0xBB9202CB, 0x0F7A, 0x4968, {0xB0, 0xF7, 0xEC, 0x22, 0x09, 0x87, 0x90, 0x20}};
inline constexpr Guid kClsidcDataGetway{0x3975A2EB, 0xC82C, 0x46C6, {0xB8, 0x8E, 0x39, 0x54, 0x49, 0x3B, 0xB9, 0x3E}};
inline constexpr Guid kIid_cDataGetway{0x249EF9C6, 0xDE5A, 0x492E, {0xBF, 0x23, 0x64, 0xFB, 0x1A, 0x3F, 0x48, 0x7F}};
inline constexpr Guid kGuideTableDiffSQLType{0x9D502E65, 0xD83A, 0x4D49, {0xBE, 0x26, 0x2D, 0x30, 0xCB, 0x37, 0xB6, 0x80}};
inline constexpr Guid kGuideTableDiffFields{0x393C0A19, 0xE72D, 0x4C6A, {0x90, 0x38, 0xC5, 0x65, 0x58, 0x39, 0x75, 0x28}};
inline constexpr std::string_view kProgId = "OVTblDiffData.cDataGetway";

// Counted-reference base of every interface. Release frees the object at count zero.
class IUnknown {
 public:
  virtual HResult QueryInterface(const Guid& iid, void** out) = 0;
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;

 protected:
  ~IUnknown() = default;
};

// Owns one counted reference to an interface; releases it when it goes.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  // Takes over a reference the caller already owns (as an out-parameter delivers it).
  static ComPtr attach(T* p) {
    ComPtr c;
    c.p_ = p;
    return c;
  }
  ComPtr(const ComPtr& o) : p_(o.p_) {
    if (p_) p_->AddRef();
  }
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ComPtr& operator=(ComPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~ComPtr() { reset(); }

  void reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // Out-parameter slot for a call that delivers a new reference (the old one is released).
  void** put() {
    reset();
    return reinterpret_cast<void**>(&p_);
  }

 private:
  T* p_ = nullptr;
};

// The per-thread error-information record that accompanies a failure code.
struct ErrorRecord {
  int32_t number = 0;
  std::string source;
  std::string description;
};
// Replaces the calling thread's record (nullopt clears it).
void setErrorInfo(std::optional<ErrorRecord> record);
// Takes the calling thread's record, leaving none.
std::optional<ErrorRecord> getErrorInfo();
// The result code an error number crosses as: runtime error n (1..65535) as 0x800A0000 + n,
// a negative number unchanged, anything else as the generic failure.
HResult resultCodeFor(int32_t number);
// Records the error for the calling thread and returns its result code.
HResult reportError(const ComError& e);
// The error a failed call reports: source and description from the thread's record (taken),
// the number from the result code (0x800A0000 + n gives n; dispatch failures give the
// platform's runtime numbers, e.g. 438 for an unknown member).
ComError errorFromResult(HResult hr);

// Dispatch flags of Invoke.
enum DispatchFlags : uint16_t {
  kDispatchMethod = 1, kDispatchPropertyGet = 2, kDispatchPropertyPut = 4, kDispatchPropertyPutRef = 8,
};

// One argument of a dispatch call, in declaration order (not reversed).
struct DispArg {
  Variant value;           // the argument when passed by value
  Variant* ref = nullptr;  // by reference: the caller's variable, read and written back
  bool missing = false;    // an omitted optional argument: the member's default applies
};
inline DispArg byVal(Variant v) { return DispArg{std::move(v), nullptr, false}; }
inline DispArg byRef(Variant& v) { return DispArg{Variant(), &v, false}; }
inline DispArg omitted() { return DispArg{Variant(), nullptr, true}; }

// Type information of the member table.
enum class MemberKind { Method, PropertyPutRef, PropertyGet };
struct ParamInfo {
  std::string name;
  std::string type;         // "String", "Boolean", "String()", "Variant()", "cDatabase", an enumeration
  bool byRef = false;
  bool optional = false;
  std::string defaultText;  // the default an omitted argument gets ("" when it has none)
};
struct MemberInfo {
  int position = 0;  // 1-based order in the native interface
  int32_t dispId = 0;
  std::string name;
  MemberKind kind = MemberKind::Method;
  std::vector<ParamInfo> params;
  std::string resultType;  // "" for none
};
struct EnumInfo {
  std::string name;
  Guid guid;
  std::vector<std::pair<std::string, int32_t>> values;
};
struct TypeLibraryInfo {
  std::string name;  // "OVTblDiffData"
  Guid libId;
  int majorVersion = 2, minorVersion = 0;
  uint32_t lcid = 0x0409;
  std::string className, interfaceName;
  Guid clsid, iid;
  std::vector<MemberInfo> members;       // in interface order
  std::vector<EnumInfo> enums;
  std::vector<std::string> importedTypes;  // types of OVDB the library refers to
};

class IDispatch : public IUnknown {
 public:
  virtual HResult GetTypeInfoCount(uint32_t* count) = 0;
  // The type information (owned by the component; valid while it is loaded).
  virtual HResult GetTypeInfo(const TypeLibraryInfo** info) = 0;
  // names[0] is a member (case-insensitive), names[1..] its parameters (their positions).
  // An unknown name gives -1 in its slot and kUnknownName.
  virtual HResult GetIDsOfNames(const std::string* names, uint32_t count, int32_t* dispIds) = 0;
  // Calls a member by dispatch identifier. By-reference arguments are written back, on
  // failure too; trailing arguments left out count as omitted.
  virtual HResult Invoke(int32_t dispId, uint16_t flags, std::vector<DispArg>& args, Variant* result) = 0;

 protected:
  ~IDispatch() = default;
};

class IClassFactory : public IUnknown {
 public:
  // Creates a cDataGetway (outer must be null: no aggregation).
  virtual HResult CreateInstance(IUnknown* outer, const Guid& iid, void** out) = 0;
  // Keeps the library loaded while locked (counted).
  virtual HResult LockServer(bool lock) = 0;

 protected:
  ~IClassFactory() = default;
};

// The native (vtable) side of the dual interface: the members in interface order. A
// by-reference argument is a pointer (required ones must not be null); an optional by-reference
// argument may be null for "omitted"; the result comes last.
class _cDataGetway : public IDispatch {
 public:
  virtual HResult IsQualifiedMatchKey(const std::string& ColumnName, const std::string& TableName,
                                      VariantBool* OruType, db::DatabaseRef* oExtDB, VariantBool* result) = 0;
  virtual HResult CopyChild(const std::string& SourceTblName, const std::string& DestTblName,
                            const std::string& SrcChildTblName, const std::string& DestChildTblName,
                            std::string* ChildViewName, StringArray* ParentMatchKeys,
                            VariantArray* ParentMatchValues, StringArray* ChildMatchKey,
                            StringArray* ChildMatchValues, StringArray* ErrMsg, VariantBool* result) = 0;
  virtual HResult GetOruViewVarList(const std::string& ViewName, StringArray* VariableList,
                                    db::DatabaseRef* DB, VariantBool* result) = 0;
  virtual HResult TotalMatchedRec(const std::string& Table1Name, const std::string& Table2Name,
                                  StringArray* MatchKeys, VariantBool OruType, db::DatabaseRef* oDB,
                                  int16_t* result) = 0;
  virtual HResult ShowParent(const std::string& ParentTableName, StringArray* MatchKeys,
                             StringArray* CommonFlds, const std::string& FkeyValue,
                             StringArray* ParentInfo, VariantBool* result) = 0;
  virtual HResult GetOruComparableGridTblList(StringArray* ComparableGridDataTblList,
                                              db::DatabaseRef* extDB, VariantBool* result) = 0;
  virtual HResult GetTblDiffGridRS(const std::string& ParentTbl1Name, const std::string& ChildTbl1Name,
                                   const std::string& ParentTbl2Name, const std::string& ChildTbl2Name,
                                   const std::string& ChildMatchKey, StringArray* ParentMatchKeys,
                                   int32_t eSqlType, db::RecordsetRef* result) = 0;
  virtual HResult CompareViewsStructure(db::DatabaseRef* extDB, StringArray* CommonFields,
                                        std::string* result) = 0;
  virtual HResult BackupTable(const std::string& SourceTableName, const std::string& BackupTableName,
                              db::DatabaseRef* extDB, VariantBool* result) = 0;
  virtual HResult GetOruGridList(const std::string& ViewName, StringArray* GridList, db::DatabaseRef* DB,
                                 VariantBool* result) = 0;
  virtual HResult GetOruDataTable(const std::string& ViewName, db::DatabaseRef* DB, std::string* result) = 0;
  virtual HResult DeleteRec(const std::string& TableName, StringArray* MatchFld, VariantArray* MatchFldValue,
                            VariantBool* OruType, StringArray* ErrMsg, db::DatabaseRef* oExtDB,
                            VariantBool* result) = 0;
  virtual HResult CopyRec(const std::string& SourceTableName, const std::string& DestTableName,
                          StringArray* MatchFld, VariantArray* MatchFldValue, StringArray* CommonFldName,
                          VariantBool* OruType, StringArray* CommonGridViews, StringArray* ErrMsg,
                          db::DatabaseRef* oDB, VariantBool* result) = 0;
  virtual HResult GetFldType(int32_t eDataType, std::string* result) = 0;
  virtual HResult IsMatchKeyUnique(StringArray* pstrMatchFlds, VariantBool* OruType, std::string* psTableName,
                                   db::DatabaseRef* oExtDB, VariantBool* result) = 0;
  virtual HResult CompareTablesStructure(db::TableRef* oTable1, db::TableRef* oTable2, StringArray* CommonFields,
                                         int32_t* eSelectFields, std::string* result) = 0;
  virtual HResult putref_DB(db::DatabaseRef value) = 0;
  virtual HResult get_DB(db::DatabaseRef* result) = 0;
  virtual HResult GetTblDiffRecRS(const std::string& Table1Name, const std::string& Table2Name,
                                  StringArray* MatchKeys, StringArray* CompareFields, int32_t eSqlType,
                                  VariantBool OruType, db::DatabaseRef* oDB, db::RecordsetRef* result) = 0;

 protected:
  ~_cDataGetway() = default;
};

// The registry file: $OVT_REGISTRY when set and not empty, else
// $XDG_CONFIG_HOME/ovtbldiff/registry.ini, else $HOME/.config/ovtbldiff/registry.ini.
std::string registryPath();

// The type information of the library (defined in the component itself).
const TypeLibraryInfo& typeLibrary();
// Objects and factories alive, and factory locks held, in this component.
int liveObjectCount();
int serverLockCount();

}  // namespace ovt::com

// The in-process server entry points of libOVTblDiffData.so.
extern "C" {
// Writes the class, programmatic identifier, server path, threading model, interface and type
// library records into the registry file (ovt::com::registryPath()).
ovt::com::HResult DllRegisterServer();
// Removes those records.
ovt::com::HResult DllUnregisterServer();
// A class factory for kClsidcDataGetway (other classes: kClassNotAvailable).
ovt::com::HResult DllGetClassObject(const ovt::com::Guid* clsid, const ovt::com::Guid* iid, void** out);
// kOk when no object, no factory and no lock is alive, else kSFalse.
ovt::com::HResult DllCanUnloadNow();
// Attach/detach of process and threads; the library does no work of its own there.
int DllMain(void* module, uint32_t reason, void* reserved);
}
