// Per-thread start-up: the configured language, the translator, and each stage's failure.
// Every case runs in a thread of its own, since start-up happens once per thread.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <thread>

#include "glossary/config.h"
#include "glossary/startup.h"
#include "ovtbldiff/gateway.h"
#include "support/environment.h"
#include "support/temp_dir.h"

namespace ovt {
namespace {

using glossary::startupState;
using glossary::StartupState;
using glossary::T;
using glossary::testing::Step;

constexpr std::string_view kSource = "TableDiff :InitFendleAndGlossikModules";

class Startup : public ::testing::Test {
 protected:
  void SetUp() override {
    config_ = dir_.file("ovtbldiff.ini");
    ::setenv("OVT_CONFIG", config_.c_str(), 1);
    ::unsetenv("OVT_LANGUAGE");
  }
  void TearDown() override { ovt::testing::useTestEnvironment(); }

  void writeConfig(const std::string& text) {
    std::ofstream out(config_);
    out << text;
  }
  static void inThread(const std::function<void()>& f) {
    std::thread t(f);
    t.join();
  }
  // Creates an object in a new thread (after `before`), and returns what start-up left there.
  static StartupState startedState(const std::function<void()>& before = [] {}) {
    StartupState s;
    inThread([&] {
      before();
      cDataGetway g;
      s = startupState();
    });
    return s;
  }
  // T(phrase) in a new thread after start-up, or the error number it raised.
  static std::string translatedIn(const std::string& phrase, const std::function<void()>& before = [] {}) {
    std::string out;
    inThread([&] {
      before();
      cDataGetway g;
      try {
        out = T(phrase);
      } catch (const ComError& e) {
        out = "error " + std::to_string(e.number());
      }
    });
    return out;
  }

  test::TempDir dir_;
  std::string config_;
};

TEST_F(Startup, WithoutConfigurationTheLanguageIsEnglish) {
  StartupState s = startedState();
  EXPECT_EQ(s.runs, 1);
  EXPECT_TRUE(s.hasControl);
  EXPECT_TRUE(s.hasTranslator);
  EXPECT_EQ(s.language, "English");
  EXPECT_FALSE(s.discarded);
  EXPECT_EQ(translatedIn("There are no fields to compare."), "There are no fields to compare.");
}

TEST_F(Startup, ConfiguredGermanTranslatesAndUnknownPhrasesStayEnglish) {
  writeConfig("[Other]\nLanguage=Finnish\n\n[ variables ]\n ; a comment\n LANGUAGE = \"German\" \n");
  EXPECT_EQ(startedState().language, "German");
  EXPECT_EQ(translatedIn("There are no fields to compare."), "Es gibt keine Felder zum Vergleichen.");
  EXPECT_EQ(translatedIn("Table does not exist:"), "Tabelle existiert nicht:");
  EXPECT_EQ(translatedIn("No such phrase in the catalogue"), "No such phrase in the catalogue");
}

TEST_F(Startup, EnvironmentLanguageOverridesTheFile) {
  writeConfig("[Variables]\nLanguage=English\n");
  EXPECT_EQ(translatedIn("Table:", [] { ::setenv("OVT_LANGUAGE", "german", 1); }), "Tabelle:");
  ::unsetenv("OVT_LANGUAGE");
}

TEST_F(Startup, OncePerThreadAndTheLanguageSwitchTakesEffectInANewThread) {
  writeConfig("[Variables]\nLanguage=German\n");
  inThread([&] {
    cDataGetway first;
    EXPECT_EQ(T("Table:"), "Tabelle:");
    writeConfig("[Variables]\nLanguage=English\n");
    cDataGetway second;  // start-up does not run again: the language stays
    EXPECT_EQ(startupState().runs, 1);
    EXPECT_EQ(startupState().language, "German");
    EXPECT_EQ(T("Table:"), "Tabelle:");
  });
  StartupState later = startedState();
  EXPECT_EQ(later.runs, 1);
  EXPECT_EQ(later.language, "English");
  inThread([] { EXPECT_EQ(startupState().runs, 0); });  // a thread without objects never starts up
}

TEST_F(Startup, UnknownLanguageIsRefusedAtStageThree) {
  writeConfig("[Variables]\nLanguage=Klingon\n");
  StartupState s = startedState();
  EXPECT_TRUE(s.hasTranslator);
  EXPECT_EQ(s.language, "Klingon");
  ASSERT_TRUE(s.discarded);
  EXPECT_EQ(s.discarded->number(), kObjectErrorBase + 5);
  EXPECT_EQ(s.discarded->source(), kSource);
  EXPECT_EQ(s.discarded->description(), "Err:Problem translating forms. Is GLOSSIK.MDB in same directory with TALVE?");
  EXPECT_EQ(translatedIn("Table:"), "Table:");
}

struct StageCase {
  Step step;
  bool control, translator;
  int32_t discardedNumber;
  std::string description;  // of the discarded error ("" for 91, whose text is the platform's)
};

TEST_F(Startup, EachStageFailureIsDiscardedAndLeavesWhatRanBefore) {
  writeConfig("[Variables]\nLanguage=German\n");
  const std::vector<StageCase> cases = {
      // No translator yet: translating the handler's phrase fails, and that failure is discarded.
      {Step::LoadControl, false, false, 91, ""},
      {Step::CreateTranslator, true, false, 91, ""},
      // The translator exists but has no module or language: phrases come back in English.
      {Step::ReadLanguage, true, true, kObjectErrorBase + 429, "Err:Cannot load or access GLOSSIK.DLL"},
      {Step::SetModule, true, true, kObjectErrorBase + 429,
       "Err:Problem translating forms. Is GLOSSIK.MDB in same directory with TALVE?"},
      {Step::SetLanguage, true, true, kObjectErrorBase + 429,
       "Err:Problem translating forms. Is GLOSSIK.MDB in same directory with TALVE?"},
  };
  for (const StageCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.step));
    auto fail = [&c] { glossary::testing::failStep(c.step, 429); };
    StartupState s = startedState(fail);
    EXPECT_EQ(s.runs, 1);
    EXPECT_EQ(s.hasControl, c.control);
    EXPECT_EQ(s.hasTranslator, c.translator);
    ASSERT_TRUE(s.discarded);
    EXPECT_EQ(s.discarded->number(), c.discardedNumber);
    if (!c.description.empty()) {
      EXPECT_EQ(s.discarded->source(), kSource);
      EXPECT_EQ(s.discarded->description(), c.description);
    }
    const std::string t = translatedIn("Table:", fail);
    EXPECT_EQ(t, c.translator ? "Table:" : "error 91");
  }
}

