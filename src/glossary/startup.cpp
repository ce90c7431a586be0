#include "glossary/startup.h"

#include <cstdint>
#include <memory>

#include "glossary/config.h"
#include "glossary/translator.h"
#include "ovtbldiff/runtime/variant.h"

namespace ovt::glossary {
namespace {

constexpr std::string_view kStartupSource = "TableDiff :InitFendleAndGlossikModules";

// The shared state of the library's module, one copy per thread.
struct ThreadState {
  int runs = 0;
  std::shared_ptr<ErrorReportingControl> control;
  std::shared_ptr<PhraseTranslator> translator;
  std::string language;
  std::optional<ComError> discarded;
  std::optional<testing::Step> failAt;
  int32_t failNumber = 0;
};
thread_local ThreadState state;

void seam(testing::Step step) {
  if (state.failAt == step) raiseError(state.failNumber, "", "start-up step made to fail");
}

// The handler of one stage: the error's number shifted by the object-error base (overflow
// checked), the fixed source and "Err:" with the translated phrase. At stage 1 there is no
// translator yet, so translating the phrase raises 91 instead.
[[noreturn]] void stageFailed(const ComError& e, std::string_view phrase) {
  const int64_t number = e.number();
  const std::string translated = T(phrase);
  const int64_t shifted = number + static_cast<int64_t>(kObjectErrorBase);
  if (shifted < INT32_MIN || shifted > INT32_MAX) raiseRuntime(RuntimeError::Overflow);
  raiseError(static_cast<int32_t>(shifted), std::string(kStartupSource), "Err:" + translated);
}

template <class F>
void stage(std::string_view phrase, F&& body) {
  try {
    body();
  } catch (const ComError& e) {
    stageFailed(e, phrase);
  }
}

void InitFendleAndGlossikModules() {
  stage("Cannot load FENDLE.OCX or it's not registered", [] {
    seam(testing::Step::LoadControl);
    state.control = std::make_shared<ErrorReportingControl>();
  });
  stage("Cannot load or access GLOSSIK.DLL", [] {
    seam(testing::Step::CreateTranslator);
    state.translator = std::make_shared<PhraseTranslator>();
    seam(testing::Step::ReadLanguage);
    state.language = toText(deref(state.control).IniRead("Variables", "Language", "English"));
  });
  stage("Problem translating forms. Is GLOSSIK.MDB in same directory with TALVE?", [] {
    seam(testing::Step::SetModule);
    deref(state.translator).SetModule("DataComp");
    seam(testing::Step::SetLanguage);
    deref(state.translator).SetLanguage(state.language);
  });
}

}  // namespace

void startThread() {
  if (state.runs > 0) return;
  ++state.runs;
  // Main: every error is discarded (kept only for diagnostics).
  try {
    InitFendleAndGlossikModules();
  } catch (const ComError& e) {
    state.discarded = e;
  } catch (...) {
    state.discarded = ComError(kGenericFailure, "", "start-up failed");
  }
}

std::string T(std::string_view englishPhrase) {
  std::string phrase(englishPhrase);
  return deref(state.translator).TranslatePhrase(phrase);
}

StartupState startupState() {
  return {state.runs, state.control != nullptr, state.translator != nullptr, state.language, state.discarded};
}

namespace testing {
void failStep(Step step, int32_t number) {
  state.failAt = step;
  state.failNumber = number;
}
}  // namespace testing

}  // namespace ovt::glossary
