// Registration records in the registry file, the round trip, and identifiers as text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "registry/registry.h"
#include "ovtbldiff/component.h"
#include "ovtbldiff/host.h"
#include "support/raised.h"
#include "support/temp_dir.h"

namespace ovt {
namespace {

using namespace com;

class Registration : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = dir_.file("sub/registry.ini");
    ::setenv("OVT_REGISTRY", file_.c_str(), 1);
  }
  void TearDown() override { ::unsetenv("OVT_REGISTRY"); }

  test::TempDir dir_;
  std::string file_;
};

const std::string kClassKey = "CLSID\\{3975A2EB-C82C-46C6-B88E-3954493BB93E}";
const std::string kInterfaceKey = "Interface\\{249EF9C6-DE5A-492E-BF23-64FB1A3F487F}";
const std::string kLibKey = "TypeLib\\{BB9202CB-0F7A-4968-B0F7-EC2209879020}\\2.0";
const std::string kLibId = "{BB9202CB-0F7A-4968-B0F7-EC2209879020}";

TEST_F(Registration, RegistryPathFollowsTheEnvironment) { EXPECT_EQ(registryPath(), file_); }

TEST_F(Registration, WritesClassProgIdInterfaceAndTypeLibrary) {
  ASSERT_EQ(DllRegisterServer(), kOk);
  RegistryFile reg(file_);
  const std::string server = reg.value(kClassKey, "InprocServer32").value_or("");
  EXPECT_FALSE(server.empty());
  EXPECT_TRUE(std::filesystem::exists(server)) << server;
  EXPECT_EQ(reg.value(kClassKey, "ProgID"), "OVTblDiffData.cDataGetway");
  EXPECT_EQ(reg.value(kClassKey, "ThreadingModel"), "Apartment");
  EXPECT_EQ(reg.value(kClassKey, "TypeLib"), kLibId);
  EXPECT_EQ(reg.value("OVTblDiffData.cDataGetway", "CLSID"), "{3975A2EB-C82C-46C6-B88E-3954493BB93E}");
  EXPECT_EQ(reg.value(kInterfaceKey, "@"), "_cDataGetway");
  EXPECT_EQ(reg.value(kInterfaceKey, "TypeLib"), kLibId);
  EXPECT_EQ(reg.value(kLibKey, "@"), "OVTblDiffData");
  EXPECT_EQ(reg.value(kLibKey, "Path"), server);
  EXPECT_EQ(registeredServer("ovtblDIFFdata.CDATAGETWAY"), server);  // names are case-insensitive
}

TEST_F(Registration, RoundTripKeepsOtherComponentsRecords) {
  {
    RegistryFile reg(file_);
    reg.setValue("Other.Thing", "CLSID", "{00000000-0000-0000-0000-000000000001}");
    reg.save();
  }
  ASSERT_EQ(DllRegisterServer(), kOk);
  ASSERT_EQ(DllRegisterServer(), kOk);  // registering twice changes nothing
  EXPECT_FALSE(registeredServer(kProgId).empty());
  ASSERT_EQ(DllUnregisterServer(), kOk);
  RegistryFile reg(file_);
  EXPECT_FALSE(reg.hasKey(kClassKey));
  EXPECT_FALSE(reg.hasKey("OVTblDiffData.cDataGetway"));
  EXPECT_FALSE(reg.hasKey(kInterfaceKey));
  EXPECT_FALSE(reg.hasKey(kLibKey));
  EXPECT_EQ(reg.value("Other.Thing", "CLSID"), "{00000000-0000-0000-0000-000000000001}");
  EXPECT_EQ(registeredServer(kProgId), "");
  EXPECT_EQ(DllUnregisterServer(), kOk);  // nothing left to remove is no error
}

TEST_F(Registration, UnregisterLeavesAProgIdThatNamesAnotherClass) {
  ASSERT_EQ(DllRegisterServer(), kOk);
  {
    RegistryFile reg(file_);
    reg.setValue(kProgId, "CLSID", "{00000000-0000-0000-0000-000000000002}");
    reg.save();
  }
  ASSERT_EQ(DllUnregisterServer(), kOk);
  EXPECT_TRUE(RegistryFile(file_).hasKey(kProgId));
}

TEST_F(Registration, AnUnwritableRegistryFailsWithARecord) {
  ::setenv("OVT_REGISTRY", dir_.file("is-a-dir").c_str(), 1);
  std::filesystem::create_directories(dir_.file("is-a-dir"));
  EXPECT_EQ(DllRegisterServer(), kSelfRegClass);
  std::optional<ErrorRecord> r = getErrorInfo();
  ASSERT_TRUE(r);
  EXPECT_NE(r->description.find("registry file"), std::string::npos);
}

