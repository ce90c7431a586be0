#include "glossary/startup.h"

#include <optional>

#include "ovtbldiff/runtime/variant.h"

namespace ovt::glossary {
namespace {

// The thread's translator; English only until the phrase catalogue is built.
struct ThreadState {
  bool started = false;
  std::optional<std::string> language;
};
thread_local ThreadState state;

}  // namespace

void startThread() {
  if (state.started) return;
  state.started = true;
  state.language = "English";
}

std::string T(std::string_view englishPhrase) {
  if (!state.language) raiseObjectNotSet();
  return std::string(englishPhrase);
}

}  // namespace ovt::glossary
