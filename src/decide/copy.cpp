// The verified copy: every table of entry 1 made again in a new file or schema, with its
// columns, their types and its rows, before decisions are applied into it.
#include "decide/internal.h"
#include "ovtbldiff/decide.h"
#include "ovtbldiff/dbcomp/postgres.h"
#include "ovtbldiff/runtime/text.h"

namespace ovt::decide {
namespace {

const std::string kLink = "ORULINK_";

// The dialect's type for a column (the form's own key column is the table's counter).
std::string declared(const db::FieldRef& f, bool counter) {
  using namespace db;
  switch (f->DataType()) {
    case adInteger: return counter ? "counter" : "long";
    case adSmallInt: return "short";
    case adTinyInt:
    case adUnsignedTinyInt: return "byte";
    case adSingle: return "single";
    case adDouble: return "double";
    case adBigInt:
    case adDecimal:
    case adNumeric: return "decimal";
    case adCurrency: return "currency";
    case adDate:
    case adDBDate:
    case adDBTimeStamp: return "datetime";
    case adBoolean: return "yesno";
    case adGUID: return "guid";
    case adBinary:
    case adVarBinary: return "binary";
    case adLongVarBinary: return "longbinary";
    case adLongVarChar:
    case adLongVarWChar: return "memo";
    default: return "text(255)";
  }
}

}  // namespace

void makeCopy(const db::DatabaseRef& copy) {
  db::cDatabase& c = deref(copy);
  std::vector<db::TableRef> sources;
  for (const db::TableRef& t : c.Tables())
    if (t && startsWithText(t->Name(), kLink)) sources.push_back(t);
  for (const db::TableRef& t : sources) {
    const std::string name = t->Name().substr(kLink.size());
    if (c.TableExists(name)) throw Refused("the new copy already holds a table " + name + "; name a new file or schema");
  }
  const bool postgres = db::IsPostgresLocation(c.Location());
  c.BeginTrans();
  try {
    for (const db::TableRef& t : sources) {
      const std::string name = t->Name().substr(kLink.size());
      std::string sourceName = t->Name();
      const bool form = c.GetTableType(sourceName) == db::kTableTypeOru;
      std::string create = "create table [" + name + "] (", cols;
      std::string counter;
      for (const db::FieldRef& f : deref(t->Fields()).Items()) {
        std::string field = f->Name();
        const bool isCounter = form && textEqual(field, "UniqueKey") && f->DataType() == db::adInteger &&
                               t->IsAutoField(field);
        if (isCounter) counter = f->Name();
        create += (cols.empty() ? "[" : ", [") + f->Name() + "] " + declared(f, isCounter);
        cols += (cols.empty() ? "[" : ", [") + f->Name() + "]";
      }
      detail::run(copy, create + ")");
      detail::run(copy, "insert into [" + name + "] (" + cols + ") select " + cols + " from [" + t->Name() + "]");
      // The server's counter goes on after the copied keys (SQLite's does by itself).
      if (postgres && !counter.empty()) {
        std::string q = "\"" + name + "\"";
        std::string qt;
        for (char ch : q) qt += ch == '\'' ? std::string("''") : std::string(1, ch);
        db::RunPostgresStatement(copy, "SELECT setval(pg_get_serial_sequence('" + qt + "', '" + counter +
                                           "'), coalesce(max(\"" + counter + "\"), 0) + 1, false) FROM " + q);
      }
    }
  } catch (...) {
    c.RollbackTrans();
    throw;
  }
  c.CommitTrans();
}

}  // namespace ovt::decide
