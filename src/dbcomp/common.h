// What the engines of the database component share beyond the recordset: the statement trace,
// the field objects of a table, and the rule that tells a form's data table from a catalogue.
#pragma once

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ovtbldiff/dbcomp/database.h"
#include "ovtbldiff/dbcomp/trace.h"

namespace ovt::db::common {

// The statement trace of a connection: each entry holds the operation, the statement as
// received, as run, and its outcome. Opened on the file named, else on OVDB_TRACE when set;
// a listener, when given, is told of each entry as well (without the text as run).
class StatementTrace {
 public:
  // Raises kDbErrFailure (source "OVDB") when the file cannot be opened for appending.
  explicit StatementTrace(const std::string& path, TraceListener listener = {});
  void write(const std::string& operation, const std::string& received, const std::string& run,
             const std::string& outcome);
  bool enabled() const { return out_ || listener_; }
  // True when the text as run is shown (a trace file): only then is it worth building.
  bool showsRunText() const { return static_cast<bool>(out_); }

 private:
  std::unique_ptr<std::ofstream> out_;
  TraceListener listener_;
};

struct FieldSpec {
  std::string name;
  int32_t code = adVarWChar;
  bool nullable = true;
};
// The cFields of a table, in the given order.
FieldsRef makeFields(std::vector<FieldSpec> fields);

// kTableTypeOru for a table with columns UniqueKey and RecStatus, else kTableTypeView with
// Name, Type, PageNumber and DataTable, else kTableTypeOther (names compared case-insensitively).
int32_t tableKindOf(const std::vector<std::string>& columnNames);

// True for UniqueKey, RecStatus and FKey of a form's data table (one tableKindOf calls
// kTableTypeOru): the columns the data-entry system fills itself.
bool isFormSystemColumn(const std::vector<std::string>& columnNames, const std::string& field);

}  // namespace ovt::db::common
