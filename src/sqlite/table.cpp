// cTable, cFields and cField on SQLite, read from the table's definition when asked.
// IsAutoField is True for the table's automatic key (an INTEGER PRIMARY KEY column, which
// the engine fills, or a column declared COUNTER / AUTOINCREMENT) and, in a data table of a
// form (one with UniqueKey and RecStatus), for the system columns UniqueKey, RecStatus and
// FKey that the data-entry system fills itself. Nullable is False only for a column
// declared NOT NULL.
#include "ovtbldiff/runtime/text.h"
#include "sqlite/connection.h"

namespace ovt::db::sqlite {
namespace {

class Table : public cTable {
 public:
  Table(std::shared_ptr<SqliteDatabase> db, TableLocation where) : db_(std::move(db)), where_(std::move(where)) {}

  FieldsRef Fields() override {
    std::vector<common::FieldSpec> f;
    for (auto& c : db_->columns(where_)) f.push_back({c.name, typeCodeOf(c.type), !c.notNull});
    return common::makeFields(std::move(f));
  }

  std::string Name() const override { return where_.exposed; }

  bool IsAutoField(std::string& fieldName) override {
    const auto cols = db_->columns(where_);
    int pkColumns = 0;
    std::vector<std::string> names;
    for (const auto& c : cols) {
      pkColumns += c.pk > 0;
      names.push_back(c.name);
    }
    for (const auto& c : cols) {
      if (!textEqual(c.name, fieldName)) continue;
      const int32_t code = dialect::jetTypeCode(c.type);
      if (c.pk > 0 && pkColumns == 1 && textEqual(c.type, "INTEGER")) return true;
      if (code == adInteger && (startsWithText(c.type, "COUNTER") || startsWithText(c.type, "AUTOINCREMENT"))) return true;
      return common::isFormSystemColumn(names, c.name);
    }
    return false;
  }

 private:
  std::shared_ptr<SqliteDatabase> db_;
  TableLocation where_;
};

}  // namespace

TableRef newTable(std::shared_ptr<SqliteDatabase> db, TableLocation where) {
  return std::make_shared<Table>(std::move(db), std::move(where));
}

}  // namespace ovt::db::sqlite

namespace ovt::db {

void RunSqliteScript(const DatabaseRef& db, const std::string& sql) {
  auto* conn = dynamic_cast<sqlite::SqliteDatabase*>(db.get());
  if (!conn) sqlite::raise(sqlite::kErrFailure, "RunSqliteScript needs a connection made by OpenSqlite");
  char* err = nullptr;
  // The script may change anything plans and kept query results stand on, in ways the connection
  // does not follow.
  conn->forgetPlansNow();
  int rc = sqlite3_exec(conn->handle(), sql.c_str(), nullptr, nullptr, &err);
  conn->forgetPlansNow();
  if (rc != SQLITE_OK) {
    std::string msg = err ? err : sqlite3_errstr(rc);
    sqlite3_free(err);
    sqlite::raise(sqlite::numberFor(rc), msg);
  }
}

}  // namespace ovt::db
