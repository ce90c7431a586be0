// The INI rules the configuration file and the registry file share: the same text gives the
// same value through both readers.
#include <gtest/gtest.h>

#include <fstream>

#include "glossary/config.h"
#include "inifile/ini.h"
#include "ovtbldiff/runtime/error.h"
#include "registry/registry.h"
#include "support/temp_dir.h"

namespace ovt {
namespace {

struct Case {
  const char* text;
  const char* section;
  const char* name;
  const char* expected;  // nullptr: no value
};

const Case kCases[] = {
    {"[A]\nk=v\n", "a", "K", "v"},
    {"[A]\n  k  =  v w  \n", "A", "k", "v w"},                  // blanks around name and value
    {"[A]\nk=\"  quoted  \"\n", "A", "k", "  quoted  "},        // one pair of quotes removed
    {"[A]\nk=\"\"x\"\"\n", "A", "k", "\"x\""},                  // only one pair
    {"[A]\n; k=1\n# k=2\nk=3\n", "A", "k", "3"},                // comment lines
    {"[A]\nk=v ; not a comment\n", "A", "k", "v ; not a comment"},  // ';' inside a value
    {"[A]\nk=a=b\n", "A", "k", "a=b"},                          // the first '=' separates
    {"[A]\nk: v\n", "A", "k: v", nullptr},                      // only '=' separates
    {"[ Sp ace ] ; c\nk=v\n", "Sp ace", "k", "v"},              // blanks around a section name
    {"[A]\r\nk=v\r\n", "A", "k", "v"},                          // CRLF lines
    {"[A]\nk=1\nk=2\n", "A", "k", "1"},                         // the first value wins
    {"k=outside\n[B]\nx=1\n", "B", "k", nullptr},               // values before a section are elsewhere
    {"[A]\nnot a value line\nk=v\n", "A", "k", "v"},            // a malformed line is passed over
    {"[A]\nk=\n", "A", "k", ""},                                // an empty value
};

TEST(IniRules, ConfigurationAndRegistryReadTheSameValues) {
  test::TempDir dir;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    std::string v;
    const bool found = glossary::findIniValue(c.text, c.section, c.name, v);
    const std::string path = dir.file("r.ini");
    std::ofstream(path, std::ios::binary | std::ios::trunc) << c.text;
    std::optional<std::string> reg = com::RegistryFile(path).value(c.section, c.name);
    if (!c.expected) {
      EXPECT_FALSE(found);
      EXPECT_EQ(reg, std::nullopt);
      continue;
    }
    EXPECT_TRUE(found);
    EXPECT_EQ(v, c.expected);
    EXPECT_EQ(reg, std::optional<std::string>(c.expected));
  }
}

TEST(IniRules, ValuesTheRegistryWritesComeBackUnchanged) {
  test::TempDir dir;
  const std::string path = dir.file("r.ini");
  const std::string values[] = {"plain", " blank ends ", "\"quoted\"", "a ;b", "", "/p/a=b.so", "\ttab", "#x"};
  {
    com::RegistryFile reg(path);
    for (size_t i = 0; i < std::size(values); ++i) reg.setValue("K", "v" + std::to_string(i), values[i]);
    reg.save();
  }
  com::RegistryFile back(path);
  for (size_t i = 0; i < std::size(values); ++i) EXPECT_EQ(back.value("K", "v" + std::to_string(i)), values[i]);
}

TEST(IniRules, LongSectionNamesAndValuesAreReadWhole) {
  // The type library's key is 52 characters long; server paths can be long too.
  const std::string key = "TypeLib\\{BB9202CB-0F7A-4968-B0F7-EC2209879020}\\2.0";
  const std::string path = "/" + std::string(400, 'p') + "/libOVTblDiffData.so.2.0";
  test::TempDir dir;
  {
    com::RegistryFile reg(dir.file("r.ini"));
    reg.setValue(key, "Path", path);
    reg.save();
  }
  EXPECT_EQ(com::RegistryFile(dir.file("r.ini")).value(key, "path"), path);
  std::string v;
  EXPECT_TRUE(glossary::findIniValue("[" + key + "]\nPath=" + path + "\n", key, "Path", v));
  EXPECT_EQ(v, path);
}

TEST(IniRules, MalformedLinesAreNamedAndPassedOver) {
  ini::Parsed p = ini::parse("[A]\nk=1\njunk\nmore junk\nj=2\n");
  EXPECT_EQ(p.firstBadLine, 3);
  ASSERT_EQ(p.entries.size(), 2u);
  EXPECT_EQ(p.entries[1].name, "j");
}

TEST(IniRules, TheRegistryRefusesToWriteWhatALineCannotHold) {
  test::TempDir dir;
  com::RegistryFile reg(dir.file("w.ini"));
  reg.setValue("K", "v", "two\nlines");
  EXPECT_THROW(reg.save(), ComError);
  EXPECT_FALSE(std::filesystem::exists(dir.file("w.ini")));
}

}  // namespace
}  // namespace ovt
