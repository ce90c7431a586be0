// Verification of a whole survey's two entries: the forms both entries hold, their data
// tables and grids, counted with 64-bit counting statements through the database component;
// conflicts and unpaired records listed by the gateway's members, entry 2's partner rows
// fetched by key, and everything handed to a sink record by record as it is read.
// Engine-neutral: it reaches the gateway only through its members by name and the databases
// only through the abstract database interface.
#pragma once

#include <array>
#include <functional>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "ovtbldiff/component.h"
#include "ovtbldiff/dbcomp/database.h"
#include "ovtbldiff/runtime/variant.h"

namespace ovt::verify {

// How the layer reaches the gateway: a member called by name (by-reference arguments are
// written back), and the stored DB property set by reference.
class Members {
 public:
  virtual ~Members() = default;
  virtual Variant call(std::string_view member, std::vector<com::DispArg> args) = 0;
  virtual void setDB(const db::DatabaseRef& conn) = 0;
};

// A setting the user gave that cannot be used (unknown table or column, a bad survey file);
// the text names the value and where it came from.
struct SettingsError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// What to compare in one data table (form or grid). For a grid the keys are the grid's own
// key column(s) within its parent record.
struct TableSettings {
  std::vector<std::string> keys;
  std::vector<std::string> ignore;   // fields left out of the comparison
  std::vector<std::string> compare;  // when not empty, only these fields are compared
};

// Settings per data table, names compared case-insensitively.
class Settings {
 public:
  // The settings of `table` (nullptr when none were given).
  const TableSettings* find(const std::string& table) const;
  TableSettings& at(const std::string& table);
  // Every table's settings, by folded name; nameOf gives the name as first written.
  const std::map<std::string, TableSettings>& all() const { return tables_; }
  const std::string& nameOf(const std::string& folded) const { return names_.at(folded); }
  // Takes over what `other` sets (command-line options over the survey file).
  void merge(const Settings& other);

 private:
  std::map<std::string, TableSettings> tables_;  // by folded name
  std::map<std::string, std::string> names_;     // folded name -> name as written
};

// Reads a survey file: TOML, or JSON when the name ends in ".json". Each table is a section
// `[tables.NAME]` (JSON: "tables": {"NAME": {...}}) with `keys`, `ignore` and `compare`, each a
// list of column names (a text "A,B" is taken too). Errors name the file and the entry.
Settings readSurvey(const std::string& path);
// Settings from a JSON object {TABLE: {"keys", "ignore", "compare"}}, the "tables" of a JSON
// survey file; errors name `where` and the entry.
Settings settingsFromJson(const nlohmann::json& tables, const std::string& where);
// Writes the settings as the TOML survey file readSurvey reads.
std::string surveyText(const Settings& s);

// Values compared and values differing of one field over the matched record pairs.
struct FieldCount {
  std::string field;
  int64_t compared = 0;
  int64_t differing = 0;
};

// Something the comparison found besides record differences: a structure difference, a key
// problem (with the offending values), a form or grid present in one entry only.
struct Finding {
  std::string kind;  // "form", "grid", "structure", "keys"
  int entry = 0;     // 1 or 2 when it concerns one entry, 0 for both
  std::string text;
};

// The counts of one data table (a form's, or a grid's within its form).
struct TableSummary {
  std::string form;   // the form's catalogue (for a grid: the grid's name)
  std::string view;   // the catalogue table (for a grid: its grid view)
  std::string table;  // the data table (entry 2: the same name under ORULINK_)
  bool grid = false;
  std::vector<std::string> keys;        // match keys (a grid: its parent's, then its own)
  std::vector<std::string> parentKeys;  // a grid: its parent's keys
  std::string parentTable;              // a grid: its parent's data table
  std::string notCompared;              // why it was not compared ("" when it was)
  std::array<int64_t, 2> records{};     // active records of entry 1 and entry 2
  std::array<int64_t, 2> deleted{};     // records marked deleted
  int64_t matched = 0;                  // records of entry 1 with a partner in entry 2
  int64_t conflicting = 0;              // matched pairs whose compared values differ
  std::array<int64_t, 2> missing{};     // without partner: entry-1 records, entry-2 records
  std::vector<FieldCount> fields;
  std::vector<Finding> findings;
  std::vector<TableSummary> grids;  // a form's grids

