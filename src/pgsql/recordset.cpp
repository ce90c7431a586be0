// cRecordset on PostgreSQL: the shared stored recordset, filled while the rows stream in
// (single-row mode), so a large result is held once, compactly, and never as the server's
// text. Columns read from a table take the type the table declares (so a Yes/No column, a
// domain over smallint, reads as Boolean); computed columns the type of the result. A
// recordset over one table carries each record's ctid, and Update writes the changed fields
// back to that row.
#include <algorithm>
#include <cstdlib>

#include "dbcomp/stored_recordset.h"
#include "ovtbldiff/runtime/error.h"
#include "ovtbldiff/runtime/text.h"
#include "pgsql/connection.h"

namespace ovt::db::pgsql {
namespace {

// How a column's text form is stored.
enum class Kind { Int, Real, Bool, Bytes, Text };

Kind kindOf(uint32_t oid) {
  switch (oid) {
    case 20: case 21: case 23: return Kind::Int;
    case 700: case 701: case 1700: return Kind::Real;
    case 16: return Kind::Bool;
    case 17: return Kind::Bytes;
    default: return Kind::Text;
  }
}

int hexValue(char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }

void store(stored::RowStore& rows, Kind kind, const Cell& cell) {
  if (!cell) return rows.addNull();
  const std::string& t = *cell;
  switch (kind) {
    case Kind::Int: return rows.addInt(std::strtoll(t.c_str(), nullptr, 10));
    case Kind::Real: return rows.addReal(std::strtod(t.c_str(), nullptr));
    case Kind::Bool: return rows.addInt(t == "t" ? -1 : 0);
    case Kind::Bytes: {
      // The server's hex form: \x followed by two digits per byte.
      std::string bytes;
      for (size_t i = 2; i + 1 < t.size(); i += 2) bytes += static_cast<char>(hexValue(t[i]) * 16 + hexValue(t[i + 1]));
      return rows.addBlob(bytes);
    }
    case Kind::Text: return rows.addText(t);
  }
}

Cell parameter(const Variant& v) {
  if (v.isNull() || v.isEmpty()) return std::nullopt;
  if (auto b = v.get<bool>()) return std::string(*b ? "-1" : "0");
  if (auto d = v.get<Date>()) return formatDate(*d);
  return toText(v);
}

// Writes changed fields back to the row of the base table the record came from.
class CtidWriter : public stored::RowWriter {
 public:
  CtidWriter(std::shared_ptr<PgDatabase> db, std::string baseTable, std::vector<std::string> ctids)
      : db_(std::move(db)), baseTable_(std::move(baseTable)), ctids_(std::move(ctids)) {}

  void write(size_t row, const std::vector<std::pair<std::string, Variant>>& changes) override {
    std::string sql = "UPDATE " + baseTable_ + " SET ";
    std::vector<Cell> params;
    for (size_t i = 0; i < changes.size(); ++i) {
      sql += (i ? ", " : "") + quoted(changes[i].first) + " = $" + std::to_string(i + 1);
      params.push_back(parameter(changes[i].second));
    }
    sql += " WHERE ctid = $" + std::to_string(changes.size() + 1) + "::tid RETURNING ctid";
    params.push_back(ctids_[row]);
    std::vector<std::vector<Cell>> result;
    try {
      db_->unit(false, [&] { result = db_->session().rows(sql, params); });
    } catch (const ComError& e) {
      db_->trace("Update", "(recordset update)", sql, "error: " + e.description());
      throw;
    }
    // An updated row has a new ctid; a second update of the record must find it there.
    if (!result.empty() && result[0][0]) ctids_[row] = *result[0][0];
    db_->trace("Update", "(recordset update)", sql, std::to_string(result.size()) + " rows changed");
  }

 private:
  std::shared_ptr<PgDatabase> db_;
  std::string baseTable_;
  std::vector<std::string> ctids_;
};

}  // namespace

RecordsetRef makeRecordset(std::shared_ptr<PgDatabase> db, const std::string& sql, bool hasRowId,
                           const std::string& baseTable, std::string& outcome, const std::string& then,
                           const std::string& before, const Prepared* prepared) {
  std::vector<stored::ResultColumn> columns;
  std::vector<Kind> kinds;
  stored::RowStore rows;
  std::vector<std::string> ctids;
  const size_t first = hasRowId ? 1 : 0;
  std::vector<Column> described;
  db->session().query(
      sql, {},
      [&](const std::vector<Column>& cols) {
        // The catalogue is asked only after the last row: the session carries one statement at
        // a time, and a look-up now would cut the stream short.
        described.assign(cols.begin() + static_cast<std::ptrdiff_t>(std::min(first, cols.size())), cols.end());
        for (const Column& c : described) kinds.push_back(kindOf(c.typeOid));
      },
      [&](const std::vector<Cell>& cells) {
        if (hasRowId) ctids.push_back(cells[0].value_or(""));
        for (size_t i = first; i < cells.size(); ++i) store(rows, kinds[i - first], cells[i]);
        rows.endRow();
      },
      then, before, prepared);
  for (const Column& c : described) {
    stored::ResultColumn rc;
    rc.name = c.name;
    rc.declared = true;
    std::string type = typeNameOf(c.typeOid, c.typeMod);
    if (c.tableOid) {
      if (std::optional<ColumnInfo> from = db->columnAt(c.tableOid, c.tableColumn)) {
        type = from->type;
        if (hasRowId) rc.origin = from->name;
      }
    }
    rc.code = typeCodeOf(type);
    columns.push_back(std::move(rc));
  }
  outcome = std::to_string(rows.rows()) + " rows";
  std::unique_ptr<stored::RowWriter> writer;
  if (hasRowId) writer = std::make_unique<CtidWriter>(db, baseTable, std::move(ctids));
  return stored::makeRecordset(std::move(columns), std::move(rows), std::move(writer));
}

}  // namespace ovt::db::pgsql
