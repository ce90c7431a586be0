// cTable, cFields and cField on PostgreSQL, read from the catalogue when asked. IsAutoField is
// True for a column the engine fills (identity, or a sequence default as serial gives) and, in
// a data table of a form (one with UniqueKey and RecStatus), for the system columns UniqueKey,
// RecStatus and FKey that the data-entry system fills itself. Nullable is False only for a
// column declared NOT NULL.
#include "ovtbldiff/runtime/text.h"
#include "pgsql/connection.h"

namespace ovt::db::pgsql {
namespace {

class Table : public cTable {
 public:
  Table(std::shared_ptr<PgDatabase> db, TableLocation where) : db_(std::move(db)), where_(std::move(where)) {}

  FieldsRef Fields() override {
    std::vector<common::FieldSpec> f;
    for (auto& c : db_->columns(where_.schema, where_.table)) f.push_back({c.name, typeCodeOf(c.type), !c.notNull});
    return common::makeFields(std::move(f));
  }

  std::string Name() const override { return where_.exposed; }

  bool IsAutoField(std::string& fieldName) override {
    const auto cols = db_->columns(where_.schema, where_.table);
    std::vector<std::string> names;
    for (const auto& c : cols) names.push_back(c.name);
    for (const auto& c : cols)
      if (textEqual(c.name, fieldName)) return c.automatic || common::isFormSystemColumn(names, c.name);
    return false;
  }

 private:
  std::shared_ptr<PgDatabase> db_;
  TableLocation where_;
};

}  // namespace

TableRef newTable(std::shared_ptr<PgDatabase> db, TableLocation where) {
  return std::make_shared<Table>(std::move(db), std::move(where));
}

}  // namespace ovt::db::pgsql
