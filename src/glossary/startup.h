// Per-thread start-up of the library and the phrase translation every error description uses.
//
// Start-up (Main) runs once per thread, when the thread's first object is created. It loads the
// error-reporting control (stage 1), creates the phrase translator and reads the configured
// language (stage 2), and sets the translator to module "DataComp" and that language (stage 3).
// A failing stage raises an error that Main discards: object creation never fails, and the
// stages after the failed one do not run. The state stays for the life of the thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ovtbldiff/runtime/error.h"

namespace ovt::glossary {

// Start-up for the calling thread (Main): runs once per thread. It never fails.
void startThread();

// The English phrase in the thread's language (TranslatePhrase). Raises "Object variable or
// With block variable not set" (91) when the thread has no translator.
std::string T(std::string_view englishPhrase);

// What start-up left in the calling thread, for diagnostics and tests.
struct StartupState {
  int runs = 0;               // how often start-up ran in this thread (0 or 1)
  bool hasControl = false;    // the error-reporting control was loaded
  bool hasTranslator = false; // a translator exists
  std::string language;       // the language read at stage 2 ("" when not read)
  std::optional<ComError> discarded;  // the error Main discarded, if any
};
StartupState startupState();

namespace testing {
// The steps of start-up that a test can make fail.
enum class Step { LoadControl, CreateTranslator, ReadLanguage, SetModule, SetLanguage };
// Makes `step` raise error `number` in the calling thread's start-up (which must not have run yet).
void failStep(Step step, int32_t number);
}  // namespace testing

}  // namespace ovt::glossary
