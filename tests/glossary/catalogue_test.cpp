// The shipped phrase catalogue and the translator's rules.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "glossary/translator.h"
#include "ovtbldiff/runtime/error.h"
#include "support/raised.h"
#include "support/temp_dir.h"

namespace ovt {
namespace {

using glossary::PhraseTranslator;

std::set<std::string> germanPhrases() {
  std::set<std::string> out;
  for (const auto& e : glossary::phraseCatalogue())
    if (std::string(e.module) == "DataComp" && std::string(e.language) == "German") out.insert(e.english);
  return out;
}

// Every phrase the library's sources pass through T("...") has a German rendering.
TEST(PhraseCatalogue, CoversEveryPhraseTheSourcesTranslate) {
  const std::set<std::string> german = germanPhrases();
  const std::regex call(R"(\bT\(\s*"((?:[^"\\]|\\.)*)\"\s*\))");
  int found = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(std::string(OVT_SOURCE_DIR) + "/src")) {
    if (entry.path().extension() != ".cpp") continue;
    const std::string s = test::readFile(entry.path().string());
    for (auto it = std::sregex_iterator(s.begin(), s.end(), call); it != std::sregex_iterator(); ++it) {
      ++found;
      EXPECT_TRUE(german.count((*it)[1].str())) << entry.path().filename() << ": " << (*it)[1].str();
    }
  }
  EXPECT_GT(found, 0);
}

TEST(PhraseCatalogue, StartUpPhrasesAndTheMembersPhrasesAreThere) {
  const std::set<std::string> german = germanPhrases();
  for (const char* p : {"Cannot load FENDLE.OCX or it's not registered", "Cannot load or access GLOSSIK.DLL",
                        "Problem translating forms. Is GLOSSIK.MDB in same directory with TALVE?",
                        "Need to set oDB or the DB property", "Create View fails :", "Create View fails:",
                        "Unmatched field", "Unmatched field:", "Table does not exist :", "Mark delete fails : Query ="})
    EXPECT_TRUE(german.count(p)) << p;
}

TEST(PhraseCatalogue, RenderingsKeepTheEndingCallersAppendTo) {
  for (const auto& e : glossary::phraseCatalogue()) {
    const std::string en = e.english, tr = e.translated;
    ASSERT_FALSE(tr.empty()) << en;
    for (const char* ending : {" :", ":", " =", "."}) {
      const std::string end = ending;
      const bool enEnds = en.size() >= end.size() && en.compare(en.size() - end.size(), end.size(), end) == 0;
      const bool trEnds = tr.size() >= end.size() && tr.compare(tr.size() - end.size(), end.size(), end) == 0;
      EXPECT_EQ(enEnds, trEnds) << en << " -> " << tr;
    }
  }
}

TEST(Translator, ModuleAndLanguage) {
  PhraseTranslator t;
  std::string p = "Table:";
  EXPECT_EQ(t.TranslatePhrase(p), "Table:");  // nothing set: unchanged
  t.SetModule("DataComp");
  EXPECT_EQ(t.TranslatePhrase(p), "Table:");  // no language yet
  t.SetLanguage("GERMAN");
  EXPECT_EQ(t.language(), "German");
  EXPECT_EQ(t.TranslatePhrase(p), "Tabelle:");
  EXPECT_EQ(p, "Table:");  // the argument is not changed
  std::string other = "table:";
  EXPECT_EQ(t.TranslatePhrase(other), "table:");  // phrases match exactly
  t.SetLanguage("English");
  EXPECT_EQ(t.TranslatePhrase(p), "Table:");
}

TEST(Translator, RefusesUnknownModulesAndLanguages) {
  PhraseTranslator t;
  const ComError e = test::raisedBy([&] { t.SetModule("NoModule"); });
  EXPECT_EQ(e.number(), 5);
  EXPECT_EQ(e.source(), "PhraseTranslator");
  EXPECT_THROW(t.SetLanguage("German"), ComError);  // no module: no language
  t.SetModule("datacomp");
  EXPECT_THROW(t.SetLanguage("Klingon"), ComError);
  EXPECT_EQ(glossary::catalogueLanguages("DataComp"), (std::vector<std::string>{"English", "German"}));
}

}  // namespace
}  // namespace ovt
