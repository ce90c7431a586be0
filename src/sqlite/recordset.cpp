// cRecordset on SQLite: the shared stored recordset, filled from the statement in one pass.
// Columns read by the declared type of their column: DATETIME text -> Date, YESNO -> Boolean,
// SHORT -> Integer, LONG -> Long, BYTE -> Byte, CURRENCY -> Currency, floating types ->
// Double; columns without a declared type take the type of their first non-Null value.
// A recordset over one table (see OpenRecordset) carries the rowid of each record, and
// Update writes the changed fields back to that row of the table.
#include "dbcomp/stored_recordset.h"
#include "ovtbldiff/runtime/text.h"
#include "sqlite/connection.h"

namespace ovt::db::sqlite {
namespace {

void bind(sqlite3_stmt* st, int i, const Variant& v) {
  if (v.isNull() || v.isEmpty()) sqlite3_bind_null(st, i);
  else if (auto b = v.get<bool>()) sqlite3_bind_int(st, i, *b ? -1 : 0);
  else if (auto x = v.get<int16_t>()) sqlite3_bind_int(st, i, *x);
  else if (auto x = v.get<int32_t>()) sqlite3_bind_int(st, i, *x);
  else if (auto x = v.get<uint8_t>()) sqlite3_bind_int(st, i, *x);
  else if (auto x = v.get<double>()) sqlite3_bind_double(st, i, *x);
  else if (auto x = v.get<Currency>()) {
    if (x->scaled % 10000 == 0) sqlite3_bind_int64(st, i, x->scaled / 10000);
    else sqlite3_bind_double(st, i, static_cast<double>(x->scaled) / 10000.0);
  } else if (auto x = v.get<Date>()) {
    std::string t = formatDate(*x);
    sqlite3_bind_text(st, i, t.c_str(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
  } else {
    std::string t = toText(v);
    sqlite3_bind_text(st, i, t.c_str(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
  }
}

// Writes changed fields back to the row of the base table the record came from.
class RowIdWriter : public stored::RowWriter {
 public:
  RowIdWriter(std::shared_ptr<SqliteDatabase> db, std::string baseTable, std::vector<int64_t> rowIds)
      : db_(std::move(db)), baseTable_(std::move(baseTable)), rowIds_(std::move(rowIds)) {}

  void write(size_t row, const std::vector<std::pair<std::string, Variant>>& changes) override {
    std::string sql = "UPDATE " + baseTable_ + " SET ";
    for (size_t i = 0; i < changes.size(); ++i) {
      std::string quoted;
      for (char ch : changes[i].first) quoted += ch == '"' ? std::string("\"\"") : std::string(1, ch);
      sql += (i ? ", \"" : "\"") + quoted + "\" = ?";
    }
    sql += " WHERE rowid = ?";
    std::string outcome;
    // What the connection kept of queries may read this row.
    db_->forgetResults();
    try {
      Stmt st(db_->handle(), sql);
      for (size_t i = 0; i < changes.size(); ++i) bind(st.get(), static_cast<int>(i + 1), changes[i].second);
      sqlite3_bind_int64(st.get(), static_cast<int>(changes.size() + 1), rowIds_[row]);
      st.step();
      outcome = std::to_string(sqlite3_changes(db_->handle())) + " rows changed";
    } catch (const ComError& e) {
      db_->trace("Update", "(recordset update)", sql, "error: " + e.description());
      throw;
    }
    db_->trace("Update", "(recordset update)", sql, outcome);
  }

 private:
  std::shared_ptr<SqliteDatabase> db_;
  std::string baseTable_;
  std::vector<int64_t> rowIds_;
};

}  // namespace

std::vector<stored::ResultColumn> describeColumns(Stmt& stmt, bool hasRowId) {
  sqlite3_stmt* s = stmt.get();
  const int n = sqlite3_column_count(s);
  const int first = hasRowId ? 1 : 0;
  std::vector<stored::ResultColumn> columns;
  columns.reserve(static_cast<size_t>(n > first ? n - first : 0));
  for (int i = first; i < n; ++i) {
    stored::ResultColumn c;
    c.name = sqlite3_column_name(s, i);
    if (const char* decl = sqlite3_column_decltype(s, i)) {
      c.declared = true;
      c.code = typeCodeOf(decl);
    }
    const char* origin = sqlite3_column_origin_name(s, i);
    if (hasRowId && origin) c.origin = origin;
    columns.push_back(std::move(c));
  }
  return columns;
}

RecordsetRef makeRecordset(std::shared_ptr<SqliteDatabase> db, Stmt& stmt, bool hasRowId,
                           const std::string& baseTable, std::string& outcome,
                           const std::shared_ptr<const stored::ColumnSet>& described, KeptRows* keep) {
  sqlite3_stmt* s = stmt.get();
  const int n = sqlite3_column_count(s);
  const int first = hasRowId ? 1 : 0;
  const bool shared = described && described->allDeclared();
  std::vector<stored::ResultColumn> columns;
  if (!shared) columns = described ? described->columns() : describeColumns(stmt, hasRowId);
  stored::RowStore rows;
  // Most cells take a few bytes: texts of ten characters or so, whole numbers.
  rows.reserveRow(static_cast<size_t>(n) * 16);
  std::vector<int64_t> rowIds;
  std::vector<bool> typed(columns.size(), false);
  while (stmt.step() == SQLITE_ROW) {
    if (hasRowId) rowIds.push_back(sqlite3_column_int64(s, 0));
    for (int i = first; i < n; ++i) {
      const size_t k = static_cast<size_t>(i - first);
      // The column's value read once, its type and contents from it (the text as UTF-8, then its length).
      sqlite3_value* value = sqlite3_column_value(s, i);
      const int type = sqlite3_value_type(value);
      switch (type) {
        case SQLITE_NULL: rows.addNull(); break;
        case SQLITE_INTEGER: rows.addInt(sqlite3_value_int64(value)); break;
        case SQLITE_FLOAT: rows.addReal(sqlite3_value_double(value)); break;
        case SQLITE_BLOB: {
          const void* blob = sqlite3_value_blob(value);
          rows.addBlob(std::string_view(static_cast<const char*>(blob), static_cast<size_t>(sqlite3_value_bytes(value))));
          break;
        }
        default: {
          const unsigned char* text = sqlite3_value_text(value);
          rows.addText(std::string_view(reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_value_bytes(value))));
        }
      }
      // Columns without a declared type take the type of their first non-Null value.
      if (!shared && !columns[k].declared && !typed[k] && type != SQLITE_NULL) {
        columns[k].code = type == SQLITE_INTEGER ? adInteger
                          : type == SQLITE_FLOAT ? adDouble
                          : type == SQLITE_BLOB  ? adLongVarBinary
                                                 : adVarWChar;
        typed[k] = true;
      }
    }
    rows.endRow();
  }
  outcome = std::to_string(rows.rows()) + " rows";
  if (keep) {
    keep->rows = rows.copy();
    keep->rowIds = rowIds;
  }
  std::unique_ptr<stored::RowWriter> writer;
  if (hasRowId) writer = std::make_unique<RowIdWriter>(db, baseTable, std::move(rowIds));
  if (shared) return stored::makeRecordset(described, std::move(rows), std::move(writer));
  return stored::makeRecordset(std::move(columns), std::move(rows), std::move(writer));
}

RecordsetRef keptRecordset(std::shared_ptr<SqliteDatabase> db, const std::shared_ptr<const stored::ColumnSet>& columns,
                           const KeptRows& kept, bool hasRowId, const std::string& baseTable) {
  std::unique_ptr<stored::RowWriter> writer;
  if (hasRowId) writer = std::make_unique<RowIdWriter>(db, baseTable, kept.rowIds);
  return stored::makeRecordset(columns, kept.rows.copy(), std::move(writer));
}

}  // namespace ovt::db::sqlite
