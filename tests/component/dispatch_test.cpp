// The member table as the component exposes it: interface order, dispatch identifiers, type
// information, and calls by name with write-back, defaults and argument checks.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "component/component_support.h"
#include "ovtbldiff/gateway.h"
#include "ovtbldiff/host.h"
#include "support/scripted_db.h"

namespace ovt {
namespace {

using namespace com;

struct Row {
  int position;
  int32_t dispId;
  const char* name;
};
const Row kTable[] = {
    {1, 0x60030013, "IsQualifiedMatchKey"}, {2, 0x60030014, "CopyChild"},
    {3, 0x60030015, "GetOruViewVarList"},   {4, 0x60030016, "TotalMatchedRec"},
    {5, 0x60030017, "ShowParent"},          {6, 0x60030018, "GetOruComparableGridTblList"},
    {7, 0x60030019, "GetTblDiffGridRS"},    {8, 0x6003001A, "CompareViewsStructure"},
    {9, 0x6003001B, "BackupTable"},         {10, 0x6003001C, "GetOruGridList"},
    {11, 0x6003001D, "GetOruDataTable"},    {12, 0x6003001E, "DeleteRec"},
    {13, 0x6003001F, "CopyRec"},            {14, 0x60030020, "GetFldType"},
    {15, 0x60030021, "IsMatchKeyUnique"},   {16, 0x60030022, "CompareTablesStructure"},
    {17, 0x68030012, "DB"},                 {18, 0x68030012, "DB"},
    {19, 0x60030023, "GetTblDiffRecRS"},
};

TEST(TypeInformation, MembersInInterfaceOrderWithTheirDispatchIds) {
  const TypeLibraryInfo& t = typeLibrary();
  EXPECT_EQ(t.name, "OVTblDiffData");
  EXPECT_EQ(t.majorVersion, 2);
  EXPECT_EQ(t.minorVersion, 0);
  EXPECT_EQ(t.lcid, 0x0409u);
  ASSERT_EQ(t.members.size(), 19u);
  for (size_t i = 0; i < 19; ++i) {
    EXPECT_EQ(t.members[i].position, kTable[i].position);
    EXPECT_EQ(t.members[i].dispId, kTable[i].dispId) << kTable[i].name;
    EXPECT_EQ(t.members[i].name, kTable[i].name);
  }
  EXPECT_EQ(t.members[16].kind, MemberKind::PropertyPutRef);
  EXPECT_EQ(t.members[17].kind, MemberKind::PropertyGet);
  EXPECT_EQ(t.members[17].resultType, "cDatabase");
}

TEST(TypeInformation, ParametersWithPassingOptionalityAndDefaults) {
  const TypeLibraryInfo& t = typeLibrary();
  const MemberInfo& cts = t.members[15];
  ASSERT_EQ(cts.params.size(), 4u);
  EXPECT_EQ(cts.params[0].type, "cTable");
  EXPECT_TRUE(cts.params[0].byRef);
  EXPECT_EQ(cts.params[3].name, "eSelectFields");
  EXPECT_EQ(cts.params[3].type, "eTableDiffFields");
  EXPECT_TRUE(cts.params[3].optional);
  EXPECT_EQ(cts.params[3].defaultText, "TableDiffAllFields (1)");
  const MemberInfo& backup = t.members[8];
  EXPECT_FALSE(backup.params[1].byRef);
  EXPECT_TRUE(backup.params[1].optional);
  EXPECT_EQ(backup.params[1].defaultText, "\"\"");
  const MemberInfo& total = t.members[3];
  EXPECT_EQ(total.resultType, "Integer");
  EXPECT_FALSE(total.params[3].byRef);  // OruType by value here, by reference elsewhere
  EXPECT_TRUE(t.members[0].params[2].byRef);
  EXPECT_EQ(t.members[2].params[2].defaultText, "");  // DB of GetOruViewVarList: no default of its own
  EXPECT_FALSE(t.members[5].params[1].optional);     // extDB required
  ASSERT_EQ(t.enums.size(), 2u);
  EXPECT_EQ(t.enums[0].values[0], (std::pair<std::string, int32_t>{"TableDiffSQLConfilct", 1}));
  EXPECT_EQ(t.enums[1].values[1], (std::pair<std::string, int32_t>{"TableDiffNoAutoFields", 2}));
}

// The slot of a virtual member in the vtable (Itanium C++ ABI: a pointer to a virtual member
// holds 1 + the slot's byte offset).
template <class M>
size_t slotOf(M member) {
  static_assert(sizeof(M) == 2 * sizeof(void*));
  uintptr_t raw[2];
  std::memcpy(raw, &member, sizeof raw);
  return (raw[0] - 1) / sizeof(void*);
}

TEST(NativeInterface, MembersFollowTheDispatchOperationsInTableOrder) {
  EXPECT_EQ(slotOf(&IUnknown::QueryInterface), 0u);
  EXPECT_EQ(slotOf(&IDispatch::Invoke), 6u);
  const size_t slots[] = {
      slotOf(&_cDataGetway::IsQualifiedMatchKey), slotOf(&_cDataGetway::CopyChild),
      slotOf(&_cDataGetway::GetOruViewVarList), slotOf(&_cDataGetway::TotalMatchedRec),
      slotOf(&_cDataGetway::ShowParent), slotOf(&_cDataGetway::GetOruComparableGridTblList),
      slotOf(&_cDataGetway::GetTblDiffGridRS), slotOf(&_cDataGetway::CompareViewsStructure),
      slotOf(&_cDataGetway::BackupTable), slotOf(&_cDataGetway::GetOruGridList),
      slotOf(&_cDataGetway::GetOruDataTable), slotOf(&_cDataGetway::DeleteRec),
      slotOf(&_cDataGetway::CopyRec), slotOf(&_cDataGetway::GetFldType),
      slotOf(&_cDataGetway::IsMatchKeyUnique), slotOf(&_cDataGetway::CompareTablesStructure),
      slotOf(&_cDataGetway::putref_DB), slotOf(&_cDataGetway::get_DB),
      slotOf(&_cDataGetway::GetTblDiffRecRS)};
  for (size_t i = 0; i < 19; ++i) EXPECT_EQ(slots[i], 7 + i) << kTable[i].name;
}

class Dispatch : public ::testing::Test {
 protected:
  int32_t idOf(const std::string& name) {
    int32_t id = 0;
    EXPECT_EQ(g_->GetIDsOfNames(&name, 1, &id), kOk) << name;
    return id;
  }
  HResult invoke(const std::string& name, std::vector<DispArg> args, Variant* result,
                 uint16_t flags = kDispatchMethod) {
    args_ = std::move(args);
    return g_->Invoke(idOf(name), flags, args_, result);
  }

