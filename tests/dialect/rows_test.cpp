// Jet statements run on a real SQLite file: the rows each construct selects.
#include <gtest/gtest.h>

#include "ovtbldiff/dbcomp/sqlite.h"
#include "ovtbldiff/runtime/error.h"
#include "support/temp_dir.h"

namespace ovt::db {
namespace {

// A (and B): ID long, X and Y text, N double, recstatus long. B differs from A in letter case
// only (ID 1), in a value (ID 2), by Nulls (IDs 3 and 4) and by a missing record (ID 5).
class Rows : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = new test::TempDir();
    db = OpenSqlite(dir->file("rows.db"));
    RunSqliteScript(db,
        "CREATE TABLE A (ID LONG, X TEXT(10), Y TEXT(10), N DOUBLE, recstatus LONG, [Order] LONG);"
        "CREATE TABLE B (ID LONG, X TEXT(10), Y TEXT(10), N DOUBLE, recstatus LONG, [Order] LONG);"
        "INSERT INTO A VALUES (1,'abc','x',1.0,1,1),(2,'p','q',2.5,1,2),(3,NULL,NULL,NULL,1,3),(4,'ab',NULL,0,1,4),"
        "(5,'only','a',5,1,5),(6,'Straße','é',6,0,6);"
        "INSERT INTO B VALUES (1,'ABC','X',1,1,1),(2,'p','r',2.5,1,2),(3,NULL,NULL,NULL,1,3),(4,'a','b',0,1,4),"
        "(6,'STRASSE','É',6,0,6);");
  }
  static void TearDownTestSuite() {
    db.reset();
    delete dir;
  }

  // Rows as "v1|v2;v1|v2", Null as "<null>".
  static std::string rows(const std::string& jet) {
    auto rs = db->OpenRecordset(jet, 2, "");
    std::string out;
    for (; !rs->IsEOF(); rs->MoveNext()) {
      if (!out.empty()) out += ";";
      auto f = rs->Recordset();
      for (int i = 0; i < f->Count(); ++i) {
        Variant v = rs->FieldValue(f->Name(i));
        out += (i ? "|" : "") + (v.isNull() ? std::string("<null>") : toText(v));
      }
    }
    return out;
  }

  static test::TempDir* dir;
  static DatabaseRef db;
};
test::TempDir* Rows::dir = nullptr;
DatabaseRef Rows::db;

struct Case {
  const char* jet;
  const char* rows;
};

TEST_F(Rows, EachConstructSelectsTheDialectsRows) {
  const Case cases[] = {
      // Conflict over a two-field group: letter case and Null against "" do not count.
      {"select [A].[ID] from [A] where [A].[ID]  in (select [A].[ID]  from [A] inner join [B] on [A].[ID] = [B].[ID]  "
       "and [A].recstatus = [B].recstatus  where  [A].[X]& [A].[Y]<> [B].[X]& [B].[Y]) and [A].recstatus = 1  order by "
       "[A].[ID]",
       "2"},
      // Missing: records of A without a partner in B.
      {"select [A].[ID] from [A] where [A].[ID]  not in (select [A].[ID]  from [A] inner join [B] on [A].[ID] = [B].[ID]  "
       "and [A].recstatus = [B].recstatus ) and [A].recstatus = 1  order by [A].[ID]",
       "5"},
      // Unicode case folding in the group comparison: Straße & é equals STRASSE & É.
      {"select [A].[ID] from [A] inner join [B] on [A].[ID] = [B].[ID] where [A].[X] & [A].[Y] <> [B].[X] & [B].[Y] "
       "and [A].recstatus = 0",
       ""},
      // A single-field difference: Null <> value is not selected.
      {"select [A].[ID] from [A] inner join [B] on [A].[ID] = [B].[ID] where [A].[Y]<>[B].[Y] order by [A].[ID]", "2"},
      // Concatenated keys of a plain table in an IN subquery, case-insensitive: "ab" & Null
      // is the text of "a" & "b".
      {"select [A].[ID] from [A] where [A].[X] & [A].[Y] in (select [B].[X] & [B].[Y] from [B]) order by [A].[ID]",
       "1;4;6"},
      // Numbers become text as the platform prints them.
      {"select [A].[N] & '' as T from [A] where ID = 1 or ID = 2 order by ID", "1;2.5"},
      {"select [A].[X] & [A].[Y] as T from [A] where ID in (3, 4) order by ID", "<null>;ab"},
      // Text literals in either quote, case-insensitive equality and IN.
      {"select ID from A where X = \"ABC\" or X in ('P', 'ONLY') order by ID", "1;2;5"},
      {"select ID from A where X like 'a*' order by ID", "1;4"},
      {"select ID from A where X like '[o-q]?*' order by ID", "5"},
      {"select count(*) as TotalNull from [A] where ([X] is null and Recstatus = 1) OR Recstatus is null", "1"},
      {"select [X] from [A] where recstatus =1 group by [X] having count(*)>1", ""},
      {"select ID from A where [Order] = 4", "4"},
      {"select ID from A where recstatus = True or recstatus = False order by ID", "6"},
      {"select top 2 ID from A order by X desc", "6;2"},
      {"select ID from A where N between 1 and 3 and not (ID = 2) order by ID", "1"},
      {"select iif(isnull(X), 'none', X) as V from A where ID = 3", "none"},
  };
  for (const auto& c : cases) EXPECT_EQ(rows(c.jet), c.rows) << c.jet;
}

TEST_F(Rows, GroupByFoldsCase) {
  ASSERT_TRUE(db->Execute("create table G ([K] text(10))"));
  ASSERT_TRUE(db->Execute("insert into G (K) select X from A where ID = 1"));
  ASSERT_TRUE(db->Execute("insert into G (K) select X from B where ID = 1"));
  EXPECT_EQ(rows("select count(*) as N from (select [K] from [G] group by [K] having count(*)>1) as Q"), "1");
  ASSERT_TRUE(db->Execute("drop table G"));
}

}  // namespace
}  // namespace ovt::db
