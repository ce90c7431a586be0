// Per-thread start-up of the library and the phrase translation every error description uses.
#pragma once

#include <string>
#include <string_view>

namespace ovt::glossary {

// Start-up for the calling thread: runs once per thread, when its first object is created.
// It never fails; a failed stage leaves the thread without a translator.
void startThread();

// The English phrase in the thread's language (TranslatePhrase). Raises "Object variable or
// With block variable not set" (91) when the thread has no translator.
std::string T(std::string_view englishPhrase);

}  // namespace ovt::glossary
