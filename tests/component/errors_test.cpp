// Errors crossing the component boundary (result code plus the thread's record, and back into
// a ComError for a C++ host), and the single-threaded apartment.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "component/component_support.h"
#include "ovtbldiff/host.h"
#include "support/recording_db.h"
#include "support/raised.h"
#include "support/temp_dir.h"

namespace ovt {
namespace {

using namespace com;

TEST(ResultCodes, RuntimeErrorsGoThroughTheFacilityObjectErrorsUnchanged) {
  EXPECT_EQ(resultCodeFor(6), static_cast<HResult>(0x800A0006u));
  EXPECT_EQ(resultCodeFor(91), static_cast<HResult>(0x800A005Bu));
  EXPECT_EQ(resultCodeFor(objectError(700)), static_cast<HResult>(0x800402BCu));
  EXPECT_EQ(resultCodeFor(kNotImplemented), kNotImplemented);
  EXPECT_EQ(resultCodeFor(0), kGenericFailure);
  EXPECT_EQ(resultCodeFor(70000), kGenericFailure);
}

TEST(ResultCodes, BackIntoAnErrorForACppCaller) {
  setErrorInfo(ErrorRecord{6, "cDATAGateway:TotalMatchedRec", "Overflow"});
  ComError e = errorFromResult(static_cast<HResult>(0x800A0006u));
  EXPECT_EQ(e.number(), 6);
  EXPECT_EQ(e.source(), "cDATAGateway:TotalMatchedRec");
  EXPECT_EQ(e.description(), "Overflow");
  // A number no result code carries comes back from the record.
  setErrorInfo(ErrorRecord{70000, "X", "big"});
  EXPECT_EQ(errorFromResult(kGenericFailure).number(), 70000);
  // Without a record: the platform's own number and description of the code.
  ComError unknown = errorFromResult(kUnknownName);
  EXPECT_EQ(unknown.number(), 438);
  EXPECT_EQ(unknown.description(), "Object doesn't support this property or method");
  EXPECT_EQ(errorFromResult(static_cast<HResult>(0x800A000Du)).number(), 13);
}

TEST(ErrorCrossing, RuntimeErrorOfAMemberOnTheNativeInterface) {
  ComPtr<_cDataGetway> g = test::newGateway();
  VariantBool oru = kTrue;
  VariantBool result = kFalse;
  // No connection anywhere: the first call through Nothing fails with 91 in the member.
  HResult hr = g->IsQualifiedMatchKey("C", "T", &oru, nullptr, &result);
  EXPECT_EQ(hr, static_cast<HResult>(0x800A005Bu));
  ComError e = errorFromResult(hr);
  EXPECT_EQ(e.number(), 91);
  EXPECT_EQ(e.source(), "cDATAGateway:IsQualifiedMatchKey");
  EXPECT_EQ(e.description(), "Object variable or With block variable not set");
}

TEST(ErrorCrossing, ASuccessfulCallClearsAnEarlierRecord) {
  ComPtr<_cDataGetway> g = test::newGateway();
  setErrorInfo(ErrorRecord{5, "stale", "stale"});
  std::string name;
  ASSERT_EQ(g->GetFldType(202, &name), kOk);
  EXPECT_EQ(name, "Jet Text");
  EXPECT_FALSE(getErrorInfo());
}

TEST(ErrorCrossing, RequiredByReferenceArgumentMustBeGiven) {
  ComPtr<_cDataGetway> g = test::newGateway();
  EXPECT_EQ(g->GetFldType(3, nullptr), kPointer);
  std::string r;
  EXPECT_EQ(g->CompareViewsStructure(nullptr, nullptr, &r), kPointer);
}

TEST(HostClient, MembersByNameAndErrorsAsTheNumberRaised) {
  ComPtr<IDispatch> d;
  ASSERT_EQ(test::factory()->CreateInstance(nullptr, kIidIDispatch, d.put()), kOk);
  AutomationObject obj(d, nullptr);
  EXPECT_EQ(obj.dispIdOf("gettbldiffrecrs"), 0x60030023);
  EXPECT_EQ(toText(obj.call("GetFldType", {byVal(int32_t{7})})), "Jet Date/Time");
  EXPECT_EQ(obj.typeInfo().members.size(), 19u);
  ASSERT_TRUE(obj.native());

  // A 16-bit counter over 32768 keys overflows inside the member: the host sees 6.
  auto conn = std::make_shared<test::RecordingDatabase>();
  obj.putRef("DB", Variant(conn));
  EXPECT_EQ(obj.get("DB").object(), conn);
  Variant keys(StringArray::of(std::vector<std::string>(32768, "K")));
  Variant fields(StringArray{"X"});
  const ComError overflow = test::raisedBy([&] {
    obj.call("GetTblDiffRecRS", {byVal("A"), byVal("B"), byRef(keys), byRef(fields), byVal(int32_t{1}), byVal(true)});
  });
  EXPECT_EQ(overflow.number(), 6);
  EXPECT_EQ(overflow.description(), "Overflow");
  EXPECT_EQ(test::raisedBy([&] { obj.call("NoSuchMember"); }).number(), 438);
}

TEST(Apartment, ACallFromAnotherThreadIsRefused) {
  ComPtr<_cDataGetway> g = test::newGateway();
  HResult native = kOk, byName = kOk, names = kOk;
  std::optional<ErrorRecord> record;
  test::inThread([&] {
    std::string r;
    native = g->GetFldType(3, &r);
    record = getErrorInfo();
    std::vector<DispArg> args{byVal(int32_t{3})};
    Variant out;
    byName = g->Invoke(0x60030020, kDispatchMethod, args, &out);
    std::string name = "GetFldType";
    int32_t id;
    names = g->GetIDsOfNames(&name, 1, &id);
  });
  EXPECT_EQ(native, kWrongThread);
  EXPECT_EQ(byName, kWrongThread);
  EXPECT_EQ(names, kWrongThread);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->description,
            "The application called an interface that was marshalled for a different thread.");
  std::string r;
  EXPECT_EQ(g->GetFldType(3, &r), kOk);  // still fine on its own thread
}

TEST(Apartment, EachThreadUsesItsOwnObjects) {
  HResult hr = kGenericFailure;
  std::string name;
  test::inThread([&] {
    ComPtr<_cDataGetway> g = test::newGateway();
    hr = g->GetFldType(202, &name);
  });
  EXPECT_EQ(hr, kOk);
  EXPECT_EQ(name, "Jet Text");
}

// The example host in a process of its own: registers the built component in a fresh registry
// file, creates it by programmatic identifier through dlopen and calls members.
TEST(ExampleHost, CreatesTheComponentByItsProgrammaticIdentifier) {
  const std::string exe = (std::filesystem::path(OVT_BINARY_DIR) / "example_host").string();
  if (!std::filesystem::exists(exe)) GTEST_SKIP() << "example_host is not built";
  test::TempDir dir;
  const std::string out = dir.file("out.txt");
  const std::string cmd = "OVT_REGISTRY='" + dir.file("registry.ini") + "' '" + exe + "' > '" + out + "' 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const std::string text = test::readFile(out);
  EXPECT_NE(text.find("registering"), std::string::npos) << text;
  EXPECT_NE(text.find("GetFldType(202) = Jet Text"), std::string::npos) << text;
  EXPECT_NE(text.find("source: cDATAGateway:GetTblDiffRecRs"), std::string::npos) << text;
  EXPECT_TRUE(std::filesystem::exists(dir.file("registry.ini")));
}

}  // namespace
}  // namespace ovt
