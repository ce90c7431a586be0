// The phrase catalogue shipped with the library: every phrase the members and the start-up
// pass through the translator, for module "DataComp". Each rendering keeps the phrase's own
// trailing punctuation and blanks, since the callers append names and statements directly.
#include "glossary/translator.h"

namespace ovt::glossary {
namespace {

constexpr const char* kModule = "DataComp";

struct Pair {
  const char* english;
  const char* german;
};

constexpr Pair kGerman[] = {
    {"Backup Table Fail", "Sicherung der Tabelle fehlgeschlagen"},
    {"Can't copy, since source parent record does not exist, Query fails :",
     "Kopieren nicht möglich, da der Eltern-Datensatz der Quelle nicht existiert, Abfrage fehlgeschlagen :"},
    {"Cannot load FENDLE.OCX or it's not registered",
     "FENDLE.OCX kann nicht geladen werden oder ist nicht registriert"},
    {"Cannot load or access GLOSSIK.DLL", "GLOSSIK.DLL kann nicht geladen oder angesprochen werden"},
    {"Conflict field dataType for", "Konflikt beim Datentyp des Feldes"},
    {"Conflict nullable for", "Konflikt bei Nullwerten für"},
    {"Conflict with DeleteType. This table is not OruTable :",
     "Konflikt mit der Löschart. Diese Tabelle ist keine Oru-Tabelle :"},
    {"Copy child fails :", "Kopieren des Kind-Datensatzes fehlgeschlagen :"},
    {"Create View fails :", "Erstellen der Sicht fehlgeschlagen :"},
    {"Create View fails:", "Erstellen der Sicht fehlgeschlagen:"},
    {"Delete failed. :", "Löschen fehlgeschlagen. :"},
    {"Delete following table fails :", "Löschen folgender Tabelle fehlgeschlagen :"},
    {"Destination Parent Record does not exist, can't copy this child. Query:",
     "Eltern-Datensatz im Ziel existiert nicht, dieser Kind-Datensatz kann nicht kopiert werden. Abfrage:"},
    {"Destination View Table does not exist:", "Sichttabelle des Ziels existiert nicht:"},
    {"Mark delete fails : Query =", "Markieren als gelöscht fehlgeschlagen : Abfrage ="},
    {"Need to set oDB or the DB property", "oDB oder die Eigenschaft DB muss gesetzt sein"},
    {"Problem translating forms. Is GLOSSIK.MDB in same directory with TALVE?",
     "Problem beim Übersetzen der Formulare. Liegt GLOSSIK.MDB im selben Verzeichnis wie TALVE?"},
    {"Query failed. :", "Abfrage fehlgeschlagen. :"},
    {"Source View Table does not exist:", "Sichttabelle der Quelle existiert nicht:"},
    {"Source or Destination Table is not OruTable :", "Quell- oder Zieltabelle ist keine Oru-Tabelle :"},
    {"Table does not exist :", "Tabelle existiert nicht :"},
    {"Table does not exist:", "Tabelle existiert nicht:"},
    {"Table:", "Tabelle:"},
    {"There are no fields to compare.", "Es gibt keine Felder zum Vergleichen."},
    {"Too many fields to compare! Select less fields and try again.",
     "Zu viele Felder zum Vergleichen! Wählen Sie weniger Felder und versuchen Sie es erneut."},
    {"Total fields of", "Anzahl der Felder von"},
    {"Total grids of", "Anzahl der Tabellenfelder von"},
    {"Unmatched field", "Nicht zugeordnetes Feld"},
    {"Unmatched field:", "Nicht zugeordnetes Feld:"},
    {"does not exist", "existiert nicht"},
    {"err: view has no variable :", "Fehler: Sicht hat keine Variable :"},
    {"has an empty field name :", "hat einen leeren Feldnamen :"},
    {"is not a Oru VIEW table", "ist keine Oru-Sichttabelle"},
};

std::vector<PhraseEntry> build() {
  std::vector<PhraseEntry> out;
  for (const Pair& p : kGerman) out.push_back({kModule, "German", p.english, p.german});
  return out;
}

}  // namespace

const std::vector<PhraseEntry>& phraseCatalogue() {
  static const std::vector<PhraseEntry> catalogue = build();
  return catalogue;
}

}  // namespace ovt::glossary
