// Fields of a recordset found by name on real databases of both engines: in any case, accented
// names included, the first of two fields of one name, a missing name refused; the same answers
// for a narrow result asked many times and for a result wider than the component searches
// field by field; and the same for every result of one statement run again and again with other
// values (the connection's kept statement), whose recordsets live side by side.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/engines.h"

namespace ovt::test {
namespace {

class RecordsetNames : public EngineTest {};

// The text of a field's value, or the error number when it cannot be read.
std::string value(db::cRecordset& rs, const std::string& name) {
  try {
    return toText(rs.FieldValue(name));
  } catch (const ComError& e) {
    return "error " + std::to_string(e.number());
  }
}

TEST_P(RecordsetNames, FieldsAreFoundInAnyCaseFirstOfTwoFirst) {
  db::DatabaseRef db = entries().first(false);
  // 70 columns: wider than the field-by-field search; the narrow query reads five of them.
  std::string ddl = "create table W (ID long, [Größe] text(10), Name text(10)", values = "1, 'g', 'n'";
  for (int c = 0; c < 67; ++c) {
    ddl += ", C" + std::to_string(c) + " long";
    values += ", " + std::to_string(100 + c);
  }
  runAll(db, {ddl + ")", "insert into W values (" + values + ")", "create table Other (ID long, Name text(10))",
              "insert into Other values (1, 'other')"});
  for (const std::string& select : {std::string("select W.ID, [Größe], W.Name, Other.Name, C66 from W, Other where W.ID = Other.ID"),
                                    std::string("select *, Other.Name from W, Other where W.ID = Other.ID")}) {
    db::RecordsetRef rs = db->OpenRecordset(select, 2, "");
    // Each name asked several times, so that any index by name is built and used as well.
    for (int pass = 0; pass < 3; ++pass) {
      EXPECT_EQ(value(*rs, "id"), "1") << select;
      EXPECT_EQ(value(*rs, "GRÖßE"), "g") << select;
      EXPECT_EQ(value(*rs, "größe"), "g") << select;
      EXPECT_EQ(value(*rs, "NAME"), "n") << select;  // W's Name comes first
      EXPECT_EQ(value(*rs, "c66"), "166") << select;
      EXPECT_EQ(value(*rs, "Missing"), "error " + std::to_string(db::kDbErrItemNotFound)) << select;
    }
  }
}

TEST_P(RecordsetNames, EveryResultOfAKeptStatementFindsItsFields) {
  db::DatabaseRef db = entries().first(false);
  runAll(db, {"create table P (ID long, Name text(10), Born datetime, Ok yesno)",
              "insert into P values (1, 'one', #2001-02-03#, True)", "insert into P values (2, 'two', Null, False)",
              "create table Q (ID long, Name text(10))", "insert into Q values (1, 'q1')", "insert into Q values (2, 'q2')"});
  std::vector<db::RecordsetRef> kept;
  for (int pass = 0; pass < 3; ++pass) {
    for (const std::string id : {"1", "2"}) {
      db::RecordsetRef rs =
          db->OpenRecordset("select P.ID, P.Name, Born, Ok, Q.Name from P, Q where P.ID = Q.ID and P.ID = " + id, 2, "");
      EXPECT_EQ(value(*rs, "id"), id);
      EXPECT_EQ(value(*rs, "NAME"), id == "1" ? "one" : "two");  // P's Name comes first
      EXPECT_EQ(value(*rs, "born"), id == "1" ? "2001-02-03" : "error 94");  // Null has no text
      EXPECT_EQ(value(*rs, "Missing"), "error " + std::to_string(db::kDbErrItemNotFound));
      auto fields = rs->Recordset();
      ASSERT_EQ(fields->Count(), 5);
      EXPECT_EQ(fields->Type(2), db::adDate);
      EXPECT_EQ(fields->Type(3), db::adBoolean);
      kept.push_back(rs);
    }
  }
  // Each recordset still reads its own row after the others were made.
  for (size_t i = 0; i < kept.size(); ++i) EXPECT_EQ(value(*kept[i], "ID"), i % 2 ? "2" : "1");
}

OVT_ON_EVERY_ENGINE(RecordsetNames);

}  // namespace
}  // namespace ovt::test
