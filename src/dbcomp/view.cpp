// The generic view catalogue reader. It reads a view's catalogue table through the
// cDatabase interface only, so it serves every engine. The variables of a view are the
// rows with PageNumber > 0 that describe data items: every Type except the items that hold
// no value of their own (GRID, GROUP, TEXTONLY, MIRROR, RELATE), the same rule as the view
// structure comparison. They come in catalogue order (the order the table returns its rows
// for a plain scan); each row of the list holds the Name in column 0 and the Type in column 1.
// With no variable the list is one row of two empty strings and the result is False.
#include "ovtbldiff/dbcomp/database.h"

namespace ovt::db {
namespace {

class CatalogueView : public cView {
 public:
  bool GetVariableList(StringArray& list) override {
    cDatabase& db = deref(db_);
    const std::string query =
        "select Name, Type from [" + viewName_ +
        "] where PageNumber > 0 and Type not in ('GRID','GROUP','TEXTONLY','MIRROR','RELATE')";
    RecordsetRef rs = db.OpenRecordset(query, 3, "");
    cRecordset& r = deref(rs);
    const int32_t n = r.RecordCount();
    if (n <= 0) {
      list.redim(0, 0, 0, 1);
      return false;
    }
    StringArray out;
    out.redim(0, n - 1, 0, 1);
    int32_t i = 0;
    for (r.MoveFirst(); !r.IsEOF() && i < n; r.MoveNext(), ++i) {
      out.at(i, 0) = concatText(r.FieldValue("Name"));
      out.at(i, 1) = concatText(r.FieldValue("Type"));
    }
    list = std::move(out);
    return true;
  }
  void SetViewName(const std::string& viewName) override { viewName_ = viewName; }
  void SetDatabase(DatabaseRef db) override { db_ = std::move(db); }

 private:
  DatabaseRef db_;
  std::string viewName_;
};

}  // namespace

ViewRef NewView() { return std::make_shared<CatalogueView>(); }

}  // namespace ovt::db