TEST_F(Registration, CreatingAnUnregisteredClassRaises429) {
  const ComError e = test::raisedBy([] { createObject(kProgId); });
  EXPECT_EQ(e.number(), 429);
  EXPECT_NE(e.description().find("ActiveX component can't create object"), std::string::npos);
}

TEST_F(Registration, TheInstalledRegistryIsReadAfterTheUsersOwnWhichWins) {
  const std::string installed = dir_.file("etc/registry.ini");
  {
    RegistryFile reg(installed);
    reg.setValue(kProgId, "CLSID", toString(kClsidcDataGetway));
    reg.setValue(kClassKey, "InprocServer32", "/installed/libOVTblDiffData.so");
    reg.save();
  }
  ::setenv("OVT_SYSTEM_REGISTRY", installed.c_str(), 1);
  EXPECT_EQ(systemRegistryPaths(), std::vector<std::string>{installed});
  EXPECT_EQ(registeredServer(kProgId), "/installed/libOVTblDiffData.so");  // the user's file is empty
  const ComError e = test::raisedBy([] { createObject(kProgId); });
  EXPECT_EQ(e.number(), 429);
  EXPECT_NE(e.description().find("/installed/libOVTblDiffData.so"), std::string::npos) << e.description();
  ASSERT_EQ(DllRegisterServer(), kOk);  // into the user's file, which now wins
  const std::string own = RegistryFile(file_).value(kClassKey, "InprocServer32").value_or("");
  EXPECT_EQ(registeredServer(kProgId), own);
  EXPECT_FALSE(RegistryFile(installed).value(kClassKey, "ThreadingModel"));  // never written to
  ::setenv("OVT_SYSTEM_REGISTRY", "", 1);
  EXPECT_TRUE(systemRegistryPaths().empty());
}

TEST_F(Registration, UnregisteredEverywhereNamesEveryFileRead) {
  ::setenv("OVT_SYSTEM_REGISTRY", dir_.file("etc/none.ini").c_str(), 1);
  const std::string why = test::raisedBy([] { createObject(kProgId); }).description();
  EXPECT_NE(why.find(file_ + " or " + dir_.file("etc/none.ini")), std::string::npos) << why;
  ::setenv("OVT_SYSTEM_REGISTRY", "", 1);
}

TEST(RegistryFileText, ParsesKeysValuesAndComments) {
  test::TempDir dir;
  {
    std::ofstream out(dir.file("r.ini"));
    out << "; comment\n[A\\{X}]\n@ = default value\nPath=/p/a=b.so\n\n[b]\nk=v\n";
  }
  RegistryFile reg(dir.file("r.ini"));
  EXPECT_EQ(reg.value("a\\{x}", "@"), "default value");
  EXPECT_EQ(reg.value("A\\{X}", "path"), "/p/a=b.so");
  EXPECT_EQ(reg.value("B", "K"), "v");
  EXPECT_EQ(reg.value("B", "missing"), std::nullopt);
  EXPECT_EQ(RegistryFile(dir.file("none.ini")).hasKey("A"), false);
}

TEST(Identifiers, TextFormRoundTrips) {
  EXPECT_EQ(toString(kIidIDispatch), "{00020400-0000-0000-C000-000000000046}");
  for (const Guid& g : {kLibIdOVTblDiffData, kClsidcDataGetway, kIid_cDataGetway, kGuideTableDiffSQLType,
                        kGuideTableDiffFields}) {
    Guid back;
    ASSERT_TRUE(parseGuid(toString(g), back));
    EXPECT_EQ(back, g);
  }
  Guid lower;
  ASSERT_TRUE(parseGuid("{3975a2eb-c82c-46c6-b88e-3954493bb93e}", lower));
  EXPECT_EQ(lower, kClsidcDataGetway);
  Guid bad;
  EXPECT_FALSE(parseGuid("3975A2EB-C82C-46C6-B88E-3954493BB93E", bad));
  EXPECT_FALSE(parseGuid("{3975A2EB-C82C-46C6-B88E-3954493BB93G}", bad));
  EXPECT_FALSE(parseGuid("{3975A2EBC-82C-46C6-B88E-3954493BB93E}", bad));
}

TEST(Identifiers, AllDistinct) {
  const Guid all[] = {kLibIdOVTblDiffData, kClsidcDataGetway, kIid_cDataGetway, kGuideTableDiffSQLType,
                      kGuideTableDiffFields};
  for (size_t i = 0; i < 5; ++i)
    for (size_t j = i + 1; j < 5; ++j) EXPECT_FALSE(all[i] == all[j]) << i << " " << j;
}

}  // namespace
}  // namespace ovt