  ComPtr<_cDataGetway> g_ = test::newGateway();
  std::vector<DispArg> args_;
};

TEST_F(Dispatch, NamesResolveCaseInsensitively) {
  for (const Row& r : kTable) {
    EXPECT_EQ(idOf(r.name), r.dispId);
    std::string upper = r.name, lower = r.name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(idOf(upper), r.dispId);
    EXPECT_EQ(idOf(lower), r.dispId);
  }
}

TEST_F(Dispatch, UnknownNamesAndParameterNames) {
  std::string names[] = {"NoSuchMember"};
  int32_t ids[1] = {0};
  EXPECT_EQ(g_->GetIDsOfNames(names, 1, ids), kUnknownName);
  EXPECT_EQ(ids[0], -1);
  std::string withParams[] = {"gettbldiffrecrs", "ODB", "MatchKeys", "nope"};
  int32_t pids[4];
  EXPECT_EQ(g_->GetIDsOfNames(withParams, 4, pids), kUnknownName);
  EXPECT_EQ(pids[0], 0x60030023);
  EXPECT_EQ(pids[1], 6);
  EXPECT_EQ(pids[2], 2);
  EXPECT_EQ(pids[3], -1);
}

TEST_F(Dispatch, CallsAMemberByNameWithVariantArguments) {
  Variant r;
  ASSERT_EQ(invoke("GetFldType", {byVal(int32_t{202})}, &r), kOk);
  EXPECT_EQ(toText(r), "Jet Text");
  ASSERT_EQ(invoke("GetFldType", {byVal("3")}, &r, kDispatchMethod | kDispatchPropertyGet), kOk);  // text coerced
  EXPECT_EQ(toText(r), "Jet Long");
}

TEST_F(Dispatch, DBPropertyGetAndPutByReference) {
  Variant r(int32_t{1});
  ASSERT_EQ(invoke("DB", {}, &r, kDispatchPropertyGet), kOk);
  ASSERT_TRUE(r.isObject());
  EXPECT_EQ(r.object(), nullptr);  // a new object holds Nothing
  auto conn = std::make_shared<test::RecordingDatabase>();
  ASSERT_EQ(invoke("db", {byVal(Variant(conn))}, nullptr, kDispatchPropertyPutRef), kOk);
  ASSERT_EQ(invoke("DB", {}, &r, kDispatchPropertyGet), kOk);
  EXPECT_EQ(r.object(), conn);
  db::DatabaseRef native;
  ASSERT_EQ(g_->get_DB(&native), kOk);
  EXPECT_EQ(native, conn);
  ASSERT_EQ(invoke("DB", {byVal(Variant(ObjectRef()))}, nullptr, kDispatchPropertyPutRef), kOk);
  ASSERT_EQ(invoke("DB", {}, &r, kDispatchPropertyGet), kOk);
  EXPECT_EQ(r.object(), nullptr);
  // DB has no value assignment (Let), only Set.
  EXPECT_EQ(invoke("DB", {byVal(Variant(conn))}, nullptr, kDispatchPropertyPut), kMemberNotFound);
  EXPECT_EQ(g_->Invoke(0x60039999, kDispatchMethod, args_, &r), kMemberNotFound);
}

TEST_F(Dispatch, ByReferenceArgumentIsWrittenBackAndAnOmittedOneLeavesNoTrace) {
  auto conn = std::make_shared<test::RecordingDatabase>();
  ASSERT_EQ(g_->putref_DB(conn), kOk);
  Variant keys(StringArray{"ID"}), fields(StringArray{"X"});
  Variant oDB{ObjectRef()};
  Variant r;
  ASSERT_EQ(invoke("GetTblDiffRecRS", {byVal("A"), byVal("B"), byRef(keys), byRef(fields), byVal(int32_t{1}),
                                      byVal(true), byRef(oDB)},
                   &r),
            kOk);
  EXPECT_EQ(oDB.object(), conn);  // the stored object was filled into the caller's variable
  EXPECT_EQ(conn->statements.size(), 1u);
  // Omitted (missing, or simply left off): the stored object is used, nothing to write back.
  ASSERT_EQ(invoke("GetTblDiffRecRS", {byVal("A"), byVal("B"), byRef(keys), byRef(fields), byVal(int32_t{1}),
                                      byVal(true), omitted()},
                   &r),
            kOk);
  ASSERT_EQ(invoke("GetTblDiffRecRS",
                   {byVal("A"), byVal("B"), byRef(keys), byRef(fields), byVal(int32_t{2}), byVal(false)}, &r),
            kOk);
  EXPECT_EQ(conn->statements.size(), 3u);
}

TEST_F(Dispatch, WriteBackHappensOnFailureToo) {
  auto conn = std::make_shared<test::RecordingDatabase>();
  ASSERT_EQ(g_->putref_DB(conn), kOk);
  Variant keys(StringArray{"ID"}), fields(StringArray{""});
  Variant oDB{ObjectRef()};
  EXPECT_EQ(invoke("GetTblDiffRecRS", {byVal("A"), byVal("B"), byRef(keys), byRef(fields), byVal(int32_t{1}),
                                      byVal(true), byRef(oDB)},
                   nullptr),
            objectError(724));
  EXPECT_EQ(oDB.object(), conn);
  std::optional<ErrorRecord> rec = getErrorInfo();
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->description, "There are no fields to compare.");
}

TEST_F(Dispatch, OmittedOptionalArgumentTakesItsDefault) {
  // UniqueKey is shared and conflict-free but filled by the system: only the "no automatic
  // fields" selection leaves it out of CommonFields.
  const std::vector<test::FieldDef> defs{{"UniqueKey", db::adInteger}, {"X", db::adInteger}};
  Variant t1(std::make_shared<test::MadeTable>("A", defs, std::set<std::string>{"UniqueKey"}));
  Variant t2(std::make_shared<test::MadeTable>("B", defs, std::set<std::string>{"UniqueKey"}));
  auto common = [&](DispArg select) {
    Variant fields, r;
    EXPECT_EQ(invoke("CompareTablesStructure", {byRef(t1), byRef(t2), byRef(fields), select}, &r), kOk);
    EXPECT_EQ(fields.type(), VarType::StringArray);  // came back through the by-reference argument
    return fields;
  };
  Variant all(int32_t{TableDiffAllFields}), noAuto(int32_t{TableDiffNoAutoFields});
  const Variant omittedFields = common(omitted());
  EXPECT_EQ(omittedFields, common(byRef(all)));
  EXPECT_EQ(omittedFields.stringArray().at(0), "UniqueKey");
  const Variant noAutoFields = common(byRef(noAuto));
  EXPECT_EQ(noAutoFields.stringArray().at(0), "X");
  EXPECT_EQ(noAuto, Variant(int32_t{TableDiffNoAutoFields}));  // only read, written back unchanged
}

TEST_F(Dispatch, ArgumentCountAndTypesAreChecked) {
  Variant r;
  EXPECT_EQ(invoke("GetFldType", {byVal(int32_t{3}), byVal(int32_t{4})}, &r), resultCodeFor(450));
  EXPECT_EQ(getErrorInfo()->description, "Wrong number of arguments or invalid property assignment");
  EXPECT_EQ(invoke("GetFldType", {}, &r), resultCodeFor(449));
  EXPECT_EQ(invoke("GetFldType", {omitted()}, &r), resultCodeFor(449));
  EXPECT_EQ(invoke("GetFldType", {byVal("three")}, &r), resultCodeFor(13));
  EXPECT_EQ(invoke("GetFldType", {byVal(Null{})}, &r), resultCodeFor(94));
  Variant keys(StringArray{"ID"});
  // A string where a string array belongs, and a connection where a table belongs.
  Variant text("ID");
  EXPECT_EQ(invoke("TotalMatchedRec", {byVal("A"), byVal("B"), byRef(text), byVal(true)}, &r), resultCodeFor(13));
  Variant conn(std::make_shared<test::RecordingDatabase>());
  Variant common;
  EXPECT_EQ(invoke("CompareTablesStructure", {byRef(conn), byRef(conn), byRef(common)}, &r), resultCodeFor(13));
}

TEST_F(Dispatch, ErrorsOfMembersPassThroughWithTheirRecord) {
  Variant keys(StringArray{"ID"}), fields(StringArray{"X"});
  Variant r;
  EXPECT_EQ(invoke("GetTblDiffRecRS",
                   {byVal("A"), byVal("B"), byRef(keys), byRef(fields), byVal(int32_t{1}), byVal(true)}, &r),
            static_cast<HResult>(0x800402D3u));
  std::optional<ErrorRecord> rec = getErrorInfo();
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->number, objectError(723));
  EXPECT_EQ(rec->source, "cDATAGateway:GetTblDiffRecRs");
  EXPECT_EQ(rec->description, "Need to set oDB or the DB property");
  EXPECT_FALSE(getErrorInfo());  // taking the record leaves none
}

}  // namespace
}  // namespace ovt
