// View catalogue queries: the data table that holds a view's records, and the view's
// variables as the database component's catalogue reader lists them.
#include <string>

#include "frame/handler.h"
#include "glossary/startup.h"
#include "ovtbldiff/gateway.h"

namespace ovt {

std::string cDataGetway::GetOruDataTable(std::string ViewName, db::DatabaseRef* DB) {
  std::string result;
  // Only the two checks below reach the caller; any other failure ends with the result so far.
  return frame::swallowing(result, [&] {
    db::DatabaseRef conn = frame::argumentOrStored(DB, db_);
    // Both checks are raised without a source of their own: the caller sees the default one.
    if (!deref(conn).TableExists(ViewName))
      frame::untrapped([&] {
        raiseError(objectError(712), "",
                   glossary::T("Table:") + ViewName + " " + glossary::T("does not exist"));
      });
    if (conn->GetTableType(ViewName) != db::kTableTypeView)
      frame::untrapped([&] {
        raiseError(objectError(713), "",
                   glossary::T("Table:") + ViewName + " " + glossary::T("is not a Oru VIEW table"));
      });

    const std::string query = "select DataTable from [" + ViewName +
                              "] where PageNumber = 0 and Name = 'DATA1' and Type = 'SOURCE'";
    const db::RecordsetRef rs = conn->OpenRecordset(query, 3, "");
    if (deref(rs).RecordCount() > 0) result = toText(rs->FieldValue("DataTable"));
  });
}

// The variables are read by the component's view reader; any existing table is handed to it,
// and its own answer is not looked at.
bool cDataGetway::GetOruViewVarList(std::string ViewName, StringArray& VariableList, db::DatabaseRef* DB) {
  bool result = false;
  return frame::withOwnSource(":GetOruViewVarList", [&] {
    const db::DatabaseRef conn = frame::argumentOrStored(DB, db_);
    if (!deref(conn).TableExists(ViewName))
      frame::untrapped([&] {
        raiseError(objectError(706), frame::sourceFor(":GetOruViewVarList"),
                   glossary::T("Table does not exist:") + ViewName);
      });
    const db::ViewRef view = db::NewView();
    view->SetDatabase(conn);
    view->SetViewName(ViewName);
    view->GetVariableList(VariableList);
    result = true;
    return result;
  });
}

}  // namespace ovt
