// Decisions of a reviewer on the differences between the two entries of a survey: which
// value each differing field keeps, whether an unpaired record stays or goes. Decisions are
// kept in a review file (SQLite) as they are made, and applied into entry 1, entry 2 or a new
// verified copy, one transaction per record, with an audit row per changed value in the
// target's table ovt_audit. Built on the gateway's members and the database interface only.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "ovtbldiff/dbcomp/database.h"
#include "ovtbldiff/runtime/variant.h"

namespace ovt::decide {

// The members the decisions need. Hosts wrap the gateway object they hold (a cDataGetway, or
// the component object reached by name); the signatures are the members' own.
class Members {
 public:
  virtual ~Members() = default;
  virtual void SetDB(const db::DatabaseRef& conn) = 0;
  virtual bool CopyRec(std::string SourceTableName, std::string DestTableName, StringArray& MatchFld,
                       VariantArray& MatchFldValue, StringArray& CommonFldName, bool& OruType,
                       StringArray& CommonGridViews, StringArray& ErrMsg, db::DatabaseRef* oDB) = 0;
  virtual bool CopyChild(std::string SourceTblName, std::string DestTblName, std::string SrcChildTblName,
                         std::string DestChildTblName, std::string& ChildViewName, StringArray& ParentMatchKeys,
                         VariantArray& ParentMatchValues, StringArray& ChildMatchKey, StringArray& ChildMatchValues,
                         StringArray& ErrMsg) = 0;
  virtual bool DeleteRec(std::string TableName, StringArray& MatchFld, VariantArray& MatchFldValue, bool& OruType,
                         StringArray& ErrMsg, db::DatabaseRef* oExtDB) = 0;
  virtual db::RecordsetRef GetTblDiffRecRS(std::string Table1Name, std::string Table2Name, StringArray& MatchKeys,
                                           StringArray& CompareFields, int32_t eSqlType, bool OruType,
                                           db::DatabaseRef* oDB) = 0;
  virtual db::RecordsetRef GetTblDiffGridRS(std::string ParentTbl1Name, std::string ChildTbl1Name,
                                            std::string ParentTbl2Name, std::string ChildTbl2Name,
                                            std::string ChildMatchKey, StringArray& ParentMatchKeys,
                                            int32_t eSqlType) = 0;
  virtual bool GetOruGridList(std::string ViewName, StringArray& GridList, db::DatabaseRef* DB) = 0;
  virtual std::string GetOruDataTable(std::string ViewName, db::DatabaseRef* DB) = 0;
};

// Wraps any object with the members' signatures (cDataGetway in a C++ host).
template <class Gateway>
class MembersOf : public Members {
 public:
  explicit MembersOf(Gateway& g) : g_(g) {}
  void SetDB(const db::DatabaseRef& conn) override { g_.SetDB(conn); }
  bool CopyRec(std::string a, std::string b, StringArray& c, VariantArray& d, StringArray& e, bool& f,
               StringArray& g, StringArray& h, db::DatabaseRef* i) override {
    return g_.CopyRec(a, b, c, d, e, f, g, h, i);
  }
  bool CopyChild(std::string a, std::string b, std::string c, std::string d, std::string& e, StringArray& f,
                 VariantArray& g, StringArray& h, StringArray& i, StringArray& j) override {
    return g_.CopyChild(a, b, c, d, e, f, g, h, i, j);
  }
  bool DeleteRec(std::string a, StringArray& b, VariantArray& c, bool& d, StringArray& e,
                 db::DatabaseRef* f) override {
    return g_.DeleteRec(a, b, c, d, e, f);
  }
  db::RecordsetRef GetTblDiffRecRS(std::string a, std::string b, StringArray& c, StringArray& d, int32_t e, bool f,
                                   db::DatabaseRef* g) override {
    return g_.GetTblDiffRecRS(a, b, c, d, e, f, g);
  }
  db::RecordsetRef GetTblDiffGridRS(std::string a, std::string b, std::string c, std::string d, std::string e,
                                    StringArray& f, int32_t g) override {
    return g_.GetTblDiffGridRS(a, b, c, d, e, f, g);
  }
  bool GetOruGridList(std::string a, StringArray& b, db::DatabaseRef* c) override { return g_.GetOruGridList(a, b, c); }
  std::string GetOruDataTable(std::string a, db::DatabaseRef* b) override { return g_.GetOruDataTable(a, b); }

