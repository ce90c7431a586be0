#include "glossary/translator.h"

#include <cstring>

#include "ovtbldiff/runtime/error.h"
#include "ovtbldiff/runtime/text.h"

namespace ovt::glossary {
namespace {

constexpr const char* kSource = "PhraseTranslator";

[[noreturn]] void refuse(const std::string& what) {
  raiseError(static_cast<int32_t>(RuntimeError::InvalidProcedureCall), kSource, what);
}

}  // namespace

std::vector<std::string> catalogueLanguages(const std::string& module) {
  std::vector<std::string> out;
  bool known = false;
  for (const PhraseEntry& e : phraseCatalogue()) {
    if (!textEqual(e.module, module)) continue;
    known = true;
    bool seen = false;
    for (const std::string& l : out) seen = seen || textEqual(l, e.language);
    if (!seen) out.emplace_back(e.language);
  }
  if (known) out.insert(out.begin(), "English");
  return out;
}

void PhraseTranslator::SetModule(const std::string& module) {
  if (catalogueLanguages(module).empty()) refuse("Unknown phrase module: " + module);
  module_ = module;
}

void PhraseTranslator::SetLanguage(const std::string& language) {
  // The module decides which languages exist; without one every language is refused.
  for (const std::string& l : catalogueLanguages(module_)) {
    if (textEqual(l, language)) {
      language_ = l;
      return;
    }
  }
  refuse("No phrases for language: " + language);
}

std::string PhraseTranslator::TranslatePhrase(std::string& phrase) const {
  if (module_.empty() || language_.empty() || textEqual(language_, "English")) return phrase;
  for (const PhraseEntry& e : phraseCatalogue()) {
    if (phrase == e.english && textEqual(e.module, module_) && textEqual(e.language, language_))
      return e.translated;
  }
  return phrase;
}

}  // namespace ovt::glossary