TEST_F(Startup, ANumberThatCannotBeShiftedOverflows) {
  StartupState s = startedState([] { glossary::testing::failStep(Step::ReadLanguage, objectError(5)); });
  ASSERT_TRUE(s.discarded);
  EXPECT_EQ(s.discarded->number(), 6);
  // The edge of the 32-bit range: -262144 still shifts (to the smallest number), -262145 does not.
  s = startedState([] { glossary::testing::failStep(Step::ReadLanguage, -262144); });
  ASSERT_TRUE(s.discarded);
  EXPECT_EQ(s.discarded->number(), INT32_MIN);
  s = startedState([] { glossary::testing::failStep(Step::ReadLanguage, -262145); });
  ASSERT_TRUE(s.discarded);
  EXPECT_EQ(s.discarded->number(), 6);
}

TEST_F(Startup, WithoutATranslatorAMemberErrorBecomesObjectNotSet) {
  ComError seen(0, "", "");
  inThread([&] {
    glossary::testing::failStep(Step::LoadControl, 48);
    cDataGetway g;  // creation still succeeds
    StringArray keys{"ID"}, fields{""};
    try {
      g.GetTblDiffRecRS("A", "B", keys, fields, TableDiffSQLConfilct, true);
    } catch (const ComError& e) {
      seen = e;
    }
  });
  EXPECT_EQ(seen.number(), 91);
  EXPECT_EQ(seen.description(), "Object variable or With block variable not set");
}

TEST(Configuration, LocationFromTheEnvironment) {
  const char* home = std::getenv("HOME");
  const std::string savedHome = home ? home : "";
  ::setenv("OVT_CONFIG", "/x/y.ini", 1);
  EXPECT_EQ(glossary::configPath(), "/x/y.ini");
  ::unsetenv("OVT_CONFIG");
  ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
  EXPECT_EQ(glossary::configPath(), "/cfg/ovtbldiff/ovtbldiff.ini");
  ::unsetenv("XDG_CONFIG_HOME");
  ::setenv("HOME", "/home/u", 1);
  EXPECT_EQ(glossary::configPath(), "/home/u/.config/ovtbldiff/ovtbldiff.ini");
  ::setenv("HOME", savedHome.c_str(), 1);
  ovt::testing::useTestEnvironment();
}

TEST(Configuration, IniValuesBySectionAndKey) {
  std::string v;
  const std::string text = "k=outside\n[A]\nk = 1\n[B]\n# k=2\nk2=3\nk=\n";
  EXPECT_TRUE(glossary::findIniValue(text, "a", "K", v));
  EXPECT_EQ(v, "1");
  EXPECT_TRUE(glossary::findIniValue(text, "B", "k", v));
  EXPECT_EQ(v, "");
  EXPECT_FALSE(glossary::findIniValue(text, "C", "k", v));
  EXPECT_FALSE(glossary::findIniValue("[A]\nk=1", "A", "k2", v));
}

TEST(Configuration, MissingFileGivesTheDefault) {
  ::unsetenv("OVT_LANGUAGE");
  glossary::ErrorReportingControl control("/nonexistent/ovtbldiff.ini");
  EXPECT_EQ(toText(control.IniRead("Variables", "Language", "English")), "English");
}

}  // namespace
}  // namespace ovt