  int64_t valuesCompared() const;
  int64_t valuesDiffering() const;
  // Values agreeing / values compared; 1 when nothing was compared.
  double agreement() const;
  // True when nothing differs here (grids included) and nothing was found.
  bool agrees() const;
};

struct Survey {
  std::array<std::string, 2> entries;  // the two locations
  std::vector<TableSummary> forms;
  std::vector<Finding> findings;       // forms present in one entry only
  bool agrees() const;
};

// One record as a member listed it (or as fetched from entry 2): columns and values.
struct Record {
  const std::vector<std::string>* columns = nullptr;
  std::vector<Variant> values;
  std::string key;  // "HouseNo=103", several keys joined by ";"
};

// Receives the verification as it is produced: the summary first, then per table (form, then
// each of its grids) its conflicts and unpaired records, one at a time.
class Sink {
 public:
  virtual ~Sink() = default;
  virtual void summary(const Survey& s) = 0;
  virtual void beginTable(const TableSummary& t) = 0;
  // A conflicting pair; `differs[i]` marks column i (same columns in both records).
  virtual void conflict(const Record& one, const Record& two, const std::vector<bool>& differs) = 0;
  // A record of entry `entry` (1 or 2) without a partner in the other entry.
  virtual void unpaired(int entry, const Record& r) = 0;
  virtual void endTable(const TableSummary& t) = 0;
  virtual void finish(const Survey& s) = 0;
};

// The two entries: entry 1's connection with entry 2 attached as the link tables, and entry
// 2 opened on its own (for its catalogue).
struct Entries {
  db::DatabaseRef linked;
  db::DatabaseRef second;
  bool caseSensitive = false;  // the connections compare text in binary
};

class Verifier {
 public:
  Verifier(Members& members, Entries entries, Settings settings);
  // Discovers the forms and grids and counts them; user settings that name nothing raise
  // SettingsError. Library errors raise ComError.
  Survey summarize();
  // Streams the conflicts and unpaired records of every compared table to `sink`.
  void stream(const Survey& s, Sink& sink);
  // The one-pass route: as summarize(), except that where the listed records can give them
  // (keys unique in both entries) the conflicting records, the values differing, a grid's
  // records without partner and the pairs of a form keyed on one column whose records are all
  // active with a key are left for run() to count; no counting statement compares values.
  Survey prepare();
  // Lists the records of `s` (from prepare()) once, completes its counts from them, then hands
  // `sink` the summary and the records, which wait in a temporary file meanwhile (memory stays
  // with a record). With a survey from summarize() it is stream().
  void run(Survey& s, Sink& sink);
  // Called with what the verification is doing ("counting House", "listing Member").
  void onProgress(std::function<void(const std::string&)> f) { progress_ = std::move(f); }

 private:
  TableSummary form(const std::string& view, std::vector<std::string>& usedTables);
  void countForm(TableSummary& t);
  void countGrid(TableSummary& g, const TableSummary& parent);
  // Key findings of both entries; true when no key value is used twice in either.
  // `emptyKeys`: each entry's records with an empty key, as counted with its records;
  // `gridUnique`: for a grid, whether each entry's keys were already found unique.
  bool checkKeys(TableSummary& t, const std::array<int64_t, 2>& emptyKeys,
                 const std::array<bool, 2>* gridUnique = nullptr);
  // `counts`: the table whose counts the listed records complete (nullptr: none).
  void streamForm(const TableSummary& t, Sink& sink, TableSummary* counts = nullptr);
  void streamGrid(const TableSummary& g, Sink& sink, TableSummary* counts = nullptr);
  // A grid matched on several columns within its parent, by the layer's own statements.
  void streamGridOnKeys(const TableSummary& g, Sink& sink, TableSummary* counts);
  bool fromLists(const TableSummary& t) const;

  void progress(const std::string& what) const {
    if (progress_) progress_(what);
  }

  Members& members_;
  Entries entries_;
  Settings settings_;
  std::function<void(const std::string&)> progress_;
  bool preparing_ = false;               // prepare() is counting
  std::vector<std::string> fromLists_;   // folded data tables whose counts run() completes
  std::vector<std::string> pairsFromLists_;  // of those, forms whose pairs run() counts from the unpaired records
};

// Records of `table1` (active when `oru`) whose keys pair with a record of `table2`: the
// count the matched-record member gives, in 64 bits, from a counting statement of its own.
int64_t matchedCount(db::cDatabase& conn, const std::string& table1, const std::string& table2,
                     const std::vector<std::string>& keys, bool oru);

// A value as a literal of the statement dialect (text quoted, dates as #...#, Null as Null).
std::string literal(const Variant& v);

// Fetches the records of `from` (one or more tables, as written after FROM) whose key
// columns (`keyColumns`, as written in a statement) equal the leading values of `keyRows`,
// ordered by those columns: one statement per batch of key rows, never a whole comparison;
// `select` begins with the key columns, in their order.
// `where` (may be "") further restricts the records. Calls `row` with each record's values.
void fetchByKey(db::cDatabase& conn, const std::string& from, const std::vector<std::string>& keyColumns,
                const std::vector<std::string>& select, const std::string& where,
                const std::vector<std::vector<Variant>>& keyRows,
                const std::function<void(std::vector<Variant>&&)>& row);

// Statements that pair a grid's records on its parent's keys and all of its own key columns
// (the grid member pairs on one). `differing` lists the pairs of active records whose `fields`
// differ (Null facing a value included): the parent's keys, the grid's own, then each field's
// value in entry 1 and in entry 2. `unpaired[e]` lists the active records of entry e + 1 (under
// an active parent) without a partner in the other entry: the keys, then the fields. Both are
// ordered by the keys; entry 2's tables are the ORULINK_ tables of entry 1's connection.
struct GridPairing {
  std::string differing;
  std::array<std::string, 2> unpaired;
};
GridPairing gridPairing(const std::string& parentTable, const std::vector<std::string>& parentKeys,
                        const std::string& gridTable, const std::vector<std::string>& ownKeys,
                        const std::vector<std::string>& fields);

// "K1=v1;K2=v2" for the leading key values of a row.
std::string keyText(const std::vector<std::string>& keys, const std::vector<Variant>& values);

}  // namespace ovt::verify
