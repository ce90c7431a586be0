// The phrase translator's stand-in: a catalogue of English phrases per module and language,
// shipped inside the library (phrases.cpp).
#pragma once

#include <string>
#include <vector>

namespace ovt::glossary {

// One catalogued phrase of a module: the English text and its rendering in one language.
struct PhraseEntry {
  const char* module;
  const char* language;
  const char* english;
  const char* translated;
};

// Every entry of the shipped catalogue. "English" is the identity and needs no entries.
const std::vector<PhraseEntry>& phraseCatalogue();
// The languages the catalogue knows for a module (always "English" first); empty when the
// module is unknown.
std::vector<std::string> catalogueLanguages(const std::string& module);

class PhraseTranslator {
 public:
  // Chooses the module whose phrases are translated. An unknown module raises
  // "Invalid procedure call or argument" (5) with source "PhraseTranslator".
  void SetModule(const std::string& module);
  // Chooses the language (case-insensitive name); one the module has no catalogue for raises 5.
  void SetLanguage(const std::string& language);
  // The phrase in the current language. A phrase without a translation, or a translator whose
  // module or language is not set, gives the phrase unchanged.
  std::string TranslatePhrase(std::string& phrase) const;

  const std::string& module() const { return module_; }
  const std::string& language() const { return language_; }

 private:
  std::string module_;
  std::string language_;
};

}  // namespace ovt::glossary
