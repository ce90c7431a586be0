// `ovtbldiff register` / `unregister`: the component's records in a registry file named on the
// command line, other components' records left alone.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/tool_run.h"
#include "ovtbldiff/component.h"
#include "registry/registry.h"
#include "support/temp_dir.h"

namespace {

using ovt::com::RegistryFile;
using ovt::test::runTool;

TEST(RegisterCommand, WritesAndRemovesTheRecordsInTheNamedFile) {
  ovt::test::TempDir dir;
  const std::string file = dir.file("etc/registry.ini");
  {
    RegistryFile reg(file);
    reg.setValue("Other.Thing", "CLSID", "{00000000-0000-0000-0000-000000000001}");
    reg.save();
  }
  const std::string library = std::filesystem::canonical(OVT_BINARY_DIR "/libOVTblDiffData.so").string();
  ovt::test::ToolRun r = runTool(dir.path(), "register --registry '" + file + "'");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "registered " + library + " in " + file + "\n");
  const std::string classKey = "CLSID\\" + ovt::com::toString(ovt::com::kClsidcDataGetway);
  EXPECT_EQ(RegistryFile(file).value(classKey, "InprocServer32"), library);
  EXPECT_EQ(RegistryFile(file).value(std::string(ovt::com::kProgId), "CLSID"),
            ovt::com::toString(ovt::com::kClsidcDataGetway));

  r = runTool(dir.path(), "unregister --registry '" + file + "' '" + library + "'");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "unregistered " + library + " from " + file + "\n");
  RegistryFile after(file);
  EXPECT_FALSE(after.hasKey(classKey));
  EXPECT_FALSE(after.hasKey(std::string(ovt::com::kProgId)));
  EXPECT_EQ(after.value("Other.Thing", "CLSID"), "{00000000-0000-0000-0000-000000000001}");
}

TEST(RegisterCommand, AMissingLibraryIsAUsageError) {
  ovt::test::TempDir dir;
  ovt::test::ToolRun r = runTool(dir.path(), "register --registry '" + dir.file("r.ini") + "' /nonexistent/lib.so");
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, "ovtbldiff: library not found: /nonexistent/lib.so\n");
  EXPECT_FALSE(std::filesystem::exists(dir.file("r.ini")));
}

}  // namespace