 private:
  Gateway& g_;
};

// Raised for input the layer refuses before anything runs (a malformed decision, a typed
// value that does not fit its column); the message names the value and the place.
struct Refused : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// One data table of the survey and its match keys; a grid table names its parent form's table
// and its grid view. A grid record's key is its parent's keys followed by its own.
struct TableKeys {
  std::string table;
  std::vector<std::string> keys;
  std::string parent;    // "" for a form's data table
  std::string gridView;  // the grid's view (its variables are the columns CopyChild copies)
  // A form's grids as (grid view, grid table) pairs, all of them, copied with a whole record.
  std::vector<std::pair<std::string, std::string>> grids;
  std::vector<std::string> ignore;   // fields whose differences are not listed
  std::vector<std::string> compare;  // when not empty, only these fields' differences are listed
};

struct Survey {
  std::vector<TableKeys> tables;
  // The entry for `table` (case-insensitive), or nullptr.
  const TableKeys* find(const std::string& table) const;
  // The full key columns of a record of `table`: the parent's keys first for a grid.
  std::vector<std::string> recordKeys(const TableKeys& t) const;
};

// Builds the survey from "TABLE=COL[,COL]" key settings; grids come from each form's catalogue
// (the view whose data table is the form's table) read through the members on `conn`. A grid
// table without keys of its own is left out. Refused when a table or column does not exist.
Survey discoverSurvey(Members& m, const db::DatabaseRef& conn, const std::vector<std::string>& keySettings);

// "HouseNo=103" / "HouseNo=102;LineNo=2": the key text of a record, values as entered.
std::string keyText(const std::vector<std::string>& columns, const std::vector<std::string>& values);
// The values of a key text for `columns`, in their order; Refused when it does not name them.
std::vector<std::string> parseKeyText(const std::string& text, const std::vector<std::string>& columns);

enum class Choice {
  Undecided,
  Entry1,  // entry 1's value (a whole record: as entry 1 has it, present or not)
  Entry2,  // entry 2's value (a whole record: as entry 2 has it)
  Typed,   // the value the reviewer typed
  Keep,    // a whole unpaired record: copy it across, so that both have it
  Delete,  // a whole unpaired record: mark it deleted
};
// "1", "2", "typed", "keep", "delete", "" for each choice.
std::string choiceName(Choice c);
Choice choiceFromName(const std::string& name);

struct Decision {
  std::string table;   // data table as entry 1 names it
  std::string record;  // key text
  std::string field;   // "" for a whole record
  Choice choice = Choice::Undecided;
  std::string typed;   // the typed value (Choice::Typed); "" types Null for a non-text column
  std::string entry1, entry2;  // the values shown to the reviewer, kept for the record
  std::string decidedAt, reviewer;
};

// Reads the long csv (header table,record,field,entry1,entry2,choose). choose: "1", "2",
// "=VALUE" (typed), "keep"/"delete" for a whole record, "" undecided. Refused with the line
// number for a malformed file or choice.
std::vector<Decision> readDecisionsCsv(std::istream& in);

// The review file: decisions kept as they are made (each choice is written at once).
class ReviewFile {
 public:
  // Opens (creating when missing) the review file at `path`.
  explicit ReviewFile(const std::string& path);
  ~ReviewFile();
  ReviewFile(const ReviewFile&) = delete;
  ReviewFile& operator=(const ReviewFile&) = delete;

