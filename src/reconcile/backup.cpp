// BackupTable: copies a whole table (structure and every record, marked-deleted ones too) into
// a backup table of the same database, replacing an earlier backup of the same name.
#include <string>

#include "frame/handler.h"
#include "glossary/startup.h"
#include "ovtbldiff/gateway.h"
#include "ovtbldiff/runtime/text.h"

namespace ovt {

bool cDataGetway::BackupTable(std::string SourceTableName, std::string BackupTableName,
                              db::DatabaseRef* extDB) {
  return frame::withOwnSource(":BackupTable", [&]() -> bool {
    bool result = false;
    const db::DatabaseRef conn = frame::argumentOrStored(extDB, db_);
    const std::string source = frame::sourceFor(":BackupTable");
    if (textEqual(BackupTableName, "")) BackupTableName = SourceTableName + "_bk";

    // A backup named like its source would drop the source itself before copying it. Such a
    // call is refused before anything is touched, as a backup that could not be made (710).
    if (textEqual(BackupTableName, SourceTableName))
      frame::untrapped([&] { raiseError(objectError(710), source, glossary::T("Backup Table Fail")); });

    if (deref(conn).TableExists(BackupTableName) && !conn->DropTable(BackupTableName))
      frame::untrapped([&] {
        raiseError(objectError(725), source,
                   glossary::T("Delete following table fails :") + BackupTableName);
      });

    // The backup name goes in without brackets, the source name between brackets.
    const std::string copy = "select * into " + BackupTableName + " from [" + SourceTableName + "]";
    if (conn->Execute(copy)) {
      result = true;
      return result;
    }
    frame::untrapped([&] { raiseError(objectError(710), source, glossary::T("Backup Table Fail")); });
  });
}

}  // namespace ovt