  // A setting of the review (entries, keys), "" when not set.
  std::string setting(const std::string& name);
  void setSetting(const std::string& name, const std::string& value);
  // Stores a decision, replacing an earlier one on the same table, record and field; an
  // Undecided choice removes it.
  void save(const Decision& d);
  // Every decision kept, in the order first made.
  std::vector<Decision> decisions();
  // Notes that a decision was applied into `target` at `when`.
  void markApplied(const Decision& d, const std::string& target, const std::string& when);
  // When the decision was last applied into `target` ("" never).
  std::string appliedAt(const Decision& d, const std::string& target);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A value typed for a column, as a literal of the column's type (eDbDataType code): a number
// for a numeric column, #date# for a date, True/False for Yes/No, a quoted text for text
// columns; "" typed into a non-text column is Null. Refused with a message naming the value and
// the column when the value does not fit.
std::string typedLiteral(const std::string& value, int32_t columnType, const std::string& place);
// A value read from a database as the text the reviewer would type for it.
std::string valueText(const Variant& v);

// Where a change is written. Entry 1's and entry 2's values are read through their own
// connections; `writer` holds the target tables (`targetPrefix`) and the other entry's
// tables (`sourcePrefix`), from which whole records are copied.
struct Sides {
  db::DatabaseRef writer;
  std::string targetPrefix;  // "" or "ORULINK_"
  std::string sourcePrefix;  // prefix of the entry records are copied from
  int sourceEntry = 2;       // which entry sourcePrefix holds (1 or 2)
  db::DatabaseRef entry1, entry2;
  std::string entry1Prefix, entry2Prefix;
  std::string targetName;    // "1", "2" or the new copy's location (for the review file)
};

struct Change {
  std::string table, record, field;  // field "" = the whole record
  std::string before, after;         // values as text ("(none)" / "(deleted)" for a record)
  std::string from;                  // "1", "2" or "typed"
};

struct RecordOutcome {
  std::string table, record;  // the parent record (grid changes are under it)
  bool ok = true;
  std::string message;        // why the record was left untouched
  std::vector<Change> changes;
  std::vector<Decision> decisions;  // the record's decisions (applied when ok)
};

struct ApplyOptions {
  std::string reviewer;
  bool dryRun = false;  // every record inside one transaction that is rolled back
  // Called after each record: records done, records in all.
  std::function<void(size_t, size_t)> progress;
  // When set, each statement the writer ran for the record (dry run: would run).
  std::function<void(const std::string&)> statement;
};

struct ApplyResult {
  std::vector<RecordOutcome> records;
  std::vector<Decision> undecided;
  size_t changed() const;
  size_t failed() const;
};

// Applies the decided decisions (each record in one transaction, its grid records with it).
// A record already as decided is left alone, so applying again changes nothing. Values are
// checked against their columns first: a refused value fails its record before anything runs.
ApplyResult apply(Members& m, const Survey& survey, const Sides& sides, const std::vector<Decision>& decisions,
                  const ApplyOptions& options);

// Makes a verified copy: `copy` is a connection on a new file or schema with entry 1 attached
// as its link tables; every table of entry 1 is created in it with its columns and types and
// filled with entry 1's rows. Refused when the copy already holds one of those tables.
void makeCopy(const db::DatabaseRef& copy);

// One unpaired record or differing value as the review lists it.
struct Difference {
  std::string table, record, field;  // field "" = an unpaired record
  std::string entry1, entry2;        // values as text; for an unpaired record "(present)" / "(absent)"
};

// Every difference of the survey between entry 1 (own tables of `conn`) and entry 2 (its link
// tables), from GetTblDiffRecRS / GetTblDiffGridRS and the rows of the listed records only.
std::vector<Difference> listDifferences(Members& m, const Survey& survey, const db::DatabaseRef& conn);

// The current time as "YYYY-MM-DD HH:MM:SS" (UTC).
std::string nowText();

}  // namespace ovt::decide
